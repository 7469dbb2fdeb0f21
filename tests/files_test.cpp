// The engine's files: the file argument and its short-name rules, opening under file numbers with
// names found whatever their case, the mapping of failures to result codes, field lists and field
// files, and the line reading and counting of the file to send.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <memory>
#include <span>
#include <string>
#include <thread>
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

namespace fs = std::filesystem;
using Rows = std::tuple<const char*, ResultCode, const char*>;

std::string Repeat(const std::string& text, int count) {
    std::string all;
    for (int i = 0; i < count; ++i) {
        all += text;
    }
    return all;
}

// Every line left in the file, each followed by "|".
std::string Lines(EngineFile& file) {
    std::string all;
    for (std::string line; file.ReadLine(line);) {
        all += line + "|";
    }
    return all;
}

// The fields defined and the record length: "10 5 20=35".
std::string Fields(const RunState& s) {
    std::string text;
    for (int i = 1; i <= s.fieldCount; ++i) {
        text += (i == 1 ? "" : " ") + s.fieldLengths[static_cast<std::size_t>(i)];
    }
    return text + "=" + std::to_string(s.recordLength);
}

// The file argument as the run keeps it: "C:\BHT\|PROG.PD3 send program L128 YMOD DATA.FLD".
std::string Described(const RunState& s) {
    return s.filePath + "|" + s.fileName + (s.sendMode ? " send" : "") +
           (s.programFile ? " program L" : " data L") + std::to_string(s.recordLength) +
           (s.ymodemMode ? " YMOD " : " ") + s.fieldFileName;
}

class FilesTest : public ::testing::Test {
  protected:
    ResultCode Arg(const std::string& argument) {
        state.currentOption = argument;
        return CheckFileArg(state);
    }
    ResultCode Open(const std::string& directory, const std::string& name, const char* mode = "I",
                    FileNumber number = FileNumber::kSend) {
        return OpenFile(state, directory, name, number, mode);
    }
    // A fresh run that sends DATA.TXT of the test directory, its fields in DATA.FLD.
    void SendData() {
        SetDefaults(state);
        state.filePath = here;
        state.fileName = "DATA.TXT";
        state.fieldFileName = "DATA.FLD";
    }
    // Opens bytes written to a new file of the test directory for reading.
    std::unique_ptr<EngineFile> Text(const std::string& content) {
        int error = -1;
        auto file = EngineFile::Open(dir.Write("F" + std::to_string(files++), content),
                                     EngineFile::Mode::kRead, error);
        EXPECT_EQ(error, 0);
        return file;
    }

    testing::FakeHost host;
    RunState state{host};
    testing::TempDir dir;
    const std::string here = dir.enginePath();
    int files = 0;
};

