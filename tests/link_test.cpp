// Opening the port, flushing input, sending, and one 3-second answer slice, in virtual time.
#include "link/link_control.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "protocol/control_chars.h"
#include "support/fake_host.h"
#include "support/memory_serial_comm.h"

namespace quenlo {
namespace {

class LinkTest : public ::testing::Test {
  protected:
    LinkTest() { line.SetPortOpen(true); }

    testing::FakeHost host;
    testing::MemorySerialComm line{host};
    RunState state{host, &line};
};

TEST_F(LinkTest, OpenPortSaysWhyNotAndFlushInputDoesNotWait) {
    line.SetPortOpen(false);  // 68: the device is missing or busy; else a port error
    for (const auto& [failure, code] : {std::pair{68, 101}, {8002, 102}, {57, 102}}) {
        line.openFailure = failure;
        EXPECT_EQ(OpenPort(state), code) << failure;
    }
    EXPECT_EQ(OpenPort(state), 0);
    line.Deliver("stale\x06\x15", 0);
    line.Deliver("\x06", 1.0);  // not there yet: stays for the next read
    FlushInput(state);
    EXPECT_EQ(line.InputCount(), 0);
    EXPECT_EQ(host.yieldCount, 0);
    host.Advance(1.0);
    EXPECT_EQ(line.Input(), "\x06");
}

TEST_F(LinkTest, SendTextReturnsLineErrorsDrainsAndPausesUnlessCancelled) {
    // The event after the output, the result, whether the output is cleared; the pause follows all.
    state.irDelay = 200;
    const std::tuple<std::int32_t, int, bool> rows[] = {
        {1, 0, false},   {1000, 1000, false}, {1002, 1002, false}, {1010, 1010, false},
        {1001, 0, true}, {0, 0, true},        {999, 0, true},      {1011, 0, true}};
    for (const auto& [event, code, cleared] : rows) {
        line.eventAfterOutput = event;
        line.eventOutputNumber = line.sent.size() + 1;
        line.log.clear();
        EXPECT_EQ(SendText(state, "BLOCK"), code) << event;
        EXPECT_EQ(state.linkStatus, event);
        EXPECT_EQ(line.log.size(), cleared ? 1u : 0u) << event;  // ClearOutput
    }
    state.irDelay = -500;  // no pause without a positive delay
    SendText(state, "B");
    EXPECT_EQ(host.sleeps, std::vector<std::int32_t>(std::size(rows), 200));

    state.irDelay = 500;
    const double before = host.ClockSeconds();
    line.draining = true;
    host.onYield = [&] { line.draining = host.ClockSeconds() - before < 1.0; };
    EXPECT_EQ(SendText(state, "BLOCK"), 0);
    EXPECT_GE(host.ClockSeconds() - before, 1.5);  // drained, then paused
    line.draining = true;  // never leaves: only Cancel ends the drain, and stays set
    host.onYield = [&] { state.cancelRequested = host.ClockSeconds() - before >= 3.0; };
    SendText(state, "STUCK");
    EXPECT_TRUE(state.cancelRequested);
}

TEST_F(LinkTest, WaitAnswerBHTAnswerCodesFirstCharacterLimitAndCancel) {
    // EOT uses up the time-out (one more failed slice ends it); an earlier cancel is forgotten.
    const std::tuple<char, std::int16_t, std::int16_t, std::int16_t> answers[] = {
        {chACK, 0, 10, 5},
        {chNAK, 1, 10, 5},
        {chENQ, 2, 10, 5},
        {chEOT, 4, 10, 9},
        {chEOT, 4, 32500, 32499}};
    for (const auto& [answer, code, timeoutCount, ticks] : answers) {
        state.timerTicks = 5;
        state.timeoutCount = timeoutCount;
        state.cancelRequested = true;
        line.Deliver(std::string(1, answer), 0.5);
        EXPECT_EQ(WaitAnswerBHT(state), code) << int{answer};
        EXPECT_EQ(state.timerTicks, ticks) << int{answer};
    }
    EXPECT_EQ(state.currentProcedure, "WaitAnswerBHT");
    // A read's first character counts; the slice ends at 3.0 s: what comes when, answer, time.
    using Deliveries = std::vector<std::pair<std::string, double>>;
    const std::tuple<Deliveries, std::int16_t, double> rows[] = {
        {{{"?", 0.5}, {"\x15", 1.5}}, 1, 1.5}, {Deliveries{}, -1, 3.0},
        {{{"x", 1.0}, {"y", 2.5}}, -1, 3.0},   {{{"\x06", 3.0}}, -1, 3.0},
        {{{"\x06\x15\x04", 0.5}}, 0, 0.5},     {{{"\x06", 0.0}}, 0, 0.0},
        {{{"Z\x06\x06", 0.5}}, -1, 3.0},       {{{"\x06", 2.9}}, 0, 2.9}};
    for (const auto& [deliveries, code, elapsed] : rows) {
        line.Input();
        const double at = host.ClockSeconds();
        for (const auto& [bytes, delay] : deliveries) {
            line.Deliver(bytes, delay);
        }
        EXPECT_EQ(WaitAnswerBHT(state), code) << code << " after " << elapsed;
        EXPECT_NEAR(host.ClockSeconds() - at, elapsed, 1e-9) << code << " after " << elapsed;
    }
    const double at = host.ClockSeconds();
    line.Deliver("\x06", 1.0);
    host.onYield = [&] { state.cancelRequested = host.ClockSeconds() - at >= 1.0; };
    EXPECT_EQ(WaitAnswerBHT(state), 3);  // a cancel during the wait beats the answer
    EXPECT_NEAR(host.ClockSeconds() - at, 1.0, 1e-9);
}

}  // namespace
}  // namespace quenlo
