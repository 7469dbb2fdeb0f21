#include "platform/port_names.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <set>

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

// The device QUENLO_COM<n> names for port n; empty when it names none.
std::string NamedDevice(int portNumber, const Environment& environment) {
    return environment("QUENLO_COM" + std::to_string(portNumber));
}

}  // namespace

std::string ProcessEnvironment(const std::string& name) {
    const char* value = std::getenv(name.c_str());
    return value == nullptr ? "" : value;
}

std::vector<std::string> PortDevices(const std::vector<SerialPortFacts>& present,
                                     const Environment& environment) {
    std::set<std::string> here;
    for (const SerialPortFacts& port : present) {
        here.insert(Resolved(port.device));
    }
    std::vector<std::string> devices(kPortNumbers);
    std::set<std::string> reached;
    for (int n = 1; n <= kPortNumbers; ++n) {
        std::string& device = devices[n - 1];
        device = NamedDevice(n, environment);
        if (device.empty() && here.count(Resolved(DefaultDeviceForPort(n))) != 0) {
            device = DefaultDeviceForPort(n);
        }
        if (!device.empty()) {
            reached.insert(Resolved(device));
        }
    }
    if (LendsFreePortNumbers()) {
        // Plug order decides /dev/ttyUSB<k>, not the stable name: sort by what stays.
        std::vector<const SerialPortFacts*> others;
        for (const SerialPortFacts& port : present) {
            if (reached.insert(Resolved(port.device)).second) {
                others.push_back(&port);
            }
        }
        const auto key = [](const SerialPortFacts* port) {
            return port->stableName.empty() ? port->device : port->stableName;
        };
        std::sort(others.begin(), others.end(),
                  [&key](const auto* a, const auto* b) { return key(a) < key(b); });
        auto next = others.begin();
        for (std::string& device : devices) {
            if (device.empty() && next != others.end()) {
                device = (*next++)->device;
            }
        }
    }
    for (int n = 1; n <= kPortNumbers; ++n) {
        if (devices[n - 1].empty()) {
            devices[n - 1] = DefaultDeviceForPort(n);
        }
    }
    return devices;
}

std::string DeviceForPort(int portNumber, const std::vector<SerialPortFacts>& present,
                          const Environment& environment) {
    if (portNumber < 1 || portNumber > kPortNumbers) {
        return DefaultDeviceForPort(portNumber);
    }
    return PortDevices(present, environment)[portNumber - 1];
}

std::string CurrentDeviceForPort(int portNumber, const Environment& environment) {
    if (portNumber >= 1 && portNumber <= kPortNumbers) {
        if (std::string named = NamedDevice(portNumber, environment); !named.empty()) {
            return named;
        }
    }
    return DeviceForPort(portNumber, PresentPorts(), environment);
}

std::vector<PortRow> ListPorts(const std::vector<SerialPortFacts>& ports,
                               const Environment& environment) {
    std::vector<std::string> opened = PortDevices(ports, environment);
    for (std::string& device : opened) {
        device = Resolved(device);
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
