// Sending by the block protocol to the handheld machine, in virtual time: one row a scenario. And
// below it the link: opening the port, flushing input, sending, one 3-second answer slice.
#include "send/transmit_file.h"

#include <gtest/gtest.h>

#include "base/runtime_error.h"
#include "files/file_open.h"
#include "link/link_control.h"
#include "protocol/control_chars.h"
#include "protocol/fields.h"
#include "protocol/record_packing.h"
#include "send/record_reader.h"
#include "support/engine_fixture.h"

namespace quenlo {
namespace {

class TransmitTest : public testing::EngineFixture {
  protected:
    // Names a file of n lines on the state, as the option line would, and opens the port.
    void Prepare(int records, bool program = true) {
        const std::string name = program ? "PROG.PD3" : "DATA.TXT";
        WriteLines(name, records);
        state.filePath = dir.enginePath();
        state.fileName = name;
        state.programFile = program;
        state.recordLength = program ? 128 : 8;
        state.fieldCount = program ? 0 : 1;
        state.fieldLengths[1] = "8";
        state.recordCount = static_cast<std::int16_t>(records);
        line.SetPortOpen(true);
    }
};

struct Scenario {
    int records = 3;
    protocol::HandheldFaults faults = {};
    sim::LineFaults toHandheld = {};
    sim::LineFaults toLoader = {};
    BlockOptions loader = {}, handheld = {};  // block check and numbers on each side
    std::size_t lineErrorAtOutput = 0;        // the n-th output reports event 1004
    double clickAt = -1;                      // Cancel
    bool missing = false;                     // the file went before the send
    int result = 0;
    int finalState = 5;
    const char* trace = "";  // what the loader put on the line
    // Records the handheld kept; unset: all on success, else no file.
    std::optional<int> stored = {};
};

// clang-format off
const Scenario kScenarios[] = {
    // Three records; none.
    {.trace = "E H 1 2 3 T"},
    {.records = 0, .trace = "E H T"},
    // NAK once resends the same block, no read-ahead; ten NAKs give 54 after an acknowledged
    // closing, on the heading or on a record; EOT from the handheld gives 55, then the closing.
    {.records = 4, .faults = {.nakBlock = 2}, .trace = "E H 1 2 2 3 4 T"},
    {.faults = {.nakHeading = 10}, .result = 54, .trace = "E H H H H H H H H H H T"},
    {.faults = {.nakBlock = 2, .nakTimes = 10}, .result = 54,
     .trace = "E H 1 2 2 2 2 2 2 2 2 2 2 T"},
    {.records = 5, .faults = {.eotAtBlock = 3}, .result = 55, .trace = "E H 1 2 3 T"},
    // A handheld that answers a block with nothing but ENQ: ten of them are ten slices.
    {.faults = {.enqBlock = 1, .enqTimes = 100}, .result = 52, .finalState = 6,
     .trace = "E H 1 1 1 1 1 1 1 1 1 1 T"},
    // Silent handheld: ten ENQs, one EOT, no closing.
    {.toLoader = {.silent = true}, .result = 52, .finalState = 6, .trace = "E E E E E E E E E E T"},
    // A lost ACK of the heading: ENQ asks again; of a block, or a damaged block: the block again.
    {.records = 2, .toLoader = {.dropBytes = {2}}, .trace = "E H E 1 2 T"},
    {.records = 2, .toLoader = {.dropBytes = {3}}, .trace = "E H 1 1 2 T"},
    {.records = 2, .toHandheld = {.corruptBytes = {72}}, .trace = "E H 1 1 2 T"},
    // Noise turns the closing ACK into EOT: 52 at once, the records kept.
    {.records = 1, .toLoader = {.replaceBytes = {{4, chEOT}}}, .result = 52, .finalState = 6,
     .trace = "E H 1 T", .stored = 1},
    // A line error on a block stops at once, no closing; Cancel too (90, no EOT); a file gone: 1.
    {.lineErrorAtOutput = 3, .result = 1004, .finalState = 6, .trace = "E H 1"},
    {.records = 500, .clickAt = 5, .result = 90, .finalState = 6},
    {.missing = true, .result = 1, .finalState = 0},
    // No block check, no numbers.
    {.loader = {false, false}, .handheld = {false, false}, .trace = "E H D D D T"},
    // A check byte the handheld does not expect comes in the burst that ends the block: refused.
    {.records = 1, .handheld = {false}, .result = 54, .trace = "E H H H H H H H H H H T"},
};
// clang-format on

TEST_F(TransmitTest, Scenarios) {
    ShowWindow();
    for (const Scenario& row : kScenarios) {
        SCOPED_TRACE("row " + std::to_string(&row - std::begin(kScenarios)));
        line.sent.clear();
        store.files.clear();
        state.bccEnabled = row.loader.bcc;
        state.seqEnabled = row.loader.seq;
        line.eventOutputNumber = row.lineErrorAtOutput;
        line.eventAfterOutput = CommEvent::kHardwareOverrun;
        Prepare(row.records);
        Handheld({.blocks = row.handheld, .faults = row.faults}, row.toHandheld, row.toLoader);
        line.Input();  // nothing left over from the row before
        state.link.transferState = TransferState::kNone;
        state.fileName = row.missing ? "GONE.PD3" : state.fileName;
        clickAt = row.clickAt < 0 ? -1 : host.ClockSeconds() + row.clickAt;
        const double start = host.ClockSeconds();

        EXPECT_EQ(Number(TransmitFile(state)), row.result);
        EXPECT_EQ(Number(state.link.transferState), row.finalState);
        if (row.clickAt < 0) {
            EXPECT_THAT(Trace(), testing::Tokens(row.trace, "sending"));
        } else {
            EXPECT_NE(line.sent.back(), std::string(1, chEOT));  // Cancel sends no EOT
        }
        const int stored = row.stored.value_or(row.result == 0 ? row.records : -1);
        if (stored < 0) {
            EXPECT_TRUE(store.files.empty());
        } else {
            std::string records;  // each line filled with "0" to 128, ending in CR LF
            for (int i = 1; i <= stored; ++i) {
                records += "LINE" + ZeroFilled(i, 4) + std::string(120, '0') + "\r\n";
            }
            EXPECT_EQ(store.files["PROG.PD3"], records);
        }
        EXPECT_EQ(peer->protocolErrors(), 0);  // nothing a strict handheld refuses
        EXPECT_FALSE(state.AnyFileOpen());
        if (row.toLoader.silent) {
            EXPECT_NEAR(host.ClockSeconds() - start, 30.0, 0.5);  // ten slices of 3 seconds
        }
    }
}

// Paced, the line hands bytes over in FIFO fills, each once its last byte is through at 10 bits a
// byte, never early, no drift over a long run. A run is cut into fills from its end, so a byte
// written right behind a block shares the block's last burst. Unpaced, a moment's bytes go at once.
// A row: the rate, two writes at one moment, the bursts that come.
TEST(SimLine, PacedBytesComeInFifoFillsCutFromTheEndOfARun) {
    const std::tuple<int, std::size_t, std::size_t, std::vector<std::size_t>> rows[] = {
        {0, 136, 1, {137}},
        {19200, 16, 1, {1, 16}},
        {115200, 11520, 0, std::vector<std::size_t>(720, 16)}};
    for (const auto& [baud, first, second, expected] : rows) {
        sim::Line line(baud);
        line.Enqueue(std::string(first, 'A'), {});
        line.Enqueue(std::string(second, 'B'), {});
        std::vector<std::size_t> bursts;
        std::size_t through = 0;
        while (const auto at = line.NextDue()) {
            EXPECT_FALSE(line.TakeBurst(*at - protocol::Time{1}));
            const auto burst = line.TakeBurst(*at);
            through += bursts.emplace_back(burst->bytes.size());
            EXPECT_EQ(burst->at.count(), baud == 0 ? 0 : 10'000'000LL * through / baud) << baud;
        }
        EXPECT_EQ(bursts, expected) << baud;
    }
}

TEST_F(TransmitTest, WindowFollowsTheAcknowledgedRecords) {
    const struct {
        int records;
        bool program;
        std::vector<std::string> recCnt, complete;
    } rows[] = {
        {3, true, {" 00000", " 00002", " 00003", " 00003"}, {" 0%", " 33%", " 67%", " 100%"}},
        {8, false, {}, {" 0%", " 12%", " 25%", " 38%", " 50%", " 62%", " 75%", " 88%", " 100%"}},
        {0, true, {" 00000"}, {"100%"}},
    };
    for (const auto& row : rows) {
        view.log.clear();
        Prepare(row.records, row.program);
        Handheld();
        EXPECT_EQ(TransmitFile(state), result::kOk);
        if (!row.recCnt.empty()) {
            EXPECT_EQ(view.Values("RecCntBox"), row.recCnt);
        }
        EXPECT_EQ(view.Values("complete"), row.complete);
        EXPECT_EQ(view.Values("RecordsBox"),
                  std::vector<std::string>{" " + ZeroFilled(row.records, 5)});
        EXPECT_EQ(view.Values("StatusBox"),
                  (std::vector<std::string>{"Sending Header",
                                            row.program ? "Sending Program " : "Sending File ",
                                            "Closing Link"}));
        EXPECT_FALSE(view.aboutEnabled);
        EXPECT_TRUE(state.notes.empty());
    }
    // Lines longer than a record are cut, and the run says how many.
    Prepare(3, false);
    state.recordLength = 6;
    state.fieldLengths[1] = "6";
    Handheld();
    EXPECT_EQ(TransmitFile(state), result::kOk);
    EXPECT_EQ(state.notes, std::vector<std::string>{"3 lines longer than 6 characters were cut"});
    state.notes.clear();
    // True halves go to the even side: the 23rd of 40 shows 58, the 109th of 200 shows 54.
    for (const auto& [records, block, percent] : {std::tuple{40, 23, "58"}, {200, 109, "54"}}) {
        view.log.clear();
        Prepare(records);
        Handheld({}, {}, {}, 0);
        EXPECT_EQ(TransmitFile(state), result::kOk);
        EXPECT_EQ(view.Values("complete")[static_cast<std::size_t>(block)],
                  std::string(" ") + percent + "%");
    }
}

// Data-file lines are cut and filled with blanks, or packed after filling (+CMP); program lines
// are filled with "0" (the scenarios check those on the handheld's side).
TEST_F(TransmitTest, DataRecordsAreCutFilledOrPacked) {
    for (const bool packed : {false, true}) {
        dir.Write("F.TXT", "ABCDEFGHIJ\nXY\r\n  42\r");
        state.programFile = state.bccEnabled = state.seqEnabled = false;
        state.recordLength = packed ? 42 : 8;
        state.cmpMode = packed;
        ASSERT_EQ(OpenFile(state, dir.enginePath(), "F.TXT", FileNumber::kSend, "I"), result::kOk);
        for (const char* record : {"ABCDEFGH", "XY      ", "  42    "}) {
            // Packed, the missing digit fields of a filled line become ERROR.
            const std::string sent = packed ? PackRecord(FilledRecord(record, 42, false)) : record;
            EXPECT_EQ(GetNextRecord(state), chSTX + sent + chETX);
        }
        EXPECT_THROW(GetNextRecord(state), RuntimeError);  // 62, past the end
        state.CloseFile(FileNumber::kSend);
    }
}

// The link alone, with the line's answers delivered by each test.
class LinkTest : public testing::EngineFixture {
  protected:
    LinkTest() { line.SetPortOpen(true); }
};

TEST_F(LinkTest, OpenPortSaysWhyNotAndFlushInputDoesNotWait) {
    line.SetPortOpen(false);  // 68: the device is missing or busy; else a port error
    for (const auto& [failure, code] : {std::pair{68, 101}, {8002, 102}, {57, 102}}) {
        line.openFailure = failure;
        EXPECT_EQ(Number(OpenPort(state)), code) << failure;
    }
    EXPECT_EQ(OpenPort(state), result::kOk);
    line.Deliver("stale\x06\x15", 0);
    line.Deliver("\x06", 1.0);  // not there yet: stays for the next read
    FlushInput(state);
    EXPECT_EQ(line.InputCount(), 0);
    EXPECT_EQ(host.yieldCount, 0);
    host.Advance(1.0);
    EXPECT_EQ(line.Input(), "\x06");
}

// With bytes waiting the window still gets its turn (Cancel, the counters), once a millisecond: a
// fast line does not pay for an event-loop pass at every answer. Without, every call waits.
TEST_F(LinkTest, WindowTurnsWhileBytesWaitComeOnceAMillisecond) {
    ASSERT_EQ(OpenPort(state), result::kOk);
    line.Deliver("\x06", 0);
    const auto turns = [&, before = host.yieldCount](double after, int calls) {
        host.Advance(after);
        for (int i = 0; i < calls; ++i) {
            YieldToWindow(state, std::chrono::milliseconds(10));
        }
        return host.yieldCount - before;
    };
    EXPECT_EQ(turns(0, 5), 1);       // the bytes keep it from waiting: no time passes
    EXPECT_EQ(turns(0.0009, 3), 1);  // still within the millisecond
    EXPECT_EQ(turns(0.0002, 3), 2);  // a millisecond on: one more turn
    EXPECT_EQ(line.Input(), "\x06");
    EXPECT_EQ(turns(0, 2), 4);  // nothing waiting: each call waits its turn
}

TEST_F(LinkTest, SendTextReturnsLineErrorsDrainsAndPausesUnlessCancelled) {
    // The event after the output, the result, whether the output is cleared; the pause follows all.
    state.irDelay = 200;
    const std::tuple<std::int32_t, int, bool> rows[] = {
        {1, 0, false},   {1000, 1000, false}, {1002, 1002, false}, {1010, 1010, false},
        {1001, 0, true}, {0, 0, true},        {999, 0, true},      {1011, 0, true}};
    for (const auto& [event, code, cleared] : rows) {
        line.eventAfterOutput = static_cast<CommEvent>(event);
        line.eventOutputNumber = line.sent.size() + 1;
        line.log.clear();
        EXPECT_EQ(Number(SendText(state, "BLOCK")), code) << event;
        EXPECT_EQ(state.link.linkStatus, event);
        EXPECT_EQ(line.log.size(), cleared ? 1u : 0u) << event;  // ClearOutput
    }
    state.irDelay = -500;  // no pause without a positive delay
    SendText(state, "B");
    EXPECT_EQ(host.sleeps, std::vector<std::int32_t>(std::size(rows), 200));

    state.irDelay = 500;
    const double before = host.ClockSeconds();
    line.draining = true;
    host.onYield = [&] { line.draining = host.ClockSeconds() - before < 1.0; };
    EXPECT_EQ(SendText(state, "BLOCK"), result::kOk);
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
        EXPECT_EQ(Raw(WaitAnswerBHT(state)), code) << int{answer};
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
        EXPECT_EQ(Raw(WaitAnswerBHT(state)), code) << code << " after " << elapsed;
        EXPECT_NEAR(host.ClockSeconds() - at, elapsed, 1e-9) << code << " after " << elapsed;
    }
    const double at = host.ClockSeconds();
    line.Deliver("\x06", 1.0);
    host.onYield = [&] { state.cancelRequested = host.ClockSeconds() - at >= 1.0; };
    EXPECT_EQ(WaitAnswerBHT(state),
              Answer::kCancelled);  // a cancel during the wait beats the answer
    EXPECT_NEAR(host.ClockSeconds() - at, 1.0, 1e-9);
}

}  // namespace
}  // namespace quenlo
