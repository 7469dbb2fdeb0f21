// The option line: each option, refusals, the file to send and the checks run once the line is
// read; and the numbers typed into it, read, rounded half to even and stored with their overflow.
#include "run/options.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <optional>
#include <span>
#include <string>
#include <tuple>

#include "base/number_text.h"
#include "base/runtime_error.h"
#include "base/text.h"
#include "support/fake_host.h"
#include "support/temp_dir.h"

namespace quenlo {
namespace {

// An option line ("@" stands for the test directory, "^" for it in upper case), its result and
// what it changed.
using Row = std::tuple<const char*, ResultCode, const char*>;

class CheckCommandTest : public ::testing::Test {
  protected:
    ResultCode Parse(std::string line) {
        for (const auto& [mark, path] : {std::pair{'@', here}, {'^', UpperCase(here)}}) {
            for (auto at = line.find(mark); at != std::string::npos; at = line.find(mark)) {
                line.replace(at, 1, path);
            }
        }
        SetDefaults(state);
        state.recordCount = -1;  // not a setting: shows whether the file was counted
        state.commandLine = line;
        return CheckCommand(state);
    }
    // What the line changed from the defaults (port 1, 19200 N81, BCC and sequence on, 30 s, no
    // delay, fields or mode, nothing to send), as tokens: "P5 B300 F0/128 send @PROG.PD3 R3".
    std::string Changed() const {
        const RunState& s = state;
        std::string text;
        const auto add = [&text](bool changed, const std::string& token) {
            text += changed ? (text.empty() ? "" : " ") + token : "";
        };
        const std::string frame = s.parity + s.dataBits + s.stopBits;
        const std::string path = UpperCase(s.filePath) == UpperCase(here) ? "@" : s.filePath;
        add(s.portNumber != 1, "P" + std::to_string(s.portNumber));
        add(s.baudRate != "19200", "B" + s.baudRate);
        add(frame != "N81", frame);
        add(!s.bccEnabled, "-PB");
        add(!s.seqEnabled, "-SN");
        add(s.timeoutCount != 10, "T" + std::to_string(s.timeoutCount));
        add(s.irDelay != 0, "IRD" + std::to_string(s.irDelay));
        add(s.fieldCount != 0 || s.recordLength != 0,
            "F" + std::to_string(s.fieldCount) + "/" + std::to_string(s.recordLength));
        for (const char* mode :
             {s.exMode ? "EX" : "", s.ewMode ? "EW" : "", s.irdaMode ? "IR" : "",
              s.ddeMode ? "DDE" : "", s.appendMode ? "APP" : "", s.rsgMode ? "RSG" : "",
              s.cmpMode ? "CMP" : "", s.rxonMode ? "RXON" : "", s.ymodemMode ? "YMOD" : ""}) {
            add(*mode != '\0', mode);
        }
        add(!s.filePath.empty() || s.sendMode, (s.sendMode ? "send " : "in ") + path + s.fileName);
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

TEST_F(CheckCommandTest, OptionsKnownAnswers) {
    // Short rows, then longer ones (kept apart so that the tables stay compact).
    const Row shortRows[] = {
        {"", 0, ""},        {"X", 0, ""},         {" ", 0, ""},         {"+P0", 0, ""},
        {"+P4", 0, "P5"},   {"+P20", 0, "P21"},   {"+P21", 9, ""},      {"+P00", 9, ""},
        {"+P-1", 9, ""},    {"+B57600", 9, ""},   {"+PX", 9, ""},       {"+D6", 9, ""},
        {"+S3", 9, ""},     {"+T0", 0, "T32500"}, {"+T30", 0, ""},      {"+T60", 0, "T20"},
        {"+T90", 0, "T30"}, {"+T120", 0, "T40"},  {"+T45", 9, ""},      {"+IRD", 0, ""},
        {"+IRDX", 0, ""},   {"+IRD5", 0, "IRD5"}, {"+FOO", 4, ""},      {"+F", 9, ""},
        {"+p0", 9, ""},     {"+ymod", 9, ""},     {"+B300", 0, "B300"}, {"+B600", 0, "B600"},
        {"+B19200", 0, ""}};
    const Row longerRows[] = {
        {"+PE +D7 +S2", 0, "E72"},  {"+PO +D8 +S1", 0, "O81"},          {"-PB -SN", 0, "-PB -SN"},
        {"-PB +PB -SN +SN", 0, ""}, {"+IRD10.5", 0, "IRD10"},           {"+IRD11.5", 0, "IRD12"},
        {"+IRD-40", 0, "IRD-40"},   {"+F10,5,20", 0, "F3/35"},          {"A: +P1", 0, "P2 in A:"},
        {"+B1200", 0, "B1200"},     {"C:\\DATA\\", 0, "in C:\\DATA\\"}, {"+B115200", 0, "B115200"}};
    const Row longRows[] = {
        {"+P2    +B9600   ", 0, "P3 B9600"},
        {"+IRD2147483647", 0, "IRD2147483647"},
        {"+B9600 +P3 +B300 +T60 +P7 +T120", 0, "P8 B300 T40"},
        {"+P3 +B4800 +XYZ +P9", 9, "P4 B4800"},
        {"+EX +EW +IR +DDE +APP +RSG +CMP +RXON +YMOD", 0, "EX EW IR DDE APP RSG CMP RXON YMOD"},
        {"+B38400 +B2400 +B4800", 0, "B4800"}};
    Expect(shortRows);
    Expect(longerRows);
    Expect(longRows);
}

TEST_F(CheckCommandTest, FileToSendKnownAnswers) {
    dir.Write("PROG.PD3", "A\r\nB\r\nC\nD\rE");
    dir.Write("APP.PD4", "A\r\nB\r\nC\r\n");
    dir.Write("lower.pd3", "X\r\n");
    dir.Write("DATA.TXT", "A\r\nB\r\n");
    dir.Write("FIELDS.TXT", "A\r\n");
    dir.Write("FIELDS.FLD", "file FIELDS.TXT\r\nfields 7 8 9\r\n");
    // The last file argument wins and an earlier YMODEM stays on. "MY DIR\PROG.PD3" is cut at the
    // blank: "MY" names a data file, then "DIR\PROG.PD3" one in a missing directory.
    const Row rows[] = {
        {"@PROG.PD3 +P0 +B115200 +PN +D8 +S1 +T30 +PB +SN ", 0,
         "B115200 F0/128 send @PROG.PD3 program R5"},
        {"+P2 @APP.PD4 +B9600 @PROG.PD3", 0, "P3 B9600 F0/128 YMOD send @PROG.PD3 program R5"},
        {"@APP.PD4", 0, "F0/1024 YMOD send @APP.PD4 program R3"},
        {"^LOWER.PD3", 0, "F0/128 send @LOWER.PD3 program R1"},
        {"@NONE.PD3", 1, "F0/128 send @NONE.PD3 program"},
        {"@PROG.PD3 +F10", 7, "F1/10 send @PROG.PD3 program R5"},
        {"@DATA.TXT", 8, "send @DATA.TXT R2"},
        {"@DATA.TXT +F10,5", 0, "F2/15 send @DATA.TXT R2"},
        {"@FIELDS.TXT", 0, "F3/24 send @FIELDS.TXT R1"},
        {"MY DIR\\PROG.PD3", 71, "F0/128 send DIR\\PROG.PD3 program"},
        {"/dev/null", 70, "send /dev/null"}};  // not a regular file
    Expect(rows);
}

TEST_F(CheckCommandTest, FailureKeepsTheFailingTokenAndWhatFollows) {
    EXPECT_EQ(Parse("+P3 +B4800 +XYZ +P9"), 9);
    EXPECT_EQ(state.commandLine, "+XYZ +P9");
    EXPECT_EQ(state.currentOption, "+XYZ");
    EXPECT_EQ(state.resultCode, 9);
    try {
        Parse("+IRD2147483648");
        ADD_FAILURE() << "no run-time error";
    } catch (const RuntimeError& e) {
        EXPECT_EQ(e.number(), 6);
    }
    EXPECT_EQ(state.currentProcedure, "CheckCommand");
}

TEST(NumberTextTest, LeadingNumberKnownAnswers) {
    // Blanks anywhere are skipped; reading stops where the number cannot go on; none gives 0.
    const std::pair<const char*, double> rows[] = {
        {"", 0},        {"   ", 0},    {"X", 0},      {"-", 0},        {".", 0},     {"+-5", 0},
        {"--5", 0},     {"abc10", 0},  {"-0", 0},     {"7", 7},        {"007", 7},   {"250", 250},
        {"10.5", 10.5}, {".5", 0.5},   {"5.", 5},     {"-40", -40},    {"+40", 40},  {"1 2 3", 123},
        {"   42", 42},  {"42   ", 42}, {"- 5", -5},   {"10abc", 10},   {"10,5", 10}, {"1.5.5", 1.5},
        {"12-3", 12},   {"3+4", 3},    {"1 2x3", 12}, {"  -2.5", -2.5}};
    for (const auto& [text, value] : rows) {
        EXPECT_EQ(LeadingNumber(text), value) << text;
    }
    EXPECT_EQ(LeadingNumber("1 0 . 2 5"), 10.25);
    // Huge numbers are read, not clipped.
    const std::string nines(400, '9');
    EXPECT_EQ(LeadingNumber("12345678901234567890"), 12345678901234567890.0);
    EXPECT_EQ(LeadingNumber(nines), std::numeric_limits<double>::infinity());
    EXPECT_EQ(LeadingNumber("-" + nines), -std::numeric_limits<double>::infinity());
}

TEST(NumberTextTest, RoundingHalfToEvenKnownAnswers) {
    const std::pair<double, double> rows[] = {
        {10.5, 10}, {11.5, 12}, {0.5, 0},   {1.5, 2},   {2.5, 2},     {-0.5, 0},    {-1.5, -2},
        {-2.5, -2}, {-3.5, -4}, {10.4, 10}, {10.6, 11}, {-10.4, -10}, {-10.6, -11}, {-7, -7}};
    for (const auto& [value, rounded] : rows) {
        EXPECT_EQ(RoundHalfEven(value), rounded) << value;
    }
    EXPECT_EQ(RoundHalfEven(2.5000000000000004), 3);
    EXPECT_EQ(RoundHalfEven(0.49999999999999994), 0);
    EXPECT_EQ(RoundHalfEven(4503599627370497.0), 4503599627370497.0);
    EXPECT_TRUE(std::isinf(RoundHalfEven(std::numeric_limits<double>::infinity())));
    EXPECT_TRUE(std::isnan(RoundHalfEven(std::numeric_limits<double>::quiet_NaN())));
}

TEST(NumberTextTest, StoringIn32And16BitsKnownAnswers) {
    // The value stored, or nothing for the run-time error 6 "Overflow".
    using Rows = std::span<const std::pair<double, std::optional<long long>>>;
    const auto expect = [](Rows rows, auto store) {
        for (const auto& [value, stored] : rows) {
            std::optional<long long> got;
            try {
                got = store(value);
            } catch (const RuntimeError& e) {
                EXPECT_STREQ(e.what(), "6: Overflow") << value;
            }
            EXPECT_EQ(got, stored) << value;
        }
    };
    const std::optional<long long> no;
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const std::pair<double, std::optional<long long>> rows32[] = {
        {250, 250},         {10.5, 10},          {11.5, 12},          {-2.5, -2},
        {2147483648.0, no}, {2147483647.5, no},  {1e300, no},         {inf, no},
        {-inf, no},         {-2147483649.0, no}, {-2147483649.5, no}, {nan, no}};
    const std::pair<double, std::optional<long long>> rows16[] = {
        {99, 99},           {0.5, 0},    {32767.4, 32767}, {32766.5, 32766}, {32767.5, no},
        {-32768.5, -32768}, {32768, no}, {-32768.6, no},   {-32769.5, no}};
    expect(rows32, [](double value) { return ToInt32Rounded(value); });
    expect(rows16, [](double value) { return ToInt16Rounded(value); });
    EXPECT_EQ(ToInt32Rounded(2147483647.4), 2147483647);
    EXPECT_EQ(ToInt32Rounded(2147483646.5), 2147483646);
    EXPECT_EQ(ToInt32Rounded(-2147483648.5), -2147483648LL);  // the even neighbour is the lowest
}

}  // namespace
}  // namespace quenlo
