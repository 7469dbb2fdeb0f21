#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/peer_machine.h"

namespace quenlo::sim {

using protocol::Time;

// What goes wrong on one direction of a line. Byte positions count from 1, in the order the bytes
// were handed to the line; 0 switches an "every" fault off.
struct LineFaults {
    std::set<long> dropBytes{};               // these bytes never arrive
    std::set<long> corruptBytes{};            // one bit of each of these is flipped
    std::map<long, char> replaceBytes{};      // noise that turns these bytes into others
    std::map<long, std::uint8_t> flipBits{};  // these bits of these bytes are flipped
    std::set<long> doubleBytes{};             // these bytes arrive twice
    std::map<long, char> insertBefore{};      // a stray byte arrives before each of these
    long dropEvery = 0;                       // every nth byte is lost
    long corruptEvery = 0;                    // one bit of every nth byte is flipped
    double dropRate = 0;                      // chance that a byte is lost
    double corruptRate = 0;                   // chance that a byte is damaged
    double delayRate = 0;                     // chance that a byte (and all behind it) comes late
    Time delay{0};                            // how late
    long cutAfter = 0;                        // after this many bytes nothing passes any more
    bool silent = false;                      // nothing passes at all
    std::uint32_t seed = 1;                   // chooses the random faults and the flipped bits

    bool any() const;
};

// One direction of a serial line: it holds each byte back until a real line at the given rate
// would have carried it (10 bits a byte, one after the other; rate 0 lets everything through at
// once), plus a fixed latency, and applies its faults. Bytes never overtake each other.
//
// A paced line hands bytes over the way a UART's receive FIFO does: in bursts of up to
// kBurstBytes, each when its last byte is through, so the far end wakes once a burst rather than
// once a byte. A run of bytes that follow each other without a pause is cut into bursts from its
// end: the bytes right behind a block's end always share the block's last burst, where a strict
// handheld sees them. Unpaced, bytes handed over together stay together as one burst.
class Line {
  public:
    static constexpr std::size_t kBurstBytes = 16;

    explicit Line(int baud = 0, LineFaults faults = {}, Time latency = Time{0});

    void Enqueue(std::string_view bytes, Time now);

    struct Burst {
        Time at;
        std::string bytes;
    };
    // The next burst, if it is through by `now`.
    std::optional<Burst> TakeBurst(Time now);
    // The bytes of every burst through by `now`.
    std::string TakeDue(Time now);
    // When the next burst is through; nothing when no byte is waiting.
    std::optional<Time> NextDue() const;
    bool empty() const { return head_ == queue_.size(); }

    int baud() const { return baud_; }
    // The line was cut: nothing passes any more.
    bool isCut() const { return cut_; }

  private:
    struct Pending {
        Time due;
        char byte;
    };

    bool Chance(double rate);
    // The faults that strike a byte before it takes the line: true when it is lost to a cut or
    // silence.
    bool Silenced();
    // The faults that strike a byte on the line: false when it is lost; it may be damaged or held.
    bool Survives(char& byte, Time& due);
    std::size_t NextBurstSize() const;
    // The moment a byte put on the line now has crossed it, the line then busy for it.
    Time Occupy(Time now);
    // Queues a byte that arrives at `due`, in the run of the bytes before it when it follows them
    // without a pause.
    void Push(char byte, Time due);

    int baud_;
    LineFaults faults_;
    bool faulty_;  // a line without faults skips every check of them
    Time latency_;
    std::mt19937 noise_;
    long position_ = 0;
    bool cut_ = false;
    Time lineFreeAt_{0};
    Time heldUntil_{0};  // a late byte holds back everything behind it
    // Sub-microsecond remainders carried over, so long runs do not drift from the rate.
    long long remainder_ = 0;
    // Longest time between two bytes of one run: a byte's time on the line, rounded up.
    Time byteTime_{0};
    // Bytes waiting from queue_[head_] on; a vector, not a deque, since that is most of the cost
    // of an unpaced transfer.
    std::vector<Pending> queue_;
    std::size_t head_ = 0;
    std::deque<std::size_t> runs_;  // the lengths of the runs waiting, oldest first
};

}  // namespace quenlo::sim
