// What only Windows has, on Windows itself (make windows-check runs this under Wine): drive
// letters, "\" between directories, a file system blind to case, and COM port names.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>

#include "base/engine_file.h"
#include "base/run_state.h"
#include "base/text.h"
#include "files/file_names.h"
#include "files/file_open.h"
#include "files/native_path.h"
#include "platform/port_names.h"
#include "support/fake_host.h"
#include "support/temp_dir.h"

namespace quenlo {
namespace {

namespace fs = std::filesystem;

// Every line left in the file, each followed by "|".
std::string Lines(EngineFile& file) {
    std::string all;
    for (std::string line; file.ReadLine(line);) {
        all += line + "|";
    }
    return all;
}

std::string Backslashed(std::string path) {
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

TEST(WindowsPorts, EachPortNumberOpensItsComPort) {
    // +P0 is port 1; the option line reaches port 21 (+P20). Two-digit names need no prefix here:
    // QSerialPort adds the \\.\ they need.
    EXPECT_EQ(DefaultDeviceForPort(1), "COM1");
    EXPECT_EQ(DefaultDeviceForPort(9), "COM9");
    EXPECT_EQ(DefaultDeviceForPort(10), "COM10");
    EXPECT_EQ(DefaultDeviceForPort(kPortNumbers), "COM21");
}

class WindowsFiles : public ::testing::Test {
  protected:
    WindowsFiles() {
        fs::create_directory(dir.path() / "Sub");
        dir.Write("Sub/data.txt", "FIRST\r\nSECOND\r\n");  // as Windows editors end lines
        // This directory as an engine path: drive letter, "\" only, all in upper case.
        here = UpperCase(Backslashed(dir.path().string())) + "\\";
    }
    // What the file at directory & name reads as, or the code of its failure.
    std::string Read(const std::string& directory, const std::string& name) {
        const ResultCode code = OpenFile(state, directory, name, FileNumber::kSend, "I");
        const std::string read = code == 0 ? Lines(*state.file(FileNumber::kSend))
                                           : "code " + std::to_string(code);
        state.CloseAllFiles();
        return read;
    }

    testing::FakeHost host;
    RunState state{host};
    testing::TempDir dir;
    std::string here;
};

TEST_F(WindowsFiles, ThePathStartsWithADriveLetter) {
    ASSERT_GE(here.size(), 3u);
    EXPECT_TRUE(here[0] >= 'A' && here[0] <= 'Z') << here;
    EXPECT_EQ(here.substr(1, 2), ":\\") << here;
}

TEST_F(WindowsFiles, DrivePathsFindFilesWhateverTheCaseAndSeparators) {
    const std::string lowerDrive = std::string(1, static_cast<char>(here[0] - 'A' + 'a')) +
                                   here.substr(1);
    std::string forward = here;
    std::replace(forward.begin(), forward.end(), '\\', '/');
    EXPECT_EQ(Read(here + "SUB\\", "DATA.TXT"), "FIRST|SECOND|");
    EXPECT_EQ(Read(lowerDrive + "sub\\", "Data.Txt"), "FIRST|SECOND|");
    EXPECT_EQ(Read(forward + "SUB/", "DATA.TXT"), "FIRST|SECOND|");
    EXPECT_EQ(Read(here + "SUB/", "DATA.TXT"), "FIRST|SECOND|");
    EXPECT_EQ(Read(here + "SUB\\", "OTHER.TXT"), "code 1");   // file not found
    EXPECT_EQ(Read(here + "NODIR\\", "DATA.TXT"), "code 71");  // path not found
    EXPECT_EQ(Read(here, "SUB"), "code 99");                   // a directory is no file
    EXPECT_TRUE(fs::equivalent(NativePath(here + "SUB\\DATA.TXT"), dir.path() / "Sub" / "data.txt"));
}

TEST_F(WindowsFiles, WritingReplacesTheFileOfAnotherCase) {
    // One file, whatever case the option line gives its name in: no second file beside it.
    ASSERT_EQ(OpenFile(state, here + "SUB\\", "DATA.TXT", FileNumber::kReceive, "O"), 0);
    ASSERT_EQ(state.file(FileNumber::kReceive)->Write("NEW\r\n"), 0);
    state.CloseAllFiles();
    EXPECT_EQ(Read(here + "sub\\", "data.txt"), "NEW|");
    int files = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(dir.path() / "Sub")) {
        ++files;
    }
    EXPECT_EQ(files, 1);
}

TEST_F(WindowsFiles, LatinNamesAreTheNamesTheSystemShows) {
    // "café.txt" on the disk is "CAFÉ.TXT" in the engine's single-byte text, whatever the case;
    // a received "£NEW.TXT" is "£NEW.TXT" in Explorer.
    std::ofstream(dir.path() / fs::path(u8"caf\u00e9.txt"), std::ios::binary) << "ACUTE\n";
    EXPECT_EQ(Read(here, "CAF\311.TXT"), "ACUTE|");
    EXPECT_EQ(Read(here, "caf\351.txt"), "ACUTE|");
    ASSERT_EQ(OpenFile(state, here, "\243NEW.TXT", FileNumber::kReceive, "O"), 0);
    state.CloseAllFiles();
    EXPECT_TRUE(fs::exists(dir.path() / fs::path(u8"\u00a3NEW.TXT")));
}

TEST_F(WindowsFiles, ADeviceIsNoFileToSend) {
    // What /dev/zero is elsewhere: NUL opens in every directory and reads as nothing (CON and
    // COM1 would wait for input forever); never a file of records.
    EXPECT_EQ(Read(here, "NUL"), "code 70");
    EXPECT_EQ(Read(here + "SUB\\", "nul"), "code 70");
}

TEST_F(WindowsFiles, DeviceNamesAreNeverFilesToReceiveInto) {
    // Opening "COM1.TXT" or "con" on Windows opens the device, in any case and with any extension.
    for (const char* name : {"CON", "con.txt", "COM1", "Com9.PD3", "LPT1.DAT", "NUL", "aux"}) {
        EXPECT_TRUE(IsDeviceName(name)) << name;
    }
    for (const char* name : {"COM10", "CONSOLE.TXT", "COMX.PD3", "DATA.TXT"}) {
        EXPECT_FALSE(IsDeviceName(name)) << name;
    }
}

}  // namespace
}  // namespace quenlo
