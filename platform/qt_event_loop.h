#pragma once

#include <QTimer>
#include <chrono>

#include "base/host.h"
#include "platform/event_timers.h"

namespace quenlo {

// The waits, the date and the timers of hosts over the Qt event loop: the terminal's
// (QtTerminalHost) and the desktop loader's (DesktopHost) alike.

// Host::Yield over the Qt event loop: delivers what is pending, else sleeps in the operating
// system until the serial port's notifier, a user event or maxWait wakes the loop. Without a
// QCoreApplication there is no loop: the wait is a plain sleep. One deadline timer serves every
// wait: at a block's pace, a timer made and destroyed each time cost more than the wait's work.
class QtEventLoopWait {
  public:
    QtEventLoopWait();
    void Wait(std::chrono::milliseconds maxWait);

  private:
    QTimer deadline_;
};

// The local date and time.
LocalDateTime QtLocalNow();

// Timers of the Qt event loop.
class QtTimers : public EventTimers {
  public:
    std::unique_ptr<Repeating> MakeRepeating(std::chrono::milliseconds interval,
                                             std::function<void()> fire) override;
    void Post(std::function<void()> fire) override;
};

}  // namespace quenlo
