#include <io.h>

#include <cstdio>

#include <QSerialPort>
#include <QSerialPortInfo>

#include "platform/os_checks.h"

namespace quenlo {

bool StdinIsTerminal() {
    return _isatty(_fileno(stdin)) != 0;
}

// Windows reports a removed device as a resource error on its own.
bool DeviceHungUp(const QSerialPort&) {
    return false;
}

long BytesWaitingInDevice(const QSerialPort&) {
    return 0;
}

std::string WhyNotAvailable(const std::string& device) {
    return device + " does not exist or another program holds it";
}

bool DeviceExists(const std::string& device) {
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
        if (info.portName().compare(QString::fromStdString(device), Qt::CaseInsensitive) == 0) {
            return true;
        }
    }
    return false;
}

// Windows opens a COM port for one program at a time already.
bool LockDevice(const QSerialPort&) {
    return true;
}

// The driver's latency timer is a setting of the device, not of the opening.
bool RequestLowLatency(const QSerialPort&) {
    return false;
}

}  // namespace quenlo