TEST_F(FilesTest, FileArgumentKnownAnswers) {
    // A directory ends in a separator or is a bare drive; anything else is split at the last
    // separator of either kind. The directory is checked for its characters only, before the name.
    const std::tuple<const char*, ResultCode, const char*, const char*> rows[] = {
        {"A:", 0, "A:| data L0 -", "CheckFileArg2"},
        {"C:\\DATA\\", 0, "C:\\DATA\\| data L0 -", "CheckFileArg2"},
        {"C:/DATA/", 0, "C:/DATA/| data L0 -", "CheckFileArg2"},
        {"\\", 0, "\\| data L0 -", "CheckFileArg2"},
        {"C:\\MY+DIR\\", 2, "C:\\MY+DIR\\| data L0 -", "CheckFileArg2"},
        {"AB:", 2, "|AB: send data L0 -", "CheckFilename2"},
        {"C:X.PD3", 2, "|C:X.PD3 send data L0 -", "CheckFilename2"},
        {"C:\\BHT\\PROG.PD3", 0, "C:\\BHT\\|PROG.PD3 send program L128 -", "CheckFilename2"},
        {"/home/a/PROG.PD4", 0, "/home/a/|PROG.PD4 send program L1024 YMOD -", "CheckFilename2"},
        {"C:\\A/B\\DATA.TXT", 0, "C:\\A/B\\|DATA.TXT send data L0 DATA.FLD", "CheckFilename2"},
        {"C:\\A\\B/DATA.TXT", 0, "C:\\A\\B/|DATA.TXT send data L0 DATA.FLD", "CheckFilename2"},
        {"C:\\A VERY\\X.PD3", 2, "C:\\A VERY\\|X.PD3 send data L0 -", "CheckFileArg3"},
        {"C:\\MY+DIR\\X.PD3", 2, "C:\\MY+DIR\\|X.PD3 send data L0 -", "CheckFileArg3"},
        {"C:\\A\\X:Y\\::\\X.PD3", 0, "C:\\A\\X:Y\\::\\|X.PD3 send program L128 -",
         "CheckFilename2"},
        {"c:\\data\\X.TXT", 0, "c:\\data\\|X.TXT send data L0 X.FLD", "CheckFilename2"}};
    for (const auto& [arg, code, described, procedure] : rows) {
        SetDefaults(state);
        state.filePath = "OLD\\";
        state.fieldFileName = "-";
        EXPECT_EQ(Arg(arg), code) << arg;
        EXPECT_EQ(Described(state), described) << arg;
        EXPECT_EQ(state.currentProcedure, procedure) << arg;
    }
    // On one run, later arguments replace only what they write; program and YMODEM stay set.
    SetDefaults(state);
    const Rows later[] = {{"C:\\BHT\\PROG.PD3", 0, "C:\\BHT\\|PROG.PD3 send program L128 "},
                          {"D:\\IN\\", 0, "D:\\IN\\|PROG.PD3 send program L128 "},
                          {"C:\\OK\\GOOD.TXT", 0, "C:\\OK\\|GOOD.TXT send program L128 GOOD.FLD"},
                          {"D:\\BAD\\A.B.C", 2, "D:\\BAD\\|A.B.C send program L128 GOOD.FLD"},
                          {"APP.CAB", 0, "|APP.CAB send program L1024 YMOD GOOD.FLD"},
                          {"DATA.TXT", 0, "|DATA.TXT send program L1024 YMOD DATA.FLD"},
                          {"BAD NAME", 2, "|BAD NAME send program L1024 YMOD DATA.FLD"},
                          {"PROG.PD3", 0, "|PROG.PD3 send program L128 YMOD DATA.FLD"}};
    for (const auto& [arg, code, described] : later) {
        EXPECT_EQ(Arg(arg), code) << arg;
        EXPECT_EQ(Described(state), described) << arg;
    }
}

TEST_F(FilesTest, ShortNamesAndTheirKinds) {
    // 8 + 3 characters at most, one dot; single-byte signs pass, accented letters and the two
    // bytes of a UTF-8 pound sign do not (CheckValid below has every character). Separators split
    // an argument, never a name.
    const std::pair<const char*, ResultCode> rules[] = {
        {"ABCDEFGH.TXT", 0},  {"ABCDEFGH", 0},      {"A.TXT", 0},      {"A.T", 0},
        {"ABCDEFGHI.TXT", 2}, {"ABCDEFGHI.T", 2},   {"ABCDEFGHI", 2},  {"A.TEXT", 2},
        {"ABCDEFGH.TEXT", 2}, {"ABCDEFGHIJKLM", 2}, {"A.B.C", 2},      {"A..B", 2},
        {"A.PD3.", 2},        {"!$%^&()-.TXT", 0},  {"_{}@'#.TXT", 0}, {"CAF\xE9.TXT", 2},
        {"CAF\xC9.TXT", 2},   {"\302\243.TXT", 2},  {"A/B.TXT", 2},    {"A\\B.TXT", 2}};
    for (const auto& [name, code] : rules) {
        state.fileName = name;
        EXPECT_EQ(CheckFilename(state), code) << name;
        EXPECT_EQ(state.currentProcedure, "CheckFilename2") << name;
    }
    EXPECT_FALSE(state.programFile);  // "A.PD3." was refused before it was classified
    // The extension chooses the kind: a program's record length and protocol, or the field file
    // of a data file. Only the name is read: path, option and send mode stay.
    const std::pair<const char*, const char*> programs[] = {
        {"PROG.PD3", "L128"},      {"PROG.PD4", "L1024 YMOD"}, {"SYS.FN3", "L130"},
        {"SYS.FN4", "L1024 YMOD"}, {"X.EX3", "L130"},          {"APP.CAB", "L1024 YMOD"},
        {".PD3", "L128"}};
    const std::pair<const char*, const char*> data[] = {
        {"DATA.TXT", "DATA.FLD"}, {"DATA", "DATA.FLD"},     {"DATA.", "DATA.FLD"},
        {"CAB", "CAB.FLD"},       {"PD3", "PD3.FLD"},       {"X.PD5", "X.FLD"},
        {"X.PD", "X.FLD"},        {"X.EXE", "X.FLD"},       {"X.FLD", "X.FLD"},
        {"prog.pd3", "prog.FLD"}, {"Prog.Pd4", "Prog.FLD"}, {"\243~`.TXT", "\243~`.FLD"}};
    const auto expect = [this](const std::string& name, const std::string& kind) {
        SetDefaults(state);
        state.filePath = "KEEP\\";
        state.currentOption = "IGNORED.PD4";
        state.recordLength = 77;
        state.fieldFileName = "-";
        state.fileName = name;
        EXPECT_EQ(CheckFilename(state), 0) << name;
        EXPECT_EQ(Described(state), "KEEP\\|" + name + kind) << name;
    };
    for (const auto& [name, kind] : programs) {
        expect(name, std::string(" program ") + kind + " -");
    }
    for (const auto& [name, fieldFile] : data) {
        expect(name, std::string(" data L77 ") + fieldFile);
    }
}

