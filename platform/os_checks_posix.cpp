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

std::string WhyNotAvailable(const std::string& device) {
    if (::access(device.c_str(), F_OK) != 0) {
        return "no such device";
    }
    if (::access(device.c_str(), R_OK | W_OK) != 0) {
#if defined(__linux__)
        return "permission denied (add yourself to the dialout group: sudo usermod -aG dialout "
               "$USER, then log in again)";
#else
        return "permission denied";
#endif
    }
    return "busy: another program holds it";
}

}  // namespace quenlo
