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

// Writes the field file of the data file just received, lines ended by CR LF, whole or not at
// all. Returns 0, or the mapped code of a failed open or write (the reason in failureDetail; a
// failed open's code also in linkStatus). A data file named like its own field file gets none.
ResultCode WriteFieldFile(RunState& state);

}  // namespace quenlo
