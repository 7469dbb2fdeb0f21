#pragma once

#include <deque>
#include <optional>
#include <string>
#include <string_view>

#include "sim/block_receiver.h"

namespace quenlo::sim {

// Holds bytes back until a real line at the given rate would have carried them: 10 bits a byte
// (start, 8 data, stop), one byte after the other. A byte handed over at t is through at
// max(t, when the one before it was through) + 10 bit times. The session uses one for what it
// sends and one for what it receives. A rate of 0 lets everything through at once.
class LinePacer {
  public:
    explicit LinePacer(int baud) : baud_(baud) {}

    void Enqueue(std::string_view bytes, TimeUs now);
    // The bytes whose time has come.
    std::string TakeDue(TimeUs now);
    // When the next byte is due; nothing when none is waiting.
    std::optional<TimeUs> NextDue() const;
    bool empty() const { return queue_.empty(); }
    int baud() const { return baud_; }

  private:
    struct Pending {
        TimeUs due;
        char byte;
    };

    int baud_;
    TimeUs lineFreeAt_ = 0;
    // Sub-microsecond remainders carried over, so long runs do not drift from the rate.
    long long remainder_ = 0;
    std::deque<Pending> queue_;
};

}  // namespace quenlo::sim
