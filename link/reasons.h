#pragma once

#include <filesystem>
#include <string>

#include "base/run_state.h"

namespace quenlo {

// Pieces of the reasons a run gives beside its result, in the operator's words (UTF-8).

// How long the run waits for the handheld: "30 s".
std::string TimeoutText(const RunState& state);
// "is it waiting to receive (the verb), at the same speed (19200)?"
std::string SameSpeedQuestion(const RunState& state, const std::string& doing);
// The block options of this run as the option line sets them: "+PB +SN".
std::string BlockOptionsText(const RunState& state);
// The system's words for an errno value.
std::string ErrorText(int error);
// A path as the system spells it, for a reason (UTF-8).
std::string Utf8Path(const std::filesystem::path& path);

}  // namespace quenlo
