// Whole runs from an option line: parse, port set-up, transfer, the reported result, the
// catch-all for run-time failures, repeat passes.
#include "engine/run_transfer.h"

#include <gtest/gtest.h>

#include "support/engine_fixture.h"

namespace quenlo {
namespace {

using testing::EngineFixture;

class RunTransferTest : public EngineFixture {
  protected:
    void Run(const std::string& line) {
        state.commandLine = line;
        RunTransfer(state);
    }
    // The set-up calls from the first port number on.
    std::vector<std::string> SetupLog() const { return line.log; }
};

TEST_F(RunTransferTest, DefaultsSendAProgramFileAndReportSuccess) {
    const std::string path = WriteLines("PROG.PD3", 4);
    Run(path + " +P0 +B19200 +PN +D8 +S1 +T30 +PB +SN ");
    EXPECT_EQ(state.resultCode, 0);
    EXPECT_EQ(view.status, "Program Sent OK");
    EXPECT_EQ(view.message, "Err(0) Transfer Complete");
    EXPECT_EQ(view.caption, "OK");
    EXPECT_TRUE(view.unloaded);
    EXPECT_EQ(handheld.records.size(), 4u);
    EXPECT_EQ(SetupLog(), (std::vector<std::string>{"PortNumber=1", "Settings=19200,N,8,1",
                                                    "InputLength=0", "LineA=0", "EventThreshold=1",
                                                    "EndOfFileStop=0", "Open", "Close"}));
    EXPECT_FALSE(line.PortOpen());
    EXPECT_FALSE(state.AnyFileOpen());
}

TEST_F(RunTransferTest, WindowIsResetBeforeTheTransfer) {
    Run(WriteLines("PROG.PD3", 1));
    const auto& log = view.log;
    const auto establish = std::find(log.begin(), log.end(), "StatusBox=Establish Link");
    ASSERT_NE(establish, log.end());
    const std::vector<std::string> reset(establish, establish + 8);
    EXPECT_EQ(reset, (std::vector<std::string>{
                         "StatusBox=Establish Link", "FileBox=", "RecCntBox=", "RecordsBox=",
                         "complete=", "MsgLabel=", "MsgLabel.Visible=1", "ProgressBar1=0"}));
}

TEST_F(RunTransferTest, UnknownOptionIsReportedWithoutOpeningThePort) {
    Run("+P0 +XYZ");
    EXPECT_EQ(line.opens, 0);
    EXPECT_EQ(view.status, "Transfer Error");
    EXPECT_EQ(view.message, "Err(9) Option mismatch.");
    EXPECT_TRUE(view.unloaded);
}

TEST_F(RunTransferTest, MissingPortIs101WithItsNumber) {
    const std::string path = WriteLines("PROG.PD3", 1);
    line.openFailure = 68;
    Run(path + " +P4");
    EXPECT_EQ(state.resultCode, 101);
    EXPECT_EQ(view.message, "Err(101) Communications Port COM5 not available.");
}

TEST_F(RunTransferTest, OtherOpenFailureIs102) {
    const std::string path = WriteLines("PROG.PD3", 1);
    line.openFailure = 8002;
    Run(path + " +P11");
    EXPECT_EQ(view.message, "Err(102) Communications Port COM12 error.");
}

TEST_F(RunTransferTest, IrdaLineStatesByBaudRate) {
    const std::string path = WriteLines("PROG.PD3", 1);
    Run(path + " +IR +B9600");
    EXPECT_EQ(std::vector<std::string>(line.log.begin() + 3, line.log.begin() + 9),
              (std::vector<std::string>{"LineA=0", "EventThreshold=1", "EndOfFileStop=0", "LineB=0",
                                        "LineA=1", "Open"}));
    line.log.clear();
    Run(path + " +IR +B19200");
    EXPECT_EQ(std::vector<std::string>(line.log.begin() + 6, line.log.begin() + 9),
              (std::vector<std::string>{"LineB=1", "LineA=0", "Open"}));
}

TEST_F(RunTransferTest, IrdaAt115200OpensFlushesAndClosesBeforeTheRealOpening) {
    const std::string path = WriteLines("PROG.PD3", 1);
    line.Deliver("stale", 0.0);
    Run(path + " +IR +B115200");
    EXPECT_EQ(std::vector<std::string>(line.log.begin() + 6, line.log.begin() + 12),
              (std::vector<std::string>{"LineA=0", "Open", "Close", "LineB=1", "LineA=1", "Open"}));
    EXPECT_EQ(state.resultCode, 0);
}

TEST_F(RunTransferTest, IrdaAtAnUnsupportedRateEndsWithoutAResult) {
    const std::string path = WriteLines("PROG.PD3", 1);
    for (const std::string rate : {"38400", "4800"}) {
        host.messages.clear();
        Run(path + " +IR +B" + rate);
        ASSERT_EQ(host.messages.size(), 1u);
        EXPECT_EQ(host.messages[0].text, "Baud Rate not supported by IRDA interface");
        EXPECT_EQ(host.messages[0].title, "Quenlo");
        EXPECT_EQ(line.opens, 0);
        EXPECT_EQ(view.caption, "&Cancel");  // no result was shown
        EXPECT_TRUE(view.unloaded);
    }
}

TEST_F(RunTransferTest, RuntimeFailureInCheckCommandIsReportedByTheCatchAll) {
    Run("+IRD99999999999");
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0].title, "TARVOS ERROR");
    EXPECT_EQ(host.messages[0].text, "6: Overflow Error in CheckCommand");
    EXPECT_EQ(host.messages[0].icon, MessageIcon::kExclamation);
    EXPECT_EQ(state.resultMessage, "6: Overflow Error in CheckCommand");
    EXPECT_EQ(view.caption, "&Cancel");
    EXPECT_TRUE(view.unloaded);
    EXPECT_EQ(line.opens, 0);
}

