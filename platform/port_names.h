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

// The platform's own name for port n: COM<n> on Windows, /dev/ttyS<n-1> elsewhere.
std::string DefaultDeviceForPort(int portNumber);

// Whether a present port that no number reaches by its own name borrows a free number: yes where
// adapters get names of their own (/dev/ttyUSB0), no on Windows, where COM n stays port n.
bool LendsFreePortNumbers();

// A serial port the system knows of, as its driver describes it.
struct SerialPortFacts {
    std::string device;  // what opening it takes: /dev/ttyUSB0, COM3
    std::string description = {};
    std::string manufacturer = {};
    std::string serialNumber = {};
    std::optional<std::uint16_t> vendorId = {};
    std::optional<std::uint16_t> productId = {};
    // A name that stays with the adapter whatever order it was plugged in (its
    // /dev/serial/by-id link); empty where the system gives none.
    std::string stableName = {};
};

// The devices that port numbers 1..21 open (entry n-1), given the ports present. Number n opens:
// 1. the device named by the environment variable QUENLO_COM<n> when it is set and not empty (a
//    pseudo-terminal, an adapter by any name);
// 2. otherwise its own device (DefaultDeviceForPort) when that is a port present;
// 3. otherwise, where the platform lends free numbers, the next present port that no number
//    reaches yet: the free numbers in ascending order go to those ports ordered by stable name,
//    else by device, so one set of devices always gets the same numbers;
// 4. otherwise its own device, as before.
// Both programs open ports through this and only this, so COM n in the desktop loader is +P<n-1>
// for quenlo-cli.
std::vector<std::string> PortDevices(const std::vector<SerialPortFacts>& present,
                                     const Environment& environment = ProcessEnvironment);

// The device that port number n (1..21) opens now: PortDevices' entry.
std::string DeviceForPort(int portNumber, const std::vector<SerialPortFacts>& present,
                          const Environment& environment = ProcessEnvironment);

// The device that port number n opens now, the ports present asked for only when QUENLO_COM<n>
// does not name it: the system's list takes longer than the rest of a start.
std::string CurrentDeviceForPort(int portNumber,
                                 const Environment& environment = ProcessEnvironment);

// A port as the technician sees it: its facts and the port numbers (1..21) that open it.
struct PortRow {
    SerialPortFacts facts;
    std::vector<int> portNumbers = {};
};

// The serial ports present now, with their stable names: QSerialPortInfo where Qt serves the
// platform, the registry and SetupAPI on Windows.
std::vector<SerialPortFacts> PresentPorts();

// The stable name of a device: on Linux its /dev/serial/by-id link; empty elsewhere.
std::string StableDeviceName(const std::string& device);

// Each port with the port numbers whose device it is (PortDevices). A device named through a link
// (an adapter's /dev/serial/by-id name) counts as the device the link leads to.
std::vector<PortRow> ListPorts(const std::vector<SerialPortFacts>& ports,
                               const Environment& environment = ProcessEnvironment);

// For a port that cannot be opened: the ports that do exist, each with its COM number ("COM?"
// when none opens it), for example "ports here: /dev/ttyUSB0 (COM?), /dev/ttyS0 (COM1)".
std::string PortsHereHint(const std::vector<PortRow>& rows);

}  // namespace quenlo
