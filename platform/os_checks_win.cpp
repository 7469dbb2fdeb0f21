#include <io.h>

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "platform/os_checks.h"
#include "platform/port_names.h"

// Qt-free: the Windows quenlo-cli uses these without Qt, the desktop loader with it.
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
    return DeviceExists(device) ? "busy: another program holds it" : "no such device";
}

// Port names compare without regard to case, with or without the \\.\ prefix.
bool DeviceExists(const std::string& device) {
    const auto bare = [](std::string name) {
        if (name.rfind("\\\\.\\", 0) == 0) {
            name.erase(0, 4);
        }
        std::transform(name.begin(), name.end(), name.begin(),
                       [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
        return name;
    };
    const std::vector<SerialPortFacts> ports = PresentPorts();
    return std::any_of(ports.begin(), ports.end(), [&](const SerialPortFacts& port) {
        return bare(port.device) == bare(device);
    });
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
