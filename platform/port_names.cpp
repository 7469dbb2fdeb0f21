#include "platform/port_names.h"

#include <cstdlib>

namespace quenlo {

std::string DeviceForPort(int portNumber) {
    const std::string name = "QUENLO_COM" + std::to_string(portNumber);
    if (const char* value = std::getenv(name.c_str()); value != nullptr && *value != '\0') {
        return value;
    }
    return DefaultDeviceForPort(portNumber);
}

}  // namespace quenlo
