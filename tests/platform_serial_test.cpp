// The Qt serial port over a real pseudo-terminal: the test holds the master side and plays the
// handheld; the port under test opens the other side as COM 3, named by QUENLO_COM3.
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QTimer>
#include <functional>
#include <numeric>
#include <sstream>

#include <gtest/gtest.h>

#include "base/runtime_error.h"
#include "link/link_control.h"
#include "link/tracing_serial_comm.h"
#include "platform/port_names.h"
#include "platform/posix_pty.h"
#include "platform/qt_host.h"
#include "platform/qt_serial_comm.h"
#include "support/temp_dir.h"

namespace quenlo {

using namespace std::chrono_literals;

class SerialTest : public ::testing::Test {
  protected:
    // Never destroyed: the port's notifiers need it, and it must not go among the statics.
    static void SetUpTestSuite() {
        static int argc = 1;
        static char* argv[] = {const_cast<char*>("platform_serial_test"), nullptr};
        new QCoreApplication(argc, argv);
    }
    void SetUp() override {
        std::string error;
        pty = PosixPty::Open((dir.path() / "handheld").string(), &error);
        ASSERT_NE(pty, nullptr) << error;
        ::setenv("QUENLO_COM3", pty->linkPath().c_str(), 1);
        comm.SetPortNumber(3);
    }

    // Yields until done() holds; the bound only stops a hang.
    bool YieldUntil(const std::function<bool()>& done) {
        for (int i = 0; i < 100 && !done(); ++i) {
            host.Yield(50ms);
        }
        return done();
    }
    // Returns once the bytes wait in the device, where only the operating system holds them.
    void Write(const std::string& bytes) {
        ASSERT_EQ(::write(pty->fd(), bytes.data(), bytes.size()), ssize_t(bytes.size()));
        for (int i = 0; i < 200 && pty->UnreadOutput() < bytes.size(); ++i) {
            host.SleepMs(5);
        }
    }
    // What reaches the master while yielding, until it ends with `ending`.
    std::string ReceivedUntil(const std::string& ending) {
        std::string got;
        char buffer[4096];
        YieldUntil([&] {
            for (ssize_t n; (n = ::read(pty->fd(), buffer, sizeof buffer)) > 0;) {
                got.append(buffer, static_cast<std::size_t>(n));
            }
            return got.ends_with(ending);
        });
        return got;
    }
    // 1 when each yield sleeps until something happens; very many when something keeps waking
    // the event loop.
    int YieldsUntilTimer() {
        QCoreApplication::processEvents();  // what earlier steps left pending
        bool fired = false;
        QTimer::singleShot(100ms, [&] { fired = true; });
        int yields = 0;
        for (; !fired && yields < 100000; ++yields) {
            host.Yield(200ms);
        }
        return yields;
    }

