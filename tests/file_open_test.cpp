// Opening engine files under their numbers, finding existing files whatever their case, and
// turning system failures into run-time error numbers and result codes.
#include "files/file_open.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <string>
#include <tuple>

#include <sys/stat.h>
#include <unistd.h>

#include "engine/text.h"
#include "files/engine_file.h"
#include "support/fake_host.h"
#include "support/temp_dir.h"

namespace quenlo {
namespace {

namespace fs = std::filesystem;

class OpenFileTest : public ::testing::Test {
  protected:
    ResultCode Open(const std::string& directory, const std::string& name,
                    FileNumber number = FileNumber::kSend) {
        return OpenFile(state, directory, name, number, "I");
    }
    // Every line of the open file, each followed by "|".
    std::string ReadAll(FileNumber number = FileNumber::kSend) {
        std::string all;
        std::string line;
        while (state.file(number)->ReadLine(line)) {
            all += line + "|";
        }
        return all;
    }
    ResultCode WriteText(const std::string& directory, const std::string& name,
                         const std::string& text) {
        const ResultCode opened = OpenFile(state, directory, name, FileNumber::kReceive, "O");
        if (opened == 0) {
            EXPECT_EQ(state.file(FileNumber::kReceive)->Write(text), 0);
            state.CloseFile(FileNumber::kReceive);
        }
        return opened;
    }

