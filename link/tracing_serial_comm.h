#pragma once

#include <functional>
#include <ostream>

#include "base/serial_comm.h"

namespace quenlo {

// Wraps a port and logs every byte that goes out and comes in, with the time, in hex and in
// printable form, for reading a transfer after the fact.
class TracingSerialComm : public SerialComm {
  public:
    TracingSerialComm(SerialComm& inner, std::ostream& log, std::function<double()> clock);

    void SetPortNumber(std::int16_t number) override { inner_.SetPortNumber(number); }
    std::int16_t PortNumber() const override { return inner_.PortNumber(); }
    void SetSettings(const std::string& settings) override;
    void SetInputLength(std::int32_t length) override { inner_.SetInputLength(length); }
    void SetEventThreshold(std::int32_t threshold) override { inner_.SetEventThreshold(threshold); }
    void SetEndOfFileStop(bool enabled) override { inner_.SetEndOfFileStop(enabled); }
    void SetLineA(bool on) override { inner_.SetLineA(on); }
    void SetLineB(bool on) override { inner_.SetLineB(on); }
    void SetPortOpen(bool open) override;
    bool PortOpen() const override { return inner_.PortOpen(); }
    std::string OpenFailure() const override { return inner_.OpenFailure(); }
    std::string OpenNote() const override { return inner_.OpenNote(); }
    std::int32_t InputCount() override { return inner_.InputCount(); }
    std::string Input() override;
    void Output(std::string_view text) override;
    std::int32_t OutputCount() override { return inner_.OutputCount(); }
    void ClearOutput() override { inner_.ClearOutput(); }
    CommEvent LastEvent() override;
    void HoldInput(bool hold) override { inner_.HoldInput(hold); }

    // One direction's bytes as trace lines: time, "TX" or "RX", up to 16 bytes in hex, and the
    // same bytes printable ("." for the others).
    static std::string FormatBytes(double seconds, const char* direction, std::string_view bytes);

  private:
    void Note(const std::string& text);

    SerialComm& inner_;
    std::ostream& log_;
    std::function<double()> clock_;
    double start_;
    CommEvent lastEventSeen_ = CommEvent::kNone;
};

}  // namespace quenlo