TEST_F(RunTransferTest, FileShrinkingDuringTheRunFailsInGetNextRecordAndClosesEverything) {
    const std::string path = WriteLines("PROG.PD3", 3);
    bool shrunk = false;
    onYield = [&] {
        if (!shrunk && view.status == "Establish Link") {
            shrunk = true;
            dir.Write("PROG.PD3", "ONLY\r\n");
        }
    };
    Run(path);
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0].text, "62: Input past end of file Error in GetNextRecord");
    EXPECT_FALSE(line.PortOpen());
    EXPECT_FALSE(state.AnyFileOpen());
    EXPECT_TRUE(view.unloaded);
}

class ResultWaitTest : public RunTransferTest {
  protected:
    ResultWaitTest() {
        view.autoOk = false;
        onYield = [this] {
            if (view.caption == "OK") {
                waitedForOk = true;
                view.Click();
            }
        };
    }
    bool waitedForOk = false;
};

TEST_F(ResultWaitTest, PlainRunWaitsForOk) {
    Run(WriteLines("PROG.PD3", 1));
    EXPECT_TRUE(waitedForOk);
}

TEST_F(ResultWaitTest, ExSkipsTheWaitOnlyAfterSuccess) {
    Run(WriteLines("PROG.PD3", 1) + " +EX");
    EXPECT_FALSE(waitedForOk);
    EXPECT_EQ(view.status, "Program Sent OK");
    Run("+EX +BAD");
    EXPECT_TRUE(waitedForOk);
}

TEST_F(ResultWaitTest, DdeNeverWaits) {
    Run("+DDE +BAD");
    EXPECT_FALSE(waitedForOk);
    EXPECT_EQ(view.message, "Err(9) Option mismatch.");
}

TEST_F(RunTransferTest, ReceivingIsNotAvailableYetAndSaysSo) {
    Run("+P0");
    EXPECT_EQ(state.resultCode, 99);
    EXPECT_EQ(view.message, "Err(99) General Failure");
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0].text, "Receiving is not available yet");
}

TEST_F(RunTransferTest, RepeatReceivePassesUntilCancel) {
    ClickAfter(20.0);
    Run("+RXON");
    EXPECT_GT(line.opens, 3);  // a pass every 3-second slice until the click
    EXPECT_EQ(view.message, "Err(99) General Failure");
    EXPECT_FALSE(line.PortOpen());
}

TEST_F(RunTransferTest, RepeatReceiveStartsPassesEvenAfterAParseFailure) {
    ClickAfter(7.0);
    Run("+RXON +BAD");
    EXPECT_GE(line.opens, 1);
    EXPECT_TRUE(view.unloaded);
}

TEST_F(RunTransferTest, NextRunParsesItsOwnLineFromTheDefaults) {
    Run("+B9600 +XYZ");
    EXPECT_EQ(state.resultCode, 9);
    const std::string path = WriteLines("PROG.PD3", 1);
    Run(path);
    EXPECT_EQ(state.resultCode, 0);
    EXPECT_EQ(line.log[1], "Settings=19200,N,8,1");
}

TEST_F(RunTransferTest, CancelledSendReportsAbortedByCancel) {
    const std::string path = WriteLines("PROG.PD3", 40);
    handheld.answerDelay = 1.0;
    ClickAfter(5.0);
    Run(path);
    EXPECT_EQ(view.message, "Err(90) Aborted by Cancel.");
    EXPECT_EQ(view.status, "Transfer Error");
}

}  // namespace
}  // namespace quenlo
