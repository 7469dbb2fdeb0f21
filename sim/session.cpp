#include "sim/session.h"

#include "protocol/line_text.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <iostream>

#include <poll.h>
#include <unistd.h>
#if defined(__linux__)
#include <sys/prctl.h>
#endif

namespace quenlo::sim {
namespace {

using protocol::Outcome;

// Waits until a descriptor is ready or the deadline passes. Paced bytes at 115200 Bd are 87 us
// apart, so Linux gets ppoll() and its microseconds: whole milliseconds would make every answer up
// to a millisecond late. Elsewhere poll() rounds up, so that it never wakes just before a deadline.
int WaitReady(pollfd* fds, nfds_t count, std::optional<Time> deadline, Time now) {
    const long long left = deadline ? std::max<long long>((*deadline - now).count(), 0) : -1;
#if defined(__linux__)
    timespec timeout{};
    timeout.tv_sec = static_cast<time_t>(left / 1'000'000);
    timeout.tv_nsec = static_cast<long>(left % 1'000'000 * 1000);
    return ::ppoll(fds, count, left < 0 ? nullptr : &timeout, nullptr);
#else
    return ::poll(fds, count, left < 0 ? -1 : static_cast<int>((left + 999) / 1000));
#endif
}

std::optional<Time> Earliest(std::optional<Time> a, std::optional<Time> b) {
    if (!a) {
        return b;
    }
    if (!b) {
        return a;
    }
    return std::min(*a, *b);
}

class Session {
  public:
    Session(const SessionSetup& setup, protocol::PeerMachine& machine, Line& toMachine,
            Line& toLoader)
        : setup_(setup), machine_(machine), toMachine_(toMachine), toLoader_(toLoader) {}

    SessionReport Run(bool faultyLine);

  private:
    // One pass over the machine and the line at `now`: bytes in, deadlines, answers out. False
    // when the session is over.
    bool Pass(Time now);
    // Sleeps until the line, a stop signal or the next deadline wakes it, and reads what came.
    // False when the session is over.
    bool Wait(Time now);
    void Deliver(Time now);
    void Collect(Time now);
    bool Write();
    bool Read();
    void Fail(std::string why);

    const SessionSetup& setup_;
    protocol::PeerMachine& machine_;
    Line& toMachine_;
    Line& toLoader_;
    std::string unwritten_;
    std::string closed_;  // why the line ended, once it has
    SessionReport report_;
};

void Session::Fail(std::string why) {
    if (!report_.failed) {
        report_.failed = true;
        report_.failure = std::move(why);
    }
}

// Hands the machine the bytes that are through by now, each burst at the moment it got through,
// and queues any answer from that same moment: a pass that wakes a little late still answers on
// time.
void Session::Deliver(Time now) {
    while (auto burst = toMachine_.TakeBurst(now)) {
        machine_.OnBytes(burst->bytes, burst->at);
        toLoader_.Enqueue(machine_.TakeOutput(), burst->at);
    }
}

void Session::Collect(Time now) {
    toLoader_.Enqueue(machine_.TakeOutput(), now);
    for (const std::string& note : machine_.TakeNotes()) {
        if (setup_.verbose) {
            std::cerr << "bht-sim: " << Latin1ToUtf8(note) << '\n';
        }
    }
}

bool Session::Write() {
    while (!unwritten_.empty()) {
        const ssize_t written = ::write(setup_.fd, unwritten_.data(), unwritten_.size());
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                return true;
            }
            Fail(std::string("cannot write to the line: ") + std::strerror(errno));
            return false;
        }
        unwritten_.erase(0, static_cast<std::size_t>(written));
    }
    return true;
}

bool Session::Read() {
    char buffer[4096];
    for (;;) {
        const ssize_t got = ::read(setup_.fd, buffer, sizeof buffer);
        if (got > 0) {
            toMachine_.Enqueue(std::string_view(buffer, static_cast<std::size_t>(got)),
                               MonotonicNow());
            // A short read took all there was; the next poll tells when more comes, so a block
            // costs one read, not a second one that only finds nothing.
            if (static_cast<std::size_t>(got) < sizeof buffer) {
                return true;
            }
            continue;
        }
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            return true;
        }
        // What came before the end still goes to the machine; the session ends after it.
        closed_ = got == 0 ? std::string("the line was closed")
                           : std::string("cannot read from the line: ") + std::strerror(errno);
        return true;
    }
}

