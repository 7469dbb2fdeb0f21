// Opening engine files under their numbers, finding existing files whatever their case, and
// turning system failures into run-time error numbers and result codes.
#include "files/file_open.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <string>

#include <sys/stat.h>
#include <unistd.h>

#include "engine/text.h"
#include "files/engine_file.h"
#include "support/fake_host.h"
#include "support/temp_dir.h"

namespace quenlo {
namespace {

namespace fs = std::filesystem;

// An engine path with every "/" turned into "\".
std::string Backslashed(std::string path) {
    for (char& c : path) {
        if (c == '/') {
            c = '\\';
        }
    }
    return path;
}

class OpenFileTest : public ::testing::Test {
  protected:
    std::string ReadAll(FileNumber number) {
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

TEST_F(OpenFileTest, MissingFileIsNotFound) {
    EXPECT_EQ(OpenFile(state, dir.enginePath(), "NONE.TXT", FileNumber::kSend, "I"), 1);
    EXPECT_EQ(state.file(FileNumber::kSend), nullptr);
    EXPECT_FALSE(state.AnyFileOpen());
}

TEST_F(OpenFileTest, EmptyDirectoryMeansTheCurrentOne) {
    // The tests run in a directory of their own making, where this name does not exist.
    ASSERT_FALSE(fs::exists("QUENLO-NO-SUCH-FILE.TXT"));
    EXPECT_EQ(OpenFile(state, "", "QUENLO-NO-SUCH-FILE.TXT", FileNumber::kSend, "I"), 1);
    EXPECT_FALSE(state.AnyFileOpen());
}

TEST_F(OpenFileTest, MissingDirectoryIsPathNotFound) {
    const std::string missing = dir.enginePath() + "NODIR/";
    EXPECT_EQ(OpenFile(state, missing, "NONE.TXT", FileNumber::kSend, "I"), 71);
    EXPECT_EQ(OpenFile(state, missing, "NEW.TXT", FileNumber::kReceive, "O"), 71);
    EXPECT_EQ(OpenFile(state, dir.enginePath() + "A\\B\\C\\", "X.TXT", FileNumber::kSend, "I"), 71);
    EXPECT_FALSE(state.AnyFileOpen());
    EXPECT_FALSE(fs::exists(dir.path() / "NODIR"));
}

TEST_F(OpenFileTest, FileUsedAsADirectoryIsPathNotFound) {
    dir.Write("DATA.TXT", "X");
    EXPECT_EQ(OpenFile(state, dir.enginePath() + "DATA.TXT\\", "X.TXT", FileNumber::kSend, "I"),
              71);
    EXPECT_FALSE(state.AnyFileOpen());
}

TEST_F(OpenFileTest, DirectoryOpenedAsAFileIsAGeneralFailure) {
    fs::create_directory(dir.path() / "SUB");
    EXPECT_EQ(OpenFile(state, dir.enginePath(), "SUB", FileNumber::kSend, "I"), 99);
    EXPECT_EQ(OpenFile(state, dir.enginePath(), "SUB", FileNumber::kReceive, "O"), 99);
    EXPECT_FALSE(state.AnyFileOpen());
}

TEST_F(OpenFileTest, ExistingFileIsReadUnderItsNumber) {
    dir.Write("PROG.PD3", "ONE\r\nTWO\r\n");
    state.currentProcedure = "Caller";
    ASSERT_EQ(OpenFile(state, dir.enginePath(), "PROG.PD3", FileNumber::kSend, "I"), 0);
    ASSERT_NE(state.file(FileNumber::kSend), nullptr);
    EXPECT_EQ(state.file(FileNumber::kReceive), nullptr);
    EXPECT_EQ(state.file(FileNumber::kFieldFile), nullptr);
    EXPECT_EQ(ReadAll(FileNumber::kSend), "ONE|TWO|");
    EXPECT_EQ(state.currentProcedure, "Caller");
    state.CloseFile(FileNumber::kSend);
    EXPECT_FALSE(state.AnyFileOpen());
}

TEST_F(OpenFileTest, NumberAlreadyInUseIsAGeneralFailure) {
    dir.Write("A.TXT", "FIRST\n");
    dir.Write("B.TXT", "SECOND\n");
    ASSERT_EQ(OpenFile(state, dir.enginePath(), "A.TXT", FileNumber::kSend, "I"), 0);
    EXPECT_EQ(OpenFile(state, dir.enginePath(), "B.TXT", FileNumber::kSend, "I"), 99);
    // The first file stays open and untouched.
    EXPECT_EQ(ReadAll(FileNumber::kSend), "FIRST|");
    // Other numbers are free.
    EXPECT_EQ(OpenFile(state, dir.enginePath(), "B.TXT", FileNumber::kFieldFile, "I"), 0);
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

TEST_F(OpenFileTest, AppendModeAppends) {
    dir.Write("LOG.TXT", "ONE\r\n");
    state.appendMode = true;
    ASSERT_EQ(WriteText(dir.enginePath(), "LOG.TXT", "TWO\r\n"), 0);
    EXPECT_EQ(dir.Read("LOG.TXT"), "ONE\r\nTWO\r\n");
    // Appending to a file that does not exist yet creates it.
    ASSERT_EQ(WriteText(dir.enginePath(), "FRESH.TXT", "X\r\n"), 0);
    EXPECT_EQ(dir.Read("FRESH.TXT"), "X\r\n");
}

TEST_F(OpenFileTest, AppendModeDoesNotAffectReading) {
    dir.Write("IN.TXT", "LINE\n");
    state.appendMode = true;
    ASSERT_EQ(OpenFile(state, dir.enginePath(), "IN.TXT", FileNumber::kSend, "I"), 0);
    EXPECT_EQ(ReadAll(FileNumber::kSend), "LINE|");
    state.CloseAllFiles();
    EXPECT_EQ(dir.Read("IN.TXT"), "LINE\n");
}

TEST_F(OpenFileTest, ExistingNamesAreFoundWhateverTheirCase) {
    fs::create_directory(dir.path() / "sub");
    dir.Write("sub/data.txt", "LOWER\n");
    const std::string upperDir = UpperCase(dir.enginePath()) + "SUB/";
    ASSERT_EQ(OpenFile(state, upperDir, "DATA.TXT", FileNumber::kSend, "I"), 0);
    EXPECT_EQ(ReadAll(FileNumber::kSend), "LOWER|");
    state.CloseAllFiles();
    ASSERT_EQ(OpenFile(state, dir.enginePath() + "Sub/", "Data.Txt", FileNumber::kSend, "I"), 0);
    state.CloseAllFiles();
    // The missing file is still missing in any case, and a missing directory still a path.
    EXPECT_EQ(OpenFile(state, upperDir, "OTHER.TXT", FileNumber::kSend, "I"), 1);
    EXPECT_EQ(OpenFile(state, upperDir + "DEEPER/", "DATA.TXT", FileNumber::kSend, "I"), 71);
}

TEST_F(OpenFileTest, WritingReplacesAnExistingFileOfAnotherCase) {
    fs::create_directory(dir.path() / "sub");
    dir.Write("sub/data.txt", "OLD\n");
    ASSERT_EQ(WriteText(UpperCase(dir.enginePath()) + "SUB/", "DATA.TXT", "NEW\n"), 0);
    EXPECT_EQ(dir.Read("sub/data.txt"), "NEW\n");
    EXPECT_FALSE(fs::exists(dir.path() / "sub" / "DATA.TXT"));
}

TEST_F(OpenFileTest, NewFilesKeepTheNameAsGiven) {
    fs::create_directory(dir.path() / "sub");
    ASSERT_EQ(WriteText(UpperCase(dir.enginePath()) + "SUB/", "NEW.FLD", "X\n"), 0);
    EXPECT_TRUE(fs::exists(dir.path() / "sub" / "NEW.FLD"));
    EXPECT_FALSE(fs::exists(dir.path() / "SUB"));
}

TEST_F(OpenFileTest, SingleByteNamesMatchTheirUtf8Spelling) {
    dir.Write(
        "\xC2\xA3"
        "data.txt",
        "POUND\n");                           // "£data.txt" as this machine spells it
    dir.Write("caf\xC3\xA9.txt", "ACUTE\n");  // "café.txt"
    ASSERT_EQ(OpenFile(state, dir.enginePath(),
                       "\xA3"
                       "DATA.TXT",
                       FileNumber::kSend, "I"),
              0);
    EXPECT_EQ(ReadAll(FileNumber::kSend), "POUND|");
    state.CloseAllFiles();
    ASSERT_EQ(OpenFile(state, dir.enginePath(), "CAF\xC9.TXT", FileNumber::kSend, "I"), 0);
    EXPECT_EQ(ReadAll(FileNumber::kSend), "ACUTE|");
    state.CloseAllFiles();
}

TEST_F(OpenFileTest, BackslashesSeparateDirectories) {
    fs::create_directory(dir.path() / "sub");
    dir.Write("sub/prog.pd3", "BACKSLASH\n");
    const std::string windowsStyle = Backslashed(UpperCase(dir.enginePath())) + "SUB\\";
    ASSERT_EQ(windowsStyle.find('/'), std::string::npos);
    ASSERT_EQ(OpenFile(state, windowsStyle, "PROG.PD3", FileNumber::kSend, "I"), 0);
    EXPECT_EQ(ReadAll(FileNumber::kSend), "BACKSLASH|");
    state.CloseAllFiles();
    // Mixed separators as well.
    ASSERT_EQ(OpenFile(state, dir.enginePath() + "sub\\", "prog.pd3", FileNumber::kSend, "I"), 0);
    state.CloseAllFiles();
    ASSERT_EQ(WriteText(windowsStyle, "OUT.TXT", "W\n"), 0);
    EXPECT_EQ(dir.Read("sub/OUT.TXT"), "W\n");
}

TEST_F(OpenFileTest, FailedOpenLeavesTheNumberClosedForTheNextTry) {
    EXPECT_EQ(OpenFile(state, dir.enginePath(), "LATER.TXT", FileNumber::kSend, "I"), 1);
    dir.Write("LATER.TXT", "NOW\n");
    ASSERT_EQ(OpenFile(state, dir.enginePath(), "LATER.TXT", FileNumber::kSend, "I"), 0);
    EXPECT_EQ(ReadAll(FileNumber::kSend), "NOW|");
    state.CloseAllFiles();
}

TEST_F(OpenFileTest, UnreadableFileIsAGeneralFailure) {
    if (::geteuid() == 0) {
        GTEST_SKIP() << "permissions do not stop the superuser";
    }
    const fs::path file = dir.Write("SECRET.TXT", "X\n");
    fs::permissions(file, fs::perms::none);
    EXPECT_EQ(OpenFile(state, dir.enginePath(), "SECRET.TXT", FileNumber::kSend, "I"), 99);
    EXPECT_EQ(OpenFile(state, dir.enginePath(), "SECRET.TXT", FileNumber::kReceive, "O"), 99);
    EXPECT_FALSE(state.AnyFileOpen());
}

TEST_F(OpenFileTest, ReadOnlyDirectoryRefusesNewFiles) {
    if (::geteuid() == 0) {
        GTEST_SKIP() << "permissions do not stop the superuser";
    }
    fs::create_directory(dir.path() / "ro");
    fs::permissions(dir.path() / "ro", fs::perms::owner_read | fs::perms::owner_exec);
    EXPECT_EQ(OpenFile(state, dir.enginePath() + "ro/", "NEW.TXT", FileNumber::kReceive, "O"), 99);
    fs::permissions(dir.path() / "ro", fs::perms::owner_all);
}

TEST_F(OpenFileTest, FullDeviceGivesDiskFull) {
    if (!fs::exists("/dev/full")) {
        GTEST_SKIP() << "no /dev/full on this machine";
    }
    ASSERT_EQ(OpenFile(state, "/dev/", "full", FileNumber::kReceive, "O"), 0);
    EngineFile& file = *state.file(FileNumber::kReceive);
    int error = file.Write(std::string(1 << 20, 'X'));
    if (error == 0) {
        error = file.Close();
    }
    state.CloseAllFiles();
    EXPECT_EQ(error, ENOSPC);
    EXPECT_EQ(RuntimeErrorForErrno(error, true), 61);
    EXPECT_EQ(MapFileError(RuntimeErrorForErrno(error, true)), 72);
}

TEST_F(OpenFileTest, FullDeviceFailsAtCloseForShortWrites) {
    if (!fs::exists("/dev/full")) {
        GTEST_SKIP() << "no /dev/full on this machine";
    }
    int error = -1;
    auto file = EngineFile::Open("/dev/full", EngineFile::Mode::kWrite, error);
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(error, 0);
    // A short text waits in the buffer; the failure shows when it is flushed.
    EXPECT_EQ(file->Write("X\r\n"), 0);
    EXPECT_EQ(file->Close(), ENOSPC);
    EXPECT_EQ(file->Close(), 0);  // closing twice is harmless
}

TEST(MapFileErrorTest, RuntimeErrorsToResultCodes) {
    EXPECT_EQ(MapFileError(53), 1);   // file not found
    EXPECT_EQ(MapFileError(61), 72);  // disk full
    EXPECT_EQ(MapFileError(52), 70);  // bad file name
    EXPECT_EQ(MapFileError(76), 71);  // path not found
}

TEST(MapFileErrorTest, EverythingElseIsAGeneralFailure) {
    for (const std::int32_t number : {0, -1, 5, 6, 54, 55, 57, 62, 68, 70, 71, 72, 75, 1000}) {
        EXPECT_EQ(MapFileError(number), 99) << number;
    }
}

TEST(RuntimeErrorForErrnoTest, MissingFileDependsOnItsDirectory) {
    EXPECT_EQ(RuntimeErrorForErrno(ENOENT, true), 53);
    EXPECT_EQ(RuntimeErrorForErrno(ENOENT, false), 76);
    EXPECT_EQ(RuntimeErrorForErrno(ENOTDIR, true), 76);
    EXPECT_EQ(RuntimeErrorForErrno(ENOTDIR, false), 76);
}

TEST(RuntimeErrorForErrnoTest, ErrorClasses) {
    for (const bool directoryExists : {true, false}) {
        EXPECT_EQ(RuntimeErrorForErrno(ENOSPC, directoryExists), 61);
        EXPECT_EQ(RuntimeErrorForErrno(EFBIG, directoryExists), 61);
#ifdef EDQUOT
        EXPECT_EQ(RuntimeErrorForErrno(EDQUOT, directoryExists), 61);
#endif
        EXPECT_EQ(RuntimeErrorForErrno(ENAMETOOLONG, directoryExists), 52);
        EXPECT_EQ(RuntimeErrorForErrno(EINVAL, directoryExists), 52);
        EXPECT_EQ(RuntimeErrorForErrno(EILSEQ, directoryExists), 52);
        EXPECT_EQ(RuntimeErrorForErrno(EACCES, directoryExists), 70);
        EXPECT_EQ(RuntimeErrorForErrno(EPERM, directoryExists), 70);
        EXPECT_EQ(RuntimeErrorForErrno(EROFS, directoryExists), 70);
        EXPECT_EQ(RuntimeErrorForErrno(EIO, directoryExists), 57);
        EXPECT_EQ(RuntimeErrorForErrno(EISDIR, directoryExists), 75);
        EXPECT_EQ(RuntimeErrorForErrno(EBUSY, directoryExists), 75);
        EXPECT_EQ(RuntimeErrorForErrno(EMFILE, directoryExists), 75);
        EXPECT_EQ(RuntimeErrorForErrno(ETXTBSY, directoryExists), 75);
    }
}

TEST(RuntimeErrorForErrnoTest, ResultCodesThroughBothSteps) {
    EXPECT_EQ(MapFileError(RuntimeErrorForErrno(ENOENT, true)), 1);
    EXPECT_EQ(MapFileError(RuntimeErrorForErrno(ENOENT, false)), 71);
    EXPECT_EQ(MapFileError(RuntimeErrorForErrno(ENOSPC, true)), 72);
    EXPECT_EQ(MapFileError(RuntimeErrorForErrno(ENAMETOOLONG, true)), 70);
    EXPECT_EQ(MapFileError(RuntimeErrorForErrno(EACCES, true)), 99);
    EXPECT_EQ(MapFileError(RuntimeErrorForErrno(EIO, true)), 99);
}

TEST_F(OpenFileTest, OverlongNameIsABadFileName) {
    // One path component longer than any file system allows.
    EXPECT_EQ(OpenFile(state, dir.enginePath(), std::string(300, 'A'), FileNumber::kSend, "I"), 70);
    EXPECT_EQ(OpenFile(state, dir.enginePath(), std::string(300, 'A'), FileNumber::kReceive, "O"),
              70);
    EXPECT_FALSE(state.AnyFileOpen());
}

}  // namespace
}  // namespace quenlo
