#pragma once

#include <cstdint>

#include "base/result_codes.h"
#include "base/run_state.h"

namespace quenlo {

// What ReceiveData found in one 3-second attempt.
enum class DataStatus : std::int16_t {
    kAccepted = 0,   // the expected block; its record in rxRecord
    kDamaged = 1,    // damaged, or not the expected one: NAK
    kNothing = 2,    // no complete block within the slice
    kCancelled = 3,  // Cancel was pressed
    kRepeat = 5,     // the previous block again: ACK, do not write
};

// Refusals in a row that make the receiver give up.
inline constexpr std::int16_t kMaxRefusals = 10;

// Receives one file from the handheld by the block protocol into filePath over the open port:
// answers its call, takes the heading and the data blocks, writes each record as a line and, for
// a data file, the field file beside it.
ResultCode ReceiveFile(RunState& state);

// Waits at most one slice for a whole data block and checks it.
DataStatus ReceiveData(RunState& state);

// Writes rxRecord as one line of the output file: 0, 90 when Cancel was pressed, or the code of
// the failed write.
ResultCode WriteRecord(RunState& state);

}  // namespace quenlo
