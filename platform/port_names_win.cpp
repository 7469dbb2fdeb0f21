#include "platform/port_names.h"

namespace quenlo {

// QSerialPort adds the \\.\ prefix that COM10 and above need.
std::string DefaultDeviceForPort(int portNumber) {
    return "COM" + std::to_string(portNumber);
}

// COM n is port n, as the technician knows it from the system's own port list.
bool LendsFreePortNumbers() {
    return false;
}

// A COM name stays with its adapter already.
std::string StableDeviceName(const std::string&) {
    return {};
}

}  // namespace quenlo
