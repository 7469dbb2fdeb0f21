#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/host.h"
#include "base/serial_comm.h"
#include "platform/event_timers.h"

namespace quenlo {

// What quenlo-cli takes from its platform: the port, the host whose waits deliver the port's
// bytes, Ctrl-C and the timers, and the terminal's facts. console_qt.cpp serves Linux and the
// other POSIX systems through the Qt event loop; console_win.cpp serves Windows without Qt.
class Console {
  public:
    // The program's arguments in UTF-8 (Windows hands main() its ANSI code page's).
    static std::vector<std::string> Arguments(int argc, char** argv);
    // Made once the command line has been read.
    static std::unique_ptr<Console> Make(int& argc, char** argv);
    virtual ~Console() = default;

    virtual SerialComm& Port() = 0;
    virtual Host& TheHost() = 0;
    virtual EventTimers& Timers() = 0;
    virtual bool StderrIsTerminal() const = 0;

    // --device: the device opened whatever the port number.
    virtual void SetDeviceOverride(const std::string& path) = 0;
    // --yes / --no: the answer to questions when stdin is no terminal.
    virtual void SetDefaultAnswer(bool yes) = 0;
    // The device port number n opens; whether it is there; --wait-port's wait for it.
    virtual std::string Device(std::int16_t portNumber) = 0;
    virtual bool DeviceExists(const std::string& device) = 0;
    virtual bool WaitForDevice(std::int16_t portNumber, std::chrono::milliseconds limit) = 0;
    // The first Ctrl-C calls onCancel from the host's wait; a second ends the program at once.
    virtual void CatchInterrupts(std::function<void()> onCancel, int exitStatusOnSecond) = 0;
};

}  // namespace quenlo
