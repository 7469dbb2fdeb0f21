#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <vector>

#include "platform/event_timers.h"
#include "platform/terminal_host.h"

namespace quenlo {

class WinSerialComm;

// The engine's host in a Windows console, without Qt. Its wait sleeps in the system until a byte
// arrives on the watched port, a write to it ends, Ctrl-C is pressed, a timer is due or the time
// is up; it never spins. Its timers fire from that wait, on the thread that waits.
class ConsoleHost : public TerminalHost, public EventTimers {
  public:
    // Messages on std::cerr; questions asked on std::cin when it is a console.
    ConsoleHost();
    // `clock` in seconds replaces the monotonic clock (tests run the timers in virtual time).
    ConsoleHost(std::istream& in, std::ostream& out, bool interactive,
                std::function<double()> clock = {});
    ~ConsoleHost() override;
    ConsoleHost(const ConsoleHost&) = delete;
    ConsoleHost& operator=(const ConsoleHost&) = delete;

    // The port whose news ends a wait; nothing watched when null.
    void WatchPort(WinSerialComm* port) { port_ = port; }
    // Ctrl-C, Ctrl-Break and a closing console: the first calls onCancel from the wait; a second
    // ends the program at once with the given status.
    void CatchInterrupts(std::function<void()> onCancel, int exitStatusOnSecond);

    // Returns at once when a timer, a posted call or an interrupt was handled.
    void Yield(std::chrono::milliseconds maxWait) override;
    double ClockSeconds() override;
    void SleepMs(std::int32_t milliseconds) override;
    LocalDateTime Now() override;

    std::unique_ptr<Repeating> MakeRepeating(std::chrono::milliseconds interval,
                                             std::function<void()> fire) override;
    void Post(std::function<void()> fire) override;

  private:
    class Timer;
    struct Entry {
        double interval = 0;
        double due = -1;  // below 0 while stopped
        std::function<void()> fire;
    };
    // Runs what is due; whether anything ran.
    bool RunDue();

    std::function<double()> clock_;
    WinSerialComm* port_ = nullptr;
    std::function<void()> onCancel_;
    std::map<int, Entry> timers_;
    int nextTimer_ = 0;
    std::vector<std::function<void()>> posted_;
};

}  // namespace quenlo
