#pragma once

#include <chrono>
#include <cstddef>

#include "base/run_state.h"

namespace quenlo {

// The line's time for one character at the run's settings: start bit, data bits, parity bit and
// stop bits at the baud rate. 0 when the settings give no rate.
double CharacterSeconds(const RunState& state);

// Waits while the `missing` bytes of a block that has begun cannot all have come at the line's
// rate, the port's input held so that the pieces of the block do not wake the wait. Ends sooner
// for Cancel, a line error or `limit`, and after a quarter second at most, so that a device that
// went away shows. When no more than a piece (16 bytes) is missing, or the rest is due within a
// millisecond, waits for news as usual: the bytes themselves wake it.
void AwaitRestOfBlock(RunState& state, std::size_t missing, std::chrono::milliseconds limit);

}  // namespace quenlo
