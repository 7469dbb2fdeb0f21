#include "platform/port_names.h"

#include <filesystem>

namespace quenlo {

// COM1 is the first serial device, /dev/ttyS0.
std::string DefaultDeviceForPort(int portNumber) {
    return "/dev/ttyS" + std::to_string(portNumber - 1);
}

// An adapter's /dev/ttyUSB<k> depends on what was plugged in first; give it a free number.
bool LendsFreePortNumbers() {
    return true;
}

// udev links each USB serial device under /dev/serial/by-id by maker, model and serial number.
std::string StableDeviceName(const std::string& device) {
    namespace fs = std::filesystem;
    std::error_code error;
    const fs::path target = fs::canonical(device, error);
    if (error) {
        return {};
    }
    for (const auto& entry : fs::directory_iterator("/dev/serial/by-id", error)) {
        std::error_code linkError;
        if (fs::canonical(entry.path(), linkError) == target && !linkError) {
            return entry.path().string();
        }
    }
    return {};
}

}  // namespace quenlo
