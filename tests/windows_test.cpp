// What only Windows has, on Windows itself (make windows-check runs this under Wine): drive
// letters, "\" between directories, a file system blind to case, and COM port names.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "base/engine_file.h"
#include "base/run_state.h"
#include "base/runtime_error.h"
#include "base/text.h"
#include "files/file_names.h"
#include "files/file_open.h"
#include "files/native_path.h"
#include "link/link_control.h"
#include "platform/console_host.h"
#include "platform/port_names.h"
#include "platform/win_serial_comm.h"
#include "support/fake_host.h"
#include "support/temp_dir.h"

namespace quenlo {
namespace {

namespace fs = std::filesystem;

// +P0 is port 1 and +P20 port 21; QSerialPort adds the \\.\ that two-digit names need. Opening
// "COM1.TXT" or "con" opens the device, in any case and with any extension: never a file.
TEST(WindowsNames, PortNumbersOpenTheirComPortsAndDeviceNamesAreNoFiles) {
    EXPECT_EQ(DefaultDeviceForPort(1) + DefaultDeviceForPort(9) + DefaultDeviceForPort(10) +
                  DefaultDeviceForPort(kPortNumbers),
              "COM1COM9COM10COM21");
    for (const char* name : {"CON", "con.txt", "COM1", "Com9.PD3", "LPT1.DAT", "NUL", "aux"}) {
        EXPECT_TRUE(IsDeviceName(name)) << name;
    }
    for (const char* name : {"COM10", "CONSOLE.TXT", "COMX.PD3", "DATA.TXT"}) {
        EXPECT_FALSE(IsDeviceName(name)) << name;
    }
}

// A path with a drive letter and "\" or "/" finds the one file whatever the case, also when
// writing; NUL (what /dev/zero is elsewhere) opens in every directory and reads as nothing.
TEST(WindowsFiles, DrivePathsFindTheOneFileWhateverTheCaseAndSeparators) {
    testing::FakeHost host;
    RunState state{host};
    testing::TempDir dir;
    fs::create_directory(dir.path() / "Sub");
    dir.Write("Sub/data.txt", "FIRST\r\nSECOND\r\n");          // as Windows editors end lines
    std::string here = UpperCase(dir.path().string()) + "\\";  // drive letter, "\", upper case
    std::replace(here.begin(), here.end(), '/', '\\');
    ASSERT_TRUE(here.size() >= 3 && std::isupper(here[0]) && here.substr(1, 2) == ":\\") << here;
    // Every line of the file, each followed by "|", or the code of its failure.
    const auto read = [&](const std::string& directory, const std::string& name) {
        const int code = Number(OpenFile(state, directory, name, FileNumber::kSend, "I"));
        std::string all = code == 0 ? "" : "code " + std::to_string(code);
        for (std::string line; code == 0 && state.file(FileNumber::kSend)->ReadLine(line);) {
            all += line + "|";
        }
        state.CloseAllFiles();
        return all;
    };
    EXPECT_EQ(read(here + "SUB\\", "DATA.TXT"), "FIRST|SECOND|");
    EXPECT_EQ(read(char(std::tolower(here[0])) + here.substr(1) + "sub\\", "Data.Txt"),
              "FIRST|SECOND|");
    EXPECT_EQ(read(here + "SUB/", "DATA.TXT"), "FIRST|SECOND|");
    EXPECT_EQ(read(here + "SUB\\", "OTHER.TXT"), "code 1");    // file not found
    EXPECT_EQ(read(here + "NODIR\\", "DATA.TXT"), "code 71");  // path not found
    EXPECT_EQ(read(here, "SUB"), "code 99");                   // a directory is no file
    EXPECT_EQ(read(here + "SUB\\", "nul"), "code 70");
    EXPECT_TRUE(
        fs::equivalent(NativePath(here + "SUB\\DATA.TXT"), dir.path() / "Sub" / "data.txt"));
    ASSERT_EQ(OpenFile(state, here + "SUB\\", "DATA.TXT", FileNumber::kReceive, "O"), result::kOk);
    ASSERT_EQ(state.file(FileNumber::kReceive)->Write("NEW\r\n"), 0);
    ASSERT_EQ(state.file(FileNumber::kReceive)->Close(), 0);  // put in place whole
    state.CloseAllFiles();
    EXPECT_EQ(read(here + "sub\\", "data.txt"), "NEW|");
    EXPECT_EQ(std::ranges::distance(fs::directory_iterator(dir.path() / "Sub")), 1);  // no other
    // "café.txt" on the disk is "CAFÉ.TXT" in the engine's single-byte text, whatever the case;
    // a received "£NEW.TXT" is "£NEW.TXT" in Explorer.
    std::ofstream(dir.path() / fs::path(u8"caf\u00e9.txt"), std::ios::binary) << "ACUTE\n";
    EXPECT_EQ(read(here, "CAF\311.TXT"), "ACUTE|");
    EXPECT_EQ(read(here, "caf\351.txt"), "ACUTE|");
    ASSERT_EQ(OpenFile(state, here, "\243NEW.TXT", FileNumber::kReceive, "O"), result::kOk);
    ASSERT_EQ(state.file(FileNumber::kReceive)->Close(), 0);
    state.CloseAllFiles();
    EXPECT_TRUE(fs::exists(dir.path() / fs::path(u8"\u00a3NEW.TXT")));
}

// The console host's timers and posted calls run from its wait, in the clock it is given: a
// timer fires once per interval while started, never once stopped or destroyed, and a wait that
// handles one returns at once instead of sleeping.
TEST(WindowsConsoleHost, TimersAndPostedCallsRunFromTheWaitInVirtualTime) {
    using namespace std::chrono_literals;
    double now = 100;
    std::istringstream in;
    std::ostringstream out;
    ConsoleHost host(in, out, false, [&] { return now; });
    std::string fired;
    auto tick = host.MakeRepeating(3000ms, [&] { fired += "T"; });
    auto other = host.MakeRepeating(1000ms, [&] { fired += "o"; });
    host.Post([&] { fired += "P"; });
    // A wait of a minute where something is due: it must return at once.
    const std::tuple<double, std::chrono::milliseconds, std::string> steps[] = {
        {0, 60s, "P"},    {2.5, 0ms, "P"},   {0.5, 60s, "PT"},
        {2.0, 0ms, "PT"}, {1.0, 60s, "PTT"}, {6.0, 60s, "PTTT"}};
    tick->Start();
    for (const auto& [advance, wait, want] : steps) {
        now += advance;
        host.Yield(wait);
        EXPECT_EQ(fired, want) << "at " << now;
    }
    tick->Stop();
    now += 30;
    host.Yield(0ms);
    tick.reset();
    now += 30;
    host.Yield(0ms);
    EXPECT_EQ(fired, "PTTT");
    host.ShowMessage("Quenlo", "Baud Rate not supported by IRDA interface", MessageIcon::kNone);
    EXPECT_EQ(out.str(), "Quenlo: Baud Rate not supported by IRDA interface\n");
}

// Openings that fail, as the Qt port reports them: a settings text that cannot be read, a port
// that does not exist (101, and why), a device that is no serial port; output on a closed port.
TEST(WindowsSerialPort, FailedOpeningsWithTheirErrorsAndWhy) {
    testing::FakeHost host;
    WinSerialComm comm;
    RunState state{host, &comm};
    comm.SetPortNumber(21);
    const std::tuple<const char*, std::string, int, std::string> rows[] = {
        {"19200,Q,8,1", "", 102, ""},
        {"19200,N,8,1", "", 101, "COM21 is COM21: no such device; "},
        {"19200,N,8,1", "NUL", 102, "COM21 is NUL: "}};
    for (const auto& [settings, device, result, why] : rows) {
        comm.SetSettings(settings);
        comm.SetDeviceOverride(device);
        EXPECT_EQ(Number(OpenPort(state)), result) << device;
        EXPECT_EQ(state.failureDetail.substr(0, why.size()), why) << state.failureDetail;
        EXPECT_FALSE(comm.PortOpen());
    }
    EXPECT_THROW(comm.Output("x"), RuntimeError);
}

}  // namespace
}  // namespace quenlo
