#pragma once

#include <string>

namespace quenlo {

// The device that port number n (1..21) opens: the environment variable QUENLO_COM<n> when it is
// set and not empty, so that a pseudo-terminal or a USB adapter can stand in for a COM port;
// otherwise the platform's own name for it.
std::string DeviceForPort(int portNumber);

// The platform's own name for port n: COM<n> on Windows, /dev/ttyS<n-1> elsewhere.
std::string DefaultDeviceForPort(int portNumber);

}  // namespace quenlo
