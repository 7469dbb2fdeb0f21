#pragma once

#include <cstdint>
#include <string>

#include "base/result_codes.h"
#include "base/run_state.h"

namespace quenlo {

// What ReceiveHeader found in one 3-second attempt.
enum class HeadingStatus : std::int16_t {
    kAccepted = 0,   // heading accepted, output file open, room enough
    kDamaged = 1,    // a heading came, damaged or malformed: NAK
    kNothing = 2,    // no complete heading within the slice
    kCancelled = 3,  // Cancel was pressed
    kCalling = 4,    // the handheld is still calling (ENQ)
    kRefused = 5,    // the heading is refused: the run ends with its code (70, 71, 72)
};

struct HeadingReading {
    HeadingStatus status = HeadingStatus::kNothing;
    ResultCode refusal = ResultCode::kOk;  // with kRefused
};

// Collects the heading block for at most one slice, checks it, takes the file's name and layout
// from it, creates the output file in filePath and makes sure the target has room for the whole
// file. A refusal comes with its code: 70, 71 or 72.
HeadingReading ReceiveHeader(RunState& state);

// Free bytes on the volume that holds the directory, or -1 when the system cannot tell.
std::int64_t FreeSpace(RunState& state, const std::string& directory);

}  // namespace quenlo
