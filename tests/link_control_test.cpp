// The link primitives every exchange goes through: opening the port, flushing input, sending a
// text and waiting one 3-second slice for the handheld's answer. All waits run in virtual time.
#include "link/link_control.h"

#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <string>
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

// OpenPort.

TEST_F(LinkControlTest, OpenPortOpensTheLine) {
    state.currentProcedure = "Transmit File";
    EXPECT_EQ(OpenPort(state), result::kOk);
    EXPECT_TRUE(line.PortOpen());
    EXPECT_EQ(line.opens, 1);
    EXPECT_EQ(state.currentProcedure, "Transmit File");
}

TEST_F(LinkControlTest, OpenPortFailures) {
    line.openFailure = 68;  // device missing or busy
    EXPECT_EQ(OpenPort(state), result::kPortNotAvailable);
    EXPECT_FALSE(line.PortOpen());

    line.openFailure = 8002;
    EXPECT_EQ(OpenPort(state), result::kPortError);
    EXPECT_FALSE(line.PortOpen());

    line.openFailure = 57;
    EXPECT_EQ(OpenPort(state), result::kPortError);
    EXPECT_FALSE(line.PortOpen());
    EXPECT_EQ(line.opens, 0);
}

// FlushInput.

TEST_F(OpenLinkTest, FlushInputDropsWhatIsWaitingAndWaitsForNothing) {
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

TEST_F(OpenLinkTest, FlushInputOnEmptyLineReadsNothing) {
    FlushInput(state);
    EXPECT_EQ(line.InputCount(), 0);
    EXPECT_EQ(host.yieldCount, 0);
}

// SendText: what goes on the line and what comes back.

TEST_F(OpenLinkTest, SendTextPutsTheTextOnTheLineByteForByte) {
    state.currentProcedure = "Transmit File";
    const std::string block = std::string{chSTX} + "00001" + std::string("A\0\x80\xFF", 4) + chETX;
    EXPECT_EQ(SendText(state, block), result::kOk);
    EXPECT_EQ(SendText(state, std::string{chEOT}), result::kOk);

    ASSERT_EQ(line.sent.size(), 2u);
    EXPECT_EQ(line.sent[0], block);
    EXPECT_EQ(line.sent[0].size(), 11u);
    EXPECT_EQ(line.sent[1], std::string{chEOT});
    EXPECT_EQ(state.linkStatus, comm_event::kSent);
    EXPECT_EQ(state.currentProcedure, "Transmit File");
}

TEST_F(OpenLinkTest, SendTextSucceedsWithoutClearingWhenSent) {
    EXPECT_EQ(SendText(state, "X"), result::kOk);
    EXPECT_EQ(state.linkStatus, comm_event::kSent);
    for (const auto& entry : line.log) {
        EXPECT_NE(entry, "ClearOutput");
    }
}

TEST_F(OpenLinkTest, SendTextReportsTheEventOfItsOwnOutput) {
    line.eventAfterOutput = comm_event::kHardwareOverrun;
    line.eventOutputNumber = 2;
    EXPECT_EQ(SendText(state, "first"), result::kOk);
    EXPECT_EQ(SendText(state, "second"), comm_event::kHardwareOverrun);
    EXPECT_EQ(state.linkStatus, comm_event::kHardwareOverrun);
    EXPECT_EQ(SendText(state, "third"), result::kOk);
}

class SendTextLineErrorTest : public OpenLinkTest,
                              public ::testing::WithParamInterface<std::int32_t> {};

TEST_P(SendTextLineErrorTest, LineErrorIsReturnedAsIs) {
    line.eventAfterOutput = GetParam();
    line.eventOutputNumber = 1;
    EXPECT_EQ(SendText(state, "BLOCK"), GetParam());
    EXPECT_EQ(state.linkStatus, GetParam());
    for (const auto& entry : line.log) {
        EXPECT_NE(entry, "ClearOutput");
    }
}

INSTANTIATE_TEST_SUITE_P(Events, SendTextLineErrorTest,
                         ::testing::Values(1000, 1002, 1003, 1004, 1005, 1006, 1007, 1008, 1009,
                                           1010));

class SendTextOtherEventTest : public OpenLinkTest,
                               public ::testing::WithParamInterface<std::int32_t> {};

TEST_P(SendTextOtherEventTest, OtherEventClearsTheOutputAndSucceeds) {
    line.eventAfterOutput = GetParam();
    line.eventOutputNumber = 1;
    EXPECT_EQ(SendText(state, "BLOCK"), result::kOk);
    EXPECT_EQ(state.linkStatus, GetParam());
    EXPECT_EQ(line.log.back(), "ClearOutput");
    EXPECT_EQ(host.yieldCount, 1);
}

// 1001 is a clear-to-send time-out, informational only; the others border the error range.
INSTANTIATE_TEST_SUITE_P(Events, SendTextOtherEventTest, ::testing::Values(1001, 0, 999, 1011));

TEST_F(OpenLinkTest, SendTextWaitsUntilTheOutputHasLeft) {
    line.drainSeconds = 1.0;
    EXPECT_EQ(SendText(state, "LONG BLOCK"), result::kOk);
    EXPECT_GE(Elapsed(), 1.0);
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

// SendText: the pause after each transmission for infra-red adapters.

TEST_F(OpenLinkTest, InfraRedDelayPausesAfterSending) {
    state.irDelay = 500;
    line.drainSeconds = 1.0;
    EXPECT_EQ(SendText(state, "BLOCK"), result::kOk);
    EXPECT_EQ(host.sleeps, std::vector<std::int32_t>{500});
    EXPECT_GE(Elapsed(), 1.5);  // drained, then paused
}

TEST_F(OpenLinkTest, InfraRedDelayAlsoFollowsALineError) {
    state.irDelay = 200;
    line.eventAfterOutput = comm_event::kDeviceLost;
    line.eventOutputNumber = 1;
    EXPECT_EQ(SendText(state, "BLOCK"), comm_event::kDeviceLost);
    EXPECT_EQ(host.sleeps, std::vector<std::int32_t>{200});
}

TEST_F(OpenLinkTest, NoPauseWithoutAPositiveDelay) {
    state.irDelay = 0;
    EXPECT_EQ(SendText(state, "A"), result::kOk);
    state.irDelay = -500;
    EXPECT_EQ(SendText(state, "B"), result::kOk);
    EXPECT_TRUE(host.sleeps.empty());
    EXPECT_EQ(Elapsed(), 0.0);
}

// WaitAnswerBHT: the answers.

TEST_F(OpenLinkTest, EachAnswerCharacterHasItsCode) {
    const struct {
        char sent;
        std::int16_t code;
    } cases[] = {{chACK, answer::kAck}, {chNAK, answer::kNak}, {chENQ, answer::kEnq}};
    for (const auto& c : cases) {
        line.Deliver(std::string{c.sent}, 0.5);
        EXPECT_EQ(WaitAnswerBHT(state), c.code) << "answer code " << int{c.sent};
        EXPECT_EQ(state.inputText, std::string{c.sent});
    }
    EXPECT_EQ(state.currentProcedure, "WaitAnswerBHT");
}

TEST_F(OpenLinkTest, EotUsesUpTheTimeOut) {
    state.timeoutCount = 10;
    state.timerTicks = 2;
    line.Deliver(std::string{chEOT}, 0.5);
    EXPECT_EQ(WaitAnswerBHT(state), answer::kEot);
    // One more failed slice reaches the limit at once.
    EXPECT_EQ(state.timerTicks, 9);

    state.timeoutCount = 32500;
    line.Deliver(std::string{chEOT}, 0.5);
    EXPECT_EQ(WaitAnswerBHT(state), answer::kEot);
    EXPECT_EQ(state.timerTicks, 32499);
}

TEST_F(OpenLinkTest, OtherAnswersLeaveTheTickCountAlone) {
    state.timerTicks = 5;
    line.Deliver(std::string{chACK}, 0.5);
    EXPECT_EQ(WaitAnswerBHT(state), answer::kAck);
    line.Deliver(std::string{chNAK}, 0.5);
    EXPECT_EQ(WaitAnswerBHT(state), answer::kNak);
    EXPECT_EQ(state.timerTicks, 5);
}

TEST_F(OpenLinkTest, AnswerAlreadyWaitingIsTakenWithoutWaiting) {
    line.Deliver(std::string{chACK}, 0);
    EXPECT_EQ(WaitAnswerBHT(state), answer::kAck);
    EXPECT_EQ(Elapsed(), 0.0);
}

TEST_F(OpenLinkTest, OnlyTheFirstCharacterOfAReadCounts) {
    line.Deliver(std::string("Z") + chACK, 0.5);
    EXPECT_EQ(WaitAnswerBHT(state), answer::kSilent);
    EXPECT_GE(Elapsed(), 3.0);
    EXPECT_EQ(state.inputText, std::string("Z") + chACK);

    // ACK first: the rest of the read is dropped.
    line.Deliver(std::string{chACK, chNAK, chEOT}, 0.5);
    EXPECT_EQ(WaitAnswerBHT(state), answer::kAck);
    EXPECT_EQ(line.InputCount(), 0);
}

TEST_F(OpenLinkTest, UnknownCharacterAloneKeepsTheWaitGoing) {
    line.Deliver("?", 0.5);
    line.Deliver(std::string{chNAK}, 1.5);
    EXPECT_EQ(WaitAnswerBHT(state), answer::kNak);
    EXPECT_DOUBLE_EQ(Elapsed(), 1.5);
}

// WaitAnswerBHT: the 3-second limit.

TEST_F(OpenLinkTest, SilenceEndsAfterThreeSeconds) {
    EXPECT_EQ(WaitAnswerBHT(state), answer::kSilent);
    EXPECT_GE(Elapsed(), 3.0);
    EXPECT_LT(Elapsed(), 3.5);
    EXPECT_EQ(state.currentProcedure, "WaitAnswerBHT");
}

TEST_F(OpenLinkTest, AnswerJustBeforeTheLimitCounts) {
    line.Deliver(std::string{chACK}, 2.9);
    EXPECT_EQ(WaitAnswerBHT(state), answer::kAck);
    EXPECT_LT(Elapsed(), 3.0);
}

TEST_F(OpenLinkTest, AnswerExactlyAtTheLimitIsTooLate) {
    // The last yield of the slice ends exactly at 3.0 s, when the ACK arrives: it is too late.
    line.Deliver(std::string{chACK}, 3.0);
    EXPECT_EQ(WaitAnswerBHT(state), answer::kSilent);
}

TEST_F(OpenLinkTest, UnknownCharactersDoNotRestartTheLimit) {
    line.Deliver("x", 1.0);
    line.Deliver("y", 2.5);
    EXPECT_EQ(WaitAnswerBHT(state), answer::kSilent);
    EXPECT_GE(Elapsed(), 3.0);
    EXPECT_LT(Elapsed(), 3.5);
}

TEST_F(OpenLinkTest, EachWaitHasItsOwnSlice) {
    EXPECT_EQ(WaitAnswerBHT(state), answer::kSilent);
    const double firstEnd = Elapsed();
    line.Deliver(std::string{chACK}, 2.0);
    EXPECT_EQ(WaitAnswerBHT(state), answer::kAck);
    EXPECT_DOUBLE_EQ(Elapsed() - firstEnd, 2.0);
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
