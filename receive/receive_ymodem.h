#pragma once

#include "base/result_codes.h"
#include "base/run_state.h"

namespace quenlo {

// Receives a YMODEM batch from the handheld into filePath (the current directory when empty)
// through the port's file-transfer facility: starts the download, checks each announced name
// before anything of it is written, shows the progress, honours Cancel.
ResultCode ReceiveYModem(RunState& state);

}  // namespace quenlo
