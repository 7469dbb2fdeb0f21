// The Qt serial port as COM 3 on a real pseudo-terminal, whose master side plays the handheld.
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTimer>
#include <numeric>
#include <sstream>

#include <gtest/gtest.h>

#include "base/runtime_error.h"
#include "link/link_control.h"
#include "platform/line_settings.h"
#include "platform/port_names.h"
#include "platform/posix_pty.h"
#include "platform/qt_serial_comm.h"
#include "platform/qt_terminal_host.h"
#include "support/temp_dir.h"

namespace quenlo {

using namespace std::chrono_literals;

class SerialTest : public ::testing::Test {
  protected:
    // Never destroyed: the port's notifiers need it, and it must not go among the statics.
    static void SetUpTestSuite() { new QCoreApplication(argc, argv); }
    static inline int argc = 1;
    static inline char* argv[] = {const_cast<char*>("platform_serial_test"), nullptr};
    void SetUp() override {
        std::string error;
        pty = PosixPty::Open((dir.path() / "handheld").string(), &error);
        ASSERT_NE(pty, nullptr) << error;
        ::setenv("QUENLO_COM3", pty->linkPath().c_str(), 1);
        comm.SetPortNumber(3);
    }
    // How many yields of at most `wait` it takes until done() holds; 100 when it never does.
    int Yields(auto done, std::chrono::milliseconds wait = 50ms) {
        int yields = 0;
        for (; yields < 100 && !done(); ++yields) {
            host.Yield(wait);
        }
        return yields;
    }
    // Returns once the bytes wait in the device (only the operating system holds them) or the port.
    void Write(const std::string& bytes) {
        ASSERT_EQ(::write(pty->fd(), bytes.data(), bytes.size()), ssize_t(bytes.size()));
        Yields([&] { return pty->UnreadOutput() + comm.InputCount() >= bytes.size(); }, 5ms);
    }
    // What reaches the master while yielding, until it ends with `ending`.
    std::string ReceivedUntil(const std::string& ending) {
        std::string got, buffer(1 << 16, 0);
        Yields([&] {
            got.append(buffer, 0, std::max(::read(pty->fd(), buffer.data(), buffer.size()), 0L));
            return got.ends_with(ending);
        });
        return got;
    }

