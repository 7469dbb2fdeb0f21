#pragma once

#include "base/run_state.h"

namespace quenlo {

// Shows the run's outcome in the transfer window and, unless +EX after a success or +DDE, waits
// for the operator's OK.
void ReportResult(RunState& state);

// The result message for the state's current resultCode.
std::string ResultMessageOf(const RunState& state);

}  // namespace quenlo
