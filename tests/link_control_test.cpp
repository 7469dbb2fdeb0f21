// The link primitives every exchange goes through: opening the port, flushing input, sending a
// text and waiting one 3-second slice for the handheld's answer. All waits run in virtual time.
#include "link/link_control.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

#include "link/control_chars.h"
#include "support/fake_host.h"
#include "support/memory_serial_comm.h"

namespace quenlo {
namespace {

// A wait that needs more yields than this is stuck, not slow: a 3-second slice takes a handful.
constexpr int kRunawayYields = 10000;

// Records every pause the engine asks for, so that a pause of a negative length shows even though
// the virtual clock ignores it.
class SleepRecordingHost : public testing::FakeHost {
  public:
    void SleepMs(std::int32_t milliseconds) override {
        sleeps.push_back(milliseconds);
        FakeHost::SleepMs(milliseconds);
    }
    std::vector<std::int32_t> sleeps;
};

// An in-memory line whose output takes drainSeconds of virtual time to leave the port: until then
// bytes stay queued and no event is reported.
class DrainingLine : public testing::MemorySerialComm {
  public:
    using MemorySerialComm::MemorySerialComm;

    void Output(std::string_view text) override {
        MemorySerialComm::Output(text);
        queued_ = static_cast<std::int32_t>(text.size());
        drainedAt_ = host().ClockSeconds() + drainSeconds;
    }
    std::int32_t OutputCount() override { return Draining() ? queued_ : 0; }
    std::int32_t LastEvent() override {
        return Draining() ? comm_event::kNone : MemorySerialComm::LastEvent();
    }

    double drainSeconds = 0;

  private:
    bool Draining() { return host().ClockSeconds() < drainedAt_; }

    std::int32_t queued_ = 0;
    double drainedAt_ = 0;
};

class LinkControlTest : public ::testing::Test {
  protected:
    LinkControlTest() {
        host.onYield = [this] {
            if (host.yieldCount > kRunawayYields) {
                throw std::runtime_error("wait never ends");
            }
            if (onYield) {
                onYield();
            }
        };
    }

    double Elapsed() { return host.ClockSeconds() - start; }

