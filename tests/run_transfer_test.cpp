// Whole runs from an option line: port set-up, the result and its text, the catch-all, repeats.
#include "run/run_transfer.h"

#include <gtest/gtest.h>

#include "base/result_message.h"
#include "support/engine_fixture.h"

namespace quenlo {
namespace {

class RunTransferTest : public testing::EngineFixture {
  protected:
    void Run(const std::string& commandLine) {
        Handheld();                     // a fresh one for every run
        state.cancelRequested = false;  // as in a fresh program: the last OK click set it
        line.log.clear();
        host.messages.clear();
        state.commandLine = commandLine;
        RunTransfer(state);
    }
};

// After a run that failed on its line: the next parses its own line from the defaults (19200).
TEST_F(RunTransferTest, SendsAProgramFileAndReportsSuccess) {
    Run("+B9600 +XYZ");
    Run(WriteLines("PROG.PD3", 4));
    EXPECT_EQ(state.resultCode, 0);
    EXPECT_EQ(view.status, "Program Sent OK");
    EXPECT_EQ(view.message, "Err(0) Transfer Complete");
    EXPECT_EQ(view.caption, "OK");
    EXPECT_TRUE(view.unloaded);
    EXPECT_EQ(store.files["PROG.PD3"].size(), 4u * 130);
    EXPECT_EQ(line.log, (std::vector<std::string>{"PortNumber=1", "Settings=19200,N,8,1",
                                                  "InputLength=0", "LineA=0", "EventThreshold=1",
                                                  "EndOfFileStop=0", "Open", "Close"}));
    EXPECT_FALSE(state.AnyFileOpen());
    // The window was reset before the transfer.
    const auto reset = std::find(view.log.begin(), view.log.end(), "StatusBox=Establish Link");
    ASSERT_LE(reset + 8, view.log.end());
    EXPECT_EQ(std::vector<std::string>(reset, reset + 8),
              (std::vector<std::string>{"StatusBox=Establish Link",
                                        "FileBox=", "RecCntBox=", "RecordsBox=", "complete=",
                                        "MsgLabel=", "MsgLabel.Visible=1", "ProgressBar1=0"}));
}

// Failures before the transfer never open the port; a Cancel during it ends with 90.
TEST_F(RunTransferTest, FailuresAreReportedWithTheirText) {
    const std::string path = WriteLines("PROG.PD3", 400);
    const struct {
        std::string line;
        std::optional<std::int32_t> openFailure;
        const char* message;
        double clickAt = -1;
    } rows[] = {
        {"+P0 +XYZ", {}, "Err(9) Option mismatch."},
        {path + " +P4", 68, "Err(101) Communications Port COM5 not available."},
        {path + " +P11", 8002, "Err(102) Communications Port COM12 error."},
        {dir.enginePath() + "GONE.TXT", {}, "Err(1) File: GONE.TXT  not found."},
        {path, {}, "Err(90) Aborted by Cancel.", 3.0},
    };
    for (const auto& row : rows) {
        line.openFailure = row.openFailure;
        clickAt = row.clickAt < 0 ? -1 : host.ClockSeconds() + row.clickAt;
        const int opens = line.opens;
        Run(row.line);
        EXPECT_EQ(line.opens - opens, row.clickAt < 0 ? 0 : 1) << row.line;
        EXPECT_EQ(view.status, "Transfer Error");
        EXPECT_EQ(view.message, row.message);
        EXPECT_TRUE(view.unloaded);
    }
}

TEST_F(RunTransferTest, ResultTextsThatCarryValues) {
    ResultMessageInputs in;
    in.transferState = 3;
    const std::pair<std::int32_t, const char*> general[] = {{0, ""},
                                                            {-57, ""},
                                                            {55, " (55)"},
                                                            {75, " (75)"},
                                                            {57, " Error [57E 0 ] 3"},
                                                            {72, " Error [72E 0 ] 3"}};
    for (const auto& [number, suffix] : general) {
        in.fileErrNumber = number;
        EXPECT_EQ(ResultMessageFor(99, in), std::string("Err(99) General Failure") + suffix);
    }
    EXPECT_EQ(ResultMessageFor(1004, in), "Error1004 OCCURED");
    EXPECT_EQ(ResultMessageFor(-1, in), "Error-1 OCCURED");
    EXPECT_EQ(ResultMessageFor(53, in), "Err(53) Communications error.");
    EXPECT_EQ(ResultMessageFor(72, in), "Err(72) Disk full.");
}

TEST_F(RunTransferTest, IrdaLinesByBaudRate) {
    const std::string path = WriteLines("PROG.PD3", 1);
    // At 115200 the adapter learns the speed from an open and close at low lines; other rates
    // are refused before the port is opened, and no result is shown.
    const std::pair<const char*, std::vector<std::string>> rows[] = {
        {"9600", {"LineB=0", "LineA=1", "Open", "Close"}},
        {"19200", {"LineB=1", "LineA=0", "Open", "Close"}},
        {"115200", {"LineA=0", "Open", "Close", "LineB=1", "LineA=1", "Open", "Close"}},
        {"38400", {}},
        {"4800", {}},
    };
    for (const auto& [rate, lines] : rows) {
        Run(path + " +IR +B" + rate);
        EXPECT_EQ(std::vector(line.log.begin() + 6, line.log.end()), lines) << rate;
        EXPECT_EQ(host.messages.size(), lines.empty() ? 1u : 0u);
        EXPECT_EQ(view.caption, lines.empty() ? "&Cancel" : "OK") << rate;
    }
    EXPECT_EQ(host.messages.at(0).text, "Baud Rate not supported by IRDA interface");
}

TEST_F(RunTransferTest, RuntimeFailuresReachTheCatchAll) {
    Run("+IRD99999999999");
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0].title, "TARVOS ERROR");
    EXPECT_EQ(host.messages[0].text, "6: Overflow Error in CheckCommand");
    EXPECT_EQ(view.caption, "&Cancel");

