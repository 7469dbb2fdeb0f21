#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "base/result_codes.h"
#include "base/run_state.h"

namespace quenlo {

// The run-time error number of a failed file operation, from the system's errno. An ENOENT is
// "file not found" when the file's directory exists and "path not found" when it does not.
std::int32_t RuntimeErrorForErrno(int error, bool directoryExists);

// Maps the run-time error number of a failed file operation to a result code.
ResultCode MapFileError(std::int32_t runtimeErrorNumber);

// A write that failed with the system's error: keeps the reason (naming the file) for the
// operator, beside the code, and returns the mapped code: 72 for a full disk, 71 for a folder that
// went away.
ResultCode WriteFailed(RunState& state, const std::string& reason, int error);

// Opens the folder a reception writes into, filePath (the current directory when empty), and
// holds it for the run; removes what runs killed outright left there. 0, 71 for a folder that
// is not there (or a drive where the system has none), or the code of another failure; the
// reason in failureDetail.
ResultCode OpenTargetFolder(RunState& state);

// Where directory & name are on this machine: as the operator typed them where they are the
// run's, so that exactly the file or folder named is the one opened.
std::filesystem::path PathOf(const RunState& state, const std::string& directory,
                             const std::string& name);

// The run's target folder, opened now when it is not yet; nothing, and result set (see
// OpenTargetFolder), when it cannot be.
disk::Directory* TargetFolder(RunState& state, ResultCode& result);

// A name for a received file that takes nothing in the folder: the name itself when nothing
// stands there (in any letter case), else the first of NAME-2.EXT, NAME-3.EXT, ... that is free,
// for the data file and, with `withFieldFile`, its field file alike.
std::string FreeName(const disk::Directory& folder, const std::string& name, bool withFieldFile);

// The entry of the folder that a name (engine text) stands for: the name itself when it is there,
// else an entry equal to it without regard to case, else the name as given; as the system spells
// it (UTF-8).
std::string NameInFolder(const disk::Directory& folder, const std::string& name);

// Opens directory & name (joined directly) under the file number. Mode "I" reads text lines; any
// other mode writes, appending when appendMode is on, else creating or replacing the file, whole
// or not at all: closing the file puts it in place, dropping it takes back what was written.
// Writing goes through the run's target folder when directory is filePath.
// Returns 0 or the mapped failure code; on failure the file number stays closed.
ResultCode OpenFile(RunState& state, const std::string& directory, const std::string& name,
                    FileNumber number, const std::string& mode);

}  // namespace quenlo