    SleepRecordingHost host;
    DrainingLine line{host};
    RunState state{host, &line};
    std::function<void()> onYield;
    const double start = host.ClockSeconds();
};

// Sending and waiting need an open port: the yield only looks at the input of an open one.
class OpenLinkTest : public LinkControlTest {
  protected:
    OpenLinkTest() { line.SetPortOpen(true); }
};

TEST_F(LinkControlTest, OpenPortOpensTheLineOrSaysWhyNot) {
    // 68: the device is missing or busy; anything else is a port error.
    const std::pair<std::int32_t, ResultCode> failures[] = {
        {68, result::kPortNotAvailable}, {8002, result::kPortError}, {57, result::kPortError}};
    for (const auto& [failure, code] : failures) {
        line.openFailure = failure;
        EXPECT_EQ(OpenPort(state), code) << failure;
        EXPECT_FALSE(line.PortOpen()) << failure;
    }
    EXPECT_EQ(line.opens, 0);
    state.currentProcedure = "Transmit File";
    EXPECT_EQ(OpenPort(state), result::kOk);
    EXPECT_TRUE(line.PortOpen());
    EXPECT_EQ(line.opens, 1);
    EXPECT_EQ(state.currentProcedure, "Transmit File");
}

TEST_F(OpenLinkTest, FlushInputDropsWhatIsWaitingAndWaitsForNothing) {
    FlushInput(state);
    EXPECT_EQ(host.yieldCount, 0);
    line.Deliver("stale", 0);
    line.Deliver(std::string{chACK, chNAK}, 0);
    line.Deliver(std::string{chACK}, 1.0);  // not yet arrived: stays for the next read
    ASSERT_EQ(line.InputCount(), 7);

    FlushInput(state);

    EXPECT_EQ(line.InputCount(), 0);
    EXPECT_EQ(Elapsed(), 0.0);
    host.Advance(1.0);
    EXPECT_EQ(line.Input(), std::string{chACK});
}

// SendText: what goes on the line and what comes back.

TEST_F(OpenLinkTest, SendTextPutsTheTextOnTheLineByteForByte) {
    state.currentProcedure = "Transmit File";
    const std::string block = std::string{chSTX} + "00001" + std::string("A\0\x80\xFF", 4) + chETX;
    EXPECT_EQ(SendText(state, block), result::kOk);
    EXPECT_EQ(SendText(state, std::string{chEOT}), result::kOk);

    EXPECT_EQ(line.sent, (std::vector<std::string>{block, std::string{chEOT}}));
    EXPECT_EQ(state.linkStatus, comm_event::kSent);
    EXPECT_EQ(state.currentProcedure, "Transmit File");
    EXPECT_EQ(std::count(line.log.begin(), line.log.end(), "ClearOutput"), 0);  // sent

    // No pause without a positive delay.
    state.irDelay = -500;
    EXPECT_EQ(SendText(state, "B"), result::kOk);
    EXPECT_TRUE(host.sleeps.empty());
    EXPECT_EQ(Elapsed(), 0.0);
}

TEST_F(OpenLinkTest, SendTextReportsTheEventOfItsOwnOutput) {
    line.eventAfterOutput = comm_event::kHardwareOverrun;
    line.eventOutputNumber = 2;
    EXPECT_EQ(SendText(state, "first"), result::kOk);
    EXPECT_EQ(SendText(state, "second"), comm_event::kHardwareOverrun);
    EXPECT_EQ(state.linkStatus, comm_event::kHardwareOverrun);
    EXPECT_EQ(SendText(state, "third"), result::kOk);
}

TEST_F(OpenLinkTest, LineErrorsAreReturnedAndOtherEventsClearTheOutput) {
    // The pause for infra-red adapters follows every outcome.
    state.irDelay = 200;
    const auto send = [this](std::int32_t event) {
        line.eventAfterOutput = event;
        line.eventOutputNumber = line.sent.size() + 1;
        line.log.clear();
        host.sleeps.clear();
        host.yieldCount = 0;
        const ResultCode code = SendText(state, "BLOCK");
        EXPECT_EQ(state.linkStatus, event) << event;
        EXPECT_EQ(host.sleeps, std::vector<std::int32_t>{200}) << event;
        return code;
    };
    for (const std::int32_t event : {1000, 1002, 1003, 1004, 1005, 1006, 1007, 1008, 1009, 1010}) {
        EXPECT_EQ(send(event), event);
        EXPECT_TRUE(line.log.empty()) << event;
        EXPECT_EQ(host.yieldCount, 0) << event;
    }
    // 1001 is a clear-to-send time-out, informational only; the others border the error range.
    for (const std::int32_t event : {1001, 0, 999, 1011}) {
        EXPECT_EQ(send(event), result::kOk);
        EXPECT_EQ(line.log, std::vector<std::string>{"ClearOutput"}) << event;
        EXPECT_EQ(host.yieldCount, 1) << event;
    }
}

TEST_F(OpenLinkTest, SendTextWaitsUntilTheOutputHasLeftThenPauses) {
    state.irDelay = 500;
    line.drainSeconds = 1.0;
    EXPECT_EQ(SendText(state, "BLOCK"), result::kOk);
    EXPECT_EQ(host.sleeps, std::vector<std::int32_t>{500});
    EXPECT_GE(Elapsed(), 1.5);  // drained, then paused
    EXPECT_EQ(state.linkStatus, comm_event::kSent);
}

TEST_F(OpenLinkTest, CancelEndsTheDrainAndStaysRequested) {
    line.drainSeconds = 1.0e9;  // the output never leaves
    onYield = [this] {
        if (Elapsed() >= 1.0) {
            state.cancelRequested = true;
        }
    };
    EXPECT_EQ(SendText(state, "STUCK"), result::kOk);
    EXPECT_TRUE(state.cancelRequested);
    EXPECT_LT(Elapsed(), 2.0);
}

// WaitAnswerBHT: the answers.

TEST_F(OpenLinkTest, EachAnswerCharacterHasItsCode) {
    // EOT uses up the time-out: one more failed slice reaches the limit at once.
    const std::tuple<char, std::int16_t, std::int16_t, std::int16_t> rows[] = {
        {chACK, answer::kAck, 10, 5},
        {chNAK, answer::kNak, 10, 5},
        {chENQ, answer::kEnq, 10, 5},
        {chEOT, answer::kEot, 10, 9},
        {chEOT, answer::kEot, 32500, 32499}};
    for (const auto& [sent, code, timeoutCount, ticks] : rows) {
        state.timerTicks = 5;
        state.timeoutCount = timeoutCount;
        line.Deliver(std::string{sent}, 0.5);
        EXPECT_EQ(WaitAnswerBHT(state), code) << "answer code " << int{sent};
        EXPECT_EQ(state.inputText, std::string{sent});
        EXPECT_EQ(state.timerTicks, ticks) << "answer code " << int{sent};
    }
    EXPECT_EQ(state.currentProcedure, "WaitAnswerBHT");
}

TEST_F(OpenLinkTest, OnlyTheFirstCharacterOfAReadCountsWithinTheThreeSecondLimit) {
    // Each wait has its own slice, measured from its start.
    // Bytes and when they arrive, the answer, how long it took, and the input left afterwards.
    const std::tuple<const char*, std::vector<std::pair<std::string, double>>, std::int16_t, double,
                     std::int32_t>
        rows[] = {
            {"silence", {}, answer::kSilent, 3.0, 0},
            {"answer already waiting", {{"\x06", 0}}, answer::kAck, 0, 0},
            {"just before the limit", {{"\x06", 2.9}}, answer::kAck, 2.9, 0},
            // The last yield of the slice ends exactly at 3.0 s, when the ACK arrives: too late.
            {"exactly at the limit", {{"\x06", 3.0}}, answer::kSilent, 3.0, 1},
            {"unknown character alone", {{"?", 0.5}, {"\x15", 1.5}}, answer::kNak, 1.5, 0},
            {"unknown characters do not restart the limit",
             {{"x", 1.0}, {"y", 2.5}},
             answer::kSilent,
             3.0,
             0},
            {"unknown first", {{"Z\x06", 0.5}}, answer::kSilent, 3.0, 0},
            {"ACK first: the rest is dropped", {{"\x06\x15\x04", 0.5}}, answer::kAck, 0.5, 0},
        };
    for (const auto& [name, deliveries, code, elapsed, left] : rows) {
        line.Input();
        const double start = host.ClockSeconds();
        for (const auto& [bytes, at] : deliveries) {
            line.Deliver(bytes, at);
        }
        EXPECT_EQ(WaitAnswerBHT(state), code) << name;
        EXPECT_NEAR(host.ClockSeconds() - start, elapsed, 1e-9) << name;
        EXPECT_EQ(line.InputCount(), left) << name;
        if (!deliveries.empty() && left == 0) {
            EXPECT_EQ(state.inputText, deliveries.back().first) << name;  // the last read, whole
        }
    }
    EXPECT_EQ(state.currentProcedure, "WaitAnswerBHT");
}

// WaitAnswerBHT: Cancel.

TEST_F(OpenLinkTest, CancelDuringTheWaitEndsItWithinOnePass) {
    int yieldsAtCancel = -1;
    onYield = [&] {
        if (yieldsAtCancel < 0 && Elapsed() >= 1.0) {
            state.cancelRequested = true;
            yieldsAtCancel = host.yieldCount;
        }
    };
    EXPECT_EQ(WaitAnswerBHT(state), answer::kCancelled);
    EXPECT_EQ(host.yieldCount, yieldsAtCancel);
    EXPECT_LT(Elapsed(), 3.0);
}

TEST_F(OpenLinkTest, CancelWinsOverAnAnswerInTheSamePass) {
    line.Deliver(std::string{chACK}, 1.0);
    onYield = [&] {
        if (Elapsed() >= 1.0) {
            state.cancelRequested = true;
        }
    };
    EXPECT_EQ(WaitAnswerBHT(state), answer::kCancelled);
}

TEST_F(OpenLinkTest, CancelBeforeTheWaitIsForgotten) {
    state.cancelRequested = true;
    line.Deliver(std::string{chACK}, 0.5);
    EXPECT_EQ(WaitAnswerBHT(state), answer::kAck);
    EXPECT_FALSE(state.cancelRequested);

    state.cancelRequested = true;
    EXPECT_EQ(WaitAnswerBHT(state), answer::kSilent);
}

}  // namespace
}  // namespace quenlo
