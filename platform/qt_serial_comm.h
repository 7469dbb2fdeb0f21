#pragma once

#include <QMetaObject>
#include <QPointer>
#include <QSerialPort>
#include <QSocketNotifier>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/serial_comm.h"
#include "platform/line_settings.h"

namespace quenlo {

// The engine's serial port over QSerialPort, on a real device or a pseudo-terminal. Nothing here
// blocks: bytes move while the host yields to the Qt event loop, and the engine polls the counts.
// Single-threaded; lives in the thread that runs the event loop.
class QtSerialComm : public SerialComm {
  public:
    QtSerialComm();
    ~QtSerialComm() override;
    QtSerialComm(const QtSerialComm&) = delete;
    QtSerialComm& operator=(const QtSerialComm&) = delete;

    // A device opened whatever the port number (quenlo-cli's --device); empty gives each port its
    // own device again.
    void SetDeviceOverride(std::string path);
    // The device the next opening uses.
    std::string Device() const;
    // Waits, in the event loop, until that device exists (an adapter being plugged in) or the
    // time is up; whether it exists.
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

    // Opening an open port, or closing a closed one, does nothing. Failures: 380 for settings that
    // cannot be read, 68 for a device that is missing, busy or forbidden, 8015 for settings the
    // device refuses, 8002 for anything else.
    void SetPortOpen(bool open) override;
    bool PortOpen() const override { return open_; }
    std::string OpenFailure() const override { return openFailure_; }
    std::string EventText() const override { return eventText_; }
    std::string OpenNote() const override;

    // Both count and read what the device holds at the moment, not only what an event-loop turn
    // has already taken in.
    std::int32_t InputCount() override;
    std::string Input() override;
    // On a closed port: RuntimeError 8018.
    void Output(std::string_view text) override;
    std::int32_t OutputCount() override;
    void ClearOutput() override;
    CommEvent LastEvent() override;
    void HoldInput(bool hold) override;

  private:
    void ApplySettings(const LineSettings& settings);
    void ApplyLines();
    // Reads what the device holds, `counted` bytes by its count.
    void TakeInWaitingBytes(long counted);
    qint64 BytesInHand();
    void LookInDevice();
    void OnBytesWritten();
    void OnError(QSerialPort::SerialPortError error);
    void DropDevice();

    QSerialPort port_;
    QMetaObject::Connection bytesWrittenConnection_;
    QMetaObject::Connection errorConnection_;
    std::vector<QPointer<QSocketNotifier>> heldNotifiers_;  // put to sleep by HoldInput
    bool inputHeld_ = false;
    bool heldSinceLook_ = false;  // the device may hold bytes no notifier has reported

    std::string deviceOverride_;
    std::int16_t portNumber_ = 1;
    std::string settings_ = "19200,N,8,1";
    std::int32_t inputLength_ = 0;
    std::optional<bool> lineA_;
    std::optional<bool> lineB_;

    bool open_ = false;
    bool lowLatency_ = false;
    std::string openFailure_;
    std::string eventText_;
    // The device went away while open: the port stays open for the engine, which closes it on its
    // normal path, but nothing more moves.
    bool lost_ = false;
    // Bytes received before the device went away, still to be read.
    std::string inputLeft_;
    CommEvent lastEvent_ = CommEvent::kNone;
    // Text was queued since the port opened, so an empty queue means it has been sent.
    bool outputQueued_ = false;
    // Above 0 while we make calls whose failures are expected and must not become events.
    int quiet_ = 0;
};

}  // namespace quenlo
