#pragma once

#include "base/result_codes.h"
#include "base/run_state.h"

namespace quenlo {

// NAKs in a row that make the sender give up.
inline constexpr std::int16_t kMaxNaks = 10;

// Sends filePath & fileName to the handheld by the block protocol over the open port.
ResultCode TransmitFile(RunState& state);

}  // namespace quenlo
