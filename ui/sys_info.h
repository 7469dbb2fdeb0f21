#pragma once

#include <functional>
#include <string>

namespace quenlo {

// Starts the system's information tool; tells the operator through `unavailable` when there is
// none to start.
void StartSysInfo(const std::function<void()>& unavailable);

}  // namespace quenlo
