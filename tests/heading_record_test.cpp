// The heading that announces a file to the handheld, the records read from it line by line, and
// the packed record layout of +CMP.
#include <gtest/gtest.h>

#include <initializer_list>
#include <string>

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
    void DataFile(const std::string& name, std::initializer_list<int> widths) {
        state.fileName = name;
        state.programFile = false;
        state.fieldCount = static_cast<std::int16_t>(widths.size());
        int i = 1;
        int total = 0;
        for (const int width : widths) {
            state.fieldLengths[static_cast<std::size_t>(i++)] = std::to_string(width);
            total += width;
        }
        state.recordLength = static_cast<std::int16_t>(total);
    }
    // Writes the file and opens it as the file being sent.
    void Open(const std::string& content) {
        dir.Write(state.fileName, content);
        ASSERT_EQ(OpenFile(state, dir.enginePath(), state.fileName, FileNumber::kSend, "I"), 0);
    }
    // Blocks without sequence digits and check character: STX, record, ETX.
    void PlainBlocks() {
        state.bccEnabled = false;
        state.seqEnabled = false;
    }
    static std::string Plain(const std::string& record) { return chSTX + record + chETX; }

    testing::FakeHost host;
    RunState state{host};
    testing::TempDir dir;
};

// Heading text and heading block.

TEST_F(HeadingRecordTest, ProgramFileHeading) {
    ProgramFile("PROG.PD3", 128);
    state.recordCount = 200;
    const std::string text = "PROG.PD3    00200";
    EXPECT_EQ(HeadingText(state), text);
    EXPECT_EQ(text.size(), 17u);

    SetHeader(state);
    EXPECT_EQ(state.headerBlock, chSOH + text + chETX + Bcc(text + chETX));
}

TEST_F(HeadingRecordTest, ProgramFileIgnoresFieldDefinitions) {
    ProgramFile("PROG.PD3", 128);
    state.recordCount = 200;
    state.fieldCount = 2;
    state.fieldLengths[1] = "10";
    state.fieldLengths[2] = "5";
    EXPECT_EQ(HeadingText(state), "PROG.PD3    00200");
}

TEST_F(HeadingRecordTest, DataFileHeading) {
    DataFile("DATA.TXT", {10, 5});
    state.recordCount = 12;
    const std::string text =
        "DATA.TXT    000120210"
        "05";
    EXPECT_EQ(HeadingText(state), text);
    EXPECT_EQ(text.size(), 23u);

    state.bccEnabled = false;
    SetHeader(state);
    EXPECT_EQ(state.headerBlock, chSOH + text + chETX);
    // With the check character on, AddBcc names itself last.
    EXPECT_EQ(state.currentProcedure, "SetHeader");
}

TEST_F(HeadingRecordTest, HeadingBlockHasNoSequenceDigits) {
    DataFile("DATA.TXT", {10, 5});
    state.recordCount = 12;
    state.seqEnabled = true;
    state.blockSeqText = "00001";
    SetHeader(state);
    ASSERT_EQ(state.headerBlock.size(), 1u + 23u + 2u);
    EXPECT_EQ(state.headerBlock.substr(1, 12), "DATA.TXT    ");
}

TEST_F(HeadingRecordTest, SixteenFieldsOfEveryWidthForm) {
    DataFile("WIDE.DAT", {1, 99, 7, 10, 2, 3, 4, 5, 6, 8, 9, 11, 20, 45, 50, 98});
    state.recordCount = 32767;
    const std::string text = HeadingText(state);
    EXPECT_EQ(text.size(), 19u + 2u * 16u);
    EXPECT_EQ(text,
              "WIDE.DAT    32767"
              "16"
              "01990710020304050608091120455098");
}

TEST_F(HeadingRecordTest, RecordCountAlwaysFiveDigits) {
    ProgramFile("EMPTY.PD3", 128);
    state.recordCount = 0;
    EXPECT_EQ(HeadingText(state), "EMPTY.PD3   00000");
    state.recordCount = 7;
    EXPECT_EQ(HeadingText(state), "EMPTY.PD3   00007");
}

TEST_F(HeadingRecordTest, NameFieldIsTwelveCharacters) {
    ProgramFile("ABCDEFGH.PD3", 128);  // exactly 12: no blank before the count
    state.recordCount = 1;
    EXPECT_EQ(HeadingText(state), "ABCDEFGH.PD300001");

    ProgramFile("ABCDEFGHIJKLMN.PD3", 128);
    EXPECT_EQ(HeadingText(state), "ABCDEFGHIJKL00001");

    ProgramFile("A.PD3", 128);
    EXPECT_EQ(HeadingText(state), "A.PD3       00001");
}

// Records: cutting and filling.

