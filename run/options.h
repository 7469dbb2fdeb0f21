#pragma once

#include <string>

#include "base/result_codes.h"
#include "base/run_state.h"

namespace quenlo {

// Cuts commandLine into tokens, applies each to the transfer settings, then checks the file to
// send. Returns 0, or the code of the first failure; commandLine then keeps the failing token and
// what follows it.
ResultCode CheckCommand(RunState& state);

// irDelay = the leading number of text, rounded half to even; raises run-time error 6 when it
// does not fit 32 bits. Always returns 0.
ResultCode SetIrDelay(RunState& state, const std::string& text);

}  // namespace quenlo
