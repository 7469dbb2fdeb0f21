// The Qt serial port and host over a real pseudo-terminal: the test holds the master side and plays
// the handheld; the port under test opens the other side as COM 3, named by QUENLO_COM3.
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QTimer>
#include <filesystem>
#include <functional>
#include <numeric>
#include <sstream>
#include <tuple>

#include <gtest/gtest.h>

#include "base/runtime_error.h"
#include "link/link_control.h"
#include "platform/port_names.h"
#include "platform/posix_pty.h"
#include "platform/qt_host.h"
#include "platform/qt_serial_comm.h"
#include "support/temp_dir.h"

namespace quenlo {
namespace {

using namespace std::chrono_literals;

class SerialTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        // Never destroyed: the port's notifiers need it, and it must not go among the statics.
        static int argc = 1;
        static char name[] = "platform_serial_test";
        static char* argv[] = {name, nullptr};
        static auto* app = new QCoreApplication(argc, argv);
        (void)app;
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

    // The other end goes away: event 1002, what came before stays readable, output goes nowhere,
    // and the dead device no longer wakes the event loop.
    void LoseTheOtherEnd(bool sending) {
        Write("AB");
        ASSERT_TRUE(YieldUntil([&] { return comm.InputCount() == 2; }));
        pty->Close();
        if (sending) {
            EXPECT_EQ(SendText(state, std::string(1000, 'x')), comm_event::kDeviceLost);
        }
        EXPECT_TRUE(YieldUntil([&] { return comm.LastEvent() == comm_event::kDeviceLost; }));
        EXPECT_EQ(comm.Input(), "AB");
        comm.Output("more");
        EXPECT_EQ(comm.OutputCount(), 0);
        EXPECT_EQ(comm.LastEvent(), comm_event::kDeviceLost);
        EXPECT_LE(YieldsUntilTimer(), 3);
        EXPECT_TRUE(comm.PortOpen());  // until the engine closes it on its normal path
    }

