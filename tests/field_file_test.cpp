// The field file read before a data file is sent, the field file written after one is received,
// and the line count of the file to send.
#include "files/field_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "files/field_definitions.h"
#include "support/fake_host.h"
#include "support/temp_dir.h"

namespace quenlo {
namespace {

namespace fs = std::filesystem;

using Texts = std::vector<std::string>;

Texts Widths(const RunState& state) {
    Texts widths;
    for (int i = 1; i <= state.fieldCount; ++i) {
        widths.push_back(state.fieldLengths[static_cast<std::size_t>(i)]);
    }
    return widths;
}

// The lines of a text, each with its CR LF cut off; a line without CR LF is returned as it is.
Texts CrLfLines(const std::string& text) {
    Texts lines;
    std::size_t start = 0;
    while (start < text.size()) {
        const auto end = text.find("\r\n", start);
        if (end == std::string::npos) {
            lines.push_back(text.substr(start));
            break;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

std::string Lines(int count, const std::string& line, const std::string& end) {
    std::string text;
    text.reserve(static_cast<std::size_t>(count) * (line.size() + end.size()));
    for (int i = 0; i < count; ++i) {
        text += line;
        text += end;
    }
    return text;
}

class FieldFileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        state.filePath = dir.enginePath();
        state.fileName = "DATA.TXT";
        state.fieldFileName = "DATA.FLD";
    }
    ResultCode Check(const std::string& fieldFile) {
        dir.Write("DATA.FLD", fieldFile);
        return CheckFieldFile(state);
    }

    testing::FakeHost host;
    RunState state{host};
    testing::TempDir dir;
};

TEST_F(FieldFileTest, FileAndFieldsLinesDefineTheFields) {
    EXPECT_EQ(Check("file    DATA.TXT\r\nfields  10 5 20\r\n"), 0);
    EXPECT_EQ(state.fieldCount, 3);
    EXPECT_EQ(state.recordLength, 35);
    EXPECT_EQ(Widths(state), (Texts{"10", "5", "20"}));
    EXPECT_FALSE(state.AnyFileOpen());
}

TEST_F(FieldFileTest, LinesInAnyOrderWithExtraLines) {
    EXPECT_EQ(Check("* comment\r\nfields 7,8\r\nrecords 3\r\nsize    33\r\n"
                    "date    01-02-2026 10:00:00\r\nfile DATA.TXT\r\n* end\r\n"),
              0);
    EXPECT_EQ(Widths(state), (Texts{"7", "8"}));
    EXPECT_FALSE(state.AnyFileOpen());
}

TEST_F(FieldFileTest, KeywordsInAnyCase) {
    EXPECT_EQ(Check("FILE DATA.TXT\r\nFIELDS 4\r\n"), 0);
    EXPECT_EQ(Widths(state), (Texts{"4"}));
    EXPECT_EQ(Check("File data.txt\r\nFiElDs 6;9\r\n"), 0);  // the name is upper-cased too
    EXPECT_EQ(Widths(state), (Texts{"6", "9"}));
}

TEST_F(FieldFileTest, BlanksBeforeTheWidthsAndAroundTheName) {
    EXPECT_EQ(Check("file DATA.TXT\r\nfields  10 5\r\n"), 0);
    EXPECT_EQ(Widths(state), (Texts{"10", "5"}));
    EXPECT_EQ(state.recordLength, 15);
    EXPECT_EQ(Check("file      DATA.TXT    \r\nfields 3\r\n"), 0);
}

TEST_F(FieldFileTest, TheLastFieldsLineStands) {
    EXPECT_EQ(Check("fields 10 5 20\r\nfile DATA.TXT\r\nfields 40\r\n"), 0);
    EXPECT_EQ(state.fieldCount, 1);
    EXPECT_EQ(state.recordLength, 40);
}

TEST_F(FieldFileTest, AnotherFilesNameIsRefusedEvenAfterValidFields) {
    EXPECT_EQ(Check("fields 10 5\r\nfile OTHER.TXT\r\n"), 8);
    EXPECT_EQ(state.fieldCount, 2);  // what the fields line defined stays
    EXPECT_FALSE(state.AnyFileOpen());
    EXPECT_EQ(Check("file OTHER.TXT\r\nfields 10 5\r\n"), 8);
    EXPECT_EQ(Check("file DATA.TXT\r\nfields 10\r\nfile DATA.TX\r\n"), 8);
    EXPECT_EQ(Check("file\r\nfields 10\r\n"), 8);
}

TEST_F(FieldFileTest, NameIsComparedExactly) {
    state.fileName = "data.txt";  // a received lower-case name never matches an upper-cased line
    EXPECT_EQ(Check("file data.txt\r\nfields 10\r\n"), 8);
}

TEST_F(FieldFileTest, MissingFileIsFieldLengthNotFound) {
    EXPECT_EQ(CheckFieldFile(state), 8);
    EXPECT_EQ(state.currentProcedure, "CheckFieldFile");
    state.filePath = dir.enginePath() + "NODIR/";
    EXPECT_EQ(CheckFieldFile(state), 8);
    EXPECT_FALSE(state.AnyFileOpen());
}

TEST_F(FieldFileTest, FieldFileFoundWhateverItsCase) {
    dir.Write("data.fld", "file DATA.TXT\r\nfields 12\r\n");
    EXPECT_EQ(CheckFieldFile(state), 0);
    EXPECT_EQ(state.recordLength, 12);
}

TEST_F(FieldFileTest, BothLinesAreNeeded) {
    EXPECT_EQ(Check("file DATA.TXT\r\n"), 8);
    EXPECT_EQ(state.currentProcedure, "CheckFieldFile");
    EXPECT_EQ(Check("fields 10 5\r\n"), 8);
    EXPECT_EQ(Check(""), 8);
    EXPECT_EQ(Check("* nothing here\r\n"), 8);
    // "fields" must be followed by a blank to count.
    EXPECT_EQ(Check("file DATA.TXT\r\nfields\r\n"), 8);
    EXPECT_EQ(Check("file DATA.TXT\r\nfields,10\r\n"), 8);
    EXPECT_FALSE(state.AnyFileOpen());
}

TEST_F(FieldFileTest, FaultyFieldsLineGivesItsOwnCode) {
    EXPECT_EQ(Check("file DATA.TXT\r\nfields 10 0 5\r\n"), 4);
    EXPECT_FALSE(state.AnyFileOpen());
    EXPECT_EQ(Check("fields 100\r\nfile DATA.TXT\r\n"), 4);
    EXPECT_EQ(Check("file DATA.TXT\r\nfields 99,99,55\r\n"), 6);
    EXPECT_EQ(Check("file DATA.TXT\r\nfields 1 1 1 1 1 1 1 1 1 1 1 1 1 1 1 1 1\r\n"), 5);
    EXPECT_EQ(Check("file DATA.TXT\r\nfields \r\n"), 9);
    EXPECT_FALSE(state.AnyFileOpen());
    // A bad fields line is reported even when a wrong name follows it.
    EXPECT_EQ(Check("fields 0\r\nfile OTHER.TXT\r\n"), 4);
}

TEST_F(FieldFileTest, LineEndsOfOtherSystems) {
    EXPECT_EQ(Check("file DATA.TXT\nfields 10 5\n"), 0);
    EXPECT_EQ(Widths(state), (Texts{"10", "5"}));
    EXPECT_EQ(Check("file DATA.TXT\rfields 11 6\r"), 0);
    EXPECT_EQ(Widths(state), (Texts{"11", "6"}));
    EXPECT_EQ(Check("file DATA.TXT\r\nfields 12"), 0);  // last line without an end
    EXPECT_EQ(Widths(state), (Texts{"12"}));
    EXPECT_FALSE(state.AnyFileOpen());
}

class WriteFieldFileTest : public FieldFileTest {
  protected:
    void SetUp() override {
        FieldFileTest::SetUp();
        host.dateTime = LocalDateTime{2026, 12, 6, 9, 5, 7};
        std::string fields = "10,5,20";
        ASSERT_EQ(SetFields(state, fields), 0);
        state.recordCount = 3;
    }
};

TEST_F(WriteFieldFileTest, SevenLinesEndedByCrLf) {
    EXPECT_EQ(WriteFieldFile(state), 0);
    EXPECT_EQ(state.currentProcedure, "WriteFieldFile");
    EXPECT_FALSE(state.AnyFileOpen());
    const std::string text = dir.Read("DATA.FLD");
    ASSERT_GE(text.size(), 2u);
    EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
    const Texts lines = CrLfLines(text);
    ASSERT_EQ(lines.size(), 7u) << text;
    EXPECT_EQ(lines[0], "* Created by Ferrolith Ver ENG-32 2.72");
    ASSERT_FALSE(lines[1].empty());
    EXPECT_EQ(lines[1][0], '*');
    EXPECT_EQ(lines[2], "file    DATA.TXT");
    EXPECT_EQ(lines[3], "date    12-06-2026 09:05:07");
    EXPECT_EQ(lines[4], "size    111");
    EXPECT_EQ(lines[5], "records 3");
    EXPECT_EQ(lines[6], "fields  10 5 20");
    // No stray line ends inside the lines.
    for (const std::string& line : lines) {
        EXPECT_EQ(line.find_first_of("\r\n"), std::string::npos) << line;
    }
}

TEST_F(WriteFieldFileTest, ExactBytesAroundTheNoticeLine) {
    ASSERT_EQ(WriteFieldFile(state), 0);
    const std::string text = dir.Read("DATA.FLD");
    const std::string head = "* Created by Ferrolith Ver ENG-32 2.72\r\n*";
    const std::string tail =
        "\r\nfile    DATA.TXT\r\ndate    12-06-2026 09:05:07\r\nsize    111\r\n"
        "records 3\r\nfields  10 5 20\r\n";
    ASSERT_GE(text.size(), head.size() + tail.size());
    EXPECT_EQ(text.substr(0, head.size()), head);
    EXPECT_EQ(text.substr(text.size() - tail.size()), tail);
}

TEST_F(WriteFieldFileTest, DateIsMonthDayYearOnThe24HourClock) {
    host.dateTime = LocalDateTime{2025, 3, 14, 23, 0, 9};
    ASSERT_EQ(WriteFieldFile(state), 0);
    EXPECT_EQ(CrLfLines(dir.Read("DATA.FLD")).at(3), "date    03-14-2025 23:00:09");
    host.dateTime = LocalDateTime{2031, 1, 2, 0, 59, 30};
    ASSERT_EQ(WriteFieldFile(state), 0);
    EXPECT_EQ(CrLfLines(dir.Read("DATA.FLD")).at(3), "date    01-02-2031 00:59:30");
}

TEST_F(WriteFieldFileTest, WrittenFileReadsBack) {
    ASSERT_EQ(WriteFieldFile(state), 0);
    std::string other = "99";
    ASSERT_EQ(SetFields(state, other), 0);
    ASSERT_EQ(state.fieldCount, 1);
    EXPECT_EQ(CheckFieldFile(state), 0);
    EXPECT_EQ(state.fieldCount, 3);
    EXPECT_EQ(state.recordLength, 35);
    EXPECT_EQ(Widths(state), (Texts{"10", "5", "20"}));
    EXPECT_FALSE(state.AnyFileOpen());
}

TEST_F(WriteFieldFileTest, SixteenFieldsReadBack) {
    std::string fields = "1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16";
    ASSERT_EQ(SetFields(state, fields), 0);
    ASSERT_EQ(WriteFieldFile(state), 0);
    EXPECT_EQ(CrLfLines(dir.Read("DATA.FLD")).at(6),
              "fields  1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16");
    state.fieldCount = 0;
    EXPECT_EQ(CheckFieldFile(state), 0);
    EXPECT_EQ(state.fieldCount, 16);
    EXPECT_EQ(state.recordLength, 136);
}

TEST_F(WriteFieldFileTest, ReplacesOrAppends) {
    dir.Write("DATA.FLD", "OLD CONTENT THAT IS LONGER THAN NOTHING\r\n");
    ASSERT_EQ(WriteFieldFile(state), 0);
    const std::string once = dir.Read("DATA.FLD");
    EXPECT_EQ(once.find("OLD"), std::string::npos);
    ASSERT_EQ(WriteFieldFile(state), 0);
    EXPECT_EQ(dir.Read("DATA.FLD"), once);

    state.appendMode = true;
    ASSERT_EQ(WriteFieldFile(state), 0);
    EXPECT_EQ(dir.Read("DATA.FLD"), once + once);
    EXPECT_EQ(CrLfLines(dir.Read("DATA.FLD")).size(), 14u);
}

TEST_F(WriteFieldFileTest, LargestSizeDoesNotOverflow) {
    state.recordLength = 255;
    state.recordCount = 32767;
    ASSERT_EQ(WriteFieldFile(state), 0);
    const Texts lines = CrLfLines(dir.Read("DATA.FLD"));
    ASSERT_EQ(lines.size(), 7u);
    EXPECT_EQ(lines[4], "size    8421119");  // 257 * 32767
    EXPECT_EQ(lines[5], "records 32767");
}

TEST_F(WriteFieldFileTest, EmptyReceptionWritesZeroSize) {
    state.recordCount = 0;
    ASSERT_EQ(WriteFieldFile(state), 0);
    const Texts lines = CrLfLines(dir.Read("DATA.FLD"));
    ASSERT_EQ(lines.size(), 7u);
    EXPECT_EQ(lines[4], "size    0");
    EXPECT_EQ(lines[5], "records 0");
}

TEST_F(WriteFieldFileTest, FailedOpenReturnsZeroAndLeavesItsCodeInLinkStatus) {
    state.filePath = dir.enginePath() + "NODIR/";
    state.linkStatus = 0;
    EXPECT_EQ(WriteFieldFile(state), 0);
    EXPECT_EQ(state.linkStatus, 71);
    EXPECT_EQ(state.fileErrNumber, 0);
    EXPECT_FALSE(state.AnyFileOpen());
    EXPECT_FALSE(fs::exists(dir.path() / "NODIR"));
}

TEST_F(WriteFieldFileTest, FailedWriteIsReportedWithItsRuntimeError) {
    if (!fs::exists("/dev/full")) {
        GTEST_SKIP() << "no /dev/full on this machine";
    }
    state.filePath = "/dev/";
    state.fieldFileName = "full";
    state.fileErrNumber = 0;
    state.fileErrLine = 5;
    EXPECT_EQ(WriteFieldFile(state), 72);
    EXPECT_EQ(state.fileErrNumber, 61);
    EXPECT_EQ(state.fileErrLine, 0);
    EXPECT_EQ(state.linkStatus, 0);
    EXPECT_FALSE(state.AnyFileOpen());
}

class TestFileTest : public FieldFileTest {
  protected:
    ResultCode Count(const std::string& content) {
        dir.Write("DATA.TXT", content);
        return Test_File(state);
    }
};

TEST_F(TestFileTest, EveryKindOfLineEnd) {
    EXPECT_EQ(Count("A\rB\rC\r"), 0);
    EXPECT_EQ(state.recordCount, 3);
    EXPECT_EQ(Count("A\r\nB\r\nC\r\n"), 0);
    EXPECT_EQ(state.recordCount, 3);
    EXPECT_EQ(Count("A\nB\nC\n"), 0);
    EXPECT_EQ(state.recordCount, 3);
    EXPECT_EQ(Count("A\rB\r\nC\nD\r\n"), 0);
    EXPECT_EQ(state.recordCount, 4);
    EXPECT_EQ(state.currentProcedure, "Test_File");
    EXPECT_FALSE(state.AnyFileOpen());
}

TEST_F(TestFileTest, LastLineWithoutAnEndCounts) {
    EXPECT_EQ(Count("A\r\nB\r\nC"), 0);
    EXPECT_EQ(state.recordCount, 3);
    EXPECT_EQ(Count("ONLY"), 0);
    EXPECT_EQ(state.recordCount, 1);
}

TEST_F(TestFileTest, EmptyLinesCount) {
    EXPECT_EQ(Count("\r\n"), 0);
    EXPECT_EQ(state.recordCount, 1);
    EXPECT_EQ(Count("\r\n\r\n\r\n"), 0);
    EXPECT_EQ(state.recordCount, 3);
    EXPECT_EQ(Count("\n\r"), 0);  // LF then CR: two line ends
    EXPECT_EQ(state.recordCount, 2);
    EXPECT_EQ(Count("\r\r\n"), 0);
    EXPECT_EQ(state.recordCount, 2);
}

TEST_F(TestFileTest, EmptyFileHasNoRecords) {
    state.recordCount = 42;
    EXPECT_EQ(Count(""), 0);
    EXPECT_EQ(state.recordCount, 0);
}

TEST_F(TestFileTest, AtMost32767Lines) {
    EXPECT_EQ(Count(Lines(32767, "RECORD", "\r\n")), 0);
    EXPECT_EQ(state.recordCount, 32767);
    EXPECT_EQ(Count(Lines(32766, "RECORD", "\r\n") + "LAST"), 0);
    EXPECT_EQ(state.recordCount, 32767);

    state.recordCount = 42;
    EXPECT_EQ(Count(Lines(32768, "RECORD", "\r\n")), 3);
    EXPECT_EQ(state.recordCount, 42);
    EXPECT_EQ(Count(Lines(32767, "RECORD", "\n") + "X"), 3);
    EXPECT_EQ(state.recordCount, 42);
    EXPECT_EQ(Count(Lines(100000, "", "\r")), 3);
    EXPECT_EQ(state.recordCount, 42);
    EXPECT_FALSE(state.AnyFileOpen());
}

TEST_F(TestFileTest, MissingFileOrDirectory) {
    state.recordCount = 42;
    EXPECT_EQ(Test_File(state), 1);
    EXPECT_EQ(state.recordCount, 42);
    state.filePath = dir.enginePath() + "NODIR\\";
    EXPECT_EQ(Test_File(state), 71);
    EXPECT_EQ(state.recordCount, 42);
    EXPECT_FALSE(state.AnyFileOpen());
}

TEST_F(TestFileTest, FileFoundWhateverItsCase) {
    dir.Write("data.txt", "A\r\nB\r\n");
    EXPECT_EQ(Test_File(state), 0);
    EXPECT_EQ(state.recordCount, 2);
}

}  // namespace
}  // namespace quenlo
