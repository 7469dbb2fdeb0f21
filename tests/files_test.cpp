// File arguments and short names, opening and failure codes, field lists and files, lines read.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <functional>
#include <span>
#include <string>
#include <tuple>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "base/engine_file.h"
#include "base/text.h"
#include "files/field_definitions.h"
#include "files/field_file.h"
#include "files/file_names.h"
#include "files/file_open.h"
#include "files/native_path.h"
#include "support/fake_host.h"
#include "support/temp_dir.h"

namespace quenlo {
namespace {

// An input, the result code it gives and, as text, what it leaves behind.
using Row = std::tuple<std::string, int, std::string>;

std::string Repeat(const std::string& text, int count) {
    std::string all;
    while (count-- > 0) {
        all += text;
    }
    return all;
}

std::string Lines(EngineFile& file) {
    std::string all;
    for (std::string line; file.ReadLine(line);) {
        all += line + "|";
    }
    return all;
}

std::string Fields(const RunState& state) {
    std::string text;
    for (int i = 1; i <= state.fieldCount; ++i) {
        text += (i == 1 ? "" : " ") + state.fieldLengths[static_cast<std::size_t>(i)];
    }
    return text + "=" + std::to_string(state.recordLength);
}

std::string Described(const RunState& state) {
    return state.filePath + "|" + state.fileName + (state.sendMode ? " send" : "") +
           (state.programFile ? " program L" : " data L") + std::to_string(state.recordLength) +
           (state.ymodemMode ? " YMOD " : " ") + state.fieldFileName;
}

class FilesTest : public ::testing::Test {
  protected:
    // The run sends DATA.TXT of the test directory, its fields in DATA.FLD.
    FilesTest() {
        state.filePath = here;
        state.fileName = "DATA.TXT";
        state.fieldFileName = "DATA.FLD";
    }
    int Open(const std::string& directory, const std::string& name, const char* mode = "I",
             FileNumber number = FileNumber::kSend) {
        return Number(OpenFile(state, directory, name, number, mode));
    }
    void Expect(std::span<const Row> rows, const std::function<ResultCode(const std::string&)>& run,
                const std::function<std::string()>& describe) {
        for (const auto& [input, code, after] : rows) {
            EXPECT_EQ(Number(run(input)), code) << input.substr(0, 80);
            EXPECT_EQ(describe(), after) << input.substr(0, 80);
            EXPECT_FALSE(state.AnyFileOpen()) << input.substr(0, 80);
        }
    }

