#include "sim/line.h"

#include <algorithm>

namespace quenlo::sim {
namespace {

constexpr long long kBitsPerByte = 10;
constexpr long long kMicrosPerSecond = 1'000'000;

bool Every(long every, long position) {
    return every > 0 && position % every == 0;
}

}  // namespace

bool LineFaults::any() const {
    return !dropBytes.empty() || !corruptBytes.empty() || !replaceBytes.empty() ||
           !flipBits.empty() || !doubleBytes.empty() || !insertBefore.empty() || dropEvery > 0 ||
           corruptEvery > 0 || dropRate > 0 || corruptRate > 0 || delayRate > 0 || cutAfter > 0 ||
           silent;
}

Line::Line(int baud, LineFaults faults, Time latency)
    : baud_(baud),
      faults_(std::move(faults)),
      faulty_(faults_.any()),
      latency_(latency),
      noise_(faults_.seed),
      byteTime_(baud > 0 ? (kBitsPerByte * kMicrosPerSecond + baud - 1) / baud : 0) {}

bool Line::Chance(double rate) {
    return rate > 0 && std::uniform_real_distribution<double>(0.0, 1.0)(noise_) < rate;
}

bool Line::Silenced() {
    if (faults_.cutAfter > 0 && position_ > faults_.cutAfter) {
        cut_ = true;
    }
    return cut_ || faults_.silent;
}

bool Line::Survives(char& byte, Time& due) {
    if (faults_.dropBytes.count(position_) != 0 || Every(faults_.dropEvery, position_) ||
        Chance(faults_.dropRate)) {
        return false;
    }
    if (const auto replaced = faults_.replaceBytes.find(position_);
        replaced != faults_.replaceBytes.end()) {
        byte = replaced->second;
    } else if (const auto flipped = faults_.flipBits.find(position_);
               flipped != faults_.flipBits.end()) {
        byte = static_cast<char>(byte ^ flipped->second);
    } else if (faults_.corruptBytes.count(position_) != 0 ||
               Every(faults_.corruptEvery, position_) || Chance(faults_.corruptRate)) {
        byte = static_cast<char>(byte ^ (1 << (noise_() % 8)));
    }
    if (Chance(faults_.delayRate)) {
        heldUntil_ = std::max(heldUntil_, due + faults_.delay);
    }
    due = std::max(due, heldUntil_);
    return true;
}

Time Line::Occupy(Time now) {
    if (baud_ <= 0) {
        return now;
    }
    if (lineFreeAt_ < now) {
        // The line went idle: a new byte starts now, not when the last one ended.
        lineFreeAt_ = now;
        remainder_ = 0;
    }
    const long long scaled = kBitsPerByte * kMicrosPerSecond + remainder_;
    lineFreeAt_ += Time(scaled / baud_);
    remainder_ = scaled % baud_;
    return lineFreeAt_;
}

void Line::Push(char byte, Time due) {
    // A lost or late byte leaves a pause, and bytes handed over for an earlier moment than the
    // last cannot join it: a new run starts.
    if (!empty() && due >= queue_.back().due && due - queue_.back().due <= byteTime_) {
        ++runs_.back();
    } else {
        runs_.push_back(1);
    }
    queue_.push_back({due, byte});
}

void Line::Enqueue(std::string_view bytes, Time now) {
    for (char byte : bytes) {
        ++position_;
        if (faulty_ && Silenced()) {
            continue;
        }
        if (const auto stray =
                faulty_ ? faults_.insertBefore.find(position_) : faults_.insertBefore.end();
            stray != faults_.insertBefore.end()) {
            Push(stray->second, std::max(Occupy(now) + latency_, heldUntil_));
        }
        // The byte occupies the line whether or not it arrives intact.
        Time due = Occupy(now) + latency_;
        if (faulty_ && !Survives(byte, due)) {
            continue;
        }
        Push(byte, due);
        if (faulty_ && faults_.doubleBytes.count(position_) != 0) {
            Push(byte, std::max(Occupy(now) + latency_, heldUntil_));
        }
    }
}

// Runs are cut into full bursts from their end, so only a run's first burst may be short.
std::size_t Line::NextBurstSize() const {
    const std::size_t run = runs_.front();
    if (baud_ <= 0) {
        return run;
    }
    const std::size_t part = run % kBurstBytes;
    return part == 0 ? kBurstBytes : part;
}

std::optional<Line::Burst> Line::TakeBurst(Time now) {
    const auto at = NextDue();
    if (!at || *at > now) {
        return std::nullopt;
    }
    const std::size_t size = NextBurstSize();
    Burst burst{*at, std::string(size, '\0')};
    for (char& byte : burst.bytes) {
        byte = queue_[head_++].byte;
    }
    if ((runs_.front() -= size) == 0) {
        runs_.pop_front();
    }
    // Taken bytes go once they are half the queue: each byte is moved at most once on average.
    if (head_ * 2 >= queue_.size()) {
        queue_.erase(queue_.begin(), queue_.begin() + static_cast<std::ptrdiff_t>(head_));
        head_ = 0;
    }
    return burst;
}

std::string Line::TakeDue(Time now) {
    std::string due;
    while (auto burst = TakeBurst(now)) {
        due += burst->bytes;
    }
    return due;
}

std::optional<Time> Line::NextDue() const {
    if (empty()) {
        return std::nullopt;
    }
    return queue_[head_ + NextBurstSize() - 1].due;
}

}  // namespace quenlo::sim
