// Sending a file by the block protocol against a scripted handheld, in virtual time.
#include "send/transmit_file.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "link/control_chars.h"
#include "link/link_control.h"
#include "support/engine_fixture.h"

namespace quenlo {
namespace {

using testing::EngineFixture;

const std::string kEnq(1, chENQ);
const std::string kEot(1, chEOT);

class TransmitFileTest : public EngineFixture {
  protected:
    // Names a program file of n records on the state, as the option line would, and opens the port.
    void Prepare(const std::string& name, int records, bool program = true) {
        WriteLines(name, records);
        state.filePath = dir.enginePath();
        state.fileName = name;
        state.programFile = program;
        state.recordLength = program ? 128 : 8;
        if (!program) {
            state.fieldCount = 1;
            state.fieldLengths[1] = "8";
        }
        state.recordCount = static_cast<std::int16_t>(records);
        state.sendMode = true;
        line.SetPortOpen(true);
    }

    std::vector<std::string> LogOf(const std::string& control) const {
        std::vector<std::string> values;
        for (const auto& entry : view.log) {
            if (entry.rfind(control + "=", 0) == 0) {
                values.push_back(entry.substr(control.size() + 1));
            }
        }
        return values;
    }
    int CountSent(const std::string& text) const {
        return static_cast<int>(std::count(line.sent.begin(), line.sent.end(), text));
    }
};

TEST_F(TransmitFileTest, ThreeRecordsGoOutNumberedAndTheLinkCloses) {
    Prepare("PROG.PD3", 3);
    EXPECT_EQ(TransmitFile(state), 0);
    EXPECT_EQ(state.transferState, 5);
    ASSERT_EQ(line.sent.size(), 6u);  // ENQ, heading, 3 blocks, EOT
    EXPECT_EQ(line.sent[0], kEnq);
    EXPECT_EQ(line.sent[1].substr(1, 17), "PROG.PD3    00003");
    EXPECT_EQ(line.sent[2].substr(0, 6),
              "\x02"
              "00001");
    EXPECT_EQ(line.sent[3].substr(0, 6),
              "\x02"
              "00002");
    EXPECT_EQ(line.sent[4].substr(0, 6),
              "\x02"
              "00003");
    EXPECT_EQ(line.sent[5], kEot);
    ASSERT_EQ(handheld.records.size(), 3u);
    EXPECT_EQ(handheld.records[0], "LINE001" + std::string(121, '0'));
    EXPECT_EQ(LogOf("RecCntBox"),
              (std::vector<std::string>{" 00000", " 00002", " 00003", " 00003"}));
    EXPECT_EQ(LogOf("complete"), (std::vector<std::string>{" 0%", " 33%", " 67%", " 100%"}));
    EXPECT_EQ(LogOf("RecordsBox"), std::vector<std::string>{" 00003"});
    EXPECT_EQ(LogOf("StatusBox"),
              (std::vector<std::string>{"Sending Header", "Sending Program ", "Closing Link"}));
    EXPECT_FALSE(view.aboutEnabled);
    EXPECT_FALSE(state.AnyFileOpen());
}

TEST_F(TransmitFileTest, EightRecordsRoundHalvesToEven) {
    Prepare("PROG.PD3", 8);
    EXPECT_EQ(TransmitFile(state), 0);
    EXPECT_EQ(LogOf("ProgressBar1"),
              (std::vector<std::string>{"0", "12", "25", "38", "50", "62", "75", "88", "100"}));
}

TEST_F(TransmitFileTest, DataFileShowsSendingFileAndPadsWithBlanks) {
    Prepare("DATA.TXT", 2, false);
    EXPECT_EQ(TransmitFile(state), 0);
    EXPECT_EQ(LogOf("StatusBox")[1], "Sending File ");
    EXPECT_EQ(line.sent[1].substr(1, 21), "DATA.TXT    000020108");
    ASSERT_EQ(handheld.records.size(), 2u);
    EXPECT_EQ(handheld.records[1], "LINE002 ");
}

TEST_F(TransmitFileTest, EmptyFileSendsHeadingShowsFullAndCloses) {
    dir.Write("EMPTY.PD3", "");
    Prepare("EMPTY.PD3", 0);
    EXPECT_EQ(TransmitFile(state), 0);
    EXPECT_EQ(state.transferState, 5);
    ASSERT_EQ(line.sent.size(), 3u);  // ENQ, heading, EOT
    EXPECT_EQ(line.sent[2], kEot);
    EXPECT_EQ(view.progress, 100);
    EXPECT_EQ(view.complete, "100%");
    EXPECT_EQ(view.recCnt, " 00000");
}

TEST_F(TransmitFileTest, SilentHandheldGetsTenEnqsThreeSecondsApartThenOneEot) {
    Prepare("PROG.PD3", 3);
    handheld.silent = true;
    const double start = host.ClockSeconds();
    EXPECT_EQ(TransmitFile(state), 52);
    EXPECT_EQ(state.transferState, 6);
    EXPECT_EQ(CountSent(kEnq), 10);
    ASSERT_EQ(line.sent.size(), 11u);
    EXPECT_EQ(line.sent.back(), kEot);  // sent once, no closing exchange after it
    EXPECT_NEAR(host.ClockSeconds() - start, 30.0, 0.5);
    EXPECT_EQ(view.status, "Closing Link");
}

TEST_F(TransmitFileTest, TenNaksOnTheHeadingGive54AfterAnAcknowledgedClosing) {
    Prepare("PROG.PD3", 3);
    handheld.nakHeading = 10;
    EXPECT_EQ(TransmitFile(state), 54);
    EXPECT_EQ(state.transferState, 5);  // the closing was acknowledged, the result stays
    EXPECT_EQ(std::count_if(line.sent.begin(), line.sent.end(),
                            [](const std::string& t) { return t[0] == chSOH; }),
              10);
    EXPECT_EQ(line.sent.back(), kEot);
    EXPECT_TRUE(handheld.records.empty());
}

TEST_F(TransmitFileTest, TenNaksOnARecordGive54) {
    Prepare("PROG.PD3", 3);
    handheld.nakBlockAlways = 2;
    EXPECT_EQ(TransmitFile(state), 54);
    EXPECT_EQ(std::count(handheld.blockNumbers.begin(), handheld.blockNumbers.end(), 2), 10);
}

TEST_F(TransmitFileTest, EotDuringTheRecordsGives55ThenCloses) {
    Prepare("PROG.PD3", 5);
    handheld.eotAtBlock = 3;
    EXPECT_EQ(TransmitFile(state), 55);
    EXPECT_EQ(handheld.records.size(), 2u);
    // EOT from the handheld leaves the tick count one below the limit, so one unanswered
    // closing would end it; here the closing EOT is acknowledged.
    EXPECT_EQ(line.sent.back(), kEot);
    EXPECT_EQ(state.transferState, 5);
}

TEST_F(TransmitFileTest, EotAnswerToTheClosingEndsItAtOnceWith52) {
    Prepare("PROG.PD3", 1);
    handheld.answerClosing = false;
    // Answer the closing EOT with an EOT of its own.
    onYield = [this] {
        if (!line.sent.empty() && line.sent.back() == kEot && handheld.eots == 1) {
            handheld.eots = 2;
            line.Deliver(kEot, 0.1);
        }
    };
    EXPECT_EQ(TransmitFile(state), 52);
    EXPECT_EQ(CountSent(kEot), 1);
}

TEST_F(TransmitFileTest, CancelDuringTheRecordsGives90WithoutEot) {
    Prepare("PROG.PD3", 50);
    handheld.answerDelay = 1.0;
    ClickAfter(10.0);
    // The window only passes clicks on while it is shown.
    struct Events : TransferWindowEvents {
        explicit Events(RunState& s) : s(s) {}
        void CommandButtonClicked() override { s.cancelRequested = true; }
        void TimerTicked() override {}
        RunState& s;
    } events(state);
    view.Show(events);
    EXPECT_EQ(TransmitFile(state), 90);
    EXPECT_EQ(state.transferState, 6);
    EXPECT_EQ(CountSent(kEot), 0);
    EXPECT_LT(handheld.records.size(), 50u);
    EXPECT_EQ(view.status, "Closing Link");
}

TEST_F(TransmitFileTest, NakResendsTheSameBlockWithoutReadingAhead) {
    Prepare("PROG.PD3", 5);
    handheld.nakBlockOnce = 2;
    EXPECT_EQ(TransmitFile(state), 0);
    EXPECT_EQ(handheld.blockNumbers, (std::vector<int>{1, 2, 2, 3, 4, 5}));
    // The repeat is byte for byte the first sending.
    EXPECT_EQ(line.sent[3], line.sent[4]);
    // A read-ahead on the NAK would have skipped a record.
    ASSERT_EQ(handheld.records.size(), 5u);
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(handheld.records[static_cast<std::size_t>(i)].substr(0, 7),
                  "LINE00" + std::to_string(i + 1));
    }
}

TEST_F(TransmitFileTest, SilentSliceAfterTheHeadingAsksWithEnqButAfterABlockResendsIt) {
    Prepare("PROG.PD3", 2);
    handheld.dropAnswerTo = {2, 4};  // the heading, then block 1
    EXPECT_EQ(TransmitFile(state), 0);
    ASSERT_GE(line.sent.size(), 6u);
    EXPECT_EQ(line.sent[1][0], chSOH);
    EXPECT_EQ(line.sent[2], kEnq);  // asks for the answer again
    EXPECT_EQ(line.sent[3].substr(0, 6),
              "\x02"
              "00001");
    EXPECT_EQ(line.sent[4], line.sent[3]);  // the block itself again
    EXPECT_EQ(handheld.records.size(), 2u);
}

TEST_F(TransmitFileTest, LineErrorAbove1000StopsAtOnceWithoutClosing) {
    Prepare("PROG.PD3", 3);
    line.eventOutputNumber = 3;  // ENQ, heading, then the first block fails
    line.eventAfterOutput = 1004;
    EXPECT_EQ(TransmitFile(state), 1004);
    EXPECT_EQ(state.transferState, 6);
    EXPECT_EQ(line.sent.size(), 3u);
    EXPECT_NE(view.status, "Closing Link");
    EXPECT_FALSE(state.AnyFileOpen());
}

TEST_F(TransmitFileTest, MissingFileSendsNothing) {
    Prepare("PROG.PD3", 1);
    state.fileName = "GONE.PD3";
    EXPECT_EQ(TransmitFile(state), 1);
    EXPECT_TRUE(line.sent.empty());
}

TEST_F(TransmitFileTest, WithoutSequenceNumbersOrBccBlocksAreRecordAndEtx) {
    Prepare("PROG.PD3", 2);
    state.bccEnabled = false;
    state.seqEnabled = false;
    handheld.sequenceNumbers = false;
    EXPECT_EQ(TransmitFile(state), 0);
    EXPECT_EQ(line.sent[2].size(), 128u + 2u);
    EXPECT_EQ(line.sent[2].back(), chETX);
    EXPECT_EQ(line.sent[1],
              "\x01"
              "PROG.PD3    00002\x03");
}

}  // namespace
}  // namespace quenlo
