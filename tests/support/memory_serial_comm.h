#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "link/serial_comm.h"
#include "support/fake_host.h"

namespace quenlo::testing {

class MemorySerialComm;

// The far end of an in-memory line: sees each text the engine queues and may answer later.
class LinePeer {
  public:
    virtual ~LinePeer() = default;
    virtual void OnReceived(std::string_view text, MemorySerialComm& line) = 0;
};

// A serial port in memory, in the fake host's virtual time: output leaves at once, answers
// arrive when the clock reaches them. Records every set-up call in order.
class MemorySerialComm : public SerialComm {
  public:
    explicit MemorySerialComm(FakeHost& host);

    void SetPortNumber(std::int16_t number) override;
    std::int16_t PortNumber() const override { return portNumber_; }
    void SetSettings(const std::string& settings) override;
    void SetInputLength(std::int32_t length) override;
    void SetEventThreshold(std::int32_t threshold) override;
    void SetEndOfFileStop(bool enabled) override;
    void SetLineA(bool on) override;
    void SetLineB(bool on) override;
    void SetPortOpen(bool open) override;
    bool PortOpen() const override { return open_; }
    std::int32_t InputCount() override;
    std::string Input() override;
    void Output(std::string_view text) override;
    std::int32_t OutputCount() override { return 0; }
    void ClearOutput() override { log.push_back("ClearOutput"); }
    std::int32_t LastEvent() override { return lastEvent_; }
    void SetTransferProtocol(std::int16_t protocol) override;
    void SetTransferOption(std::int16_t option) override;
    void SetTransferAbort(bool abort) override;

    // Bytes that reach the engine's input after delaySeconds of virtual time.
    void Deliver(std::string bytes, double delaySeconds);
    // When the next delivery is due, for the host to jump its clock there.
    std::optional<double> NextDeliveryAt() const;

    FakeHost& host() { return host_; }

    LinePeer* peer = nullptr;
    // Thrown (as a run-time error number) by the next opening.
    std::optional<std::int32_t> openFailure;
    // Event reported after the n-th output (counted from 1); otherwise 1, "sent".
    std::int32_t eventAfterOutput = 0;
    std::size_t eventOutputNumber = 0;

    std::vector<std::string> sent;  // each queued text, in order
    std::vector<std::string> log;   // set-up calls: "PortNumber=1", "Open", "LineA=1", ...
    int opens = 0;

  private:
    struct Delivery {
        double at;
        std::string bytes;
    };

    FakeHost& host_;
    std::int16_t portNumber_ = 0;
    bool open_ = false;
    std::int32_t lastEvent_ = 0;
    std::string input_;
    std::deque<Delivery> pending_;
};

}  // namespace quenlo::testing
