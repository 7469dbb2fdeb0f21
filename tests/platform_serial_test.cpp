// The Qt serial port and host over a real pseudo-terminal: the test holds the master side and plays
// the handheld; the port under test opens the slave through a QUENLO_COM3 link, as a user would.
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QTimer>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <tuple>

#include <gtest/gtest.h>

#include "engine/runtime_error.h"
#include "link/serial_comm.h"
#include "platform/port_names.h"
#include "platform/qt_host.h"
#include "platform/qt_serial_comm.h"
#include "support/temp_dir.h"

namespace quenlo {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Only a bound on a test that would otherwise hang; no result depends on it.
constexpr auto kGiveUp = 5s;

std::string AllBytes() {
    std::string bytes;
    for (int b = 0; b < 256; ++b) {
        bytes += static_cast<char>(b);
    }
    return bytes;
}

// A pseudo-terminal pair; the slave is reached through a symbolic link in a temporary directory,
// named by QUENLO_COM3.
class Pty {
  public:
    explicit Pty(const std::filesystem::path& dir) : link_(dir / "handheld") {
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (master_ >= 0 && ::grantpt(master_) == 0 && ::unlockpt(master_) == 0) {
            std::filesystem::create_symlink(::ptsname(master_), link_);
            ::setenv("QUENLO_COM3", link_.c_str(), 1);
        }
    }
    ~Pty() {
        CloseMaster();
        ::unsetenv("QUENLO_COM3");
    }
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    int master() const { return master_; }
    std::string link() const { return link_.string(); }
    void CloseMaster() {
        if (master_ >= 0) {
            ::close(master_);
            master_ = -1;
        }
    }
    void Write(const std::string& bytes) const {
        ASSERT_EQ(::write(master_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }
    // Whatever the slave side has sent and is waiting on the master now.
    std::string ReadNow() const {
        std::string got;
        char buffer[512];
        for (ssize_t n; (n = ::read(master_, buffer, sizeof buffer)) > 0;) {
            got.append(buffer, static_cast<std::size_t>(n));
        }
        return got;
    }

  private:
    std::filesystem::path link_;
    int master_ = -1;
};

class PlatformSerialTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        // Held by a static pointer for the whole run: Qt's serial port needs an application object
        // for its notifiers, and destroying it during static destruction is not safe.
        static int argc = 1;
        static char name[] = "platform_serial_test";
        static char* argv[] = {name, nullptr};
        static QCoreApplication* app = new QCoreApplication(argc, argv);
        (void)app;
    }

    void SetUp() override {
        ASSERT_GE(pty.master(), 0);
        comm.SetPortNumber(3);
    }

    // Yields until done() holds; false when it never did.
    bool YieldUntil(const std::function<bool()>& done) {
        const auto giveUp = Clock::now() + kGiveUp;
        while (!done()) {
            if (Clock::now() > giveUp) {
                return false;
            }
            host.Yield(50ms);
        }
        return true;
    }

    // Yields while collecting what reaches the master, until `count` bytes have arrived.
    std::string ReceiveOnMaster(std::size_t count) {
        std::string got;
        YieldUntil([&] {
            pollfd probe{pty.master(), POLLIN, 0};
            if (::poll(&probe, 1, 10) > 0) {
                got += pty.ReadNow();
            }
            return got.size() >= count;
        });
        return got;
    }

    // How many yields pass before a timer of `after` fires: one when each yield sleeps until
    // something happens, very many when something keeps waking the event loop (or a yield does
    // not wait at all).
    int YieldsUntilTimer(std::chrono::milliseconds after) {
        bool fired = false;
        QTimer::singleShot(after, [&] { fired = true; });
        int yields = 0;
        while (!fired && yields < 100000) {
            host.Yield(after * 2);
            ++yields;
        }
        return yields;
    }

    // Delivers whatever the event loop still holds from earlier steps.
    void Settle() {
        for (int i = 0; i < 5; ++i) {
            host.Yield(0ms);
        }
    }

