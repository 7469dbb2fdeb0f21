// The option line and the numbers typed in it; whole runs from an option line: port set-up, the
// result and its text, the catch-all, repeats.
#include "run/run_transfer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <span>
#include <tuple>

#include "base/number_text.h"
#include "base/result_message.h"
#include "base/runtime_error.h"
#include "base/text.h"
#include "run/options.h"
#include "support/engine_fixture.h"

namespace quenlo {
namespace {

// An option line ("@" stands for the test directory), its result and what it changed.
using Row = std::tuple<const char*, int, const char*>;

class CheckCommandTest : public testing::EngineFixture {
  protected:
    ResultCode Parse(std::string options) {
        for (auto at = options.find('@'); at != std::string::npos; at = options.find('@')) {
            options.replace(at, 1, here);
        }
        SetDefaults(state);
        state.recordCount = -1;  // not a setting: shows whether the file was counted
        state.commandLine = options;
        return CheckCommand(state);
    }
    // What the line changed from the defaults, as tokens: "P5 B300 F0/128 send @PROG.PD3 R3".
    std::string Changed() const {
        const RunState& s = state;
        std::string text;
        const auto add = [&text](const std::string& token, bool changed) {
            text += changed ? (text.empty() ? "" : " ") + token : "";
        };
        add("P" + std::to_string(s.portNumber), s.portNumber != 1);
        add("B" + s.baudRate, s.baudRate != "19200");
        add(s.parity + s.dataBits + s.stopBits, s.parity + s.dataBits + s.stopBits != "N81");
        add("-PB", !s.bccEnabled);
        add("-SN", !s.seqEnabled);
        add("T" + std::to_string(s.timeoutCount), s.timeoutCount != 10);
        add("IRD" + std::to_string(s.irDelay), s.irDelay != 0);
        add("F" + std::to_string(s.fieldCount) + "/" + std::to_string(s.recordLength),
            s.fieldCount != 0 || s.recordLength != 0);
        add("MODES",
            s.exMode && s.irdaMode && s.ddeMode && s.appendMode && s.cmpMode && s.rxonMode);
        add("YMOD", s.ymodemMode);
        add((s.sendMode ? "send " : "in ") + (s.filePath == here ? "@" : s.filePath) + s.fileName,
            !s.filePath.empty() || s.sendMode);
        add("program", s.programFile);
        add("R" + std::to_string(s.recordCount), s.recordCount >= 0);
        return text;
    }
    void Expect(std::span<const Row> rows) {
        for (const auto& [options, code, changed] : rows) {
            EXPECT_EQ(Number(Parse(options)), code) << options;
            EXPECT_THAT(Changed(), testing::Tokens(changed, "change")) << options;
            EXPECT_FALSE(state.AnyFileOpen()) << options;
        }
    }