    testing::FakeHost host;
    RunState state{host};
    testing::TempDir dir;
    const std::string here = dir.enginePath();
};

TEST_F(FilesTest, FileArgumentsAndShortNames) {
    // A directory (a drive or ending in a separator) sets the path; else split at the last one.
    // Only the name keeps the short-name rules: the folders around it are the system's.
    const Row rows[] = {
        {"A:", 0, "A:|DATA.TXT data L0 DATA.FLD CheckFileArg2"},
        {"C:\\MY+DIR\\", 0, "C:\\MY+DIR\\|DATA.TXT data L0 DATA.FLD CheckFileArg2"},
        {"AB:", 2, "|AB: send data L0 DATA.FLD CheckFilename2"},
        {"C:\\A\\B/GOOD.TXT", 0, "C:\\A\\B/|GOOD.TXT send data L0 GOOD.FLD CheckFilename2"},
        {"C:\\MY+DIR\\X.PD3", 0, "C:\\MY+DIR\\|X.PD3 send program L128 GOOD.FLD CheckFilename2"},
        {"/a/PROG.PD4", 0, "/a/|PROG.PD4 send program L1024 YMOD GOOD.FLD CheckFilename2"},
        {"LAST.TXT", 0, "|LAST.TXT send program L1024 YMOD LAST.FLD CheckFilename2"}};

    const auto arg = [this](const std::string& argument) {
        state.currentOption = argument;
        return CheckFileArg(state);
    };
    Expect(rows, arg, [this] { return Described(state) + " " + state.currentProcedure; });
    // 8 + 3 characters, one dot, single-byte signs; the extension may make it a program.
    const Row names[] = {
        {"ABCDEFGHI.T", 2, " data L0 "},   {"ABCDEFGH.TXT", 0, " data L0 ABCDEFGH.FLD"},
        {"ABCDEFGHI", 2, " data L0 "},     {"ABCDEFGH", 0, " data L0 ABCDEFGH.FLD"},
        {"A.TEXT", 2, " data L0 "},        {"!$%^&()-.TXT", 0, " data L0 !$%^&()-.FLD"},
        {"A.B.C", 2, " data L0 "},         {"_{}@'#.TXT", 0, " data L0 _{}@'#.FLD"},
        {"\302\243.TXT", 2, " data L0 "},  {"\243~`.TXT", 0, " data L0 \243~`.FLD"},
        {"A/B.TXT", 2, " data L0 "},       {"DATA.", 0, " data L0 DATA.FLD"},
        {"PROG.PD3", 0, " program L128 "}, {"P.PD4", 0, " program L1024 YMOD "}};
    const auto check = [this](const std::string& name) {
        SetDefaults(state);
        state.fileName = name;
        return CheckFilename(state);
    };
    Expect(names, check, [this] { return Described(state).substr(1 + state.fileName.size()); });
}

TEST_F(FilesTest, FilesAreOpenedUnderTheirNumbersWhateverTheirCase) {
    // Writing replaces, in every mode but "I"; appending appends, creating a missing file.
    const std::tuple<bool, const char*, const char*, const char*> writes[] = {
        {true, "O", "ONE\n", "ONE\n"},       {true, "O", "TWO\n", "ONE\nTWO\n"},
        {true, "A", "3\n", "ONE\nTWO\n3\n"}, {false, "O", "LONGER\n", "LONGER\n"},
        {false, "O", "SHORT", "SHORT"},      {false, "A", "NEW\n", "NEW\n"}};
    for (const auto& [append, mode, text, after] : writes) {
        state.appendMode = append;
        ASSERT_EQ(Open(here, append ? "LOG.TXT" : "NEW.TXT", mode, FileNumber::kReceive), 0);
        EXPECT_EQ(state.file(FileNumber::kReceive)->Write(text), 0);
        EXPECT_EQ(state.file(FileNumber::kReceive)->Close(), 0);
        state.CloseFile(FileNumber::kReceive);
        EXPECT_EQ(dir.Read(append ? "LOG.TXT" : "NEW.TXT"), after) << text;
    }
    ASSERT_EQ(Open(here, "LOG.TXT"), 0);   // reading ignores the append mode
    EXPECT_EQ(Open(here, "LOG.TXT"), 99);  // the number is in use; the open file stays untouched
    EXPECT_EQ(Lines(*state.file(FileNumber::kSend)), "ONE|TWO|3|");
    state.CloseAllFiles();
    EXPECT_EQ(Open(here, "nul.txt"), 70);  // a device name on Windows, refused everywhere
    std::filesystem::create_directory(dir.path() / "sub");
    dir.Write("sub/data.txt", "LOWER\n");
    dir.Write("\302\243data.txt", "POUND\n");  // "£data.txt" as this machine spells it
    dir.Write("caf\303\251.txt", "ACUTE\n");   // "café.txt"
    ASSERT_EQ(::mkfifo((dir.path() / "PIPE.TXT").c_str(), 0600), 0);
    // Held open for writing, so that a wrong open of the FIFO returns instead of waiting.
    const int fifoWriter = ::open((dir.path() / "PIPE.TXT").c_str(), O_RDWR | O_NONBLOCK);
    const std::string sub = UpperCase(here) + "SUB/", windowsSub = UpperCase(here) + "SUB\\";
    // A directory is a general failure; too long a path, a device or a FIFO an incorrect file.
    const std::string dots = Repeat("./", 2100) + "NONE.TXT";
    const std::string deep = "NODIR/" + Repeat("a\\", 60000) + "X.TXT";
    const Row rows[] = {
        {sub + "DATA.TXT", 0, "LOWER|"},      {windowsSub + "DATA.TXT", 0, "LOWER|"},
        {here + "Sub/Data.Txt", 0, "LOWER|"}, {here + std::string(300, 'A'), 70, ""},
        {here + "\243DATA.TXT", 0, "POUND|"}, {"/dev/zero", 70, ""},
        {here + "CAF\311.TXT", 0, "ACUTE|"},  {here + "PIPE.TXT", 70, ""},
        {sub + "OTHER.TXT", 1, ""},           {here + "sub", 99, ""},
        {here + "NODIR/NONE.TXT", 71, ""},    {here + dots, 70, ""},
        {sub + "DATA.TXT\\X.TXT", 71, ""},    {here + deep, 70, ""}};
    for (const auto& [path, code, content] : rows) {
        EXPECT_EQ(Open("", path), code) << path.substr(0, 80);
        EXPECT_EQ(state.AnyFileOpen(), code == 0) << path.substr(0, 80);
        const bool read = code == 0 && state.AnyFileOpen();
        EXPECT_EQ(read ? Lines(*state.file(FileNumber::kSend)) : "", content) << path;
        state.CloseAllFiles();
    }
    ::close(fifoWriter);
    // Writing replaces the file of another case; a new name, and all below it, is kept as given.
    ASSERT_EQ(Open(sub, "DATA.TXT", "O", FileNumber::kReceive), 0);
    EXPECT_EQ(state.file(FileNumber::kReceive)->Close(), 0);
    state.CloseAllFiles();
    EXPECT_EQ(dir.Read("sub/data.txt"), "");
    EXPECT_EQ(NativePath(windowsSub + "NONE\\Sub\\x"), dir.path() / "sub/NONE/Sub/x");
    // Errors that real files above do not meet.
    const std::tuple<int, std::int32_t, int> errors[] = {
        {ENOSPC, 61, 72}, {EINVAL, 52, 70}, {EACCES, 70, 99}, {EROFS, 70, 99}, {EIO, 57, 99}};
    for (const auto& [error, number, code] : errors) {
        EXPECT_EQ(RuntimeErrorForErrno(error, true), number) << error;
        EXPECT_EQ(Number(MapFileError(number)), code) << number;
    }
}

TEST_F(FilesTest, FieldListsAndFieldFiles) {
    // The fields defined [and what was left of the list]; range, count, then length is checked.
    const std::string full = Repeat("15,", 15) + "14", fullFields = Repeat("15 ", 15) + "14=239";
    const Row shortRows[] = {{"1", 0, "1=1"},      {"100", 4, "=0"}, {"", 9, "=0"},
                             {"11.5", 0, "12=12"}, {"0.5", 4, "=0"}, {"2147483648", 4, "=0"}};
    const Row rows[] = {{",10", 4, "=0 [,10]"},          {"  10,5;20 7", 0, "10 5 20 7=42"},
                        {"10,,20", 4, "10=10 [,20]"},    {"10abc,5x", 0, "10 5=15"},
                        {"99,99,54", 0, "99 99 54=252"}, {"99,99,55;1 2", 6, "99 99 55=253 [;1 2]"},
                        {full, 0, fullFields},           {full + ",100", 4, fullFields},
                        {full + ",99", 5, fullFields}};
    std::string list;
    const auto set = [&](const std::string& text) { return SetFields(state, list = text); };
    const auto left = [&] { return Fields(state) + (list.empty() ? "" : " [" + list + "]"); };
    Expect(shortRows, set, left);
    Expect(rows, set, left);
    EXPECT_EQ(CheckFieldFile(state), result::kFieldLengthNotFound);  // none there yet
    // Any order and case; the last fields line stands; a wrong name keeps the fields before it.
    const Row fieldFiles[] = {
        {"File data.txt    \r\nFiElDs 6;9\r\n", 0, "6 9=15"},
        {"fields 10 5 20\r\nfile DATA.TXT\r\nfields 40\r\n", 0, "40=40"},
        {"fields 10 5\r\nfile OTHER.TXT\r\n", 8, "10 5=15"},
        {"file DATA.TXT\r\nfields,10\r\n", 8, "=0"},
        {"file DATA.TXT\r\nfields 10 0 5\r\n", 4, "10=10"},
        {"fields 0\r\nfile OTHER.TXT\r\n", 4, "=0"},
        {"* x\r\nfields  7,8\r\nrecords 3\r\nfile    DATA.TXT\r\n", 0, "7 8=15"}};
    const auto check = [this](const std::string& content) {
        dir.Write("DATA.FLD", content);
        state.fieldCount = state.recordLength = 0;
        return CheckFieldFile(state);
    };
    Expect(fieldFiles, check, [this] { return Fields(state); });
    state.recordLength = 255;  // the size, 32767 records of 255 + CR LF, needs more than 16 bits
    state.recordCount = 32767;
    ASSERT_EQ(WriteFieldFile(state), result::kOk);
    EXPECT_EQ(dir.Read("DATA.FLD"),
              "* Created by Ferrolith Ver ENG-32 2.72\r\n"
              "* Field definitions of a data file received from a BHT handheld\r\n"
              "file    DATA.TXT\r\ndate    12-06-2026 09:05:07\r\nsize    8421119\r\n"
              "records 32767\r\nfields  7 8\r\n");
    // What is no file (a directory, a device) is never replaced; that and a missing folder fail.
    std::filesystem::create_directory(dir.path() / "BUSY.FLD");
    state.fieldFileName = "BUSY.FLD";
    EXPECT_EQ(WriteFieldFile(state), result::kGeneralFailure);
    EXPECT_EQ(state.link.linkStatus, 99);
    EXPECT_TRUE(std::filesystem::is_directory(dir.path() / "BUSY.FLD"));
    state.filePath = here + "NODIR/";
    EXPECT_EQ(WriteFieldFile(state), result::kPathNotFound);
    EXPECT_EQ(state.link.linkStatus, 71);
    EXPECT_FALSE(state.AnyFileOpen());
}

TEST_F(FilesTest, LinesEndAtCrCrLfOrLfAndAtMost32767AreSent) {
    // Ends split over the 64 KiB read buffer, lines longer than it, bytes passed unchanged.
    const std::string a(65535, 'A'), l(3 * 65536 + 17, 'L');
    const std::string b("\x00\x01\xA3\xE9\xFF\t", 6);
    const std::string r = Repeat("R\r\n", 32766), rl = Repeat("R|", 32766);
    const Row rows[] = {{a + "\rB", 0, a + "|B|"},   {"A\r\r\nB\n\nC\rD\n\r", 0, "A||B||C|D||"},
                        {a + "\r\nB", 0, a + "|B|"}, {b + "\r\n" + b, 0, b + "|" + b + "|"},
                        {r + "R\r\n", 0, rl + "R|"}, {l + "\r\nS\r\n" + l, 0, l + "|S|" + l + "|"},
                        {r + "R", 0, rl + "R|"},     {r + "R\r\nR\r\n", 3, rl + "R|R|"}};
    for (const auto& [content, code, lines] : rows) {
        dir.Write("DATA.TXT", content);
        ASSERT_EQ(Open(here, "DATA.TXT"), 0);
        EXPECT_TRUE(Lines(*state.file(FileNumber::kSend)) == lines) << content.size();
        state.CloseAllFiles();
        state.recordCount = -1;
        EXPECT_EQ(Number(Test_File(state)), code) << content.size();
        EXPECT_EQ(state.recordCount, code ? -1 : std::count(lines.begin(), lines.end(), '|'));
    }
}

}  // namespace
}  // namespace quenlo
