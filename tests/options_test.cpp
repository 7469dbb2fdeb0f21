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
        add("MODES", s.exMode && s.ewMode && s.irdaMode && s.ddeMode && s.appendMode && s.rsgMode &&
                         s.cmpMode && s.rxonMode);
        add("YMOD", s.ymodemMode);
        add((s.sendMode ? "send " : "in ") + (s.filePath == here ? "@" : s.filePath) + s.fileName,
            !s.filePath.empty() || s.sendMode);
        add("program", s.programFile);
        add("R" + std::to_string(s.recordCount), s.recordCount >= 0);
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
    const Row shortRows[] = {{"+P0", 0, ""},     {"+P20", 0, "P21"},   {"+P21", 9, ""},
                             {"+B57600", 9, ""}, {"+T0", 0, "T32500"}, {"+T90", 0, "T30"},
                             {"+T45", 9, ""},    {"+F", 9, ""},        {"+FOO", 4, ""}};
    const Row rows[] = {{"A: +P1", 0, "P2 in A:"},          {"+IRD2147483647", 0, "IRD2147483647"},
                        {"+IRD10.5", 0, "IRD10"},           {"+P2    +B9600   ", 0, "P3 B9600"},
                        {"+PO +D7 +S2 +PN +D8 +S1", 0, ""}, {"+PE +D7 +S2", 0, "E72"},
                        {"+F10,5,20", 0, "F3/35"},          {"-PB -SN", 0, "-PB -SN"},
                        {"-PB +PB -SN +SN", 0, ""},         {"+P3 +B4800 +XYZ +P9", 9, "P4 B4800"}};
    Expect(shortRows);
    Expect(rows);
    EXPECT_EQ(state.currentOption + "|" + state.commandLine, "+XYZ|+XYZ +P9");  // from the fault
    EXPECT_EQ(state.resultCode, 9);
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

}  // namespace
}  // namespace quenlo