SessionReport Session::Run(bool faultyLine) {
#if defined(__linux__)
    if (toLoader_.baud() > 0) {
        // Linux lets a sleep run up to 50 us long by default; that is half a byte at 115200 Bd.
        ::prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    }
#endif
    for (;;) {
        const Time now = MonotonicNow();
        if (!Pass(now) || !Wait(now)) {
            break;
        }
    }
    report_.outcome = machine_.outcome();
    report_.summary = machine_.Summary();
    if (!faultyLine && machine_.protocolErrors() > 0) {
        Fail("the loader sent " + std::to_string(machine_.protocolErrors()) +
             " bytes a handheld refuses (run with -v to see them)");
    }
    if (!report_.vanished && setup_.drain) {
        setup_.drain();
    }
    return report_;
}

bool Session::Pass(Time now) {
    // Bytes first: a block whose last byte is through now must not count as stalled.
    Deliver(now);
    if (const auto due = machine_.NextDeadline(); due && *due <= now) {
        machine_.OnTick(now);
    }
    Collect(now);
    if (!closed_.empty() && toMachine_.empty() && !machine_.finished()) {
        Fail(closed_);
    }
    if (toMachine_.isCut() || toLoader_.isCut()) {
        report_.vanished = true;
        return false;
    }
    if (report_.failed) {
        return false;
    }
    unwritten_ += toLoader_.TakeDue(now);
    if (!Write()) {
        return false;
    }
    return !(machine_.finished() && toLoader_.empty() && unwritten_.empty());
}

bool Session::Wait(Time now) {
    pollfd fds[2] = {};
    fds[0].fd = setup_.fd;
    fds[0].events = static_cast<short>((machine_.finished() || !closed_.empty() ? 0 : POLLIN) |
                                       (unwritten_.empty() ? 0 : POLLOUT));
    fds[1].fd = setup_.stopFd;
    fds[1].events = POLLIN;
    const auto deadline =
        Earliest(machine_.NextDeadline(), Earliest(toLoader_.NextDue(), toMachine_.NextDue()));
    const int ready = WaitReady(fds, setup_.stopFd >= 0 ? 2 : 1, deadline, now);
    if (ready < 0 && errno != EINTR) {
        Fail(std::string("poll: ") + std::strerror(errno));
        return false;
    }
    if (ready <= 0) {
        return true;
    }
    if (setup_.stopFd >= 0 && (fds[1].revents & POLLIN) != 0) {
        Fail("stopped by a signal");
        return false;
    }
    if ((fds[0].revents & POLLIN) != 0) {
        return Read();
    }
    if ((fds[0].revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) {
        Fail("the line was lost");
        return false;
    }
    return true;
}

}  // namespace

Time MonotonicNow() {
    return std::chrono::duration_cast<Time>(std::chrono::steady_clock::now().time_since_epoch());
}

SessionReport RunSession(const SessionSetup& setup, protocol::PeerMachine& machine, Line& toMachine,
                         Line& toLoader, bool faultyLine) {
    return Session(setup, machine, toMachine, toLoader).Run(faultyLine);
}

std::string SessionReport::status() const {
    if (vanished) {
        return "vanished";
    }
    if (failed) {
        return "error";
    }
    return outcome == Outcome::kRunning ? "incomplete" : protocol::OutcomeName(outcome);
}

int SessionReport::exitCode() const {
    const std::string s = status();
    if (s == "ok") {
        return 0;
    }
    if (s == "timeout") {
        return 3;
    }
    if (s == "vanished") {
        return 4;
    }
    return 1;
}

std::string SessionReport::SummaryLine() const {
    // Names on the line are single-byte text; the terminal reads UTF-8.
    return "bht-sim: " + Latin1ToUtf8(summary) + " status=" + status();
}

}  // namespace quenlo::sim