    testing::TempDir dir;
    Pty pty{dir.path()};
    QtHost host;
    QtSerialComm comm;
};

// The run-time error number of an opening that failed, or nothing when the port opened.
std::optional<std::int32_t> OpenFailure(QtSerialComm& comm) {
    try {
        comm.SetPortOpen(true);
        return std::nullopt;
    } catch (const RuntimeError& e) {
        EXPECT_FALSE(comm.PortOpen());
        return e.number();
    }
}

TEST(PortNamesTest, EnvironmentVariableNamesTheDeviceElsePortNIsTtySNMinusOne) {
    ::setenv("QUENLO_COM7", "/tmp/my-adapter", 1);
    EXPECT_EQ(DeviceForPort(7), "/tmp/my-adapter");
    ::setenv("QUENLO_COM7", "", 1);  // empty counts as unset
    EXPECT_EQ(DeviceForPort(7), "/dev/ttyS6");
    ::unsetenv("QUENLO_COM7");
    EXPECT_EQ(DeviceForPort(7), "/dev/ttyS6");
    EXPECT_EQ(DeviceForPort(1), "/dev/ttyS0");
    EXPECT_EQ(DeviceForPort(21), "/dev/ttyS20");
}

TEST(LineSettingsTest, ReadsTheFourFieldsAndRefusesMalformedText) {
    const std::tuple<const char*, std::int32_t, char, int, int> rows[] = {
        {"19200,N,8,1", 19200, 'N', 8, 1},
        {" 9600 , e , 7 , 2 ", 9600, 'E', 7, 2},
        {"115200,O,8,1", 115200, 'O', 8, 1}};
    for (const auto& [text, baud, parity, dataBits, stopBits] : rows) {
        const auto s = ParseLineSettings(text);
        ASSERT_TRUE(s.has_value()) << text;
        EXPECT_EQ(s->baud, baud) << text;
        EXPECT_EQ(s->parity, parity) << text;
        EXPECT_EQ(s->dataBits, dataBits) << text;
        EXPECT_EQ(s->stopBits, stopBits) << text;
    }
    for (const char* bad : {"", "19200", "19200,N,8", "19200,N,8,1,1", "0,N,8,1", "-9600,N,8,1",
                            "fast,N,8,1", "19200,X,8,1", "19200,NN,8,1", "19200,N,6,1",
                            "19200,N,9,1", "19200,N,8,3", "19200,N,8,1.5", "19200,,8,1"}) {
        EXPECT_FALSE(ParseLineSettings(bad).has_value()) << bad;
    }
}

TEST_F(PlatformSerialTest, PortThreeOpensTheDeviceNamedByTheVariable) {
    EXPECT_EQ(comm.Device(), pty.link());
    EXPECT_FALSE(comm.PortOpen());
    comm.SetPortOpen(true);
    EXPECT_TRUE(comm.PortOpen());
    EXPECT_EQ(comm.LastEvent(), comm_event::kNone);
    comm.SetPortOpen(false);
    EXPECT_FALSE(comm.PortOpen());
    // Closing twice is harmless, and the device opens again.
    comm.SetPortOpen(false);
    comm.SetPortOpen(true);
    EXPECT_TRUE(comm.PortOpen());
    comm.SetPortOpen(false);

    // An override opens its device whatever the port.
    comm.SetPortNumber(9);
    comm.SetDeviceOverride(pty.link());
    EXPECT_EQ(comm.Device(), pty.link());
    comm.SetPortOpen(true);
    EXPECT_TRUE(comm.PortOpen());
    EXPECT_EQ(comm.PortNumber(), 9);
}

TEST_F(PlatformSerialTest, FailedOpeningsSayWhy) {
    comm.SetSettings("19200,Q,8,1");
    EXPECT_EQ(OpenFailure(comm), 380);
    comm.SetSettings("19200,N,8,1");
    // A device that exists but is no terminal is not merely unavailable.
    comm.SetDeviceOverride("/dev/null");
    const auto notATerminal = OpenFailure(comm);
    ASSERT_TRUE(notATerminal.has_value());
    EXPECT_NE(notATerminal, runtime_error_number::kDeviceUnavailable);
    comm.SetDeviceOverride("");
    ::setenv("QUENLO_COM3", (dir.path() / "nothing-here").c_str(), 1);
    EXPECT_EQ(OpenFailure(comm), runtime_error_number::kDeviceUnavailable);

    // A device that another port holds.
    ::setenv("QUENLO_COM3", pty.link().c_str(), 1);
    comm.SetPortOpen(true);
    QtSerialComm other;
    other.SetPortNumber(3);
    EXPECT_EQ(OpenFailure(other), runtime_error_number::kDeviceUnavailable);
}

TEST_F(PlatformSerialTest, SettingsReachTheDeviceAndIrdaLinesAreIgnored) {
    comm.SetSettings("9600,E,7,2");
    comm.SetLineA(true);  // a pseudo-terminal has no such lines
    comm.SetLineB(false);
    comm.SetPortOpen(true);
    EXPECT_TRUE(comm.PortOpen());
    // Terminal attributes asked on the master are the slave's. A pseudo-terminal keeps speed and
    // stop bits but forces 8 data bits without parity, so those two cannot be seen here.
    termios attributes{};
    ASSERT_EQ(::tcgetattr(pty.master(), &attributes), 0);
    EXPECT_EQ(::cfgetospeed(&attributes), static_cast<speed_t>(B9600));
    EXPECT_EQ(::cfgetispeed(&attributes), static_cast<speed_t>(B9600));
    EXPECT_NE(attributes.c_cflag & CSTOPB, 0u);
    // Raw: no translation of the bytes either way.
    EXPECT_EQ(attributes.c_lflag & (ICANON | ECHO), 0u);
    EXPECT_EQ(attributes.c_oflag & OPOST, 0u);

    // Written while open, they apply at once.
    comm.SetSettings("38400,O,8,1");
    ASSERT_EQ(::tcgetattr(pty.master(), &attributes), 0);
    EXPECT_EQ(::cfgetospeed(&attributes), static_cast<speed_t>(B38400));
    EXPECT_EQ(attributes.c_cflag & CSTOPB, 0u);
    EXPECT_THROW(comm.SetSettings("38400,O,8"), RuntimeError);

    comm.SetLineA(false);
    comm.SetLineB(true);
    Settle();
    EXPECT_EQ(comm.LastEvent(), comm_event::kNone);
    comm.Output("ok");
    EXPECT_EQ(ReceiveOnMaster(2), "ok");
}

TEST_F(PlatformSerialTest, OutputReachesTheOtherEndByteExact) {
    EXPECT_THROW(comm.Output("x"), RuntimeError);  // not while closed
    comm.SetPortOpen(true);
    const std::string bytes = AllBytes() + AllBytes();
    comm.Output(bytes);
    // A device with room takes the bytes at once: nothing waits for the event loop's next turn.
    EXPECT_EQ(comm.OutputCount(), 0);
    EXPECT_EQ(comm.LastEvent(), comm_event::kSent);

    EXPECT_EQ(ReceiveOnMaster(bytes.size()), bytes);
    EXPECT_EQ(comm.OutputCount(), 0);

    comm.Output("\x05");
    EXPECT_EQ(ReceiveOnMaster(1), "\x05");
    EXPECT_TRUE(YieldUntil([&] { return comm.LastEvent() == comm_event::kSent; }));
}

// The engine's send loop waits while bytes are queued and no event has come; finding neither, it
// discards the output. An empty queue must therefore already read as "sent", or the bytes that
// just went to the device are flushed before the other end reads them.
TEST_F(PlatformSerialTest, EmptyQueueReadsAsSentBeforeTheOtherEndHasRead) {
    comm.SetPortOpen(true);
    for (int round = 0; round < 20; ++round) {
        comm.Output("\x05");
        int passes = 0;
        while (comm.OutputCount() > 0 && comm.LastEvent() == comm_event::kNone && passes < 1000) {
            host.Yield(0ms);
            ++passes;
        }
        ASSERT_EQ(comm.LastEvent(), comm_event::kSent) << "round " << round;
        ASSERT_EQ(ReceiveOnMaster(1), "\x05") << "round " << round;
    }
}

TEST_F(PlatformSerialTest, BytesFromTheOtherEndArriveAsInput) {
    comm.SetPortOpen(true);
    EXPECT_EQ(comm.InputCount(), 0);
    pty.Write(AllBytes());
    EXPECT_TRUE(YieldUntil([&] { return comm.InputCount() == 256; }));
    EXPECT_EQ(comm.Input(), AllBytes());
    EXPECT_EQ(comm.InputCount(), 0);
    EXPECT_EQ(comm.Input(), "");

    // A positive input length caps one read.
    pty.Write("ABCDE");
    EXPECT_TRUE(YieldUntil([&] { return comm.InputCount() == 5; }));
    comm.SetInputLength(2);
    EXPECT_EQ(comm.Input(), "AB");
    EXPECT_EQ(comm.InputCount(), 3);
    comm.SetInputLength(0);
    EXPECT_EQ(comm.Input(), "CDE");
}

TEST_F(PlatformSerialTest, ClearOutputDiscardsWhatWasQueued) {
    comm.SetPortOpen(true);
    // More than the device takes while nobody reads the other end: the rest stays queued.
    const std::string flood(1 << 20, 'x');
    comm.Output(flood);
    ASSERT_GT(comm.OutputCount(), 0);
    comm.ClearOutput();
    EXPECT_EQ(comm.OutputCount(), 0);
    Settle();
    host.Yield(50ms);
    EXPECT_LT(pty.ReadNow().size(), flood.size());

    comm.Output("kept");
    const std::string got = ReceiveOnMaster(4);
    ASSERT_GE(got.size(), 4u);
    EXPECT_EQ(got.substr(got.size() - 4), "kept");
}

TEST_F(PlatformSerialTest, YieldWaitsForItsLimitOrForArrivingData) {
    bool delivered = false;
    QTimer::singleShot(0, [&] { delivered = true; });
    host.Yield(0ms);
    EXPECT_TRUE(delivered);  // a yield without waiting still delivers what is pending

    comm.SetPortOpen(true);
    Settle();
    EXPECT_LE(YieldsUntilTimer(100ms), 3);
    EXPECT_EQ(comm.InputCount(), 0);

    // Arriving data ends a long wait: the guard timer must not be what wakes it.
    pty.Write("\x06");
    bool guard = false;
    QTimer::singleShot(kGiveUp, [&] { guard = true; });
    while (comm.InputCount() == 0 && !guard) {
        host.Yield(std::chrono::milliseconds(30000));
    }
    EXPECT_FALSE(guard);
    EXPECT_EQ(comm.Input(), "\x06");
}

TEST_F(PlatformSerialTest, VanishedOtherEndEndsTheDrainAsDeviceLost) {
    comm.SetPortOpen(true);
    pty.Write("AB");
    ASSERT_TRUE(YieldUntil([&] { return comm.InputCount() == 2; }));

    pty.CloseMaster();
    comm.Output(std::string(1000, 'x'));
    // The engine's drain loop: it must end, with the loss as the event.
    EXPECT_TRUE(YieldUntil(
        [&] { return comm.OutputCount() == 0 || comm.LastEvent() != comm_event::kNone; }));
    EXPECT_TRUE(YieldUntil([&] { return comm.LastEvent() == comm_event::kDeviceLost; }));
    EXPECT_EQ(comm.OutputCount(), 0);

    // What arrived before the loss can still be read; further output reports the loss again.
    EXPECT_EQ(comm.Input(), "AB");
    comm.Output("more");
    EXPECT_EQ(comm.OutputCount(), 0);
    EXPECT_EQ(comm.LastEvent(), comm_event::kDeviceLost);

    // The dead device no longer wakes the event loop.
    Settle();
    EXPECT_LE(YieldsUntilTimer(100ms), 3);

    EXPECT_TRUE(comm.PortOpen());
    comm.SetPortOpen(false);
    EXPECT_FALSE(comm.PortOpen());
}

TEST_F(PlatformSerialTest, OtherEndClosingWhileIdleIsNoticed) {
    comm.SetPortOpen(true);
    Settle();
    pty.CloseMaster();
    EXPECT_TRUE(YieldUntil([&] { return comm.LastEvent() == comm_event::kDeviceLost; }));
    Settle();
    EXPECT_LE(YieldsUntilTimer(100ms), 3);
}

TEST(QtHostTest, ClockIsTheMonotonicClockInSeconds) {
    QtHost host;
    const double steady = std::chrono::duration<double>(Clock::now().time_since_epoch()).count();
    const double a = host.ClockSeconds();
    EXPECT_NEAR(a, steady, 1.0);
    host.SleepMs(0);
    host.SleepMs(-5);
    EXPECT_GE(host.ClockSeconds(), a);
}

TEST(QtHostTest, MessagesAndQuestionsGoThroughTheStreams) {
    std::istringstream none;
    std::ostringstream messages;
    QtHost writer(none, messages, false);
    writer.ShowMessage("BHT", "Port 3 Not Available", MessageIcon::kExclamation);
    // Engine texts are single-byte: \xe9 is e acute.
    writer.ShowMessage("Caf\xe9", "x", MessageIcon::kNone);
    EXPECT_EQ(messages.str(), "BHT: Port 3 Not Available\nCaf\xc3\xa9: x\n");

    // A terminal's answer is one line; anything else, and no terminal, take the default.
    std::istringstream in("y\nNo\n\nmaybe\n");
    std::ostringstream out;
    QtHost host(in, out, true);
    EXPECT_TRUE(host.AskYesNo("Q", "Go?"));
    EXPECT_FALSE(host.AskYesNo("Q", "Go?"));
    EXPECT_FALSE(host.AskYesNo("Q", "Go?"));  // empty: the default
    host.SetDefaultAnswer(true);
    EXPECT_TRUE(host.AskYesNo("Q", "Go?"));  // not an answer: the default
    EXPECT_TRUE(host.AskYesNo("Q", "Go?"));  // input ended: the default
    EXPECT_EQ(out.str().substr(0, 15), "Q: Go? [y/N] Q:");

    std::istringstream yes("y\n");
    std::ostringstream silent;
    QtHost noTerminal(yes, silent, false);
    EXPECT_FALSE(noTerminal.AskYesNo("Overwrite", "Replace FILE?"));
    noTerminal.SetDefaultAnswer(true);
    EXPECT_TRUE(noTerminal.AskYesNo("Overwrite", "Replace FILE?"));
    EXPECT_EQ(silent.str(), "");
}

TEST(QtHostTest, FreeSpaceAndCurrentDirectory) {
    testing::TempDir dir;
    QtHost host;
    const auto space = host.FreeSpace(dir.enginePath());
    ASSERT_TRUE(space.has_value());
    EXPECT_EQ(*space, std::filesystem::space(dir.path()).available);
    EXPECT_FALSE(host.FreeSpace((dir.path() / "missing" / "deeper").string()).has_value());

    // The current directory ends in a separator.
    const auto before = std::filesystem::current_path();
    std::filesystem::current_path(dir.path());
    const std::string current = host.CurrentDirectory();
    std::filesystem::current_path(before);
    EXPECT_EQ(current, std::filesystem::canonical(dir.path()).generic_string() + "/");
}

TEST(QtHostTest, NowIsTheLocalDateAndTime) {
    const auto local = [] {
        const std::time_t t = std::time(nullptr);
        std::tm fields{};
        ::localtime_r(&t, &fields);
        return LocalDateTime{fields.tm_year + 1900, fields.tm_mon + 1, fields.tm_mday,
                             fields.tm_hour,        fields.tm_min,     fields.tm_sec};
    };
    const auto same = [](const LocalDateTime& a, const LocalDateTime& b) {
        return a.year == b.year && a.month == b.month && a.day == b.day && a.hour == b.hour &&
               a.minute == b.minute && a.second == b.second;
    };
    QtHost host;
    const LocalDateTime before = local();
    const LocalDateTime now = host.Now();
    const LocalDateTime after = local();
    EXPECT_TRUE(same(now, before) || same(now, after));
}

}  // namespace
}  // namespace quenlo
