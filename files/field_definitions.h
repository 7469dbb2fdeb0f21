#pragma once

#include <string>

#include "engine/result_codes.h"
#include "engine/run_state.h"

namespace quenlo {

inline constexpr int kMaxFieldWidth = 99;
inline constexpr int kMaxRecordWithFields = 255;  // field count + sum of widths

// Defines the fields from a list of widths separated by ",", ";" or a blank. The list is consumed:
// on return it holds what was left unread. Returns 0, 4, 5, 6 or 9.
ResultCode SetFields(RunState& state, std::string& list);

}  // namespace quenlo
