// The option line, the file it names and the checks run once it is read; the numbers typed in it.
#include "run/options.h"

#include <gtest/gtest.h>

#include <cmath>
#include <span>
#include <string>
#include <tuple>

#include "base/number_text.h"
#include "base/runtime_error.h"
#include "support/fake_host.h"
#include "support/temp_dir.h"

namespace quenlo {
namespace {

// A device, not a file to send.
#ifdef _WIN32
#define DEVICE "NUL"
#else
#define DEVICE "/dev/null"
#endif

// An option line ("@" stands for the test directory), its result and what it changed.
using Row = std::tuple<const char*, ResultCode, const char*>;

class CheckCommandTest : public ::testing::Test {
  protected:
    ResultCode Parse(std::string line) {
        for (auto at = line.find('@'); at != std::string::npos; at = line.find('@')) {
            line.replace(at, 1, here);
        }
        SetDefaults(state);
        state.recordCount = -1;  // not a setting: shows whether the file was counted
        state.commandLine = line;
        return CheckCommand(state);
    }
    // What the line changed from the defaults, as tokens: "P5 B300 F0/128 send @PROG.PD3 R3".
    std::string Changed() const {
        const RunState& s = state;
        std::string text;
        const auto add = [&text](bool changed, const std::string& token) {
            text += changed ? (text.empty() ? "" : " ") + token : "";
        };
        add(s.portNumber != 1, "P" + std::to_string(s.portNumber));
        add(s.baudRate != "19200", "B" + s.baudRate);
        add(s.parity + s.dataBits + s.stopBits != "N81", s.parity + s.dataBits + s.stopBits);
        add(!s.bccEnabled, "-PB");
        add(!s.seqEnabled, "-SN");
        add(s.timeoutCount != 10, "T" + std::to_string(s.timeoutCount));
        add(s.irDelay != 0, "IRD" + std::to_string(s.irDelay));
        add(s.fieldCount != 0 || s.recordLength != 0,
            "F" + std::to_string(s.fieldCount) + "/" + std::to_string(s.recordLength));
        add(s.exMode && s.ewMode && s.irdaMode && s.ddeMode && s.appendMode && s.rsgMode &&
                s.cmpMode && s.rxonMode,
            "MODES");
        add(s.ymodemMode, "YMOD");
        add(!s.filePath.empty() || s.sendMode,
            (s.sendMode ? "send " : "in ") + (s.filePath == here ? "@" : s.filePath) + s.fileName);
        add(s.programFile, "program");
        add(s.recordCount >= 0, "R" + std::to_string(s.recordCount));
        return text;
    }
    void Expect(std::span<const Row> rows) {
        for (const auto& [line, code, changed] : rows) {
            EXPECT_EQ(Parse(line), code) << line;
            EXPECT_EQ(Changed(), changed) << line;
            EXPECT_FALSE(state.AnyFileOpen()) << line;
        }
    }

    testing::FakeHost host;
    RunState state{host};
    testing::TempDir dir;
    const std::string here = dir.enginePath();
};

TEST_F(CheckCommandTest, OptionsAndFileToSendKnownAnswers) {
    const Row shortRows[] = {{"", 0, ""},          {"+P0", 0, ""},     {"+P20", 0, "P21"},
                             {"+P21", 9, ""},      {"+P00", 9, ""},    {"+B57600", 9, ""},
                             {"+T0", 0, "T32500"}, {"+T90", 0, "T30"}, {"+T45", 9, ""},
                             {"+IRD", 0, ""},      {"+FOO", 4, ""},    {"+F", 9, ""}};
    const Row rows[] = {{"A: +P1", 0, "P2 in A:"},          {"+IRD2147483647", 0, "IRD2147483647"},
                        {"+IRD11.5", 0, "IRD12"},           {"+P2    +B9600   ", 0, "P3 B9600"},
                        {"+PO +D7 +S2 +PN +D8 +S1", 0, ""}, {"+PE +D7 +S2", 0, "E72"},
                        {"+F10,5,20", 0, "F3/35"},          {"+P3 +B4800 +XYZ +P9", 9, "P4 B4800"},
                        {"+IRD10.5", 0, "IRD10"},           {"-PB -SN", 0, "-PB -SN"},
                        {"-PB +PB -SN +SN", 0, ""}};

    Expect(shortRows);
    Expect(rows);
    dir.Write("PROG.PD3", "A\r\nB\r\nC\nD\rE");
    dir.Write("DATA.TXT", "A\r\nB\r\n");
    dir.Write("FIELDS.TXT", "A\r\n");
    dir.Write("FIELDS.FLD", "file FIELDS.TXT\r\nfields 7 8 9\r\n");
    const Row files[] = {
        {"+B600 +B38400 +B2400 +B4800 +B1200 +B115200", 0, "B115200"},
        {"+B9600 +P3 +B300 +T60 +P7 +T120 +T30 +B19200", 0, "P8"},
        {"+EX +EW +IR +DDE +APP +RSG +CMP +RXON +YMOD", 0, "MODES YMOD"},
        {"+P2 @APP.PD4 +B9600 @PROG.PD3", 0, "P3 B9600 F0/128 YMOD send @PROG.PD3 program R5"},
        {"@NONE.PD3", 1, "F0/128 send @NONE.PD3 program"},
        {"@PROG.PD3 +F10", 7, "F1/10 send @PROG.PD3 program R5"},
        {"@DATA.TXT", 8, "send @DATA.TXT R2"},
        {"@DATA.TXT +F10,5", 0, "F2/15 send @DATA.TXT R2"},
        {"@FIELDS.TXT", 0, "F3/24 send @FIELDS.TXT R1"},
        {"MY DIR\\PROG.PD3", 71, "F0/128 send DIR\\PROG.PD3 program"},  // cut at the blank
        {DEVICE, 70, "send " DEVICE}};                                  // not a regular file
    Expect(files);
    // A failure keeps the failing token and what follows.
    EXPECT_EQ(Parse("+P3 +B4800 +XYZ +P9"), 9);
    EXPECT_EQ(state.currentOption + "|" + state.commandLine, "+XYZ|+XYZ +P9");
    EXPECT_EQ(state.resultCode, 9);
    EXPECT_THROW(Parse("+IRD2147483648"), RuntimeError);
    EXPECT_EQ(state.currentProcedure, "CheckCommand");
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
    const std::pair<double, double> rounded[] = {{0.5, 0},   {1.5, 2},   {2.5, 2},   {-0.5, 0},
                                                 {-1.5, -2}, {-2.5, -2}, {10.4, 10}, {10.6, 11}};
    for (const auto& [value, result] : rounded) {
        EXPECT_EQ(RoundHalfEven(value), result) << value;
    }
    EXPECT_EQ(RoundHalfEven(2.5000000000000004), 3);
    EXPECT_EQ(RoundHalfEven(0.49999999999999994), 0);
    // Stored in 32 bits, or refused with the run-time error 6 "Overflow".
    const std::pair<double, std::int32_t> stored[] = {
        {2147483647.4, 2147483647}, {2147483646.5, 2147483646}, {-2147483648.5, -2147483647 - 1}};
    for (const auto& [value, result] : stored) {
        EXPECT_EQ(ToInt32Rounded(value), result) << value;
    }
    for (const double value : {2147483647.5, -2147483649.0, std::nan("")}) {
        EXPECT_THROW(ToInt32Rounded(value), RuntimeError) << value;
    }
}

}  // namespace
}  // namespace quenlo
