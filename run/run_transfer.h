#pragma once

#include "base/run_state.h"

namespace quenlo {

// One whole transfer run from commandLine: shows the transfer window, parses the line, sets up
// and opens the port, moves the file, reports the result and closes the window. The state's
// host, comm and view must be set; commandLine holds the option line.
void RunTransfer(RunState& state);

}  // namespace quenlo
