#include <poll.h>
#include <unistd.h>

#include <QSerialPort>

#include "platform/os_checks.h"

namespace quenlo {

bool StdinIsTerminal() {
    return ::isatty(STDIN_FILENO) == 1;
}

bool DeviceHungUp(const QSerialPort& port) {
    pollfd probe{port.handle(), POLLIN, 0};
    if (::poll(&probe, 1, 0) < 0) {
        return false;
    }
    return (probe.revents & (POLLHUP | POLLNVAL)) != 0;
}

}  // namespace quenlo