TEST_F(FilesTest, CheckValidAcceptsExactlyTheNameCharacters) {
    const std::string names = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789`!\243$%^&()-_{}@'~#.";
    EXPECT_EQ(CheckValid(state, names, 0), 0);
    EXPECT_EQ(CheckValid(state, "C:\\DATA/", 1), 0);
    for (const std::int16_t flag : {0, 2, -1}) {  // directory characters with exactly 1
        EXPECT_EQ(CheckValid(state, "C:\\DATA\\", flag), 2) << flag;
    }
    int plain = 0;
    int withDirectories = 0;
    for (int b = 0; b < 256; ++b) {
        const char c = static_cast<char>(b);
        if (CheckValid(state, std::string(1, c), 0) == 0) {
            ++plain;
            EXPECT_TRUE(names.find(c) != std::string::npos || (c >= 'a' && c <= 'z')) << b;
        }
        withDirectories += CheckValid(state, std::string(1, c), 1) == 0 ? 1 : 0;
    }
    EXPECT_EQ(plain, 54 + 26);
    EXPECT_EQ(withDirectories, 54 + 26 + 3);  // ":", "\" and "/"
}

TEST_F(FilesTest, FailedOpensGiveTheirCodesAndLeaveEveryNumberClosed) {
    dir.Write("DATA.TXT", "X");
    fs::create_directory(dir.path() / "sub");
    fs::create_directory(dir.path() / "SUBDIR");
    const std::string upperSub = UpperCase(here) + "SUB/";
    ASSERT_FALSE(fs::exists("QUENLO-NO-SUCH-FILE.TXT"));
    // A directory opened as a file is a general failure; a name or path too long, or a device
    // (reading /dev/zero would never end), is an incorrect file. Below a missing directory the rest
    // of a path is taken as given, so 60,000 components do not stall.
    const std::tuple<std::string, std::string, const char*, ResultCode> rows[] = {
        {here, "NONE.TXT", "I", 1},
        {"", "QUENLO-NO-SUCH-FILE.TXT", "I", 1},
        {upperSub, "OTHER.TXT", "I", 1},
        {here + "NODIR/", "NONE.TXT", "I", 71},
        {here + "NODIR/", "NEW.TXT", "O", 71},
        {here + "A\\B\\C\\", "X.TXT", "I", 71},
        {here + "DATA.TXT\\", "X.TXT", "I", 71},
        {upperSub + "DEEPER/", "DATA.TXT", "I", 71},
        {here, "SUBDIR", "I", 99},
        {here, "SUBDIR", "O", 99},
        {here, std::string(300, 'A'), "I", 70},
        {here, std::string(300, 'A'), "O", 70},
        {"/dev/", "zero", "I", 70},
        {here + Repeat("./", 2100), "DATA.TXT", "I", 70},
        {here + "NODIR/" + Repeat("a\\", 60000), "X.TXT", "I", 70}};
    for (const auto& [directory, name, mode, code] : rows) {
        const std::string label = directory.substr(0, 60) + name.substr(0, 20) + " " + mode;
        EXPECT_EQ(Open(directory, name, mode), code) << label;
        EXPECT_FALSE(state.AnyFileOpen()) << label;
        state.CloseAllFiles();  // so that one wrongly opened file fails only its own row
    }
    EXPECT_FALSE(fs::exists(dir.path() / "NODIR"));
}

TEST_F(FilesTest, FifoIsNeverOpened) {
    const fs::path fifo = dir.path() / "PIPE.TXT";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    // Opening the FIFO for reading would wait for a writer: this one comes, should the open ever
    // happen, so that the test fails instead of hanging.
    std::atomic<bool> done{false};
    std::atomic<bool> opened{false};
    std::thread writer([&] {
        while (!done) {
            const int fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);  // fails without a reader
            if (fd >= 0) {
                opened = true;
                ::close(fd);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    });
    state.filePath = here;
    state.fileName = "PIPE.TXT";
    const ResultCode counted = Test_File(state);
    done = true;
    writer.join();
    EXPECT_EQ(counted, 70);
    EXPECT_FALSE(opened);
    EXPECT_FALSE(state.AnyFileOpen());
}

TEST_F(FilesTest, FilesAreReadWrittenAndAppendedUnderTheirNumbers) {
    dir.Write("A.TXT", "ONE\r\nTWO\r\n");
    ASSERT_EQ(Open(here, "A.TXT"), 0);
    EXPECT_EQ(Open(here, "A.TXT"), 99);  // the number is in use; the open file stays untouched
    EXPECT_EQ(Lines(*state.file(FileNumber::kSend)), "ONE|TWO|");
    ASSERT_EQ(Open(here, "A.TXT", "I", FileNumber::kFieldFile), 0);
    state.CloseAllFiles();
    // Writing replaces, in every mode but "I"; appending appends, creating a missing file.
    const std::tuple<bool, const char*, const char*, const char*> writes[] = {
        {false, "O", "LONGER CONTENT\r\n", "LONGER CONTENT\r\n"},
        {false, "O", "SHORT\r\n", "SHORT\r\n"},
        {false, "A", "", ""},
        {true, "O", "ONE\r\n", "ONE\r\n"},
        {true, "O", "TWO\r\n", "ONE\r\nTWO\r\n"}};
    for (const auto& [append, mode, text, after] : writes) {
        state.appendMode = append;
        ASSERT_EQ(Open(here, append ? "LOG.TXT" : "NEW.TXT", mode, FileNumber::kReceive), 0);
        EXPECT_EQ(state.file(FileNumber::kReceive)->Write(text), 0);
        state.CloseFile(FileNumber::kReceive);
        EXPECT_EQ(dir.Read(append ? "LOG.TXT" : "NEW.TXT"), after) << text;
    }
    ASSERT_EQ(Open(here, "LOG.TXT"), 0);  // reading ignores the append mode
    EXPECT_EQ(Lines(*state.file(FileNumber::kSend)), "ONE|TWO|");
}

TEST_F(FilesTest, ExistingNamesAreFoundWhateverTheirCaseAndSeparators) {
    fs::create_directory(dir.path() / "sub");
    dir.Write("sub/data.txt", "LOWER\n");
    dir.Write("\302\243data.txt", "POUND\n");  // "£data.txt" as this machine spells it
    dir.Write("caf\303\251.txt", "ACUTE\n");   // "café.txt"
    const std::string upperSub = UpperCase(here) + "SUB/";
    std::string windowsSub = upperSub;
    std::replace(windowsSub.begin(), windowsSub.end(), '/', '\\');
    const std::tuple<std::string, const char*, const char*> rows[] = {
        {upperSub, "DATA.TXT", "LOWER|"},   {here + "Sub/", "Data.Txt", "LOWER|"},
        {windowsSub, "DATA.TXT", "LOWER|"}, {here + "sub\\", "data.txt", "LOWER|"},
        {here, "\243DATA.TXT", "POUND|"},   {here, "CAF\311.TXT", "ACUTE|"}};
    for (const auto& [directory, name, content] : rows) {
        ASSERT_EQ(Open(directory, name), 0) << directory << name;
        EXPECT_EQ(Lines(*state.file(FileNumber::kSend)), content) << directory << name;
        state.CloseAllFiles();
    }
    // Writing replaces the file of another case; a new file keeps the name as given, and so does
    // everything below the first missing component.
    ASSERT_EQ(Open(upperSub, "DATA.TXT", "O", FileNumber::kReceive), 0);
    ASSERT_EQ(Open(windowsSub, "NEW.FLD", "O", FileNumber::kSend), 0);
    state.CloseAllFiles();
    EXPECT_EQ(dir.Read("sub/data.txt"), "");
    EXPECT_TRUE(fs::exists(dir.path() / "sub" / "NEW.FLD"));
    EXPECT_FALSE(fs::exists(dir.path() / "SUB"));
    EXPECT_EQ(NativePath(windowsSub + "NONE\\Sub\\x"), dir.path() / "sub/NONE/Sub/x");
}

TEST_F(FilesTest, PermissionFailuresAreGeneralFailures) {
    if (::geteuid() == 0) {
        GTEST_SKIP() << "permissions do not stop the superuser";
    }
    fs::permissions(dir.Write("SECRET.TXT", "X\n"), fs::perms::none);
    fs::create_directory(dir.path() / "ro");
    fs::permissions(dir.path() / "ro", fs::perms::owner_read | fs::perms::owner_exec);
    EXPECT_EQ(Open(here, "SECRET.TXT"), 99);
    EXPECT_EQ(Open(here, "SECRET.TXT", "O"), 99);
    EXPECT_EQ(Open(here + "ro/", "NEW.TXT", "O"), 99);
    fs::permissions(dir.path() / "ro", fs::perms::owner_all);
    EXPECT_FALSE(state.AnyFileOpen());
}

TEST(FileErrorTest, ErrnoToRuntimeErrorToResultCode) {
    // A missing file is "file not found" only when its directory exists.
    EXPECT_EQ(RuntimeErrorForErrno(ENOENT, true), 53);
    EXPECT_EQ(RuntimeErrorForErrno(ENOENT, false), 76);
    const std::pair<int, std::int32_t> errors[] = {
        {ENOTDIR, 76}, {ENOSPC, 61}, {EFBIG, 61},  {EDQUOT, 61}, {ENAMETOOLONG, 52},
        {EINVAL, 52},  {EILSEQ, 52}, {EACCES, 70}, {EPERM, 70},  {EROFS, 70},
        {EIO, 57},     {EISDIR, 75}, {EBUSY, 75},  {EMFILE, 75}, {ETXTBSY, 75}};
    for (const bool directoryExists : {true, false}) {
        for (const auto& [error, number] : errors) {
            EXPECT_EQ(RuntimeErrorForErrno(error, directoryExists), number) << error;
        }
    }
    const std::pair<std::int32_t, ResultCode> codes[] = {
        {53, 1},  {61, 72}, {52, 70}, {76, 71}, {0, 99},  {-1, 99}, {5, 99},  {6, 99},   {54, 99},
        {55, 99}, {57, 99}, {62, 99}, {68, 99}, {70, 99}, {71, 99}, {75, 99}, {1000, 99}};
    for (const auto& [number, code] : codes) {
        EXPECT_EQ(MapFileError(number), code) << number;
    }
}

TEST_F(FilesTest, FieldListsKnownAnswers) {
    // The list, the result, and the fields then defined with [what was left of the list]. Widths
    // are leading numbers rounded half to even, stored without a sign; at most 16 fields, and
    // field count plus widths at most 255; one width is checked for range, count, then length.
    using Row = std::tuple<std::string, ResultCode, std::string>;
    const Row shortRows[] = {
        {"0", 4, "=0"},       {"1", 0, "1=1"},     {"-5", 4, "=0"},        {"X", 4, "=0"},
        {"100", 4, "=0"},     {"99", 0, "99=99"},  {"", 9, "=0"},          {"    ", 9, "=0"},
        {"10,", 0, "10=10"},  {"10;", 0, "10=10"}, {"10 ", 0, "10=10"},    {"10.5", 0, "10=10"},
        {"11.5", 0, "12=12"}, {"0.5", 4, "=0"},    {"0.6", 0, "1=1"},      {"99.5", 4, "=0"},
        {"98.5", 0, "98=98"}, {"+7", 0, "7=7"},    {",10", 4, "=0 [,10]"}, {"2147483648", 4, "=0"}};
    const Row longerRows[] = {{"10,5,20", 0, "10 5 20=35"},    {"10;5;20", 0, "10 5 20=35"},
                              {"10 5 20", 0, "10 5 20=35"},    {"10,5;20", 0, "10 5 20=35"},
                              {"   10 5", 0, "10 5=15"},       {"10,,20", 4, "10=10 [,20]"},
                              {"10;;20", 4, "10=10 [;20]"},    {"10  20", 4, "10=10 [ 20]"},
                              {"10,100000", 4, "10=10"},       {"10abc,5x", 0, "10 5=15"},
                              {"99,99,54", 0, "99 99 54=252"}, {"10,5,0,7", 4, "10 5=15 [,7]"}};
    const std::string full = Repeat("15,", 15) + "14";
    const std::string fullFields = Repeat("15 ", 15) + "14=239";
    const std::string ones = Repeat("1 ", 15) + "1=16";
    const Row generated[] = {{std::string(400, '9'), 4, "=0"},
                             {"  99,99,55;1 2", 6, "99 99 55=253 [;1 2]"},
                             {Repeat("1,", 15) + "1", 0, ones},
                             {Repeat("1,", 16) + "1,3", 5, ones + " [,3]"},
                             {full, 0, fullFields},
                             {full + ",0", 4, fullFields},
                             {full + ",100", 4, fullFields},
                             {full + ",99", 5, fullFields},
                             {Repeat("15,", 15) + "15", 6, Repeat("15 ", 15) + "15=240"}};
    using Table = std::span<const Row>;
    for (const Table table : {Table(shortRows), Table(longerRows), Table(generated)}) {
        for (const auto& [text, code, fields] : table) {
            std::string list = text;
            EXPECT_EQ(SetFields(state, list), code) << text;
            EXPECT_EQ(Fields(state) + (list.empty() ? "" : " [" + list + "]"), fields) << text;
        }
    }
}

TEST_F(FilesTest, FieldFileKnownAnswers) {
    SendData();
    EXPECT_EQ(CheckFieldFile(state), 8);  // none there yet
    // Lines in any order and keyword case, others ignored, the last fields line stands; both are
    // needed, "fields" with a blank after it. Another file's name is refused even after valid
    // fields, which stay; a faulty fields line gives its own code, even before a wrong name.
    const Rows rows[] = {
        {"file    DATA.TXT\r\nfields  10 5 20\r\n", 0, "10 5 20=35"},
        {"* x\r\nfields 7,8\r\nrecords 3\r\nsize    33\r\nfile DATA.TXT\r\n", 0, "7 8=15"},
        {"File data.txt\r\nFiElDs 6;9\r\n", 0, "6 9=15"},
        {"file      DATA.TXT    \r\nfields 3\r\n", 0, "3=3"},
        {"fields 10 5 20\r\nfile DATA.TXT\r\nfields 40\r\n", 0, "40=40"},
        {"file DATA.TXT\nfields 10 5\n", 0, "10 5=15"},
        {"file DATA.TXT\r\nfields 12", 0, "12=12"},
        {"fields 10 5\r\nfile OTHER.TXT\r\n", 8, "10 5=15"},
        {"file OTHER.TXT\r\nfields 10 5\r\n", 8, "=0"},
        {"file DATA.TXT\r\nfields 10\r\nfile DATA.TX\r\n", 8, "10=10"},
        {"file\r\nfields 10\r\n", 8, "=0"},
        {"fields 10 5\r\n", 8, "10 5=15"},
        {"file DATA.TXT\r\nfields\r\n", 8, "=0"},
        {"file DATA.TXT\r\nfields,10\r\n", 8, "=0"},
        {"file DATA.TXT\r\nfields 10 0 5\r\n", 4, "10=10"},
        {"fields 0\r\nfile OTHER.TXT\r\n", 4, "=0"},
        {"file DATA.TXT\r\nfields 99,99,55\r\n", 6, "99 99 55=253"},
        {"file DATA.TXT\r\nfields 1 1 1 1 1 1 1 1 1 1 1 1 1 1 1 1 1\r\n", 5,
         "1 1 1 1 1 1 1 1 1 1 1 1 1 1 1 1=16"},
        {"file DATA.TXT\r\nfields \r\n", 9, "=0"}};
    for (const auto& [content, code, fields] : rows) {
        SendData();
        dir.Write("DATA.FLD", content);
        EXPECT_EQ(CheckFieldFile(state), code) << content;
        EXPECT_EQ(Fields(state), fields) << content;
        EXPECT_FALSE(state.AnyFileOpen()) << content;
    }
    state.fileName = "data.txt";  // compared with the upper-cased name exactly
    dir.Write("DATA.FLD", "file data.txt\r\nfields 10\r\n");
    EXPECT_EQ(CheckFieldFile(state), 8);
}

TEST_F(FilesTest, FieldFileIsWrittenAndReadBack) {
    SendData();
    std::string list = "10,5,20";
    ASSERT_EQ(SetFields(state, list), 0);
    state.recordCount = 3;
    dir.Write("DATA.FLD", "OLD CONTENT LONGER THAN ANY LINE THAT REPLACES IT, TO BE GONE\r\n");
    ASSERT_EQ(WriteFieldFile(state), 0);
    const std::string once = dir.Read("DATA.FLD");
    // Exact bytes but for the text of the notice line.
    const std::string head = "* Created by Ferrolith Ver ENG-32 2.72\r\n*";
    const std::string tail =
        "\r\nfile    DATA.TXT\r\ndate    12-06-2026 09:05:07\r\nsize    111\r\n"
        "records 3\r\nfields  10 5 20\r\n";
    ASSERT_GE(once.size(), head.size() + tail.size());
    EXPECT_EQ(once.substr(0, head.size()), head);
    EXPECT_EQ(once.substr(once.size() - tail.size()), tail);
    EXPECT_EQ(once.find_first_of("\r\n", head.size()), once.size() - tail.size());
    state.appendMode = true;
    ASSERT_EQ(WriteFieldFile(state), 0);
    EXPECT_EQ(dir.Read("DATA.FLD"), once + once);
    // Month-day-year on the 24-hour clock; the size of the largest layout does not overflow.
    state.appendMode = false;
    host.dateTime = LocalDateTime{2031, 1, 2, 23, 59, 30};
    list = "1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16";
    ASSERT_EQ(SetFields(state, list), 0);
    state.recordLength = 255;
    state.recordCount = 32767;
    ASSERT_EQ(WriteFieldFile(state), 0);
    EXPECT_NE(dir.Read("DATA.FLD")
                  .find("\r\ndate    01-02-2031 23:59:30\r\nsize    8421119\r\n"
                        "records 32767\r\nfields  1 2 3 4 5 6 7 8 9 10 11 12 13 "
                        "14 15 16\r\n"),
              std::string::npos);
    SendData();
    EXPECT_EQ(CheckFieldFile(state), 0);
    EXPECT_EQ(Fields(state), "1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16=136");
    // A failed open returns 0 and leaves its code in linkStatus; a failed write is reported.
    state.filePath = here + "NODIR/";
    EXPECT_EQ(WriteFieldFile(state), 0);
    EXPECT_EQ(state.linkStatus, 71);
    EXPECT_EQ(state.fileErrNumber, 0);
    state.filePath = "/dev/";
    state.fieldFileName = "full";  // takes the buffered lines, fails when they are flushed
    state.fileErrLine = 5;
    EXPECT_EQ(WriteFieldFile(state), 72);
    EXPECT_EQ(state.fileErrNumber, 61);
    EXPECT_EQ(state.fileErrLine, 0);
    EXPECT_FALSE(state.AnyFileOpen());
}

TEST_F(FilesTest, FileToSendHasAtMost32767Lines) {
    SendData();
    const std::tuple<std::string, ResultCode, int> rows[] = {
        {Repeat("RECORD\r\n", 32767), 0, 32767},
        {Repeat("RECORD\r\n", 32766) + "LAST", 0, 32767},
        {"", 0, 0},
        {Repeat("RECORD\r\n", 32768), 3, 42},
        {Repeat("RECORD\n", 32767) + "X", 3, 42},
        {Repeat("\r", 100000), 3, 42}};
    for (const auto& [content, code, count] : rows) {
        dir.Write("DATA.TXT", content);
        state.recordCount = 42;
        EXPECT_EQ(Test_File(state), code) << content.size();
        EXPECT_EQ(state.recordCount, count) << content.size();
    }
    state.fileName = "NONE.TXT";
    EXPECT_EQ(Test_File(state), 1);
    state.filePath = here + "NODIR\\";
    EXPECT_EQ(Test_File(state), 71);
    EXPECT_FALSE(state.AnyFileOpen());
}

TEST_F(FilesTest, LinesEndAtCrCrLfOrLf) {
    const auto expect = [this](const std::string& content, const std::string& lines) {
        EXPECT_EQ(Lines(*Text(content)), lines) << content.size();
        EXPECT_EQ(Text(content)->CountLines(1'000'000), std::count(lines.begin(), lines.end(), '|'))
            << content.size();
    };
    expect("", "");
    const std::pair<const char*, const char*> shortRows[] = {
        {"\r\n", "|"},       {"A\r\n", "A|"},       {"\n\r", "||"},      {"ONLY", "ONLY|"},
        {"A\n\rB", "A||B|"}, {"A\r\r\nB", "A||B|"}, {"A\n\nB", "A||B|"}, {"\r\r", "||"}};
    const std::pair<const char*, const char*> rows[] = {
        {"ONE\rTWO\r", "ONE|TWO|"},   {"ONE\nTWO\n", "ONE|TWO|"},   {"ONE\r\nTWO\r\n", "ONE|TWO|"},
        {"ONE\rTWO\r\n", "ONE|TWO|"}, {"A\rB\r\nC\nD", "A|B|C|D|"}, {"\r\n\r\n\nX\r\r", "|||X||"}};
    using Table = std::span<const std::pair<const char*, const char*>>;
    for (const Table table : {Table(shortRows), Table(rows)}) {
        for (const auto& [content, lines] : table) {
            expect(content, lines);
        }
    }
    // Line ends split over the 64 KiB read buffer, lines longer than it, bytes passed unchanged.
    const std::string a(65535, 'A');
    const std::string c(65536, 'C');
    const std::string l(3 * 65536 + 17, 'L');
    const std::string bytes("\x00\x01\xA3\xE9\xFF\t", 6);
    const std::pair<std::string, std::string> boundaries[] = {
        {a + "\r\nB", a + "|B|"},  {a + "\r\n", a + "|"}, {a + "\rB", a + "|B|"},
        {a + "\n\rB", a + "||B|"}, {a + "\r", a + "|"},   {a + "\r\r", a + "||"}};
    for (const auto& [content, lines] : boundaries) {
        expect(content, lines);
    }
    expect(c, c + "|");
    expect(l + "\r\nshort\r\n" + l, l + "|short|" + l + "|");
    expect(bytes + "\r\n" + bytes, bytes + "|" + bytes + "|");
    // Counting what is left after reading some lines: an LF waiting after a CR belongs to the
    // line already read.
    const std::tuple<const char*, int, std::int64_t> afterReading[] = {
        {"A\r\nB\r\nC\rD\nE", 2, 3}, {"A\r\n\r\nB", 1, 2}, {"A\r\nB", 1, 1}, {"A\r", 1, 0}};
    for (const auto& [content, read, left] : afterReading) {
        auto file = Text(content);
        std::string line;
        for (int i = 0; i < read; ++i) {
            file->ReadLine(line);
        }
        EXPECT_EQ(file->CountLines(100), left) << content;
    }
    // The count stops one past the limit.
    const std::tuple<const char*, std::int64_t, std::int64_t> limits[] = {
        {"1\n2\n3\n4\n5\n", 10, 5}, {"1\n2\n3\n4\n5\n", 5, 5}, {"1\n2\n3\n4\n5\n", 4, 5},
        {"1\n2\n3\n4\n5\n", 0, 1},  {"1\n2\n3", 2, 3},         {"1\n2\n3", 3, 3}};
    for (const auto& [content, limit, count] : limits) {
        EXPECT_EQ(Text(content)->CountLines(limit), count) << limit;
    }
}

}  // namespace
}  // namespace quenlo
