// The field file read before a data file is sent, the field file written after one is received,
// and the line count of the file to send.
#include "files/field_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <tuple>
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
    for (std::size_t start = 0; start < text.size();) {
        const auto end = text.find("\r\n", start);
        lines.push_back(text.substr(start, end - start));
        start = end == std::string::npos ? text.size() : end + 2;
    }
    return lines;
}

std::string Repeat(const std::string& text, int count) {
    std::string all;
    for (int i = 0; i < count; ++i) {
        all += text;
    }
    return all;
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
    // The field file, the result, and the widths defined (checked when given).
    const std::tuple<const char*, ResultCode, Texts> rows[] = {
        {"file    DATA.TXT\r\nfields  10 5 20\r\n", 0, {"10", "5", "20"}},
        // Any order, other lines ignored, keywords in any case, blanks around the name.
        {"* comment\r\nfields 7,8\r\nrecords 3\r\nsize    33\r\n"
         "date    01-02-2026 10:00:00\r\nfile DATA.TXT\r\n* end\r\n",
         0,
         {"7", "8"}},
        {"FILE DATA.TXT\r\nFIELDS 4\r\n", 0, {"4"}},
        {"File data.txt\r\nFiElDs 6;9\r\n", 0, {"6", "9"}},  // the name is upper-cased too
        {"file DATA.TXT\r\nfields  10 5\r\n", 0, {"10", "5"}},
        {"file      DATA.TXT    \r\nfields 3\r\n", 0, {"3"}},
        {"fields 10 5 20\r\nfile DATA.TXT\r\nfields 40\r\n", 0, {"40"}},  // the last one stands
        {"file DATA.TXT\nfields 10 5\n", 0, {"10", "5"}},
        {"file DATA.TXT\rfields 11 6\r", 0, {"11", "6"}},
        {"file DATA.TXT\r\nfields 12", 0, {"12"}},  // last line without an end
        // Another file's name is refused, even after valid fields, which stay.
        {"fields 10 5\r\nfile OTHER.TXT\r\n", 8, {"10", "5"}},
        {"file OTHER.TXT\r\nfields 10 5\r\n", 8, {}},
        {"file DATA.TXT\r\nfields 10\r\nfile DATA.TX\r\n", 8, {}},
        {"file\r\nfields 10\r\n", 8, {}},
        // Both lines are needed, and "fields" must be followed by a blank to count.
        {"file DATA.TXT\r\n", 8, {}},
        {"fields 10 5\r\n", 8, {}},
        {"", 8, {}},
        {"* nothing here\r\n", 8, {}},
        {"file DATA.TXT\r\nfields\r\n", 8, {}},
        {"file DATA.TXT\r\nfields,10\r\n", 8, {}},
        // A faulty fields line gives its own code, even when a wrong name follows it.
        {"file DATA.TXT\r\nfields 10 0 5\r\n", 4, {}},
        {"fields 100\r\nfile DATA.TXT\r\n", 4, {}},
        {"file DATA.TXT\r\nfields 99,99,55\r\n", 6, {}},
        {"file DATA.TXT\r\nfields 1 1 1 1 1 1 1 1 1 1 1 1 1 1 1 1 1\r\n", 5, {}},
        {"file DATA.TXT\r\nfields \r\n", 9, {}},
        {"fields 0\r\nfile OTHER.TXT\r\n", 4, {}},
    };
    for (const auto& [content, code, widths] : rows) {
        state.fieldCount = 0;
        EXPECT_EQ(Check(content), code) << content;
        if (!widths.empty()) {
            EXPECT_EQ(Widths(state), widths) << content;
        }
        if (code == 0) {
            int total = 0;
            for (const std::string& width : widths) {
                total += std::stoi(width);
            }
            EXPECT_EQ(state.recordLength, total) << content;
        }
        EXPECT_FALSE(state.AnyFileOpen()) << content;
    }
}