    testing::FakeHost host;
    RunState state{host};
    testing::TempDir dir;
};

TEST_F(OpenFileTest, FailedOpensGiveTheirCodesAndLeaveEveryNumberClosed) {
    dir.Write("DATA.TXT", "X");
    fs::create_directory(dir.path() / "sub");
    fs::create_directory(dir.path() / "SUBDIR");
    const std::string here = dir.enginePath();
    const std::string upperSub = UpperCase(here) + "SUB/";
    const std::string overlong(300, 'A');  // longer than any file system allows a component
    // The tests run in a directory of their own making, where this name does not exist.
    ASSERT_FALSE(fs::exists("QUENLO-NO-SUCH-FILE.TXT"));
    const std::tuple<std::string, std::string, const char*, ResultCode> rows[] = {
        {here, "NONE.TXT", "I", 1},
        {"", "QUENLO-NO-SUCH-FILE.TXT", "I", 1},  // empty: the current directory
        {upperSub, "OTHER.TXT", "I", 1},          // still missing in any case
        {here + "NODIR/", "NONE.TXT", "I", 71},
        {here + "NODIR/", "NEW.TXT", "O", 71},
        {here + "A\\B\\C\\", "X.TXT", "I", 71},
        {here + "DATA.TXT\\", "X.TXT", "I", 71},  // a file used as a directory
        {upperSub + "DEEPER/", "DATA.TXT", "I", 71},
        {here, "SUBDIR", "I", 99},  // a directory opened as a file
        {here, "SUBDIR", "O", 99},
        {here, overlong, "I", 70},
        {here, overlong, "O", 70},
    };
    for (const auto& [directory, name, mode, code] : rows) {
        const std::string label = directory + name.substr(0, 20) + " " + mode;
        EXPECT_EQ(OpenFile(state, directory, name, FileNumber::kSend, mode), code) << label;
        EXPECT_FALSE(state.AnyFileOpen()) << label;
    }
    EXPECT_FALSE(fs::exists(dir.path() / "NODIR"));
}

TEST_F(OpenFileTest, ExistingFileIsReadUnderItsNumber) {
    state.currentProcedure = "Caller";
    EXPECT_EQ(Open(dir.enginePath(), "PROG.PD3"), 1);
    // The failed try left the number free for the next.
    dir.Write("PROG.PD3", "ONE\r\nTWO\r\n");
    ASSERT_EQ(Open(dir.enginePath(), "PROG.PD3"), 0);
    EXPECT_EQ(state.file(FileNumber::kReceive), nullptr);
    EXPECT_EQ(state.file(FileNumber::kFieldFile), nullptr);
    EXPECT_EQ(ReadAll(), "ONE|TWO|");
    EXPECT_EQ(state.currentProcedure, "Caller");
    state.CloseFile(FileNumber::kSend);
    EXPECT_FALSE(state.AnyFileOpen());
}

TEST_F(OpenFileTest, NumberAlreadyInUseIsAGeneralFailure) {
    dir.Write("A.TXT", "FIRST\n");
    dir.Write("B.TXT", "SECOND\n");
    ASSERT_EQ(Open(dir.enginePath(), "A.TXT"), 0);
    EXPECT_EQ(Open(dir.enginePath(), "B.TXT"), 99);
    EXPECT_EQ(ReadAll(), "FIRST|");  // the first file stays open and untouched
    EXPECT_EQ(Open(dir.enginePath(), "B.TXT", FileNumber::kFieldFile), 0);
    EXPECT_EQ(ReadAll(FileNumber::kFieldFile), "SECOND|");
    state.CloseAllFiles();
}

TEST_F(OpenFileTest, WriteModeCreatesAndReplaces) {
    ASSERT_EQ(WriteText(dir.enginePath(), "NEW.TXT", "LONGER CONTENT\r\n"), 0);
    EXPECT_EQ(dir.Read("NEW.TXT"), "LONGER CONTENT\r\n");
    ASSERT_EQ(WriteText(dir.enginePath(), "NEW.TXT", "SHORT\r\n"), 0);
    EXPECT_EQ(dir.Read("NEW.TXT"), "SHORT\r\n");
    // Every mode other than "I" writes.
    ASSERT_EQ(OpenFile(state, dir.enginePath(), "NEW.TXT", FileNumber::kReceive, "A"), 0);
    state.CloseFile(FileNumber::kReceive);
    EXPECT_EQ(dir.Read("NEW.TXT"), "");
}

TEST_F(OpenFileTest, AppendModeAppendsAndLeavesReadingAlone) {
    dir.Write("LOG.TXT", "ONE\r\n");
    state.appendMode = true;
    ASSERT_EQ(WriteText(dir.enginePath(), "LOG.TXT", "TWO\r\n"), 0);
    EXPECT_EQ(dir.Read("LOG.TXT"), "ONE\r\nTWO\r\n");
    // Appending to a file that does not exist yet creates it.
    ASSERT_EQ(WriteText(dir.enginePath(), "FRESH.TXT", "X\r\n"), 0);
    EXPECT_EQ(dir.Read("FRESH.TXT"), "X\r\n");
    ASSERT_EQ(Open(dir.enginePath(), "LOG.TXT"), 0);
    EXPECT_EQ(ReadAll(), "ONE|TWO|");
    state.CloseAllFiles();
    EXPECT_EQ(dir.Read("LOG.TXT"), "ONE\r\nTWO\r\n");
}

TEST_F(OpenFileTest, ExistingNamesAreFoundWhateverTheirCaseAndSeparators) {
    fs::create_directory(dir.path() / "sub");
    dir.Write("sub/data.txt", "LOWER\n");
    dir.Write(
        "\xC2\xA3"
        "data.txt",
        "POUND\n");                           // "£data.txt" as this machine spells it
    dir.Write("caf\xC3\xA9.txt", "ACUTE\n");  // "café.txt"
    const std::string upperSub = UpperCase(dir.enginePath()) + "SUB/";
    std::string windowsSub = upperSub;
    for (char& c : windowsSub) {
        c = c == '/' ? '\\' : c;
    }
    const std::tuple<std::string, const char*, const char*> rows[] = {
        {upperSub, "DATA.TXT", "LOWER|"},
        {dir.enginePath() + "Sub/", "Data.Txt", "LOWER|"},
        {windowsSub, "DATA.TXT", "LOWER|"},
        {dir.enginePath() + "sub\\", "data.txt", "LOWER|"},  // mixed separators
        {dir.enginePath(),
         "\xA3"
         "DATA.TXT",
         "POUND|"},  // single-byte names in UTF-8
        {dir.enginePath(), "CAF\xC9.TXT", "ACUTE|"},
    };
    for (const auto& [directory, name, content] : rows) {
        ASSERT_EQ(Open(directory, name), 0) << directory << name;
        EXPECT_EQ(ReadAll(), content) << directory << name;
        state.CloseAllFiles();
    }

    // Writing replaces the file of another case; a new file keeps the name as given.
    ASSERT_EQ(WriteText(upperSub, "DATA.TXT", "NEW\n"), 0);
    EXPECT_EQ(dir.Read("sub/data.txt"), "NEW\n");
    ASSERT_EQ(WriteText(windowsSub, "NEW.FLD", "W\n"), 0);
    EXPECT_EQ(dir.Read("sub/NEW.FLD"), "W\n");
    EXPECT_FALSE(fs::exists(dir.path() / "sub" / "DATA.TXT"));
    EXPECT_FALSE(fs::exists(dir.path() / "SUB"));
}

TEST_F(OpenFileTest, PermissionFailuresAreGeneralFailures) {
    if (::geteuid() == 0) {
        GTEST_SKIP() << "permissions do not stop the superuser";
    }
    fs::permissions(dir.Write("SECRET.TXT", "X\n"), fs::perms::none);
    EXPECT_EQ(Open(dir.enginePath(), "SECRET.TXT"), 99);
    EXPECT_EQ(OpenFile(state, dir.enginePath(), "SECRET.TXT", FileNumber::kReceive, "O"), 99);
    fs::create_directory(dir.path() / "ro");
    fs::permissions(dir.path() / "ro", fs::perms::owner_read | fs::perms::owner_exec);
    EXPECT_EQ(OpenFile(state, dir.enginePath() + "ro/", "NEW.TXT", FileNumber::kReceive, "O"), 99);
    fs::permissions(dir.path() / "ro", fs::perms::owner_all);
    EXPECT_FALSE(state.AnyFileOpen());
}

// Written through OpenFile, a full device gives "disk full": see WriteFieldFileTest.
TEST_F(OpenFileTest, FullDeviceFailsWhenTheBufferIsFlushed) {
    if (!fs::exists("/dev/full")) {
        GTEST_SKIP() << "no /dev/full on this machine";
    }
    int error = -1;
    auto file = EngineFile::Open("/dev/full", EngineFile::Mode::kWrite, error);
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(error, 0);
    EXPECT_EQ(file->Write("X\r\n"), 0);  // waits in the buffer
    EXPECT_EQ(file->Close(), ENOSPC);
    EXPECT_EQ(file->Close(), 0);  // closing twice is harmless
}

TEST(MapFileErrorTest, RuntimeErrorsToResultCodes) {
    EXPECT_EQ(MapFileError(53), 1);   // file not found
    EXPECT_EQ(MapFileError(61), 72);  // disk full
    EXPECT_EQ(MapFileError(52), 70);  // bad file name
    EXPECT_EQ(MapFileError(76), 71);  // path not found
    for (const std::int32_t number : {0, -1, 5, 6, 54, 55, 57, 62, 68, 70, 71, 72, 75, 1000}) {
        EXPECT_EQ(MapFileError(number), 99) << number;
    }
}

TEST(RuntimeErrorForErrnoTest, ErrorClasses) {
    // A missing file is "file not found" only when its directory exists.
    EXPECT_EQ(RuntimeErrorForErrno(ENOENT, true), 53);
    EXPECT_EQ(RuntimeErrorForErrno(ENOENT, false), 76);
    const std::pair<int, std::int32_t> rows[] = {
        {ENOTDIR, 76}, {ENOSPC, 61}, {EFBIG, 61},  {ENAMETOOLONG, 52}, {EINVAL, 52},
        {EILSEQ, 52},  {EACCES, 70}, {EPERM, 70},  {EROFS, 70},        {EIO, 57},
        {EISDIR, 75},  {EBUSY, 75},  {EMFILE, 75}, {ETXTBSY, 75},
#ifdef EDQUOT
        {EDQUOT, 61},
#endif
    };
    for (const bool directoryExists : {true, false}) {
        for (const auto& [error, number] : rows) {
            EXPECT_EQ(RuntimeErrorForErrno(error, directoryExists), number)
                << "errno " << error << (directoryExists ? " in an existing directory" : "");
        }
    }
}

}  // namespace
}  // namespace quenlo
