// The link primitives every exchange goes through: opening the port, flushing input, sending a
// text and waiting one 3-second slice for the handheld's answer, in virtual time.
#include "link/link_control.h"

#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "protocol/control_chars.h"
#include "support/fake_host.h"
#include "support/memory_serial_comm.h"

namespace quenlo {
namespace {

// Records every pause the engine asks for, so a pause that the virtual clock ignores still shows.
class SleepRecordingHost : public testing::FakeHost {
  public:
    void SleepMs(std::int32_t milliseconds) override {
        sleeps.push_back(milliseconds);
        FakeHost::SleepMs(milliseconds);
    }
    std::vector<std::int32_t> sleeps;
};

// Output that takes drainSeconds to leave the port: until then it is queued and no event shows.
class DrainingLine : public testing::MemorySerialComm {
  public:
    explicit DrainingLine(testing::FakeHost& host) : MemorySerialComm(host), host_(host) {}
    void Output(std::string_view text) override {
        MemorySerialComm::Output(text);
        drainedAt_ = host_.ClockSeconds() + drainSeconds;
    }
    std::int32_t OutputCount() override { return Draining() ? 1 : 0; }
    std::int32_t LastEvent() override {
        return Draining() ? comm_event::kNone : MemorySerialComm::LastEvent();
    }
    double drainSeconds = 0;

  private:
    bool Draining() const { return host_.ClockSeconds() < drainedAt_; }
    testing::FakeHost& host_;
    double drainedAt_ = 0;
};

class LinkTest : public ::testing::Test {
  protected:
    LinkTest() {
        host.onYield = [this] {
            if (host.yieldCount > 10000) {  // a slice takes a handful of yields
                throw std::runtime_error("wait never ends");
            }
            if (onYield) {
                onYield();
            }
        };
        line.SetPortOpen(true);
    }
    double Elapsed() { return host.ClockSeconds() - start; }

