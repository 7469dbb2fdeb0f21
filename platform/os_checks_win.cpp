#include <io.h>

#include <cstdio>

#include <QSerialPort>

#include "platform/os_checks.h"

namespace quenlo {

bool StdinIsTerminal() {
    return _isatty(_fileno(stdin)) != 0;
}

// Windows reports a removed device as a resource error on its own.
bool DeviceHungUp(const QSerialPort&) {
    return false;
}

std::string WhyNotAvailable(const std::string& device) {
    return device + " does not exist or another program holds it";
}

}  // namespace quenlo