TEST_F(FieldFileTest, MissingFileOrDirectory) {
    state.recordCount = 42;
    EXPECT_EQ(CheckFieldFile(state), 8);
    EXPECT_EQ(state.currentProcedure, "CheckFieldFile");
    EXPECT_EQ(Test_File(state), 1);
    state.filePath = dir.enginePath() + "NODIR\\";
    EXPECT_EQ(CheckFieldFile(state), 8);
    EXPECT_EQ(Test_File(state), 71);
    EXPECT_EQ(state.recordCount, 42);
    EXPECT_FALSE(state.AnyFileOpen());
}

// The files themselves are found whatever their case, as OpenFile finds them; the name in the
// "file" line, upper-cased, is compared exactly, so a received lower-case name never matches.
TEST_F(FieldFileTest, NameIsComparedExactly) {
    state.fileName = "data.txt";
    EXPECT_EQ(Check("file data.txt\r\nfields 10\r\n"), 8);
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
    // Exact bytes but for the text of the notice line.
    const std::string head = "* Created by Ferrolith Ver ENG-32 2.72\r\n*";
    const std::string tail =
        "\r\nfile    DATA.TXT\r\ndate    12-06-2026 09:05:07\r\nsize    111\r\n"
        "records 3\r\nfields  10 5 20\r\n";
    ASSERT_GE(text.size(), head.size() + tail.size());
    EXPECT_EQ(text.substr(0, head.size()), head);
    EXPECT_EQ(text.substr(text.size() - tail.size()), tail);
    const Texts lines = CrLfLines(text);
    ASSERT_EQ(lines.size(), 7u) << text;
    EXPECT_EQ(lines[1].find_first_of("\r\n"), std::string::npos) << lines[1];
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
    EXPECT_EQ(CheckFieldFile(state), 0);
    EXPECT_EQ(state.recordLength, 35);
    EXPECT_EQ(Widths(state), (Texts{"10", "5", "20"}));
    EXPECT_FALSE(state.AnyFileOpen());

    std::string sixteen = "1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16";
    ASSERT_EQ(SetFields(state, sixteen), 0);
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
}

TEST_F(WriteFieldFileTest, SizeIsRecordsTimesRecordAndLineEnd) {
    // The largest does not overflow: 257 * 32767.
    const std::tuple<std::int16_t, std::int16_t, const char*> rows[] = {
        {255, 32767, "size    8421119"}, {35, 0, "size    0"}};
    for (const auto& [recordLength, recordCount, size] : rows) {
        state.recordLength = recordLength;
        state.recordCount = recordCount;
        ASSERT_EQ(WriteFieldFile(state), 0);
        const Texts lines = CrLfLines(dir.Read("DATA.FLD"));
        ASSERT_EQ(lines.size(), 7u);
        EXPECT_EQ(lines[4], size);
        EXPECT_EQ(lines[5], "records " + std::to_string(recordCount));
    }
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

TEST_F(FieldFileTest, TestFileTakesAtMost32767Lines) {
    const auto count = [this](const std::string& content) {
        dir.Write("DATA.TXT", content);
        return Test_File(state);
    };
    // Counted as the engine file counts lines.
    EXPECT_EQ(count(Repeat("RECORD\r\n", 32767)), 0);
    EXPECT_EQ(state.recordCount, 32767);
    EXPECT_EQ(state.currentProcedure, "Test_File");
    EXPECT_EQ(count(Repeat("RECORD\r\n", 32766) + "LAST"), 0);
    EXPECT_EQ(state.recordCount, 32767);

    EXPECT_EQ(count(""), 0);
    EXPECT_EQ(state.recordCount, 0);

    state.recordCount = 42;
    EXPECT_EQ(count(Repeat("RECORD\r\n", 32768)), 3);
    EXPECT_EQ(count(Repeat("RECORD\n", 32767) + "X"), 3);
    EXPECT_EQ(count(Repeat("\r", 100000)), 3);
    EXPECT_EQ(state.recordCount, 42);
    EXPECT_FALSE(state.AnyFileOpen());
}

}  // namespace
}  // namespace quenlo