    // The file shrinks after it was counted: reading past its end.
    const std::string path = WriteLines("PROG.PD3", 3);
    onYield = [&] {
        if (view.status == "Establish Link") {
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

TEST_F(RunTransferTest, WaitForOkUnlessExAfterSuccessOrDde) {
    view.autoOk = false;
    bool waited = false;
    onYield = [&] {
        if (view.caption == "OK") {
            waited = true;
            view.Click();
        }
    };
    const std::string path = WriteLines("PROG.PD3", 1);
    const std::pair<const char*, bool> rows[] = {
        {"", true}, {" +EX", false}, {" +DDE", false}, {" +EX +BAD", true}, {" +DDE +BAD", false}};
    for (const auto& [options, waits] : rows) {
        waited = false;
        Run(path + options);
        EXPECT_EQ(waited, waits) << options;
    }
}

TEST_F(RunTransferTest, RepeatPassesEndAfterTheClickWhenEverItComes) {
    // Passes that fail at once (no port) pause one slice; a click at any moment, in the pause
    // too, ends the run after that pass. A parse failure starts the passes all the same.
    const std::tuple<double, int, const char*> rows[] = {
        {1.0, 1, ""}, {4.5, 2, ""}, {20.0, 7, ""}, {7.0, 2, " +BAD"}};
    onYield = [&] { line.openFailure = 68; };
    for (const auto& [click, passes, options] : rows) {
        line.openFailure = 68;
        ClickAfter(click);
        Run(std::string("+RXON") + options);
        EXPECT_EQ(std::count(line.log.begin(), line.log.end(), "PortNumber=1"), passes) << click;
        EXPECT_EQ(view.message, "Err(101) Communications Port COM1 not available.");
        EXPECT_TRUE(view.unloaded);
    }
}

}  // namespace
}  // namespace quenlo
