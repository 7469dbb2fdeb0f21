// The heading that announces a file to the handheld, the records read from it line by line, and
// the packed record layout of +CMP.
#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <tuple>
#include <vector>

#include "engine/runtime_error.h"
#include "files/file_open.h"
#include "link/control_chars.h"
#include "send/heading_block.h"
#include "send/record_reader.h"
#include "support/fake_host.h"
#include "support/temp_dir.h"

namespace quenlo {
namespace {

// A text of the given character codes.
std::string Chars(std::initializer_list<int> codes) {
    std::string text;
    for (const int code : codes) {
        text.push_back(static_cast<char>(code));
    }
    return text;
}

// The check character worked out independently of the framing code.
char Bcc(const std::string& body) {
    unsigned code = 0;
    for (const char c : body) {
        code ^= static_cast<unsigned char>(c);
    }
    return static_cast<char>(code);
}

class HeadingRecordTest : public ::testing::Test {
  protected:
    void ProgramFile(const std::string& name, std::int16_t recordLength) {
        state.fileName = name;
        state.programFile = true;
        state.recordLength = recordLength;
    }
    void DataFile(const std::string& name, const std::vector<int>& widths) {
        state.fileName = name;
        state.programFile = false;
        state.fieldCount = static_cast<std::int16_t>(widths.size());
        int total = 0;
        for (std::size_t i = 0; i < widths.size(); ++i) {
            state.fieldLengths[i + 1] = std::to_string(widths[i]);
            total += widths[i];
        }
        state.recordLength = static_cast<std::int16_t>(total);
    }
    // Writes the file, opens it as the file being sent, and expects these records from it in
    // blocks without sequence digits and check character: STX, record, ETX.
    void ExpectRecords(const std::string& content, const std::vector<std::string>& records) {
        state.bccEnabled = false;
        state.seqEnabled = false;
        Open(content);
        for (const std::string& record : records) {
            EXPECT_EQ(GetNextRecord(state), Plain(record)) << "record " << record;
        }
    }
    void Open(const std::string& content) {
        dir.Write(state.fileName, content);
        ASSERT_EQ(OpenFile(state, dir.enginePath(), state.fileName, FileNumber::kSend, "I"), 0);
    }
    static std::string Plain(const std::string& record) { return chSTX + record + chETX; }

