#include "platform/port_names.h"

namespace quenlo {

// COM1 is the first serial device, /dev/ttyS0.
std::string DefaultDeviceForPort(int portNumber) {
    return "/dev/ttyS" + std::to_string(portNumber - 1);
}

}  // namespace quenlo
