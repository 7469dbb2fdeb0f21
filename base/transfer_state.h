#pragma once

#include <cstdint>

namespace quenlo {

// Values of transferState: where a transfer stands, and how it ended.
enum class TransferState : std::int16_t {
    kNone = 0,
    kEstablishing = 1,
    kHeading = 2,
    kData = 3,
    kClosing = 4,
    kCompleted = 5,
    kStopped = 6,
};

// Its number, as the general failure message shows it.
constexpr std::int16_t Number(TransferState state) {
    return static_cast<std::int16_t>(state);
}

}  // namespace quenlo