    testing::FakeHost host;
    RunState state{host};
    testing::TempDir dir;
};

TEST_F(HeadingRecordTest, HeadingText) {
    // Name, program file, records, field widths (which a program file ignores), heading text.
    const std::tuple<const char*, bool, std::int16_t, std::vector<int>, std::string> rows[] = {
        {"PROG.PD3", true, 200, {10, 5}, "PROG.PD3    00200"},
        {"EMPTY.PD3", true, 0, {}, "EMPTY.PD3   00000"},
        {"EMPTY.PD3", true, 7, {}, "EMPTY.PD3   00007"},
        {"ABCDEFGH.PD3", true, 1, {}, "ABCDEFGH.PD300001"},  // 12: no blank before the count
        {"ABCDEFGHIJKLMN.PD3", true, 1, {}, "ABCDEFGHIJKL00001"},
        {"A.PD3", true, 1, {}, "A.PD3       00001"},
        {"DATA.TXT", false, 12, {10, 5}, "DATA.TXT    00012021005"},
        {"WIDE.DAT",
         false,
         32767,
         {1, 99, 7, 10, 2, 3, 4, 5, 6, 8, 9, 11, 20, 45, 50, 98},
         "WIDE.DAT    327671601990710020304050608091120455098"},
    };
    for (const auto& [name, program, records, widths, text] : rows) {
        DataFile(name, widths);
        state.programFile = program;
        state.recordCount = records;
        EXPECT_EQ(HeadingText(state), text) << name;
    }
}

TEST_F(HeadingRecordTest, SetHeaderFramesTheHeadingText) {
    ProgramFile("PROG.PD3", 128);
    state.recordCount = 200;
    state.blockSeqText = "00001";  // never on a heading
    const std::string text = "PROG.PD3    00200";
    SetHeader(state);
    EXPECT_EQ(state.headerBlock, chSOH + text + chETX + Bcc(text + chETX));
    state.bccEnabled = false;
    SetHeader(state);
    EXPECT_EQ(state.headerBlock, chSOH + text + chETX);
    // With the check character on, AddBcc names itself last.
    EXPECT_EQ(state.currentProcedure, "SetHeader");
}

// Records: cutting and filling.

TEST_F(HeadingRecordTest, ProgramFileLinesCutAndFilledWithZeros) {
    ProgramFile("PROG.PD3", 128);
    ExpectRecords(std::string(200, 'L') + "\r\nABC\r\n\r\n" + std::string(128, 'X') + "\r\n" +
                      std::string(129, 'Y') + "\r\n",
                  {std::string(128, 'L'), "ABC" + std::string(125, '0'), std::string(128, '0'),
                   std::string(128, 'X'), std::string(128, 'Y')});
    EXPECT_EQ(state.currentProcedure, "GetNextRecord");
}

TEST_F(HeadingRecordTest, DataFileLinesCutAndFilledWithBlanks) {
    DataFile("DATA.TXT", {10, 5});
    ExpectRecords("ABCDEFGHIJKLMNOPQRST\r\nXY\r\n\r\n LEAD TRAIL  \r\nABCDEFGHIJKLMNOP\r\n",
                  {"ABCDEFGHIJKLMNO", "XY" + std::string(13, ' '), std::string(15, ' '),
                   " LEAD TRAIL    ", "ABCDEFGHIJKLMNO"});
}

TEST_F(HeadingRecordTest, ReadingPastTheLastLineIsRuntimeError62) {
    DataFile("ONE.TXT", {3});
    ExpectRecords("ABC\r\n", {"ABC"});
    state.currentProcedure.clear();
    try {
        GetNextRecord(state);
        ADD_FAILURE() << "no error past the end of the file";
    } catch (const RuntimeError& e) {
        EXPECT_EQ(e.number(), 62);
    }
    // The error is reported under this procedure's name.
    EXPECT_EQ(state.currentProcedure, "GetNextRecord");
}

// Records: block number and framing.

TEST_F(HeadingRecordTest, BlockNumberFollowsBlockSeqAtEachCall) {
    DataFile("DATA.TXT", {2});
    Open("AA\r\nBB\r\nCC\r\nDD\r\n");

    state.blockSeq = 123;
    const std::string body = "00123AA" + std::string(1, chETX);
    EXPECT_EQ(GetNextRecord(state), chSTX + body + Bcc(body));
    EXPECT_EQ(state.blockSeqText, "00123");

    state.bccEnabled = false;
    state.blockSeq = 32768;  // one past the largest record count
    EXPECT_EQ(GetNextRecord(state), chSTX + std::string("32768BB") + chETX);
    EXPECT_EQ(state.blockSeqText, "32768");

    // Without sequence digits on the line the number is still kept for the window.
    state.seqEnabled = false;
    state.blockSeq = 7;
    EXPECT_EQ(GetNextRecord(state), Plain("CC"));
    EXPECT_EQ(state.blockSeqText, "00007");
}

TEST_F(HeadingRecordTest, PackDigitsTwoToACharacterAndNothingButDigits) {
    EXPECT_EQ(PackDigits("1234"), Chars({112, 134}));
    EXPECT_EQ(PackDigits("123"), Chars({101, 123}));
    EXPECT_EQ(PackDigits("5"), Chars({105}));
    EXPECT_EQ(PackDigits("00"), Chars({100}));
    EXPECT_EQ(PackDigits("9999"), Chars({199, 199}));
    EXPECT_EQ(PackDigits(""), "");
    // "/" and ":" are the neighbours of "0" and "9"; "\xB2" is a superscript two.
    for (const char* bad : {"12a", "a12", " 12", "-1", "1.5", "/", ":", "\xB2"}) {
        EXPECT_EQ(PackDigits(bad), "ERROR") << bad;
    }
}

// Packed records (+CMP).

// A 42-character line: 1-18 digits field, 19-34 text, 35-39 digits, 40 skipped, 41-42 digits.
std::string CmpLine(const std::string& head, const std::string& digits5, char skipped,
                    const std::string& digits2) {
    std::string line = head;
    line.resize(18, ' ');
    line += "ABCDEFGHIJKLMNOP";
    return line + digits5 + skipped + digits2;
}

TEST_F(HeadingRecordTest, PackedRecordLayout) {
    // 9 characters of packed digits filled with blanks, 16 as they are, 4 packed from 35-42.
    const std::string text = "ABCDEFGHIJKLMNOP";
    const std::string blanks(8, ' ');
    const std::string zeros = Chars({100, 100, 100, 100});
    const std::pair<std::string, std::string> rows[] = {
        {CmpLine("  123456", "12345", 'X', "67"),
         Chars({112, 134, 156}) + "      " + text + Chars({101, 123, 145, 167})},
        // Character 40 and everything after 42 are left out.
        {CmpLine("1", "00000", 'Y', "00") + "TRAILING TEXT", Chars({101}) + blanks + text + zeros},
        // 18 digits pack to exactly the 9 characters.
        {CmpLine("123456789012345678", "00000", ' ', "00"),
         Chars({112, 134, 156, 178, 190, 112, 134, 156, 178}) + text + zeros},
        {CmpLine("", "00000", ' ', "00"), std::string(9, ' ') + text + zeros},
        {CmpLine("  12A4", "12345", ' ', "67"), "ERROR    " + text + Chars({101, 123, 145, 167})},
        {CmpLine("12", "12 45", ' ', "67"), Chars({112}) + blanks + text + "ERRO"},
        {CmpLine("12", "12345", ' ', "6B"),
         Chars({112}) + blanks + text + Chars({101, 123, 145}) + "E"},
        // Nothing from 35 on: "0" alone packs to one character, the last field to nothing.
        {"12" + std::string(32, ' '), Chars({112}) + blanks + std::string(16, ' ') + Chars({100})},
    };
    for (const auto& [line, packed] : rows) {
        EXPECT_EQ(PackRecord(line), packed) << line;
    }
}

TEST_F(HeadingRecordTest, GetNextRecordSendsThePackedRecord) {
    DataFile("CMP.TXT", {18, 16, 5, 1, 2});
    ASSERT_EQ(state.recordLength, 42);
    state.cmpMode = true;
    // The second line is longer than the record: not cut first, the packing drops the rest. The
    // third is filled with blanks to 42 first, so its last digit fields pack to "ERROR".
    ExpectRecords(
        CmpLine("  123456", "12345", 'X', "67") + "\r\n" + CmpLine("99", "00001", 'X', "02") +
            "MORE\r\n  42\r\n",
        {Chars({112, 134, 156}) + "      ABCDEFGHIJKLMNOP" + Chars({101, 123, 145, 167}),
         Chars({199}) + std::string(8, ' ') + "ABCDEFGHIJKLMNOP" + Chars({100, 100, 101, 102}),
         Chars({142}) + std::string(8, ' ') + std::string(16, ' ') + "ERRO"});
}

}  // namespace
}  // namespace quenlo
