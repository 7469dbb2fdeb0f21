#pragma once

#include <chrono>
#include <functional>
#include <memory>

namespace quenlo {

// Timers that fire while the host waits (Host::Yield), on the thread that waits: what the terminal
// front end needs for the transfer window's 3-second timer and its self-clicking OK.
class EventTimers {
  public:
    // A timer that fires every interval while started.
    class Repeating {
      public:
        virtual ~Repeating() = default;
        virtual void Start() = 0;
        virtual void Stop() = 0;
    };

    virtual ~EventTimers() = default;
    // Stopped until started; nothing fires once it is destroyed.
    virtual std::unique_ptr<Repeating> MakeRepeating(std::chrono::milliseconds interval,
                                                     std::function<void()> fire) = 0;
    // Calls fire once, from the host's next wait.
    virtual void Post(std::function<void()> fire) = 0;
};

}  // namespace quenlo
