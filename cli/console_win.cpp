#include <windows.h>
// winbase.h's macro for a call of 16-bit Windows would swallow Host::Yield.
#undef Yield
// windows.h first: shellapi.h needs its types.
#include <io.h>
#include <shellapi.h>

#include <cstdio>

#include "cli/console.h"
#include "platform/console_host.h"
#include "platform/os_checks.h"
#include "platform/win_serial_comm.h"

namespace quenlo {
namespace {

std::string Utf8(const wchar_t* wide) {
    const int length = WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
    std::string text(static_cast<std::size_t>(length > 0 ? length - 1 : 0), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide, -1, text.data(), length, nullptr, nullptr);
    return text;
}

class WinConsole : public Console {
  public:
    WinConsole() {
        // Our texts are UTF-8, and the updating progress line moves with escape sequences.
        SetConsoleOutputCP(CP_UTF8);
        const HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
        DWORD mode = 0;
        if (GetConsoleMode(err, &mode)) {
            SetConsoleMode(err, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
        }
        host_.WatchPort(&serial_);
    }

    SerialComm& Port() override { return serial_; }
    Host& TheHost() override { return host_; }
    EventTimers& Timers() override { return host_; }
    bool StderrIsTerminal() const override { return _isatty(_fileno(stderr)) != 0; }
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
        host_.CatchInterrupts(std::move(onCancel), exitStatusOnSecond);
    }

  private:
    WinSerialComm serial_;
    ConsoleHost host_;
};

}  // namespace

std::vector<std::string> Console::Arguments(int argc, char** argv) {
    int count = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (wide == nullptr) {
        return std::vector<std::string>(argv, argv + argc);
    }
    std::vector<std::string> arguments;
    for (int i = 0; i < count; ++i) {
        arguments.push_back(Utf8(wide[i]));
    }
    LocalFree(wide);
    return arguments;
}

std::unique_ptr<Console> Console::Make(int&, char**) {
    return std::make_unique<WinConsole>();
}

}  // namespace quenlo
