#include <unistd.h>

#include <QCoreApplication>

#include "cli/console.h"
#include "cli/interrupt.h"
#include "platform/os_checks.h"
#include "platform/qt_event_loop.h"
#include "platform/qt_serial_comm.h"
#include "platform/qt_terminal_host.h"

namespace quenlo {
namespace {

// The plain event loop rather than GLib's: GLib's wakes itself through its own descriptor each
// time the serial port's notifiers are switched on or off, several times a block. Read when the
// application is made, so it is set just before.
int& WithPlainEventLoop(int& argc) {
    qputenv("QT_NO_GLIB", "1");
    return argc;
}

class QtConsole : public Console {
  public:
    QtConsole(int& argc, char** argv) : app_(WithPlainEventLoop(argc), argv) {
        LetWritesFailPastTheSizeLimit();
    }

    SerialComm& Port() override { return serial_; }
    Host& TheHost() override { return host_; }
    EventTimers& Timers() override { return timers_; }
    bool StderrIsTerminal() const override { return isatty(STDERR_FILENO) != 0; }
    void SetDeviceOverride(const std::string& path) override { serial_.SetDeviceOverride(path); }
    void SetDefaultAnswer(bool yes) override { host_.SetDefaultAnswer(yes); }
    std::string Device(std::int16_t portNumber) override {
        serial_.SetPortNumber(portNumber);
        return serial_.Device();
    }
    bool DeviceExists(const std::string& device) override { return quenlo::DeviceExists(device); }
    bool WaitForDevice(std::int16_t portNumber, std::chrono::milliseconds limit) override {
        serial_.SetPortNumber(portNumber);
        return serial_.WaitForDevice(limit);
    }
    void CatchInterrupts(std::function<void()> onCancel, int exitStatusOnSecond) override {
        InstallInterruptHandler(std::move(onCancel), exitStatusOnSecond);
    }

  private:
    QCoreApplication app_;
    QtSerialComm serial_;
    QtTerminalHost host_;
    QtTimers timers_;
};

}  // namespace

std::vector<std::string> Console::Arguments(int argc, char** argv) {
    return std::vector<std::string>(argv, argv + argc);
}

std::unique_ptr<Console> Console::Make(int& argc, char** argv) {
    return std::make_unique<QtConsole>(argc, argv);
}

}  // namespace quenlo
