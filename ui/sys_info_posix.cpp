#include "ui/sys_info.h"

namespace quenlo {

// No system-information tool is registered on these systems.
void StartSysInfo(const std::function<void()>& unavailable) {
    unavailable();
}

}  // namespace quenlo
