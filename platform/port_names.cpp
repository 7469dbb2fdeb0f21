#include "platform/port_names.h"

#include <cstdlib>
#include <filesystem>

namespace quenlo {

namespace {

// The device a name leads to, so that a link and its target compare equal; the name itself when
// it leads nowhere (a Windows COM name, a device that has gone).
std::string Resolved(const std::string& device) {
#if defined(_WIN32)
    return device;
#endif
    std::error_code error;
    const auto target = std::filesystem::canonical(device, error);
    return error ? device : target.string();
}

}  // namespace

std::string ProcessEnvironment(const std::string& name) {
    const char* value = std::getenv(name.c_str());
    return value == nullptr ? "" : value;
}

std::string DeviceForPort(int portNumber, const Environment& environment) {
    std::string named = environment("QUENLO_COM" + std::to_string(portNumber));
    return named.empty() ? DefaultDeviceForPort(portNumber) : named;
}

std::vector<PortRow> ListPorts(const std::vector<SerialPortFacts>& ports,
                               const Environment& environment) {
    std::vector<std::string> opened;
    for (int n = 1; n <= kPortNumbers; ++n) {
        opened.push_back(Resolved(DeviceForPort(n, environment)));
    }
    std::vector<PortRow> rows;
    for (const SerialPortFacts& port : ports) {
        PortRow& row = rows.emplace_back(PortRow{port, {}});
        const std::string device = Resolved(port.device);
        for (int n = 1; n <= kPortNumbers; ++n) {
            if (opened[n - 1] == device) {
                row.portNumbers.push_back(n);
            }
        }
    }
    return rows;
}

std::string PortsHereHint(const std::vector<PortRow>& rows) {
    if (rows.empty()) {
        return "no serial ports here";
    }
    std::string hint = "ports here: ";
    for (const PortRow& row : rows) {
        hint += (&row == &rows.front() ? "" : ", ") + row.facts.device + " (COM";
        hint += row.portNumbers.empty() ? "?" : std::to_string(row.portNumbers.front());
        hint += ")";
    }
    return hint;
}

}  // namespace quenlo
