#include "platform/port_names.h"

namespace quenlo {

// QSerialPort adds the \\.\ prefix that COM10 and above need.
std::string DefaultDeviceForPort(int portNumber) {
    return "COM" + std::to_string(portNumber);
}

}  // namespace quenlo
