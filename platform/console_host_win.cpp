#include <io.h>
#include <windows.h>
// winbase.h's macro for a call of 16-bit Windows would swallow Host::Yield.
#undef Yield

#include <atomic>
#include <cmath>
#include <cstdio>
#include <iostream>
#include <utility>

#include "platform/console_host.h"
#include "platform/os_checks.h"
#include "platform/win_serial_comm.h"

namespace quenlo {
namespace {

// The console's control handler runs on a thread of its own: it only counts and wakes the wait.
// The event is manual-reset: the wait that it ends must not also consume the press.
HANDLE interruptEvent = nullptr;
std::atomic<int> presses{0};
int pressesHandled = 0;
int secondStatus = 255;

BOOL WINAPI OnControl(DWORD type) {
    if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT && type != CTRL_CLOSE_EVENT) {
        return FALSE;
    }
    if (++presses >= 2) {
        ExitProcess(static_cast<UINT>(secondStatus));
    }
    SetEvent(interruptEvent);
    return TRUE;
}

double SteadySeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace

class ConsoleHost::Timer : public EventTimers::Repeating {
  public:
    Timer(ConsoleHost& host, int id) : host_(host), id_(id) {}
    ~Timer() override { host_.timers_.erase(id_); }
    void Start() override {
        Entry& entry = host_.timers_.at(id_);
        entry.due = host_.ClockSeconds() + entry.interval;
    }
    void Stop() override { host_.timers_.at(id_).due = -1; }

  private:
    ConsoleHost& host_;
    int id_;
};

ConsoleHost::ConsoleHost() : ConsoleHost(std::cin, std::cerr, StdinIsTerminal()) {}

ConsoleHost::ConsoleHost(std::istream& in, std::ostream& out, bool interactive,
                         std::function<double()> clock)
    : TerminalHost(in, out, interactive), clock_(clock ? std::move(clock) : SteadySeconds) {}

ConsoleHost::~ConsoleHost() = default;

void ConsoleHost::CatchInterrupts(std::function<void()> onCancel, int exitStatusOnSecond) {
    onCancel_ = std::move(onCancel);
    secondStatus = exitStatusOnSecond;
    if (interruptEvent == nullptr) {
        interruptEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        SetConsoleCtrlHandler(OnControl, TRUE);
    }
}

bool ConsoleHost::RunDue() {
    bool ran = false;
    if (interruptEvent != nullptr && WaitForSingleObject(interruptEvent, 0) == WAIT_OBJECT_0) {
        // Reset before counting, so that a press arriving meanwhile sets it again.
        ResetEvent(interruptEvent);
        const int pressed = presses;
        if (pressed > pressesHandled && onCancel_) {
            pressesHandled = pressed;
            onCancel_();
            ran = true;
        }
    }
    // A call may post another or stop a timer: take the list first, look up each timer anew.
    std::vector<std::function<void()>> posted = std::move(posted_);
    posted_.clear();
    for (auto& fire : posted) {
        fire();
        ran = true;
    }
    const double now = ClockSeconds();
    std::vector<int> due;
    for (const auto& [id, entry] : timers_) {
        if (entry.due >= 0 && entry.due <= now) {
            due.push_back(id);
        }
    }
    for (const int id : due) {
        const auto found = timers_.find(id);
        if (found == timers_.end() || found->second.due < 0) {
            continue;
        }
        found->second.due = now + found->second.interval;
        const auto fire = found->second.fire;
        fire();
        ran = true;
    }
    return ran;
}

void ConsoleHost::Yield(std::chrono::milliseconds maxWait) {
    if (RunDue() || maxWait.count() <= 0) {
        return;
    }
    double wait = static_cast<double>(maxWait.count()) / 1000.0;
    const double now = ClockSeconds();
    for (const auto& [id, entry] : timers_) {
        if (entry.due >= 0) {
            wait = std::min(wait, entry.due - now);
        }
    }
    std::vector<void*> handles;
    if (interruptEvent != nullptr) {
        handles.push_back(interruptEvent);
    }
    if (port_ != nullptr && !port_->ArmWait(handles)) {
        return;
    }
    // Rounded up, so that a timer due in a fraction of a millisecond is not woken for early.
    const auto milliseconds = static_cast<DWORD>(std::ceil(std::max(wait, 0.0) * 1000.0));
    if (handles.empty()) {
        Sleep(milliseconds);
    } else {
        WaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(), FALSE,
                               milliseconds);
    }
    if (port_ != nullptr) {
        port_->DisarmWait();
    }
    RunDue();
}

double ConsoleHost::ClockSeconds() {
    return clock_();
}

void ConsoleHost::SleepMs(std::int32_t milliseconds) {
    if (milliseconds > 0) {
        Sleep(static_cast<DWORD>(milliseconds));
    }
}

LocalDateTime ConsoleHost::Now() {
    SYSTEMTIME now{};
    GetLocalTime(&now);
    return LocalDateTime{now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond};
}

std::unique_ptr<EventTimers::Repeating> ConsoleHost::MakeRepeating(
    std::chrono::milliseconds interval, std::function<void()> fire) {
    const int id = nextTimer_++;
    timers_[id] = Entry{static_cast<double>(interval.count()) / 1000.0, -1, std::move(fire)};
    return std::make_unique<Timer>(*this, id);
}

void ConsoleHost::Post(std::function<void()> fire) {
    posted_.push_back(std::move(fire));
}

}  // namespace quenlo
