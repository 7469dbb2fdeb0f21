#pragma once

#include <string>
#include <string_view>

#include "link/control_chars.h"

namespace quenlo::sim {

// Block check: exclusive-or of every byte given. Callers pass the block body, from the byte after
// SOH/STX up to and including ETX.
char Bcc(std::string_view body);

// The value of a run of decimal digits, or -1 when any character is not a digit.
int DecimalValue(std::string_view digits);

// Bytes as readable text for traces: printable characters as they are, the rest as <ACK>, <x9B>.
std::string Printable(std::string_view bytes);

}  // namespace quenlo::sim