    testing::TempDir dir;
    std::unique_ptr<PosixPty> pty;
    QtHost host;
    QtSerialComm comm;
    RunState state{host, &comm};
};

// Only a device that is missing or busy is "not available" (68, the engine's 101), and the
// technician learns why and which ports there are; any other failure is a port error (102).
TEST_F(SerialTest, FailedOpeningsGiveTheirRunTimeErrorsAndWhy) {
    for (const char* bad : {"", "19200,N,8", "19200,N,8,1,1", "0,N,8,1", "fast,N,8,1",
                            "19200,NN,8,1", "19200,N,6,1", "19200,N,8,3", "19200,,8,1"}) {
        EXPECT_FALSE(ParseLineSettings(bad).has_value()) << bad;
    }
    QtSerialComm holder;
    holder.SetDeviceOverride(pty->linkPath());
    holder.SetPortOpen(true);
    const std::string missing = (dir.path() / "nothing-here").string();
    const std::tuple<const char*, std::string, std::int32_t, ResultCode, std::string> rows[] = {
        {"19200,Q,8,1", "", 380, 102, ""},
        {"19200,N,8,1", missing, 68, 101, "COM3 is " + missing + ": no such device; "},
        {"19200,N,8,1", pty->linkPath(), 68, 101, ": busy: another program holds it; "},
        {"19200,N,8,1", "/dev/null", 8015, 102, "COM3 is /dev/null: "}};  // no terminal
    for (const auto& [settings, device, number, result, why] : rows) {
        comm.SetSettings(settings);
        comm.SetDeviceOverride(device);
        try {
            comm.SetPortOpen(true);
            ADD_FAILURE() << device << " opened";
        } catch (const RuntimeError& e) {
            EXPECT_EQ(e.number(), number) << device;
        }
        EXPECT_EQ(OpenPort(state), result) << device;
        EXPECT_NE(comm.OpenFailure().find(why), std::string::npos) << comm.OpenFailure();
        EXPECT_FALSE(comm.PortOpen());
    }
}

TEST_F(SerialTest, PortThreeOpensTheNamedDeviceWithItsSettingsAndIgnoresTheIrdaLines) {
    comm.SetSettings(" 9600 , e , 7 , 2 ");
    comm.SetLineA(true);  // a pseudo-terminal has no such lines
    std::ostringstream trace;
    TracingSerialComm tracing(comm, trace, [] { return 0.0; });
    tracing.SetPortOpen(true);
    EXPECT_NE(trace.str().find("opened port 3, low latency not available"), std::string::npos);
    // The master reads the slave's attributes; a pseudo-terminal shows only speed and stop bits.
    termios attributes{};
    for (const char* settings : {"", "2400,O,8,1"}) {  // at once while open
        comm.SetSettings(*settings ? settings : " 9600 , e , 7 , 2 ");
        ASSERT_EQ(::tcgetattr(pty->fd(), &attributes), 0);
        EXPECT_EQ(::cfgetospeed(&attributes), speed_t(*settings ? B2400 : B9600));
        EXPECT_EQ((attributes.c_cflag & CSTOPB) != 0, !*settings);
    }
    comm.SetLineB(false);
    EXPECT_EQ(comm.LastEvent(), comm_event::kNone);
    comm.SetPortOpen(false);
    comm.SetPortOpen(false);  // harmless
    comm.SetPortOpen(true);
    EXPECT_TRUE(comm.PortOpen());
    EXPECT_THROW(comm.SetSettings("2400,O,8"), RuntimeError);
}

// Both ways, then the other end goes away: event 1002, what came before stays readable, output
// goes nowhere, and the dead device no longer wakes the event loop.
TEST_F(SerialTest, BytesMoveBothWaysUntilTheOtherEndGoes) {
    EXPECT_THROW(comm.Output("x"), RuntimeError);  // not while closed
    // An ACK that waited in the device from before the port opened was taken as the answer to
    // the first ENQ: the engine's flushes come before any event-loop turn has read the device.
    Write("\x06");
    comm.SetPortOpen(true);
    FlushInput(state);
    for (int i = 0; i < 5; ++i) {
        host.Yield(10ms);  // turns in which the port would read a stale byte
    }
    EXPECT_EQ(comm.Input(), "");
    std::string bytes(512, 0);
    std::iota(bytes.begin(), bytes.end(), char(0));
    ASSERT_EQ(SendText(state, bytes), result::kOk);
    EXPECT_EQ(ReceivedUntil(bytes), bytes);
    // The engine discards output that reads as neither queued nor sent: bytes in the device that
    // the other end has not read yet must read as sent.
    for (int round = 0; round < 20; ++round) {
        ASSERT_EQ(SendText(state, "\x05"), result::kOk);
        ASSERT_EQ(state.linkStatus, comm_event::kSent) << "round " << round;
        ASSERT_EQ(ReceivedUntil("\x05"), "\x05") << "round " << round;
    }
    // ClearOutput drops what the device has not taken yet (nobody reads the other end).
    comm.Output(std::string(1 << 20, 'x'));
    comm.ClearOutput();
    EXPECT_EQ(comm.OutputCount(), 0);
    comm.Output("kept");
    EXPECT_LT(ReceivedUntil("kept").size(), std::size_t(1 << 20));
    // Arriving data ends a long wait: the guard timer must not be what wakes it.
    bool guard = false;
    QTimer::singleShot(5s, [&] { guard = true; });
    Write("ABC\xff");
    while (comm.InputCount() < 4 && !guard) {
        host.Yield(30s);
    }
    EXPECT_FALSE(guard);
    comm.SetInputLength(3);  // caps one read
    EXPECT_EQ(comm.Input(), "ABC");
    comm.SetInputLength(0);
    EXPECT_EQ(comm.Input(), "\xff");
    EXPECT_LE(YieldsUntilTimer(), 3);  // an idle open port does not keep the loop awake
    Write("AB");
    ASSERT_TRUE(YieldUntil([&] { return comm.InputCount() == 2; }));
    pty->Close();
    EXPECT_EQ(SendText(state, std::string(1000, 'x')), comm_event::kDeviceLost);
    EXPECT_TRUE(YieldUntil([&] { return comm.LastEvent() == comm_event::kDeviceLost; }));
    EXPECT_EQ(comm.Input(), "AB");
    comm.Output("more");
    EXPECT_EQ(comm.OutputCount(), 0);
    EXPECT_EQ(comm.LastEvent(), comm_event::kDeviceLost);
    EXPECT_LE(YieldsUntilTimer(), 3);
    EXPECT_TRUE(comm.PortOpen());  // until the engine closes it on its normal path
}

// A device named through a link counts as its target; "-"/"COM?" when no port number opens it.
TEST_F(SerialTest, PortsPresentWithTheNumbersThatOpenThem) {
    const auto environment = [&](const std::string& name) -> std::string {
        return name == "QUENLO_COM3"   ? pty->linkPath()
               : name == "QUENLO_COM1" ? "/dev/ttyUSB0"
                                       : "";
    };
    const std::vector<PortRow> rows = ListPorts(
        {{pty->devicePath()}, {"/dev/ttyUSB0"}, {"/dev/ttyS0"}, {"/dev/ttyS4"}, {"/dev/ttyACM0"}},
        environment);
    std::string numbers;
    for (const PortRow& row : rows) {
        numbers += (row.portNumbers.empty() ? "-" : std::to_string(row.portNumbers[0])) + " ";
    }
    EXPECT_EQ(numbers, "3 1 - 5 - ");
    EXPECT_EQ(PortsHereHint({rows[1], rows[4]}),
              "ports here: /dev/ttyUSB0 (COM1), /dev/ttyACM0 (COM?)");
    EXPECT_EQ(PortsHereHint({}), "no serial ports here");
    EXPECT_EQ(DeviceForPort(7, [](const std::string&) { return ""; }), "/dev/ttyS6");
}

// The wait ends when the device appears (a pseudo-terminal made later), or when the time is up.
TEST_F(SerialTest, WaitingForTheDeviceOfThePort) {
    pty->Close();
    QTimer::singleShot(300ms, [&] {
        std::string error;
        pty = PosixPty::Open((dir.path() / "handheld").string(), &error);
    });
    bool guard = false;  // the end of the time must not be what ends the wait
    QTimer::singleShot(20s, [&] { guard = true; });
    EXPECT_TRUE(comm.WaitForDevice(30s));
    EXPECT_FALSE(guard);
    comm.SetPortOpen(true);
    comm.SetDeviceOverride((dir.path() / "never").string());
    EXPECT_FALSE(comm.WaitForDevice(300ms));
}

}  // namespace quenlo
