#pragma once

#include <iosfwd>

#include "platform/qt_event_loop.h"
#include "platform/terminal_host.h"

namespace quenlo {

// The host of quenlo-cli on Linux and the other POSIX systems: messages and questions on the
// terminal, waits in the Qt event loop (which delivers the serial port's bytes).
class QtTerminalHost : public TerminalHost {
  public:
    // Messages on std::cerr; questions asked on std::cin when it is a terminal.
    QtTerminalHost();
    QtTerminalHost(std::istream& in, std::ostream& out, bool interactive);

    void Yield(std::chrono::milliseconds maxWait) override;
    LocalDateTime Now() override;

  private:
    QtEventLoopWait wait_;
};

}  // namespace quenlo