    SleepRecordingHost host;
    DrainingLine line{host};
    RunState state{host, &line};
    std::function<void()> onYield;
    const double start = host.ClockSeconds();
};

TEST_F(LinkTest, OpenPortSaysWhyNot) {
    line.SetPortOpen(false);
    // 68: the device is missing or busy; anything else is a port error.
    for (const auto& [failure, code] : {std::pair{68, 101}, {8002, 102}, {57, 102}}) {
        line.openFailure = failure;
        EXPECT_EQ(OpenPort(state), code) << failure;
        EXPECT_FALSE(line.PortOpen());
    }
    EXPECT_EQ(OpenPort(state), 0);
    EXPECT_TRUE(line.PortOpen());
}

TEST_F(LinkTest, FlushInputDropsWhatIsWaitingWithoutWaiting) {
    line.Deliver("stale\x06\x15", 0);
    line.Deliver("\x06", 1.0);  // not there yet: stays for the next read
    FlushInput(state);
    EXPECT_EQ(line.InputCount(), 0);
    EXPECT_EQ(host.yieldCount, 0);
    host.Advance(1.0);
    EXPECT_EQ(line.Input(), "\x06");
}

TEST_F(LinkTest, SendTextReturnsLineErrorsAndClearsTheOutputOnOtherEvents) {
    state.irDelay = 200;  // the infra-red pause follows every outcome
    for (const std::int32_t event : {1, 1000, 1002, 1005, 1010, 1001, 0, 999, 1011}) {
        line.eventAfterOutput = event;
        line.eventOutputNumber = line.sent.size() + 1;
        line.log.clear();
        host.sleeps.clear();
        const bool error = event == 1000 || (event >= 1002 && event <= 1010);
        EXPECT_EQ(SendText(state, "BLOCK"), error ? event : 0) << event;
        EXPECT_EQ(state.linkStatus, event);
        EXPECT_EQ(host.sleeps, std::vector<std::int32_t>{200}) << event;
        EXPECT_EQ(line.log.size(), error || event == 1 ? 0u : 1u) << event;  // ClearOutput
    }
    EXPECT_EQ(line.sent.back(), "BLOCK");
    state.irDelay = -500;  // no pause without a positive delay
    host.sleeps.clear();
    SendText(state, "B");
    EXPECT_TRUE(host.sleeps.empty());
}

TEST_F(LinkTest, SendTextWaitsForTheOutputToLeaveThenPausesUnlessCancelled) {
    state.irDelay = 500;
    line.drainSeconds = 1.0;
    EXPECT_EQ(SendText(state, "BLOCK"), 0);
    EXPECT_GE(Elapsed(), 1.5);  // drained, then paused

    line.drainSeconds = 1.0e9;  // never leaves: only Cancel ends the drain, and stays set
    const double before = host.ClockSeconds();
    onYield = [&] { state.cancelRequested = host.ClockSeconds() - before >= 1.0; };
    SendText(state, "STUCK");
    EXPECT_TRUE(state.cancelRequested);
    EXPECT_LT(host.ClockSeconds() - before, 2.5);
}

TEST_F(LinkTest, AnswerCodesAndTheEotRule) {
    // EOT uses up the time-out: one more failed slice reaches the limit at once.
    const struct {
        char answer;
        std::int16_t code, timeoutCount, ticks;
    } rows[] = {{chACK, 0, 10, 5},
                {chNAK, 1, 10, 5},
                {chENQ, 2, 10, 5},
                {chEOT, 4, 10, 9},
                {chEOT, 4, 32500, 32499}};
    for (const auto& row : rows) {
        state.timerTicks = 5;
        state.timeoutCount = row.timeoutCount;
        line.Deliver(std::string(1, row.answer), 0.5);
        EXPECT_EQ(WaitAnswerBHT(state), row.code) << int{row.answer};
        EXPECT_EQ(state.timerTicks, row.ticks) << int{row.answer};
    }
    EXPECT_EQ(state.currentProcedure, "WaitAnswerBHT");
}

TEST_F(LinkTest, OnlyTheFirstCharacterOfAReadCountsWithinTheSlice) {
    const struct {
        const char* name;
        std::vector<std::pair<std::string, double>> deliveries;
        std::int16_t code;
        double elapsed;
    } rows[] = {
        {"silence", {}, -1, 3.0},
        {"waiting already", {{"\x06", 0}}, 0, 0},
        {"just in time", {{"\x06", 2.9}}, 0, 2.9},
        {"exactly at the limit is too late", {{"\x06", 3.0}}, -1, 3.0},
        {"unknown then NAK", {{"?", 0.5}, {"\x15", 1.5}}, 1, 1.5},
        {"unknown characters do not restart the slice", {{"x", 1.0}, {"y", 2.5}}, -1, 3.0},
        {"unknown first hides the ACK", {{"Z\x06", 0.5}}, -1, 3.0},
        {"ACK first, the rest dropped", {{"\x06\x15\x04", 0.5}}, 0, 0.5},
    };
    for (const auto& row : rows) {
        line.Input();
        const double at = host.ClockSeconds();
        for (const auto& [bytes, delay] : row.deliveries) {
            line.Deliver(bytes, delay);
        }
        EXPECT_EQ(WaitAnswerBHT(state), row.code) << row.name;
        EXPECT_NEAR(host.ClockSeconds() - at, row.elapsed, 1e-9) << row.name;
    }
}

TEST_F(LinkTest, CancelCountsOnlyDuringTheWaitAndBeatsAnAnswer) {
    state.cancelRequested = true;  // before the wait: forgotten
    line.Deliver("\x06", 0.5);
    EXPECT_EQ(WaitAnswerBHT(state), 0);
    EXPECT_FALSE(state.cancelRequested);

    const double at = host.ClockSeconds();
    line.Deliver("\x06", 1.0);
    onYield = [&] { state.cancelRequested = host.ClockSeconds() - at >= 1.0; };
    EXPECT_EQ(WaitAnswerBHT(state), 3);
    EXPECT_NEAR(host.ClockSeconds() - at, 1.0, 1e-9);
}

}  // namespace
}  // namespace quenlo