    const std::string here = dir.enginePath();
};

TEST_F(CheckCommandTest, OptionsAndFileToSendKnownAnswers) {
    const Row shortRows[] = {{"+P0", 0, ""},     {"+P20", 0, "P21"},   {"+P21", 9, ""},
                             {"+B57600", 9, ""}, {"+T0", 0, "T32500"}, {"+T90", 0, "T30"},
                             {"+T60", 0, "T20"}, {"+T120", 0, "T40"},  {"+T45", 9, ""},
                             {"+F", 9, ""},      {"+FOO", 4, ""}};
    const Row rows[] = {{"A: +P1", 0, "P2 in A:"},          {"+IRD2147483647", 0, "IRD2147483647"},
                        {"+IRD10.5", 0, "IRD10"},           {"+P2    +B9600   ", 0, "P3 B9600"},
                        {"+PO +D7 +S2 +PN +D8 +S1", 0, ""}, {"+PE +D7 +S2", 0, "E72"},
                        {"+F10,5,20", 0, "F3/35"},          {"-PB -SN", 0, "-PB -SN"},
                        {"-PB +PB -SN +SN", 0, ""},         {"+P3 +B4800 +XYZ +P9", 9, "P4 B4800"}};
    Expect(shortRows);
    Expect(rows);
    EXPECT_EQ(state.currentOption + "|" + state.commandLine, "+XYZ|+XYZ +P9");  // from the fault
    EXPECT_EQ(state.resultCode, result::kOptionMismatch);
    dir.Write("PROG.PD3", "A\r\nB\r\nC\nD\rE");
    dir.Write("DATA.TXT", "A\r\nB\r\n");
    dir.Write("FIELDS.TXT", "A\r\n");
    dir.Write("FIELDS.FLD", "file FIELDS.TXT\r\nfields 7 8 9\r\n");
    const Row files[] = {
        {"+B600 +B38400 +B2400 +B4800 +B1200 +B300 +B19200 +T60 +T120 +T30 +B115200", 0, "B115200"},
        {"+EX +EW +IR +DDE +APP +RSG +CMP +RXON +YMOD", 0, "MODES YMOD"},
        {"+P2 @APP.PD4 +B9600 @PROG.PD3", 0, "P3 B9600 F0/128 YMOD send @PROG.PD3 program R5"},
        {"@NONE.PD3", 1, "F0/128 send @NONE.PD3 program"},
        {"@PROG.PD3 +F10", 7, "F1/10 send @PROG.PD3 program R5"},
        {"@DATA.TXT", 8, "send @DATA.TXT R2"},
        {"@DATA.TXT +F10,5", 0, "F2/15 send @DATA.TXT R2"},
        {"@FIELDS.TXT", 0, "F3/24 send @FIELDS.TXT R1"},
        {"MY DIR\\PROG.PD3", 71, "F0/128 send DIR\\PROG.PD3 program"},  // cut at the blank
        {"NUL", 70, "send NUL"}};  // a device on Windows, refused everywhere
    Expect(files);
    EXPECT_THROW(Parse("+IRD2147483648"), RuntimeError);
}

TEST(NumberTextTest, ReadRoundedAndStored) {
    // Blanks anywhere are skipped; reading stops where the number cannot go on; none gives 0.
    const std::pair<const char*, double> read[] = {
        {"", 0},      {"-", 0},       {"+-5", 0},   {"abc10", 0},         {"007", 7},
        {".5", 0.5},  {"-40", -40},   {"+40", 40},  {"1 0 . 2 5", 10.25}, {"- 5", -5},
        {"10,5", 10}, {"1.5.5", 1.5}, {"12-3", 12}, {"3+4", 3},           {"1 2x3", 12}};
    for (const auto& [text, value] : read) {
        EXPECT_EQ(LeadingNumber(text), value) << text;
    }
    EXPECT_EQ(LeadingNumber(std::string(400, '9')), HUGE_VAL);
    const std::pair<double, std::int32_t> stored[] = {
        {2.5000000000000004, 3},         {0.5, 0},   {1.5, 2},
        {0.49999999999999994, 0},        {2.5, 2},   {-0.5, 0},
        {2147483647.4, 2147483647},      {-1.5, -2}, {-2.5, -2},
        {2147483646.5, 2147483646},      {10.4, 10}, {10.6, 11},
        {-2147483648.5, -2147483647 - 1}};
    for (const auto& [value, result] : stored) {
        EXPECT_EQ(ToInt32Rounded(value), result) << value;
    }
    for (const double value : {2147483647.5, -2147483649.0, std::nan("")}) {
        EXPECT_THROW(ToInt32Rounded(value), RuntimeError) << value;
    }
}

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
    Run(dir.enginePath() + "GONE.TXT");  // the reason under a failure; a success empties it
    EXPECT_EQ(view.reason, (dir.path() / "GONE.TXT").string() + ": No such file or directory");
    Run("+B9600 +XYZ");
    Run(WriteLines("PROG.PD3", 4));
    EXPECT_EQ(state.resultCode, result::kOk);
    EXPECT_EQ(view.status + "|" + view.message + "|" + view.caption + "|" + view.reason,
              "Program Sent OK|Err(0) Transfer Complete|OK|");
    EXPECT_TRUE(view.unloaded);
    EXPECT_EQ(store.files["PROG.PD3"].size(), 4u * 130);
    EXPECT_EQ(line.log, (std::vector<std::string>{"PortNumber=1", "Settings=19200,N,8,1",
                                                  "InputLength=0", "LineA=0", "EventThreshold=1",
                                                  "EndOfFileStop=0", "Open", "Close"}));
    EXPECT_FALSE(state.AnyFileOpen());
    // The window was reset before the transfer.
    const auto reset = std::find(view.log.begin(), view.log.end(), "StatusBox=Establish Link");
    EXPECT_EQ(std::vector<std::string>(reset, std::min(reset + 8, view.log.end())),
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
        std::string why = "";  // in the reason beside the result
    } rows[] = {
        {"+P0 +XYZ", {}, "Err(9) Option mismatch."},
        {path + " +P4", 68, "Err(101) Communications Port COM5 not available."},
        {path + " +P11", 8002, "Err(102) Communications Port COM12 error."},
        {dir.enginePath() + "GONE.TXT", {}, "Err(1) File: GONE.TXT  not found."},
        {path, {}, "Err(90) Aborted by Cancel.", 3.0},
        // A reception's folder is looked at before the port: by either protocol.
        {dir.enginePath() + "NODIR/", {}, "Err(71) Path not found.", -1, "NODIR"},
        {dir.enginePath() + "NODIR/ +YMOD", {}, "Err(71) Path not found.", -1, "NODIR"},
#ifndef _WIN32
        {"A:", {}, "Err(71) Path not found.", -1, "A: names a drive, and this system has none"},
#endif
    };
    for (const auto& row : rows) {
        line.openFailure = row.openFailure;
        clickAt = row.clickAt < 0 ? -1 : host.ClockSeconds() + row.clickAt;
        const int opens = line.opens;
        Run(row.line);
        EXPECT_EQ(line.opens - opens, row.clickAt < 0 ? 0 : 1) << row.line;
        EXPECT_EQ(view.status, "Transfer Error");
        EXPECT_EQ(view.message, row.message);
        EXPECT_NE(state.failureDetail.find(row.why), std::string::npos) << state.failureDetail;
        EXPECT_TRUE(view.unloaded);
    }
}

// Every failure says why beside its result, under it in the window: a row per family of codes.
TEST_F(RunTransferTest, EveryFailureSaysWhy) {
    const std::string prog = WriteLines("PROG.PD3", 3), data = WriteLines("DATA.TXT", 2);
    const std::string here = dir.enginePath();
    const protocol::Upload upload{"PROG.PD3", true, {}, {std::string(128, '1')}};
    const struct {
        std::string line;
        protocol::HandheldFaults faults = {};         // of a handheld taking the file
        std::optional<protocol::Upload> upload = {};  // else a handheld sending this
        sim::LineFaults toLoader = {};
        int result;
        std::string why;
    } rows[] = {
        {here + "LONGPROGRAM.PD3", {}, {}, {}, 2, "LONGPROGRAM.PD3: at most 8 characters before"},
        {prog + " +B115201", {}, {}, {}, 9, "+B115201: the baud rates are 300, 600, 1200, 2400"},
        {prog + " +F10,,20", {}, {}, {}, 4, "field 2 is empty: a field is 1 to 99 characters"},
        {prog + " +F10", {}, {}, {}, 7, "PROG.PD3 is a program or system file"},
        {data, {}, {}, {}, 8, "no field file DATA.FLD beside DATA.TXT"},
        {prog,
         {},
         {},
         {.silent = true},
         52,
         "no answer from the handheld to the call within 30 "
         "s: is it waiting to receive, at the same speed "
         "(19200)?"},
        {prog,
         {.nakBlock = 2, .nakTimes = 10},
         {},
         {},
         54,
         "refused block 2 ten times: check "
         "the block check and block number "
         "settings (+PB +SN here)"},
        {prog, {.eotAtBlock = 3}, {}, {}, 55, "the handheld ended the transfer at block 3"},
        {here, {}, upload, {.cutAfter = 21}, 51, "no record 1 from the handheld within 30 s"},
        {here, {}, upload, {.corruptEvery = 136}, 53, "record 1 came damaged or out of order"},
        {here,
         {},
         protocol::Upload{"ABCDEFGHI.PD", true, {}, {}},
         {},
         70,
         "the handheld's file name is refused: ABCDEFGHI.PD: at most 8 characters before"},
        {here + " +YMOD", {}, {}, {}, 52, "did not start sending within 30 s"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.line);
        if (row.upload) {
            Uploader(*row.upload, {}, {}, row.toLoader);
        } else {
            Handheld({.blocks = {}, .faults = row.faults}, {}, row.toLoader);
        }
        state.cancelRequested = false;
        state.commandLine = row.line;
        RunTransfer(state);
        EXPECT_EQ(Number(state.resultCode), row.result);
        EXPECT_NE(view.reason.find(row.why), std::string::npos) << view.reason;
    }
}

TEST_F(RunTransferTest, ResultTextsThatCarryValues) {
    ResultMessageInputs in;
    in.transferState = TransferState::kData;
    const std::pair<std::int32_t, const char*> general[] = {{0, ""},
                                                            {-57, ""},
                                                            {55, " (55)"},
                                                            {75, " (75)"},
                                                            {57, " Error [57E 0 ] 3"},
                                                            {72, " Error [72E 0 ] 3"}};
    for (const auto& [number, suffix] : general) {
        in.fileErrNumber = number;
        EXPECT_EQ(ResultMessageFor(result::kGeneralFailure, in),
                  std::string("Err(99) General Failure") + suffix);
    }
    EXPECT_EQ(ResultMessageFor(AsResult(CommEvent::kHardwareOverrun), in), "Error1004 OCCURED");
    EXPECT_EQ(ResultMessageFor(ResultCode{-1}, in), "Error-1 OCCURED");
    EXPECT_EQ(ResultMessageFor(result::kCommTooManyNaks, in), "Err(53) Communications error.");
    EXPECT_EQ(ResultMessageFor(result::kDiskFull, in), "Err(72) Disk full.");
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
    // too, ends the run after that pass. A line that fails to parse, or fails reading it, starts
    // no pass at all.
    const char* const noPort = "Err(101) Communications Port COM1 not available.";
    const std::tuple<double, int, const char*, const char*> rows[] = {
        {1.0, 1, "", noPort},
        {4.5, 2, "", noPort},
        {20.0, 7, "", noPort},
        {7.0, 0, " +BAD", "Err(9) Option mismatch."},
        {7.0, 0, " +IRD99999999999", ""}};
    onYield = [&] { line.openFailure = 68; };
    for (const auto& [click, passes, options, message] : rows) {
        line.openFailure = 68;
        view.message.clear();
        ClickAfter(click);
        Run(std::string("+RXON") + options);
        EXPECT_EQ(std::count(line.log.begin(), line.log.end(), "PortNumber=1"), passes) << click;
        EXPECT_EQ(view.message, message);
        EXPECT_TRUE(view.unloaded);
    }
}

// Paths as people have them: a space, letters beyond A-Z, the letter case as typed (both a
// lower- and an upper-case file there), a folder named without its final "/". The name that
// travels keeps the handheld's rules; the folders around it are the system's.
TEST_F(RunTransferTest, PathsAsPeopleHaveThem) {
    const std::string here = dir.path().string() + "/";
    const std::string kRussian = "\xD0\xB4\xD0\xB0\xD0\xBD\xD0\xBD\xD1\x8B\xD0\xB5";
    for (const std::string folder : {"My Files",
                                     "Donn\xC3\xA9"
                                     "es",
                                     kRussian.c_str(), "tx2", "In", "in"}) {
        std::filesystem::create_directories(dir / folder);
    }
    // Where the system does not tell letter cases apart (Windows), "in" is "In" and one APP.PD3
    // is there: the rows of the other case stand for nothing.
    const bool casesApart = !std::filesystem::equivalent(dir / "In", dir / "in");
    dir.Write("tx2/app.pd3", "LOWER\r\n");
    dir.Write("tx2/APP.PD3", "UPPER\r\n");
    const struct {
        std::string typed;  // the line as typed, UTF-8; the engine gets it upper-cased too
        std::string sent;   // the start of the file sent, or empty for a reception
        std::string into;   // where a reception lands
        int result = 0;
    } rows[] = {
        {"\"" + here +
             "My Files/Donn\xC3\xA9"
             "es/\"",
         "", "", 71},  // no such folder
        {"\"" + here + "My Files\"", "", "My Files"},
        {here + "Donn\xC3\xA9"
                "es",
         "",
         "Donn\xC3\xA9"
         "es"},
        {here + kRussian + "/", "", kRussian},
        {here + "in", "", "in"},
        {here + "tx2/app.pd3", "LOWER", ""},
        {here + "tx2/APP.PD3", "UPPER", ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.typed);
        if (!casesApart && (row.into == "in" || row.sent == "LOWER")) {
            continue;
        }
        std::filesystem::remove(dir / (row.into + "/PROG.PD3"));
        if (row.sent.empty()) {
            Uploader({"PROG.PD3", true, {}, {std::string(128, '7')}});
        } else {
            Handheld();
        }
        state.cancelRequested = false;
        state.commandLineAsGiven = row.typed;
        state.commandLine = UpperCase(Utf8ToLatin1(row.typed));
        RunTransfer(state);
        EXPECT_EQ(Number(state.resultCode), row.result) << state.failureDetail;
        if (!row.sent.empty()) {
            EXPECT_EQ(store.files["APP.PD3"].substr(0, 5), row.sent);
        } else if (row.result == 0) {
            EXPECT_EQ(dir.Read(row.into + "/PROG.PD3").size(), 130u);
        }
    }
    EXPECT_EQ(dir.Names(),
              "Donn\xC3\xA9"
              "es|In|My Files|" +
                  std::string(casesApart ? "in|" : "") + "tx2|" + kRussian);
    EXPECT_TRUE(!casesApart || std::filesystem::is_empty(dir.path() / "In"));
}

// Every repeat pass starts from the option line: a program file, then a data file (which gets
// its field file), a program file named for YMODEM but sent by the block protocol, the data file
// again (kept beside the first: --keep); then Cancel while the fifth is awaited. Each file leaves
// a line, and the end sums them up.
TEST_F(RunTransferTest, EveryRepeatPassStartsFromTheOptionLine) {
    const auto record = [](std::size_t length) { return std::string(length, '7'); };
    const protocol::Upload uploads[] = {{"ONE.PD3", true, {}, {record(128)}},
                                        {"TWO.TXT", false, {3}, {"abc"}},
                                        {"THREE.PD4", true, {}, {record(1024)}},
                                        {"TWO.TXT", false, {2}, {"de"}}};
    state.keepEarlierFiles = true;
    std::size_t attached = 0;
    onYield = [&] {
        if (line.opens > static_cast<int>(attached) && attached < std::size(uploads)) {
            Uploader(uploads[attached++]);
        } else if (line.opens > static_cast<int>(std::size(uploads)) && clickAt < 0) {
            ClickAfter(1);
        }
    };
    state.cancelRequested = false;
    state.commandLine = dir.enginePath() + " +RXON";
    RunTransfer(state);
    EXPECT_EQ(view.message, "Err(90) Aborted by Cancel.");
    EXPECT_EQ(dir.Names(), "ONE.PD3|THREE.PD4|TWO-2.FLD|TWO-2.TXT|TWO.FLD|TWO.TXT");
    EXPECT_EQ(dir.Read("TWO-2.TXT"), "de\r\n");
    EXPECT_NE(dir.Read("TWO-2.FLD").find("file    TWO-2.TXT\r\n"), std::string::npos);
    EXPECT_EQ(
        view.Values("PassLine"),
        (std::vector<std::string>{"ONE.PD3: 1 record, received", "TWO.TXT: 1 record, received",
                                  "THREE.PD4: 1 record, received", "TWO-2.TXT: 1 record, received",
                                  "no file: Err(90) Aborted by Cancel."}));
    EXPECT_NE(view.reason.find("4 files received: ONE.PD3, TWO.TXT, THREE.PD4, TWO-2.TXT"),
              std::string::npos);
    state.keepEarlierFiles = false;
}

}  // namespace
}  // namespace quenlo
