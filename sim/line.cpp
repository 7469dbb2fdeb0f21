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
    : baud_(baud), faults_(std::move(faults)), latency_(latency), noise_(faults_.seed) {}

bool Line::Chance(double rate) {
    return rate > 0 && std::uniform_real_distribution<double>(0.0, 1.0)(noise_) < rate;
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

void Line::Enqueue(std::string_view bytes, Time now) {
    const auto arrive = [this](char byte, Time due) {
        due += latency_;
        if (Chance(faults_.delayRate)) {
            heldUntil_ = std::max(heldUntil_, due + faults_.delay);
        }
        queue_.push_back({std::max(due, heldUntil_), byte});
    };
    for (char byte : bytes) {
        ++position_;
        if (faults_.cutAfter > 0 && position_ > faults_.cutAfter) {
            cut_ = true;
        }
        if (cut_ || faults_.silent) {
            ++dropped_;
            continue;
        }
        if (const auto stray = faults_.insertBefore.find(position_);
            stray != faults_.insertBefore.end()) {
            arrive(stray->second, Occupy(now));
        }
        // The byte occupies the line whether or not it arrives intact.
        const Time due = Occupy(now);
        if (faults_.dropBytes.count(position_) != 0 || Every(faults_.dropEvery, position_) ||
            Chance(faults_.dropRate)) {
            ++dropped_;
            continue;
        }
        if (const auto replaced = faults_.replaceBytes.find(position_);
            replaced != faults_.replaceBytes.end()) {
            byte = replaced->second;
            ++corrupted_;
        } else if (const auto flipped = faults_.flipBits.find(position_);
                   flipped != faults_.flipBits.end()) {
            byte = static_cast<char>(byte ^ flipped->second);
            ++corrupted_;
        } else if (faults_.corruptBytes.count(position_) != 0 ||
                   Every(faults_.corruptEvery, position_) || Chance(faults_.corruptRate)) {
            byte = static_cast<char>(byte ^ (1 << (noise_() % 8)));
            ++corrupted_;
        }
        arrive(byte, due);
        if (faults_.doubleBytes.count(position_) != 0) {
            arrive(byte, Occupy(now));
        }
    }
}

std::optional<Line::Burst> Line::TakeBurst(Time now) {
    if (queue_.empty() || queue_.front().due > now) {
        return std::nullopt;
    }
    Burst burst{queue_.front().due, {}};
    while (!queue_.empty() && queue_.front().due == burst.at) {
        burst.bytes += queue_.front().byte;
        queue_.pop_front();
    }
    return burst;
}

std::string Line::TakeDue(Time now) {
    std::string due;
    while (!queue_.empty() && queue_.front().due <= now) {
        due += queue_.front().byte;
        queue_.pop_front();
    }
    return due;
}

std::optional<Time> Line::NextDue() const {
    if (queue_.empty()) {
        return std::nullopt;
    }
    return queue_.front().due;
}

}  // namespace quenlo::sim
