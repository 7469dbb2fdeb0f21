#pragma once

#include "engine/result_codes.h"
#include "engine/run_state.h"

namespace quenlo {

// States of a block-protocol transfer.
namespace transfer_state {
inline constexpr std::int16_t kEstablishing = 1;
inline constexpr std::int16_t kHeading = 2;
inline constexpr std::int16_t kData = 3;
inline constexpr std::int16_t kClosing = 4;
inline constexpr std::int16_t kCompleted = 5;
inline constexpr std::int16_t kStopped = 6;
}  // namespace transfer_state

// NAKs in a row that make the sender give up.
inline constexpr std::int16_t kMaxNaks = 10;

// Sends filePath & fileName to the handheld by the block protocol over the open port.
ResultCode TransmitFile(RunState& state);

}  // namespace quenlo
