#pragma once

#include "base/result_codes.h"
#include "base/run_state.h"

namespace quenlo {

// Counts the lines of filePath & fileName into recordCount. Returns 0, 3 (more than 32767 lines)
// or the code of a failed open.
ResultCode Test_File(RunState& state);

// Reads the field definitions of the data file from filePath & fieldFileName: the "fields" line
// defines them and the "file" line must name fileName. Returns 0, 4, 5, 6, 8 or 9.
ResultCode CheckFieldFile(RunState& state);

// Writes the field file of the data file just received, lines ended by CR LF. Returns 0, or the
// mapped code of a failed write (fileErrNumber and fileErrLine then say which). A failed open
// returns 0 and leaves its code in linkStatus.
ResultCode WriteFieldFile(RunState& state);

}  // namespace quenlo
