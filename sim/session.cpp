#include "sim/session.h"

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

#include "sim/record_sink.h"

namespace quenlo::sim {
namespace {

// Waits until a descriptor is ready or the deadline passes. Paced bytes at 115200 Bd are 87 us
// apart, so Linux gets ppoll() and its microseconds: whole milliseconds would make every answer up
// to a millisecond late. Elsewhere poll() rounds up, so that it never wakes just before a deadline.
int WaitReady(pollfd* fds, nfds_t count, std::optional<TimeUs> deadline, TimeUs now) {
    const TimeUs left = deadline ? std::max<TimeUs>(*deadline - now, 0) : -1;
#if defined(__linux__)
    timespec timeout{};
    timeout.tv_sec = static_cast<time_t>(left / 1'000'000);
    timeout.tv_nsec = static_cast<long>(left % 1'000'000 * 1000);
    return ::ppoll(fds, count, left < 0 ? nullptr : &timeout, nullptr);
#else
    return ::poll(fds, count, left < 0 ? -1 : static_cast<int>((left + 999) / 1000));
#endif
}

std::optional<TimeUs> Earliest(std::optional<TimeUs> a, std::optional<TimeUs> b) {
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
    Session(const SessionSetup& setup, BlockReceiver& receiver, LinePacer& pacer)
        : setup_(setup), receiver_(receiver), pacer_(pacer), inbound_(pacer.baud()) {}

    SessionReport Run();

  private:
    void Deliver(TimeUs now);
    void Collect(TimeUs now);
    bool Write();
    bool Read();
    void Fail(std::string why);

    const SessionSetup& setup_;
    BlockReceiver& receiver_;
    LinePacer& pacer_;
    // What the loader wrote, still crossing the line towards the receiver.
    LinePacer inbound_;
    RecordSink sink_;
    std::string unwritten_;
    SessionReport report_;
};

void Session::Fail(std::string why) {
    if (!report_.failed) {
        report_.failed = true;
        report_.failure = std::move(why);
    }
}

// Hands the receiver the bytes that are through by now, each at the moment it got through, and
// queues any answer from that same moment: a pass that wakes a little late still answers on time.
void Session::Deliver(TimeUs now) {
    for (auto due = inbound_.NextDue(); due && *due <= now; due = inbound_.NextDue()) {
        receiver_.OnBytes(inbound_.TakeDue(*due), *due);
        pacer_.Enqueue(receiver_.TakeOutput(), *due);
    }
}

// Moves what the receiver produced on to the pacer, the file and the trace.
void Session::Collect(TimeUs now) {
    pacer_.Enqueue(receiver_.TakeOutput(), now);
    if (setup_.verbose) {
        for (const std::string& note : receiver_.TakeNotes()) {
            std::cerr << "bht-sim: " << note << '\n';
        }
    } else {
        receiver_.TakeNotes();
    }
    std::string error;
    if (receiver_.heading() && !sink_.isOpen() && !report_.failed) {
        if (!sink_.Open(setup_.dir, receiver_.heading()->name, &error)) {
            Fail(error);
        }
    }
    for (const std::string& record : receiver_.TakeRecords()) {
        if (sink_.isOpen() && !sink_.Append(record, &error)) {
            Fail(error);
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
            inbound_.Enqueue(std::string_view(buffer, static_cast<std::size_t>(got)),
                             MonotonicNow());
            continue;
        }
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            return true;
        }
        Fail(got == 0 ? std::string("the line was closed")
                      : std::string("cannot read from the line: ") + std::strerror(errno));
        return false;
    }
}

SessionReport Session::Run() {
#if defined(__linux__)
    if (pacer_.baud() > 0) {
        // Linux lets a sleep run up to 50 us long by default; that is half a byte at 115200 Bd.
        ::prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    }
#endif
    for (;;) {
        TimeUs now = MonotonicNow();
        // Bytes first: a block whose last byte is through now must not count as stalled.
        Deliver(now);
        receiver_.OnTick(now);
        Collect(now);
        if (report_.failed || receiver_.outcome() == Outcome::kVanished) {
            break;
        }
        unwritten_ += pacer_.TakeDue(now);
        if (!Write()) {
            break;
        }
        if (receiver_.finished() && pacer_.empty() && unwritten_.empty()) {
            break;
        }

        pollfd fds[2] = {};
        fds[0].fd = setup_.fd;
        fds[0].events = static_cast<short>((receiver_.finished() ? 0 : POLLIN) |
                                           (unwritten_.empty() ? 0 : POLLOUT));
        fds[1].fd = setup_.stopFd;
        fds[1].events = POLLIN;
        const auto deadline =
            Earliest(receiver_.NextDeadline(), Earliest(pacer_.NextDue(), inbound_.NextDue()));
        const int ready = WaitReady(fds, setup_.stopFd >= 0 ? 2 : 1, deadline, now);
        if (ready < 0 && errno != EINTR) {
            Fail(std::string("poll: ") + std::strerror(errno));
            break;
        }
        if (ready <= 0) {
            continue;
        }
        if (setup_.stopFd >= 0 && (fds[1].revents & POLLIN) != 0) {
            Fail("stopped by a signal");
            break;
        }
        if ((fds[0].revents & POLLIN) != 0) {
            if (!Read()) {
                break;
            }
        } else if ((fds[0].revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) {
            Fail("the line was lost");
            break;
        }
    }

    report_.outcome = receiver_.outcome();
    if (const auto& heading = receiver_.heading()) {
        report_.name = heading->name;
        report_.announced = heading->recordCount;
    }
    report_.received = receiver_.recordsReceived();
    report_.naks = receiver_.naksSent();

    std::string error;
    if (report_.outcome == Outcome::kOk && !report_.failed && sink_.isOpen() &&
        !sink_.Commit(&error)) {
        Fail(error);
    }
    sink_.Abandon();
    if (report_.outcome != Outcome::kVanished && setup_.drain) {
        setup_.drain();
    }
    return report_;
}

}  // namespace

TimeUs MonotonicNow() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

SessionReport RunSession(const SessionSetup& setup, BlockReceiver& receiver, LinePacer& pacer) {
    return Session(setup, receiver, pacer).Run();
}

std::string SessionReport::status() const {
    if (failed) {
        return "error";
    }
    switch (outcome) {
        case Outcome::kOk:
            return "ok";
        case Outcome::kTimeout:
            return "timeout";
        case Outcome::kVanished:
            return "vanished";
        case Outcome::kIncomplete:
        case Outcome::kRunning:
            return "incomplete";
    }
    return "error";
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
    std::string line = "bht-sim: received " + (name.empty() ? std::string("-") : name) +
                       " records=" + std::to_string(received) + "/" + std::to_string(announced) +
                       " naks=" + std::to_string(naks) + " status=" + status();
    return line;
}

}  // namespace quenlo::sim
