// Sending by the block protocol to the handheld machine over an in-memory line, in virtual time:
// one row a scenario, each saying what the loader must put on the line and how it ends.
#include "send/transmit_file.h"

#include <gtest/gtest.h>

#include "base/runtime_error.h"
#include "files/file_open.h"
#include "protocol/control_chars.h"
#include "protocol/fields.h"
#include "protocol/record_packing.h"
#include "send/heading_block.h"
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
    bool loaderBcc = true, loaderSeq = true, handheldBcc = true, handheldSeq = true;
    int baud = 19200;
    std::size_t lineErrorAtOutput = 0;  // the n-th output reports event 1004
    double clickAt = -1;                // Cancel
    bool missing = false;               // the file went before the send
    ResultCode result = 0;
    int finalState = 5;
    const char* trace = "";  // what the loader put on the line
    int stored = 3;          // records the handheld kept; -1: it kept no file
    bool strays = false;     // the strict handheld saw bytes no correct loader sends
};

const Scenario kScenarios[] = {
    // Three records; none.
    {.trace = "E H 1 2 3 T"},
    {.records = 0, .trace = "E H T", .stored = 0},
    // NAK once resends the same block, no read-ahead; ten NAKs give 54 after an acknowledged
    // closing, on the heading or on a record; EOT from the handheld gives 55, then the closing.
    {.records = 4, .faults = {.nakBlock = 2}, .trace = "E H 1 2 2 3 4 T", .stored = 4},
    {.faults = {.nakHeading = 10}, .result = 54, .trace = "E H H H H H H H H H H T", .stored = -1},
    {.faults = {.nakBlock = 2, .nakTimes = 10},
     .result = 54,
     .trace = "E H 1 2 2 2 2 2 2 2 2 2 2 T",
     .stored = -1},
    {.records = 5, .faults = {.eotAtBlock = 3}, .result = 55, .trace = "E H 1 2 3 T", .stored = -1},
    // Silent handheld: ten ENQs, one EOT, no closing.
    {.toLoader = {.silent = true},
     .result = 52,
     .finalState = 6,
     .trace = "E E E E E E E E E E T",
     .stored = -1},
    // A lost ACK of the heading: ENQ asks again; of a block, or a damaged block: the block again.
    {.records = 2, .toLoader = {.dropBytes = {2}}, .trace = "E H E 1 2 T", .stored = 2},
    {.records = 2, .toLoader = {.dropBytes = {3}}, .trace = "E H 1 1 2 T", .stored = 2},
    {.records = 2, .toHandheld = {.corruptBytes = {72}}, .trace = "E H 1 1 2 T", .stored = 2},
    // Noise turns the closing ACK into EOT: 52 at once.
    {.records = 1,
     .toLoader = {.replaceBytes = {{4, chEOT}}},
     .result = 52,
     .finalState = 6,
     .trace = "E H 1 T",
     .stored = 1},
    // A line error on a block stops at once, no closing; Cancel too (90, no EOT); a file gone: 1.
    {.lineErrorAtOutput = 3, .result = 1004, .finalState = 6, .trace = "E H 1", .stored = -1},
    {.records = 500, .clickAt = 5, .result = 90, .finalState = 6, .stored = -1},
    {.missing = true, .result = 1, .finalState = 0, .stored = -1},
    // No block check, no numbers.
    {.loaderBcc = false,
     .loaderSeq = false,
     .handheldBcc = false,
     .handheldSeq = false,
     .trace = "E H D D D T"},
    // A check byte the handheld does not expect: refused unpaced, stray bytes paced.
    {.records = 1,
     .handheldBcc = false,
     .baud = 0,
     .result = 54,
     .trace = "E H H H H H H H H H H T",
     .stored = -1},
    {.records = 1, .handheldBcc = false, .trace = "E H 1 T", .stored = 1, .strays = true},
};

TEST_F(TransmitTest, Scenarios) {
    ShowWindow();
    for (const Scenario& row : kScenarios) {
        SCOPED_TRACE("row " + std::to_string(&row - std::begin(kScenarios)));
        line.sent.clear();
        store.files.clear();
        state.bccEnabled = row.loaderBcc;
        state.seqEnabled = row.loaderSeq;
        line.eventOutputNumber = row.lineErrorAtOutput;
        line.eventAfterOutput = 1004;
        Prepare(row.records);
        protocol::BlockReceiverOptions options;
        options.blocks = {row.handheldBcc, row.handheldSeq};
        options.faults = row.faults;
        Handheld(options, row.toHandheld, row.toLoader, row.baud);
        line.Input();  // nothing left over from the row before
        state.transferState = 0;
        if (row.missing) {
            state.fileName = "GONE.PD3";
        }
        if (row.clickAt >= 0) {
            ClickAfter(row.clickAt);
        }
        const double start = host.ClockSeconds();

        EXPECT_EQ(TransmitFile(state), row.result);
        EXPECT_EQ(state.transferState, row.finalState);
        if (row.clickAt < 0) {
            EXPECT_EQ(Trace(), row.trace);
        } else {
            EXPECT_NE(line.sent.back(), std::string(1, chEOT));  // Cancel sends no EOT
        }
        if (row.stored < 0) {
            EXPECT_TRUE(store.files.empty());
        } else {
            std::string records;  // each line filled with "0" to 128, ending in CR LF
            for (int i = 1; i <= row.stored; ++i) {
                records += "LINE" + ZeroFilled(i, 4) + std::string(120, '0') + "\r\n";
            }
            EXPECT_EQ(store.files["PROG.PD3"], records);
        }
        EXPECT_EQ(receiver->protocolErrors() > 0, row.strays);
        EXPECT_FALSE(state.AnyFileOpen());
        if (row.result == 52 && row.finalState == 6 && row.stored < 0) {
            EXPECT_NEAR(host.ClockSeconds() - start, 30.0, 0.5);  // ten slices of 3 seconds
        }
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
        EXPECT_EQ(TransmitFile(state), 0);
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
    }
    // True halves go to the even side: the 23rd of 40 shows 58, the 109th of 200 shows 54.
    for (const auto& [records, block, percent] : {std::tuple{40, 23, "58"}, {200, 109, "54"}}) {
        view.log.clear();
        Prepare(records);
        Handheld({}, {}, {}, 0);
        EXPECT_EQ(TransmitFile(state), 0);
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
        ASSERT_EQ(OpenFile(state, dir.enginePath(), "F.TXT", FileNumber::kSend, "I"), 0);
        for (const char* record : {"ABCDEFGH", "XY      ", "  42    "}) {
            // Packed, the missing digit fields of a filled line become ERROR.
            const std::string sent = packed ? PackRecord(FilledRecord(record, 42, false)) : record;
            EXPECT_EQ(GetNextRecord(state), chSTX + sent + chETX);
        }
        EXPECT_THROW(GetNextRecord(state), RuntimeError);  // 62, past the end
        state.CloseFile(FileNumber::kSend);
    }
}

}  // namespace
}  // namespace quenlo
