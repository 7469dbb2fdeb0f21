#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace quenlo {

// The value of an environment variable, empty when it is unset.
using Environment = std::function<std::string(const std::string& name)>;
// The process's own environment.
std::string ProcessEnvironment(const std::string& name);

// The port numbers the option line can select (+P0 .. +P20).
inline constexpr int kPortNumbers = 21;

// The device that port number n (1..21) opens: the environment variable QUENLO_COM<n> when it is
// set and not empty, so that a pseudo-terminal or a USB adapter can stand in for a COM port;
// otherwise the platform's own name for it.
std::string DeviceForPort(int portNumber, const Environment& environment = ProcessEnvironment);

// The platform's own name for port n: COM<n> on Windows, /dev/ttyS<n-1> elsewhere.
std::string DefaultDeviceForPort(int portNumber);

// A serial port the system knows of, as its driver describes it.
struct SerialPortFacts {
    std::string device;  // what opening it takes: /dev/ttyUSB0, COM3
    std::string description = {};
    std::string manufacturer = {};
    std::string serialNumber = {};
    std::optional<std::uint16_t> vendorId = {};
    std::optional<std::uint16_t> productId = {};
};

// A port as the technician sees it: its facts and the port numbers (1..21) that open it.
struct PortRow {
    SerialPortFacts facts;
    std::vector<int> portNumbers = {};
};

// The serial ports present now: QSerialPortInfo where Qt serves the platform, the registry and
// SetupAPI on Windows.
std::vector<SerialPortFacts> PresentPorts();

// Each port with the port numbers whose device it is. A device named through a link (an adapter's
// /dev/serial/by-id name) counts as the device the link leads to.
std::vector<PortRow> ListPorts(const std::vector<SerialPortFacts>& ports,
                               const Environment& environment = ProcessEnvironment);

// For a port that cannot be opened: the ports that do exist, each with its COM number ("COM?"
// when none opens it), for example "ports here: /dev/ttyUSB0 (COM?), /dev/ttyS0 (COM1)".
std::string PortsHereHint(const std::vector<PortRow>& rows);

}  // namespace quenlo
