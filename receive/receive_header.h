#pragma once

#include <cstdint>
#include <string>

#include "base/result_codes.h"
#include "base/run_state.h"

namespace quenlo {

// What ReceiveHeader found in one 3-second attempt.
namespace header_status {
inline constexpr std::int16_t kAccepted = 0;   // heading accepted, output file open, room enough
inline constexpr std::int16_t kDamaged = 1;    // a heading came, damaged or malformed: NAK
inline constexpr std::int16_t kNothing = 2;    // no complete heading within the slice
inline constexpr std::int16_t kCancelled = 3;  // Cancel was pressed
inline constexpr std::int16_t kCalling = 4;    // the handheld is still calling (ENQ)
}  // namespace header_status

// Collects the heading block for at most one slice, checks it, takes the file's name and layout
// from it, creates the output file in filePath and makes sure the target has room for the whole
// file. Returns a status above, or 70, 71 or 72.
std::int16_t ReceiveHeader(RunState& state);

// Free bytes on the volume that holds the directory, or -1 when the system cannot tell.
std::int64_t FreeSpace(RunState& state, const std::string& directory);

}  // namespace quenlo
