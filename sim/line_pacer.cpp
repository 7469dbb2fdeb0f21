#include "sim/line_pacer.h"

#include <algorithm>

namespace quenlo::sim {
namespace {

constexpr long long kBitsPerByte = 10;
constexpr long long kMicrosPerSecond = 1'000'000;

}  // namespace

void LinePacer::Enqueue(std::string_view bytes, TimeUs now) {
    for (const char byte : bytes) {
        if (baud_ <= 0) {
            queue_.push_back({now, byte});
            continue;
        }
        if (lineFreeAt_ < now) {
            // The line went idle: a new byte starts now, not when the last one ended.
            lineFreeAt_ = now;
            remainder_ = 0;
        }
        const long long scaled = kBitsPerByte * kMicrosPerSecond + remainder_;
        lineFreeAt_ += scaled / baud_;
        remainder_ = scaled % baud_;
        queue_.push_back({lineFreeAt_, byte});
    }
}

std::string LinePacer::TakeDue(TimeUs now) {
    std::string due;
    while (!queue_.empty() && queue_.front().due <= now) {
        due += queue_.front().byte;
        queue_.pop_front();
    }
    return due;
}

std::optional<TimeUs> LinePacer::NextDue() const {
    if (queue_.empty()) {
        return std::nullopt;
    }
    return queue_.front().due;
}

}  // namespace quenlo::sim
