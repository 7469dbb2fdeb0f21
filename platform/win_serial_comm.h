#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/serial_comm.h"

namespace quenlo {

// The engine's serial port over the Win32 communications functions, without Qt: "\\.\COMn"
// opened exclusively and overlapped, the settings in a DCB, reads and writes that never block
// the engine. Bytes arrive while the host waits (ConsoleHost), which arms a one-byte read and
// sleeps in the system until it completes. Single-threaded.
//
// LastEvent codes are those of the Qt port: 1 once queued text has been written, 1002 when the
// device went away (unplugged; under Wine, a pseudo-terminal whose other end closed), 1008 for
// another write failure, 1009 for another read failure, 1010 when the port's state cannot be
// read. Line conditions (framing, parity, overrun, break) are not events, as with Qt: the
// protocols' checks catch what they spoil.
class WinSerialComm : public SerialComm {
  public:
    WinSerialComm();
    ~WinSerialComm() override;
    WinSerialComm(const WinSerialComm&) = delete;
    WinSerialComm& operator=(const WinSerialComm&) = delete;

    // A device opened whatever the port number (quenlo-cli's --device); empty gives each port its
    // own device again.
    void SetDeviceOverride(std::string path) { deviceOverride_ = std::move(path); }
    // The device the next opening uses: COM3, or the override.
    std::string Device() const;
    // Waits until that device is among the ports Windows lists, or the time is up; whether it is.
    bool WaitForDevice(std::chrono::milliseconds limit) const;

    void SetPortNumber(std::int16_t number) override { portNumber_ = number; }
    std::int16_t PortNumber() const override { return portNumber_; }
    void SetSettings(const std::string& settings) override;
    void SetInputLength(std::int32_t length) override { inputLength_ = length; }
    // Every byte that arrives ends a wait, and no character ends the input: neither setting
    // changes what this port does.
    void SetEventThreshold(std::int32_t) override {}
    void SetEndOfFileStop(bool) override {}
    void SetLineA(bool on) override;
    void SetLineB(bool on) override;

    // Failures: 380 for settings that cannot be read, 68 for a device that is missing, busy or
    // forbidden (the reason in OpenFailure), 8015 for settings the device refuses, 8002 for
    // anything else. Opening an open port, or closing a closed one, does nothing.
    void SetPortOpen(bool open) override;
    bool PortOpen() const override { return open_; }
    std::string OpenFailure() const override { return openFailure_; }
    std::string EventText() const override { return eventText_; }

    std::int32_t InputCount() override;
    std::string Input() override;
    // On a closed port: RuntimeError 8018.
    void Output(std::string_view text) override;
    std::int32_t OutputCount() override;
    void ClearOutput() override;
    CommEvent LastEvent() override;
    // While held, the host's wait is not armed for arriving bytes.
    void HoldInput(bool hold) override { held_ = hold; }

    // For the host's wait. Adds the handles that signal news of the port (a byte arrives, a write
    // ends) and returns true; returns false when there is news already (bytes the system has
    // received since the last look, the device gone) and nothing need wait.
    bool ArmWait(std::vector<void*>& handles);
    // After the wait: takes in the byte the armed read got, or cancels it.
    void DisarmWait();

  private:
    struct Io;
    void ApplySettings();
    void ApplyLines();
    void Pump();
    void TakeIn(std::uint32_t count);
    void TakeWrite(bool wait);
    // Bytes the system holds for us; nothing once the device is found gone.
    std::optional<std::uint32_t> Waiting();
    void Fail(unsigned long error, CommEvent otherwise);
    void CloseHandles();

    std::string deviceOverride_;
    std::int16_t portNumber_ = 1;
    std::string settings_ = "19200,N,8,1";
    std::int32_t inputLength_ = 0;
    std::optional<bool> lineA_;
    std::optional<bool> lineB_;

    Io* io_;  // the handle, its lock and the two overlapped operations
    bool open_ = false;
    std::string openFailure_;
    std::string eventText_;
    // The device went away while open: the port stays open for the engine, which closes it on its
    // normal path, but nothing more moves.
    bool lost_ = false;
    bool held_ = false;
    std::string inputLeft_;  // received, not yet read by the engine
    std::string outQueue_;   // queued behind the write in flight
    CommEvent lastEvent_ = CommEvent::kNone;
    bool outputQueued_ = false;
};

}  // namespace quenlo
