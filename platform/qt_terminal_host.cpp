#include "platform/qt_terminal_host.h"

#include <iostream>

#include "platform/os_checks.h"
#include "platform/qt_event_loop.h"

namespace quenlo {

QtTerminalHost::QtTerminalHost() : QtTerminalHost(std::cin, std::cerr, StdinIsTerminal()) {}

QtTerminalHost::QtTerminalHost(std::istream& in, std::ostream& out, bool interactive)
    : TerminalHost(in, out, interactive) {}

void QtTerminalHost::Yield(std::chrono::milliseconds maxWait) {
    wait_.Wait(maxWait);
}

LocalDateTime QtTerminalHost::Now() {
    return QtLocalNow();
}

}  // namespace quenlo
