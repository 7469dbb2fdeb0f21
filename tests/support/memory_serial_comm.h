#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/serial_comm.h"
#include "protocol/peer_machine.h"
#include "sim/line.h"
#include "support/fake_host.h"

namespace quenlo::testing {

// n bytes of every value in an order that shows a byte out of place, the same each run; a shorter
// run is the start of a longer one.
inline std::string Bytes(std::size_t n) {
    std::mt19937 random(7);
    std::string out(n, '\0');
    std::generate(out.begin(), out.end(), [&] { return static_cast<char>(random()); });
    return out;
}

// A handheld's store in memory: what it keeps, and what it threw away.
class MemoryStore : public protocol::FileStore {
  public:
    bool Begin(const std::string& name, std::string&) override {
        openName = name;
        open.clear();
        return true;
    }
    bool Append(std::string_view bytes, std::string& error) override {
        if (failAfter && open.size() + bytes.size() > *failAfter) {
            error = "full";
            return false;
        }
        open += bytes;
        return true;
    }
    bool Commit(std::string&) override {
        files[openName] = std::exchange(open, {});
        return true;
    }
    void Abandon() override {
        open.clear();
        ++abandoned;
    }

    std::map<std::string, std::string> files;  // committed, by name
    std::string open;                          // the file being written
    std::string openName;
    std::optional<std::size_t> failAfter;  // Append fails once this many bytes are in
    int abandoned = 0;
};

// A file to send, in memory.
class MemorySource : public protocol::FileSource {
  public:
    MemorySource(std::string name, std::string data)
        : name_(std::move(name)), data_(std::move(data)) {}
    std::string Name() const override { return name_; }
    std::uint64_t Size() const override { return data_.size(); }
    bool Read(std::uint64_t offset, std::size_t length, std::string& out, std::string&) override {
        out = data_.substr(static_cast<std::size_t>(offset), length);
        return true;
    }

  private:
    std::string name_;
    std::string data_;
};

// A serial port in memory, in the fake host's virtual time. Behind it a protocol machine plays the
// handheld over a sim::Line each way (which may pace, delay, drop, damage or cut bytes), or a test
// delivers answers itself. Records what the engine sent, and every set-up call in order.
class MemorySerialComm : public SerialComm {
  public:
    explicit MemorySerialComm(FakeHost& host);

    // Puts the machine at the far end of the line.
    void Attach(protocol::PeerMachine& machine, sim::Line toMachine = sim::Line(),
                sim::Line toLoader = sim::Line());
    // Nothing at the far end any more: only what a test delivers comes.
    void Detach() { machine_ = nullptr; }
    // Bytes that reach the engine's input after delaySeconds, in the order given.
    void Deliver(std::string_view bytes, double delaySeconds);
    protocol::Time Now() const { return protocol::Time(std::llround(host_.ClockSeconds() * 1e6)); }

    void SetPortNumber(std::int16_t number) override {
        portNumber_ = number;
        Log("PortNumber", number);
    }
    std::int16_t PortNumber() const override { return portNumber_; }
    void SetSettings(const std::string& settings) override {
        log.push_back("Settings=" + settings);
    }
    void SetInputLength(std::int32_t length) override { Log("InputLength", length); }
    void SetEventThreshold(std::int32_t threshold) override { Log("EventThreshold", threshold); }
    void SetEndOfFileStop(bool enabled) override { Log("EndOfFileStop", enabled); }
    void SetLineA(bool on) override { Log("LineA", on); }
    void SetLineB(bool on) override { Log("LineB", on); }
    void SetPortOpen(bool open) override;
    bool PortOpen() const override { return open_; }
    std::int32_t InputCount() override;
    std::string Input() override;
    void Output(std::string_view text) override;
    std::int32_t OutputCount() override { return draining ? 1 : 0; }
    void ClearOutput() override { log.push_back("ClearOutput"); }
    CommEvent LastEvent() override {
        if (lostAt && host_.ClockSeconds() >= *lostAt) {
            return CommEvent::kDeviceLost;
        }
        return draining ? CommEvent::kNone : lastEvent_;
    }
    // While held, what comes towards the engine wakes no wait (the fake host's next event).
    void HoldInput(bool hold) override {
        held_ = hold;
        holds += hold ? 1 : 0;
    }

    // Thrown (as a run-time error number) by the next opening.
    std::optional<std::int32_t> openFailure;
    // Event reported after the n-th output (counted from 1); otherwise 1, "sent".
    CommEvent eventAfterOutput = CommEvent::kNone;
    std::size_t eventOutputNumber = 0;
    bool draining = false;  // output stays queued, and no event shows

    std::vector<std::string> sent;  // each queued text, in order
    std::string heard;              // everything the far end put on the line, in order
    std::vector<std::string> log;   // set-up calls: "PortNumber=1", "Open", "LineA=1", ...
    int opens = 0;
    int holds = 0;  // times the input was held
    // From this time on the device is gone; like a byte, the loss wakes no held wait.
    std::optional<double> lostAt;

  private:
    // Appended: GCC 12 takes name + text for an overlapping copy (-Wrestrict).
    void Log(const char* name, int value) {
        log.push_back(std::string(name).append("=").append(std::to_string(value)));
    }
    // Lets the far end catch up with the clock: every burst and deadline up to now, in order.
    void Pump();
    // What the far end answers, onto the line towards us.
    void Hand(const std::string& bytes, protocol::Time at);
    std::optional<double> NextEventAt() const;

    FakeHost& host_;
    protocol::PeerMachine* machine_ = nullptr;
    sim::Line toMachine_;
    sim::Line toLoader_;
    std::int16_t portNumber_ = 0;
    bool open_ = false;
    CommEvent lastEvent_ = CommEvent::kNone;
    std::string input_;
    bool held_ = false;
};

}  // namespace quenlo::testing