TEST_F(HeadingRecordTest, ProgramFileLinesCutAndFilledWithZeros) {
    ProgramFile("PROG.PD3", 128);
    PlainBlocks();
    const std::string longLine(200, 'L');
    Open(longLine + "\r\n" + "ABC\r\n" + "\r\n" + std::string(128, 'X') + "\r\n" +
         std::string(129, 'Y') + "\r\n");

    EXPECT_EQ(GetNextRecord(state), Plain(std::string(128, 'L')));
    EXPECT_EQ(GetNextRecord(state), Plain("ABC" + std::string(125, '0')));
    EXPECT_EQ(GetNextRecord(state), Plain(std::string(128, '0')));
    EXPECT_EQ(GetNextRecord(state), Plain(std::string(128, 'X')));
    EXPECT_EQ(GetNextRecord(state), Plain(std::string(128, 'Y')));
    EXPECT_EQ(state.currentProcedure, "GetNextRecord");
}

TEST_F(HeadingRecordTest, DataFileLinesCutAndFilledWithBlanks) {
    DataFile("DATA.TXT", {10, 5});
    PlainBlocks();
    Open(
        "ABCDEFGHIJKLMNOPQRST\r\n"
        "XY\r\n"
        "\r\n"
        " LEAD TRAIL  \r\n"
        "ABCDEFGHIJKLMNOP\r\n");

    EXPECT_EQ(GetNextRecord(state), Plain("ABCDEFGHIJKLMNO"));
    EXPECT_EQ(GetNextRecord(state), Plain("XY" + std::string(13, ' ')));
    EXPECT_EQ(GetNextRecord(state), Plain(std::string(15, ' ')));
    EXPECT_EQ(GetNextRecord(state), Plain(" LEAD TRAIL    "));
    EXPECT_EQ(GetNextRecord(state), Plain("ABCDEFGHIJKLMNO"));
}

TEST_F(HeadingRecordTest, EveryKindOfLineEndSeparatesRecords) {
    DataFile("ENDS.TXT", {4});
    PlainBlocks();
    // The counting of records before the transfer sees the same six lines.
    Open("ONE\rTWO\r\nTHREE\n\r\nFOUR\rFIVE");
    EXPECT_EQ(GetNextRecord(state), Plain("ONE "));
    EXPECT_EQ(GetNextRecord(state), Plain("TWO "));
    EXPECT_EQ(GetNextRecord(state), Plain("THRE"));
    EXPECT_EQ(GetNextRecord(state), Plain("    "));
    EXPECT_EQ(GetNextRecord(state), Plain("FOUR"));
    EXPECT_EQ(GetNextRecord(state), Plain("FIVE"));
}

TEST_F(HeadingRecordTest, BytesAboveSevenBitsPassUnchanged) {
    DataFile("LATIN.TXT", {6});
    PlainBlocks();
    Open("\xE9t\xE9\xFF\x80\r\n");
    EXPECT_EQ(GetNextRecord(state), Plain("\xE9t\xE9\xFF\x80 "));
}