    testing::TempDir dir;
    std::unique_ptr<PosixPty> pty;
    QtHost host;
    QtSerialComm comm;
    RunState state{host, &comm};
};

TEST(LineSettingsTest, PortNamesAndTheSettingsText) {
    ::setenv("QUENLO_COM7", "", 1);  // empty counts as unset
    EXPECT_EQ(DeviceForPort(7), "/dev/ttyS6");
    const auto s = ParseLineSettings(" 9600 , e , 7 , 2 ");
    ASSERT_TRUE(s.has_value());
    EXPECT_EQ(std::tie(s->baud, s->parity, s->dataBits, s->stopBits),
              std::make_tuple(9600, 'E', 7, 2));
    for (const char* bad :
         {"", "19200,N,8", "19200,N,8,1,1", "0,N,8,1", "-9600,N,8,1", "fast,N,8,1", "19200,NN,8,1",
          "19200,N,6,1", "19200,N,8,3", "19200,N,8,1.5", "19200,,8,1"}) {
        EXPECT_FALSE(ParseLineSettings(bad).has_value()) << bad;
    }
}

// Only a device that is missing or busy is "not available" (68, the engine's 101); any other
// failure is a port error (102).
TEST_F(SerialTest, FailedOpeningsGiveTheirRunTimeErrors) {
    QtSerialComm holder;
    holder.SetDeviceOverride(pty->linkPath());
    holder.SetPortOpen(true);
    const std::tuple<const char*, std::string, std::int32_t, ResultCode> rows[] = {
        {"19200,Q,8,1", "", 380, 102},
        {"19200,N,8,1", (dir.path() / "nothing-here").string(), 68, 101},
        {"19200,N,8,1", pty->linkPath(), 68, 101},  // the holder has it
        {"19200,N,8,1", "/dev/null", 8015, 102}};   // no terminal
    for (const auto& [settings, device, number, result] : rows) {
        comm.SetSettings(settings);
        comm.SetDeviceOverride(device);
        try {
            comm.SetPortOpen(true);
            ADD_FAILURE() << device << " opened";
        } catch (const RuntimeError& e) {
            EXPECT_EQ(e.number(), number) << device;
        }
        EXPECT_EQ(OpenPort(state), result) << device;
        EXPECT_FALSE(comm.PortOpen());
    }
}

TEST_F(SerialTest, PortThreeOpensTheNamedDeviceWithItsSettingsAndIgnoresTheIrdaLines) {
    comm.SetSettings("9600,E,7,2");
    comm.SetLineA(true);  // a pseudo-terminal has no such lines
    comm.SetPortOpen(true);
    // The master reads the slave's attributes; a pseudo-terminal shows only speed and stop bits.
    termios attributes{};
    ASSERT_EQ(::tcgetattr(pty->fd(), &attributes), 0);
    EXPECT_EQ(::cfgetospeed(&attributes), speed_t(B9600));
    EXPECT_NE(attributes.c_cflag & CSTOPB, 0u);
    comm.SetSettings("2400,O,8,1");  // at once while open
    ASSERT_EQ(::tcgetattr(pty->fd(), &attributes), 0);
    EXPECT_EQ(::cfgetospeed(&attributes), speed_t(B2400));
    EXPECT_EQ(attributes.c_cflag & CSTOPB, 0u);
    comm.SetLineB(false);
    EXPECT_EQ(comm.LastEvent(), comm_event::kNone);
    comm.SetPortOpen(false);
    comm.SetPortOpen(false);  // harmless
    comm.SetPortOpen(true);
    EXPECT_TRUE(comm.PortOpen());
    EXPECT_THROW(comm.SetSettings("2400,O,8"), RuntimeError);
}

TEST_F(SerialTest, OutputReachesTheOtherEndByteExactAndIsNotLost) {
    EXPECT_THROW(comm.Output("x"), RuntimeError);  // not while closed
    comm.SetPortOpen(true);
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
    ASSERT_GT(comm.OutputCount(), 0);
    comm.ClearOutput();
    EXPECT_EQ(comm.OutputCount(), 0);
    comm.Output("kept");
    EXPECT_LT(ReceivedUntil("kept").size(), std::size_t(1 << 20));
    LoseTheOtherEnd(true);
}

// An ACK that waited in the device from before the port opened was taken as the answer to the
// first ENQ: the engine's flushes come before any event-loop turn has read the device.
TEST_F(SerialTest, InputIsReadBackAndFlushDropsWhatWaitsInTheDevice) {
    const auto flushedThenRead = [&] {
        FlushInput(state);
        for (int i = 0; i < 5; ++i) {
            host.Yield(10ms);  // turns in which the port would read a stale byte
        }
        return comm.Input();
    };
    Write("\x06");
    comm.SetPortOpen(true);
    EXPECT_EQ(flushedThenRead(), "");
    Write("\x15");
    EXPECT_EQ(flushedThenRead(), "");
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
    LoseTheOtherEnd(false);
}

TEST(QtHostTest, MessagesQuestionsAndDirectories) {
    std::istringstream in("y\nNo\n\nmaybe\n");
    std::ostringstream out;
    QtHost host(in, out, true);
    host.ShowMessage("Caf\xe9", "Port 3", MessageIcon::kExclamation);  // single-byte e acute
    // One line is an answer; anything else, and the end of input, take the default.
    std::vector<bool> answers;
    for (const bool byDefault : {false, true, true, false, true}) {
        host.SetDefaultAnswer(byDefault);
        answers.push_back(host.AskYesNo("Q", "Go?"));
    }
    EXPECT_EQ(answers, std::vector<bool>({true, false, true, false, true}));
    EXPECT_TRUE(out.str().starts_with("Caf\xc3\xa9: Port 3\nQ: Go? [y/N] Q: Go? [Y/n] "));
    std::istringstream yes("y\n");
    std::ostringstream silent;
    EXPECT_FALSE(QtHost(yes, silent, false).AskYesNo("Q", "Go?"));  // no terminal: not asked
    EXPECT_EQ(silent.str(), "");

    testing::TempDir dir;
    EXPECT_FALSE(host.FreeSpace((dir.path() / "missing" / "deeper").string()).has_value());
    const auto before = std::filesystem::current_path();
    std::filesystem::current_path(dir.path());
    EXPECT_EQ(host.CurrentDirectory(),
              std::filesystem::canonical(dir.path()).generic_string() + "/");
    std::filesystem::current_path(before);
}

}  // namespace
}  // namespace quenlo
