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

}  // namespace quenlo
