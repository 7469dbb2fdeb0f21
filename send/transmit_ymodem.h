#pragma once

#include "base/result_codes.h"
#include "base/run_state.h"

namespace quenlo {

// Sends filePath & fileName to the handheld by YMODEM through the port's file-transfer facility:
// starts it, waits for the handheld to begin, shows the progress, honours Cancel.
ResultCode TransmitYModem(RunState& state);

}  // namespace quenlo
