#pragma once

#include <array>
#include <string>

#include "base/result_codes.h"
#include "base/run_state.h"

namespace quenlo {

// The baud rates the option line takes (+B115200 ...), fastest first: the order the main window
// offers them in.
inline constexpr std::array<const char*, 9> kBaudRates = {
    "115200", "38400", "19200", "9600", "4800", "2400", "1200", "600", "300"};

// Cuts commandLine into tokens, applies each to the transfer settings, then checks the file to
// send. Returns 0, or the code of the first failure; commandLine then keeps the failing token and
// what follows it.
ResultCode CheckCommand(RunState& state);

// irDelay = the leading number of text, rounded half to even; raises run-time error 6 when it
// does not fit 32 bits. Always returns 0.
ResultCode SetIrDelay(RunState& state, const std::string& text);

}  // namespace quenlo
