#pragma once

#include <string>

#include "base/run_state.h"

namespace quenlo {

// The heading text: the name in 12 characters, the record count in 5 digits and, for a data
// file, the field count and each width in 2 digits.
std::string HeadingText(const RunState& state);

// Builds headerBlock, the framed heading.
void SetHeader(RunState& state);

}  // namespace quenlo