    testing::TempDir dir;
    std::unique_ptr<PosixPty> pty;
    QtTerminalHost host;
    QtSerialComm comm;
    RunState state{host, &comm};
};

// The ports present ("device" or "device=stable name"), QUENLO_COMn as "n=device", and the number
// each port gets: its variable's, else its own /dev/ttyS<n-1>'s, else the next free one in the
// order of stable names, whatever order the ports came in; a link counts as its target.
TEST(PortNumbersTest, PortsPresentGetTheirNumbersOnce) {
    const std::tuple<const char*, const char*, const char*> rows[] = {
        {"ttyS0 ttyS1 ttyUSB0", "", "ttyS0 (COM1), ttyS1 (COM2), ttyUSB0 (COM3)"},
        {"ttyUSB0 ttyS1 ttyACM0", "", "ttyUSB0 (COM3), ttyS1 (COM2), ttyACM0 (COM1)"},
        {"ttyUSB0=usb-B ttyUSB1=usb-A", "", "ttyUSB0 (COM2), ttyUSB1 (COM1)"},
        {"ttyUSB1=usb-A ttyUSB0=usb-B", "", "ttyUSB1 (COM1), ttyUSB0 (COM2)"},
        {"ttyS0 ttyUSB0 ttyS4", "1=/dev/ttyUSB0", "ttyS0 (COM2), ttyUSB0 (COM1), ttyS4 (COM5)"},
        {"ttyS24 ttyUSB0", "1=/dev/pts/7 2=/dev/ttyS24", "ttyS24 (COM2), ttyUSB0 (COM3)"},
        {"", "", "no serial ports here"},
    };
    for (const auto& [devices, variables, numbers] : rows) {
        std::vector<SerialPortFacts> present;
        for (const QString& port : QString(devices).split(' ', Qt::SkipEmptyParts)) {
            present.push_back({"/dev/" + port.section('=', 0, 0).toStdString()});
            present.back().stableName = port.section('=', 1).toStdString();
        }
        const Environment environment = [&](const std::string& name) {
            for (const QString& named : QString(variables).split(' ', Qt::SkipEmptyParts)) {
                if ("QUENLO_COM" + named.section('=', 0, 0).toStdString() == name) {
                    return named.section('=', 1).toStdString();
                }
            }
            return std::string();
        };
        EXPECT_EQ(QString::fromStdString(PortsHereHint(ListPorts(present, environment)))
                      .remove("/dev/")
                      .remove("ports here: ")
                      .toStdString(),
                  numbers)
            << devices;
        EXPECT_EQ(DeviceForPort(7, present, environment), "/dev/ttyS6");
    }
    ::setenv("QUENLO_COM1", "/dev/ttyUSB0", 1);  // the process's own environment by default
    EXPECT_EQ(DeviceForPort(1, {{"/dev/ttyS0"}}), "/dev/ttyUSB0");
    EXPECT_EQ(CurrentDeviceForPort(1), "/dev/ttyUSB0");
    ::unsetenv("QUENLO_COM1");
}

// Only a missing or busy device is "not available" (101), and the technician learns why and which
// ports there are (a link counting as its target).
TEST_F(SerialTest, FailedOpeningsWithTheirErrorsAndWhy) {
    EXPECT_EQ(PortsHereHint(ListPorts({{"/dev/ttyS0"}, {pty->devicePath()}})),
              "ports here: /dev/ttyS0 (COM1), " + pty->devicePath() + " (COM3)");
    QtSerialComm holder;
    holder.SetDeviceOverride(pty->linkPath());
    holder.SetPortOpen(true);
    const std::tuple<const char*, std::string, int, std::string> rows[] = {
        {"19200,Q,8,1", "", 102, ""},
        {"19200,N,8,1", (dir.path() / "nothing-here").string(), 101, ": no such device; "},
        {"19200,N,8,1", pty->linkPath(), 101, ": busy: another program holds it; "},
        {"19200,N,8,1", pty->devicePath(), 101, ": busy: another program holds it"},  // its name
        {"19200,N,8,1", "/dev/null", 102, "COM3 is /dev/null: "}};                    // no terminal
    for (const auto& [settings, device, result, why] : rows) {
        comm.SetSettings(settings);
        comm.SetDeviceOverride(device);
        EXPECT_EQ(Number(OpenPort(state)), result) << device;
        EXPECT_NE(state.failureDetail.find(why), std::string::npos) << state.failureDetail;
        EXPECT_FALSE(comm.PortOpen());
    }
    // A question nobody can answer is shown all the same, with the answer taken.
    std::istringstream in;
    std::ostringstream out;
    QtTerminalHost quiet(in, out, false);
    EXPECT_FALSE(quiet.AskYesNo("Free Space DLL error (0)", "is there > 3kBytes free0"));
    EXPECT_EQ(out.str(),
              "Free Space DLL error (0): is there > 3kBytes free0 -> No (no terminal to "
              "ask; --yes answers Yes)\n");
}

// The settings text as every port reads it: baud, parity, data and stop bits, blanks allowed.
TEST(LineSettingsTest, SettingsTextTakenApartOrRefused) {
    const auto parsed = [](const char* text) {
        const auto s = ParseLineSettings(text);
        return s ? std::to_string(s->baud) + s->parity + std::to_string(s->dataBits) +
                       std::to_string(s->stopBits)
                 : std::string("refused");
    };
    const std::pair<const char*, const char*> rows[] = {{"19200,N,8,1", "19200N81"},
                                                        {" 115200 , e , 7 , 2 ", "115200E72"},
                                                        {"300,o,8,1", "300O81"},
                                                        {"19200,N,8", "refused"},
                                                        {"19200,N,8,1,1", "refused"},
                                                        {"0,N,8,1", "refused"},
                                                        {"19200,M,8,1", "refused"},
                                                        {"19200,N,6,1", "refused"},
                                                        {"19200,N,8,3", "refused"},
                                                        {"fast,N,8,1", "refused"},
                                                        {"", "refused"}};
    for (const auto& [text, want] : rows) {
        EXPECT_EQ(parsed(text), want) << text;
    }
}

// Both ways until the other end goes (1002: input kept, output dropped), then until it is back.
TEST_F(SerialTest, PortThreeCarriesBytesBothWaysUntilTheOtherEndGoesAndComesBack) {
    EXPECT_THROW(comm.Output("x"), RuntimeError);  // not while closed
    Write("\x06");  // an ACK left from before goes with the flush, before the loop reads the device
    comm.SetSettings(" 9600 , e , 7 , 2 ");
    comm.SetLineA(true);  // a pseudo-terminal has no such lines
    comm.SetPortOpen(true);
    FlushInput(state);
    Yields([turns = 0]() mutable { return ++turns > 5; }, 10ms);  // turns to read a stale byte
    EXPECT_EQ(comm.Input(), "");
    // At once while open; a pseudo-terminal shows speed, stop bits and odd parity (not parity on).
    comm.SetSettings("2400,o,8,2");
    termios attributes{};
    ASSERT_EQ(::tcgetattr(pty->fd(), &attributes), 0);
    EXPECT_EQ(::cfgetospeed(&attributes), speed_t(B2400));
    EXPECT_TRUE(attributes.c_cflag & CSTOPB);
    EXPECT_TRUE(attributes.c_cflag & PARODD);
    comm.SetLineB(false);
    EXPECT_EQ(comm.LastEvent(), CommEvent::kNone);
    std::string bytes(512, 0);
    std::iota(bytes.begin(), bytes.end(), char(0));
    // Every byte value, unchanged; bytes in the device the other end has not read yet are sent.
    for (int round = 0; round < 20; ++round) {
        ASSERT_EQ(SendText(state, bytes), result::kOk);
        ASSERT_EQ(state.link.linkStatus, static_cast<std::int16_t>(CommEvent::kSent))
            << "round " << round;
        ASSERT_EQ(ReceivedUntil(bytes), bytes) << "round " << round;
    }
    comm.Output(std::string(1 << 20, 'x'));  // nobody reads it: ClearOutput drops what is left
    comm.ClearOutput();
    comm.Output("kept");
    EXPECT_LT(ReceivedUntil("kept").size(), std::size_t(1 << 20));
    Write("ABC\xff");
    comm.SetInputLength(3);  // caps one read
    EXPECT_EQ(comm.Input(), "ABC");
    EXPECT_EQ(comm.Input(), "\xff");  // the rest waits for the next
    // An idle port (and the dead device below) lets the loop sleep: a few yields in 100 ms.
    EXPECT_LE(Yields([d = QDeadlineTimer(100ms)] { return d.hasExpired(); }, 200ms), 10);
    // Held, bytes that come wake no wait; released, they count at once beside those in hand.
    Write("Z");
    ASSERT_LT(Yields([&] { return comm.InputCount() == 1; }), 100);
    comm.HoldInput(true);
    ASSERT_EQ(::write(pty->fd(), "CD", 2), 2);
    EXPECT_EQ(Yields([d = QDeadlineTimer(100ms)] { return d.hasExpired(); }, 200ms), 1);
    comm.HoldInput(false);
    EXPECT_EQ(comm.InputCount(), 3);
    EXPECT_EQ(comm.Input(), "ZCD");
    Write("AB");
    ASSERT_LT(Yields([&] { return comm.InputCount() == 2; }), 100);
    pty->Close();
    EXPECT_EQ(SendText(state, std::string(1000, 'x')), AsResult(CommEvent::kDeviceLost));
    EXPECT_EQ(comm.Input(), "AB");
    comm.Output("more");
    EXPECT_EQ(std::pair(comm.OutputCount(), comm.LastEvent()),
              std::pair(0, CommEvent::kDeviceLost));
    EXPECT_LE(Yields([d = QDeadlineTimer(100ms)] { return d.hasExpired(); }, 200ms), 10);
    EXPECT_TRUE(comm.PortOpen());  // until the engine closes it on its normal path
    comm.SetPortOpen(false);
    comm.SetPortOpen(false);  // harmless
    // The wait ends when the device is back (a pseudo-terminal made again), or when time is up.
    QTimer::singleShot(300ms, [&] { SetUp(); });  // SetUp makes it
    const QDeadlineTimer guard(20s);  // the end of the time must not be what ends the wait
    EXPECT_TRUE(comm.WaitForDevice(30s));
    EXPECT_FALSE(guard.hasExpired());
    comm.SetPortOpen(true);  // and opens again, no longer lost: bad settings are refused at once
    EXPECT_THROW(comm.SetSettings("2400,O,8"), RuntimeError);
    comm.SetDeviceOverride((dir.path() / "never").string());
    EXPECT_FALSE(comm.WaitForDevice(300ms));
}

}  // namespace quenlo
