#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>
#if defined(__linux__)
#include <linux/serial.h>
#endif

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

long BytesWaitingInDevice(const QSerialPort& port) {
    int waiting = 0;
    return ::ioctl(port.handle(), FIONREAD, &waiting) == 0 ? waiting : 0;
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

bool DeviceExists(const std::string& device) {
    return ::access(device.c_str(), F_OK) == 0;
}

// The lock is on the open device itself, so it holds across every name of it, for root too; it
// goes with the descriptor.
bool LockDevice(const QSerialPort& port) {
    return ::flock(port.handle(), LOCK_EX | LOCK_NB) == 0;
}

bool RequestLowLatency(const QSerialPort& port) {
#if defined(__linux__)
    serial_struct serial{};
    if (::ioctl(port.handle(), TIOCGSERIAL, &serial) != 0) {
        return false;
    }
    serial.flags |= ASYNC_LOW_LATENCY;
    // Read back: some drivers accept the request and drop the flag.
    return ::ioctl(port.handle(), TIOCSSERIAL, &serial) == 0 &&
           ::ioctl(port.handle(), TIOCGSERIAL, &serial) == 0 &&
           (serial.flags & ASYNC_LOW_LATENCY) != 0;
#else
    (void)port;
    return false;
#endif
}

}  // namespace quenlo
