#pragma once

#include "platform/event_timers.h"
#include "platform/terminal_host.h"

namespace quenlo {

// The engine's host over the Qt event loop, for programs without windows. The desktop program
// derives from it and puts its message boxes in place of the terminal ones.
class QtHost : public TerminalHost {
  public:
    // Messages on std::cerr; questions asked on std::cin when it is a terminal.
    QtHost();
    QtHost(std::istream& in, std::ostream& out, bool interactive);

    // Without a QCoreApplication there is no event loop: the wait is a plain sleep.
    void Yield(std::chrono::milliseconds maxWait) override;
    double ClockSeconds() override;
    void SleepMs(std::int32_t milliseconds) override;
    LocalDateTime Now() override;
};

// Timers of the Qt event loop.
class QtTimers : public EventTimers {
  public:
    std::unique_ptr<Repeating> MakeRepeating(std::chrono::milliseconds interval,
                                             std::function<void()> fire) override;
    void Post(std::function<void()> fire) override;
};

}  // namespace quenlo
