#pragma once

#include <cstdint>
#include <string>

#include "base/result_codes.h"
#include "base/run_state.h"

namespace quenlo {

// The run-time error number of a failed file operation, from the system's errno. An ENOENT is
// "file not found" when the file's directory exists and "path not found" when it does not.
std::int32_t RuntimeErrorForErrno(int error, bool directoryExists);

// Maps the run-time error number of a failed file operation to a result code.
ResultCode MapFileError(std::int32_t runtimeErrorNumber);

// A write to directory & name that failed with the system's error: says which file and why (for
// the operator, beside the code) and returns the mapped code, 72 for a full disk.
ResultCode WriteFailed(RunState& state, const std::string& path, int error);

// Opens directory & name (joined directly) under the file number. Mode "I" reads text lines; any
// other mode writes, appending when appendMode is on, else creating or replacing the file.
// Returns 0 or the mapped failure code; on failure the file number stays closed.
ResultCode OpenFile(RunState& state, const std::string& directory, const std::string& name,
                    FileNumber number, const std::string& mode);

}  // namespace quenlo
