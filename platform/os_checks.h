#pragma once

class QSerialPort;

namespace quenlo {

// Whether standard input is an interactive terminal, where a question can be asked.
bool StdinIsTerminal();

// Whether the open port's device has hung up (a pseudo-terminal whose other end closed, an
// unplugged adapter). Asked when a read fails, because a hung-up terminal reads as end of file
// with no error number, which QSerialPort reports as an ordinary read error.
bool DeviceHungUp(const QSerialPort& port);

}  // namespace quenlo