TEST_F(HeadingRecordTest, ReadingPastTheLastLineIsRuntimeError62) {
    DataFile("ONE.TXT", {3});
    PlainBlocks();
    Open("ABC\r\n");
    EXPECT_EQ(GetNextRecord(state), Plain("ABC"));
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

TEST_F(HeadingRecordTest, FirstBlockIsNumberedFromBlockSeq) {
    ProgramFile("PROG.PD3", 128);
    Open("A\r\nB\r\n");
    EXPECT_EQ(state.blockSeqText, "00000");
    state.blockSeq = 1;

    const std::string body = "00001A" + std::string(127, '0') + chETX;
    const std::string block = GetNextRecord(state);
    EXPECT_EQ(block, chSTX + body + Bcc(body));
    EXPECT_EQ(block.size(), 128u + 8u);
    EXPECT_EQ(state.blockSeqText, "00001");
}

TEST_F(HeadingRecordTest, BlockNumberFollowsBlockSeqAtEachCall) {
    DataFile("DATA.TXT", {2});
    state.bccEnabled = false;
    Open("AA\r\nBB\r\nCC\r\nDD\r\n");

    state.blockSeq = 123;
    EXPECT_EQ(GetNextRecord(state), chSTX + std::string("00123AA") + chETX);
    EXPECT_EQ(state.blockSeqText, "00123");

    state.blockSeq = 32768;  // one past the largest record count
    EXPECT_EQ(GetNextRecord(state), chSTX + std::string("32768BB") + chETX);
    EXPECT_EQ(state.blockSeqText, "32768");

    // Without sequence digits on the line the number is still kept for the window.
    state.seqEnabled = false;
    state.blockSeq = 7;
    EXPECT_EQ(GetNextRecord(state), Plain("CC"));
    EXPECT_EQ(state.blockSeqText, "00007");
}

// PackDigits.

TEST_F(HeadingRecordTest, PackDigitsTwoToACharacter) {
    EXPECT_EQ(PackDigits("1234"), Chars({112, 134}));
    EXPECT_EQ(PackDigits("123"), Chars({101, 123}));
    EXPECT_EQ(PackDigits("5"), Chars({105}));
    EXPECT_EQ(PackDigits("00"), Chars({100}));
    EXPECT_EQ(PackDigits("9999"), Chars({199, 199}));
    EXPECT_EQ(PackDigits(""), "");
}

TEST_F(HeadingRecordTest, PackDigitsRefusesAnythingButDigits) {
    EXPECT_EQ(PackDigits("12a"), "ERROR");
    EXPECT_EQ(PackDigits("a12"), "ERROR");
    EXPECT_EQ(PackDigits(" 12"), "ERROR");
    EXPECT_EQ(PackDigits("-1"), "ERROR");
    EXPECT_EQ(PackDigits("1.5"), "ERROR");
    EXPECT_EQ(PackDigits("/"), "ERROR");  // the neighbours of "0" and "9"
    EXPECT_EQ(PackDigits(":"), "ERROR");
    EXPECT_EQ(PackDigits("\xB2"), "ERROR");  // superscript two
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
    const std::string line = CmpLine("  123456", "12345", 'X', "67");
    ASSERT_EQ(line.size(), 42u);
    const std::string packed = PackRecord(line);
    ASSERT_EQ(packed.size(), 29u);
    EXPECT_EQ(packed.substr(0, 9), Chars({112, 134, 156}) + "      ");
    EXPECT_EQ(packed.substr(9, 16), "ABCDEFGHIJKLMNOP");
    EXPECT_EQ(packed.substr(25), Chars({101, 123, 145, 167}));
}

TEST_F(HeadingRecordTest, PackedRecordSkipsCharacterFortyAndTheRest) {
    const std::string packed = PackRecord(CmpLine("1", "00000", 'X', "00"));
    EXPECT_EQ(PackRecord(CmpLine("1", "00000", 'Y', "00") + "TRAILING TEXT"), packed);
    EXPECT_EQ(packed.substr(0, 9), Chars({101}) + std::string(8, ' '));
    EXPECT_EQ(packed.substr(25), Chars({100, 100, 100, 100}));
}

TEST_F(HeadingRecordTest, PackedDigitsFieldLongerThanNineIsCut) {
    // 18 digits pack to 9 characters: exactly the width, nothing cut.
    const std::string packed = PackRecord(CmpLine("123456789012345678", "00000", ' ', "00"));
    EXPECT_EQ(packed.substr(0, 9), Chars({112, 134, 156, 178, 190, 112, 134, 156, 178}));
    EXPECT_EQ(packed.size(), 29u);
}

TEST_F(HeadingRecordTest, PackedRecordWithNonDigits) {
    std::string packed = PackRecord(CmpLine("  12A4", "12345", ' ', "67"));
    EXPECT_EQ(packed.substr(0, 9), "ERROR    ");
    EXPECT_EQ(packed.size(), 29u);

    packed = PackRecord(CmpLine("12", "12 45", ' ', "67"));
    EXPECT_EQ(packed.substr(25), "ERRO");

    packed = PackRecord(CmpLine("12", "12345", ' ', "6B"));
    EXPECT_EQ(packed.substr(25), Chars({101, 123, 145}) + "E");
}

TEST_F(HeadingRecordTest, PackedRecordOfBlankDigitsField) {
    const std::string packed = PackRecord(CmpLine("", "00000", ' ', "00"));
    EXPECT_EQ(packed.substr(0, 9), std::string(9, ' '));
}

TEST_F(HeadingRecordTest, PackedRecordOfShortLineLeavesMissingPartsOut) {
    // Nothing from 35 on: "0" alone packs to one character, the last field to nothing.
    const std::string packed = PackRecord(std::string("12") + std::string(32, ' '));
    EXPECT_EQ(packed, Chars({112}) + std::string(8, ' ') + std::string(16, ' ') + Chars({100}));
}

TEST_F(HeadingRecordTest, GetNextRecordSendsThePackedRecord) {
    DataFile("CMP.TXT", {18, 16, 5, 1, 2});
    ASSERT_EQ(state.recordLength, 42);
    state.cmpMode = true;
    PlainBlocks();
    // The second line is longer than the record: not cut first, the packing drops the rest.
    Open(CmpLine("  123456", "12345", 'X', "67") + "\r\n" + CmpLine("99", "00001", 'X', "02") +
         "MORE\r\n");

    const std::string expected =
        Chars({112, 134, 156}) + "      " + "ABCDEFGHIJKLMNOP" + Chars({101, 123, 145, 167});
    std::string block = GetNextRecord(state);
    ASSERT_EQ(block.size(), 29u + 2u);
    EXPECT_EQ(block, Plain(expected));

    block = GetNextRecord(state);
    EXPECT_EQ(block, Plain(Chars({199}) + std::string(8, ' ') + "ABCDEFGHIJKLMNOP" +
                           Chars({100, 100, 101, 102})));
}

TEST_F(HeadingRecordTest, GetNextRecordFillsTheLineBeforePacking) {
    // Filled with blanks to 42, so the last digit fields hold blanks and pack to "ERROR".
    DataFile("CMP.TXT", {18, 16, 5, 1, 2});
    state.cmpMode = true;
    PlainBlocks();
    Open("  42\r\n");
    EXPECT_EQ(GetNextRecord(state),
              Plain(Chars({142}) + std::string(8, ' ') + std::string(16, ' ') + "ERRO"));
}

}  // namespace
}  // namespace quenlo
