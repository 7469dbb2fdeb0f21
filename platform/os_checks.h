#pragma once

#include <string>

class QSerialPort;

namespace quenlo {

// Whether standard input is an interactive terminal, where a question can be asked.
bool StdinIsTerminal();

// Whether the open port's device has hung up (a pseudo-terminal whose other end closed, an
// unplugged adapter). Asked when a read fails, because a hung-up terminal reads as end of file
// with no error number, which QSerialPort reports as an ordinary read error.
bool DeviceHungUp(const QSerialPort& port);

// Bytes the system holds for the open port that Qt has not read yet (0 where it cannot tell).
long BytesWaitingInDevice(const QSerialPort& port);

// Why a device that cannot be opened is not available, in words a technician can act on: it does
// not exist, may not be opened by this user (and what to do about it), or another program holds it.
std::string WhyNotAvailable(const std::string& device);

// Whether the device is there to be opened (on Windows: among the ports the system lists).
bool DeviceExists(const std::string& device);

// Takes the open port's device for this program alone, whatever name opened it (a link and its
// target are one device): false when another program holds it already.
bool LockDevice(const QSerialPort& port);

// Asks the open port's driver to hand over each byte as it arrives rather than batching them (a
// USB adapter otherwise holds bytes for milliseconds, on every block of a stop-and-wait exchange).
// Whether it took effect; a device without such a mode (a pseudo-terminal) refuses.
bool RequestLowLatency(const QSerialPort& port);

}  // namespace quenlo
