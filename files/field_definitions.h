#pragma once

#include <string>

#include "base/result_codes.h"
#include "base/run_state.h"
#include "protocol/heading.h"

namespace quenlo {

// Defines the fields from a list of widths separated by ",", ";" or a blank. The list is consumed:
// on return it holds what was left unread. Returns 0, 4, 5, 6 or 9.
ResultCode SetFields(RunState& state, std::string& list);

}  // namespace quenlo
