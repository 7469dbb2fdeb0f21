// quenlo-cli against bht-sim over real pseudo-terminals: whole transfers through the terminal front
// end, the Qt serial port and the simulated handheld, checked by what arrives on the other side.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "send/record_reader.h"
#include "support/temp_dir.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr const char* kCli = QUENLO_CLI;
constexpr const char* kSim = BHT_SIM;
constexpr const char* kSamples = QUENLO_SAMPLES;

// Guards against hangs only; every transfer here ends in a few seconds.
constexpr auto kTransferLimit = 60s;
// The simulated handheld waits at most three seconds for the loader to read its last answer.
constexpr auto kSimEndLimit = 8s;

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

// A child process with its output in files; killed and reaped when it goes out of scope, so a
// failed assertion never leaves one behind.
class Process {
  public:
    Process(const std::vector<std::string>& argv, const std::vector<std::string>& env,
            const fs::path& out, const fs::path& err) {
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, err.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        // A test runner may have started us with SIGINT ignored, and the child would inherit that.
        posix_spawnattr_t attributes;
        posix_spawnattr_init(&attributes);
        sigset_t signals;
        sigemptyset(&signals);
        posix_spawnattr_setsigmask(&attributes, &signals);
        sigaddset(&signals, SIGINT);
        sigaddset(&signals, SIGTERM);
        posix_spawnattr_setsigdefault(&attributes, &signals);
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

        const auto pointers = [](const std::vector<std::string>& texts) {
            std::vector<char*> all;
            for (const auto& text : texts) {
                all.push_back(const_cast<char*>(text.c_str()));
            }
            all.push_back(nullptr);
            return all;
        };
        auto args = pointers(argv);
        auto envp = pointers(env);
        const int error = posix_spawn(&pid_, argv.front().c_str(), &actions, &attributes,
                                      args.data(), envp.data());
        if (error != 0) {
            pid_ = -1;
            ADD_FAILURE() << "cannot start " << argv.front() << ": " << std::strerror(error);
        }
        posix_spawnattr_destroy(&attributes);
        posix_spawn_file_actions_destroy(&actions);
        if (pid_ > 0) {
            pidFd_ = static_cast<int>(::syscall(SYS_pidfd_open, pid_, 0));
            EXPECT_GE(pidFd_, 0) << "pidfd_open: " << std::strerror(errno);
        }
    }
    ~Process() {
        Finish(0s);
        if (pidFd_ >= 0) {
            ::close(pidFd_);
        }
    }
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    bool started() const { return pid_ > 0; }
    bool running() const { return started() && !status_; }

    // Waits at most `limit` for the process to end, blocking on its pid descriptor; false when it
    // is still running.
    bool WaitFor(Clock::duration limit) {
        const auto until = Clock::now() + limit;
        while (running()) {
            int status = 0;
            const pid_t done = ::waitpid(pid_, &status, WNOHANG);
            if (done == pid_) {
                status_ = status;
                break;
            }
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now());
            if (done < 0 || left.count() <= 0) {
                break;
            }
            pollfd ended{pidFd_, POLLIN, 0};
            ::poll(&ended, 1, static_cast<int>(left.count()));
        }
        return !running();
    }
    // Waits at most `limit`, then kills; true when the process ended by itself.
    bool Finish(Clock::duration limit) {
        if (WaitFor(limit)) {
            return true;
        }
        Signal(SIGKILL);
        WaitFor(5s);
        return false;
    }
    void Signal(int signal) const {
        if (running()) {
            ::kill(pid_, signal);
        }
    }
    bool exitedNormally() const { return status_ && WIFEXITED(*status_); }
    // The exit status, or -1 when the process did not end by exiting (a signal, or not yet).
    int exitStatus() const { return exitedNormally() ? WEXITSTATUS(*status_) : -1; }

  private:
    pid_t pid_ = -1;
    int pidFd_ = -1;  // readable once the process has ended
    std::optional<int> status_;
};

// Our environment without any port variables of the caller's, plus the given ones.
std::vector<std::string> Environment(const std::vector<std::string>& extra) {
    std::vector<std::string> env;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        if (std::strncmp(*entry, "QUENLO_COM", 10) != 0) {
            env.emplace_back(*entry);
        }
    }
    env.insert(env.end(), extra.begin(), extra.end());
    return env;
}

// How a program ended (status -1: not by exiting) and what it wrote; for the handheld, `out` is
// the last line of its standard output, its summary.
struct Result {
    int status = -1;
    std::string out;
    std::string err;
};

const std::string kProgramSent = "Program Sent OK\nErr(0) Transfer Complete\n";
const std::string kFileSent = "File Sent OK\nErr(0) Transfer Complete\n";

// A temporary directory with a simulated handheld on DIR/COM1 that writes to DIR/received.
class CliSimTest : public ::testing::Test {
  protected:
    fs::path Path(const std::string& name) const { return dir_.path() / name; }
    std::string PortVariable() const { return "QUENLO_COM1=" + Path("COM1").string(); }

    // Starts the handheld and waits until its pseudo-terminal can be opened.
    void StartSim(const std::vector<std::string>& options = {}) {
        fs::create_directory(Path("received"));
        std::vector<std::string> argv{kSim, "--pty", Path("COM1").string(), "--dir",
                                      Path("received").string()};
        argv.insert(argv.end(), options.begin(), options.end());
        sim_ = std::make_unique<Process>(argv, Environment({}), Path("sim.out"), Path("sim.err"));
        ASSERT_TRUE(sim_->started());
        const auto until = Clock::now() + 10s;
        while (!fs::exists(Path("COM1"))) {
            ASSERT_FALSE(sim_->WaitFor(0s)) << "bht-sim ended early: " << dir_.Read("sim.err");
            ASSERT_LT(Clock::now(), until) << "bht-sim made no link";
            std::this_thread::sleep_for(5ms);
        }
    }

    // Starts quenlo-cli, by default with the handheld's port as COM1.
    std::unique_ptr<Process> StartCli(std::vector<std::string> args,
                                      std::vector<std::string> env = {}) {
        args.insert(args.begin(), kCli);
        if (env.empty()) {
            env.push_back(PortVariable());
        }
        return std::make_unique<Process>(args, Environment(env), Path("cli.out"), Path("cli.err"));
    }
    Result Finish(Process& cli, Clock::duration limit = kTransferLimit) {
        EXPECT_TRUE(cli.Finish(limit)) << "quenlo-cli still running after the limit; killed";
        return {cli.exitStatus(), dir_.Read("cli.out"), dir_.Read("cli.err")};
    }
    Result RunCli(const std::vector<std::string>& args, const std::vector<std::string>& env = {}) {
        return Finish(*StartCli(args, env));
    }

    // Waits for the handheld to end by itself, or (stop) makes it end on its normal path with a
    // signal; fails when it does not.
    Result FinishSim(bool stop = false) {
        if (stop) {
            sim_->Signal(SIGTERM);
        }
        EXPECT_TRUE(sim_->Finish(kSimEndLimit)) << "bht-sim did not end; killed";
        const auto lines = Lines(dir_.Read("sim.out"));
        return {sim_->exitStatus(), lines.empty() ? "" : lines.back(), dir_.Read("sim.err")};
    }

    std::string Received(const std::string& name) const { return dir_.Read("received/" + name); }

    // Copies a sample file into the directory; returns its path there.
    fs::path Sample(const std::string& name) const {
        fs::copy_file(fs::path(kSamples) / name, Path(name));
        return Path(name);
    }

    // A program file of `records` full 128-character records of printable characters.
    fs::path ProgramFile(const std::string& name, int records) const {
        std::string text;
        unsigned value = 12345;
        for (int i = 0; i < records; ++i) {
            for (int c = 0; c < 128; ++c) {
                value = value * 1103515245u + 12345u;
                text += static_cast<char>(' ' + (value >> 16) % 95);
            }
            text += "\r\n";
        }
        return dir_.Write(name, text);
    }

    // A whole transfer that must succeed: the handheld started with simOptions, quenlo-cli
    // sending the file with cliOptions, both ending well, every record in with `naks` refusals on
    // the way, and the file received as sent (or as `received`, when given).
    void ExpectDelivered(const fs::path& file, int records, int naks,
                         const std::vector<std::string>& simOptions,
                         std::vector<std::string> cliOptions, const std::string& cliOut,
                         const std::optional<std::string>& received = std::nullopt) {
        ASSERT_NO_FATAL_FAILURE(StartSim(simOptions));
        cliOptions.insert(cliOptions.begin(), file.string());
        const auto cli = RunCli(cliOptions);
        EXPECT_EQ(cli.status, 0) << cli.err;
        EXPECT_EQ(cli.out, cliOut);
        const auto sim = FinishSim();
        const std::string name = file.filename().string();
        const std::string count = std::to_string(records);
        EXPECT_EQ(sim.status, 0) << sim.err;
        EXPECT_EQ(sim.out, "bht-sim: received " + name + " records=" + count + "/" + count +
                               " naks=" + std::to_string(naks) + " status=ok")
            << sim.err;
        EXPECT_EQ(Received(name), received.value_or(dir_.Read(name)));
    }

    quenlo::testing::TempDir dir_;
    std::unique_ptr<Process> sim_;
};

TEST_F(CliSimTest, SendsTheDemoProgramWithDefaultSettings) {
    ExpectDelivered(Sample("DEMO.PD3"), 400, 0, {},
                    {"+P0", "+B19200", "+PN", "+D8", "+S1", "+T30", "+PB", "+SN"}, kProgramSent);
}

// With and without the block check and the block numbers (+PB, +SN).
class CliSimFramingTest : public CliSimTest,
                          public ::testing::WithParamInterface<std::tuple<bool, bool>> {};

TEST_P(CliSimFramingTest, BlockCheckAndNumbersAsAgreed) {
    const auto [bcc, seq] = GetParam();
    std::vector<std::string> simOptions;
    if (!bcc) {
        simOptions.push_back("--no-bcc");
    }
    if (!seq) {
        simOptions.push_back("--no-seq");
    }
    ExpectDelivered(ProgramFile("PROG50.PD3", 50), 50, 0, simOptions,
                    {"+P0", "+B115200", bcc ? "+PB" : "-PB", seq ? "+SN" : "-SN"}, kProgramSent);
}

INSTANTIATE_TEST_SUITE_P(Framings, CliSimFramingTest,
                         ::testing::Combine(::testing::Bool(), ::testing::Bool()),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param) ? "Check" : "NoCheck") +
                                    (std::get<1>(info.param) ? "Numbers" : "NoNumbers");
                         });

TEST_F(CliSimTest, DataFileWithFieldsOnTheOptionLine) {
    ExpectDelivered(Sample("STOCK.TXT"), 60, 0, {}, {"+P0", "+B115200", "+F13,20,6"}, kFileSent);
}

TEST_F(CliSimTest, DataFileWithFieldsFromItsFieldFile) {
    Sample("STOCK.FLD");
    ExpectDelivered(Sample("STOCK.TXT"), 60, 0, {}, {"+P0", "+B115200"}, kFileSent);
}

TEST_F(CliSimTest, PackedRecordsArriveAsTheLoaderPacksThem) {
    // Digits where packing takes them, text in 19-34, and lines short of 128 to be filled first.
    std::string text;
    std::string expected;
    for (int i = 1; i <= 20; ++i) {
        char line[64];
        std::snprintf(line, sizeof line, "  %06d          ITEM %-11d%05dX%02dnot sent", 123455 + i,
                      i, i * 11, i);
        std::string filled = i == 5 ? "NOT DIGITS" : line;  // packs to ERROR
        text += filled + "\r\n";
        filled.resize(128, '0');
        expected += quenlo::PackRecord(filled) + "\r\n";
    }
    ExpectDelivered(dir_.Write("PACK.PD3", text), 20, 0, {"--cmp"}, {"+P0", "+B115200", "+CMP"},
                    kProgramSent, expected);
    // The first record worked out by hand: 123456 packs to 112, 134, 156; 000011 and 01 to 100,
    // 100, 111 and 101.
    const std::string received = Received("PACK.PD3");
    EXPECT_EQ(received.substr(0, 31), "\x70\x86\x9c      ITEM 1          \x64\x64\x6f\x65\r\n");
    EXPECT_EQ(Lines(received)[4].substr(0, 9), "ERROR    ");
}

TEST_F(CliSimTest, RefusedBlockIsSentAgain) {
    ExpectDelivered(ProgramFile("NAK.PD3", 50), 50, 1, {"--nak-block", "3"}, {"+P0", "+B115200"},
                    kProgramSent);
}

TEST_F(CliSimTest, CorruptedBlocksAreSentAgain) {
    // Every 7th arrival is damaged, resends included: 58 arrivals for 50 records, 8 refused.
    ExpectDelivered(ProgramFile("NOISE.PD3", 50), 50, 8, {"--corrupt-every", "7", "--seed", "5"},
                    {"+P0", "+B115200"}, kProgramSent);
}

TEST_F(CliSimTest, InterruptCancelsAndClosesThePort) {
    const fs::path file = ProgramFile("QUIET.PD3", 5);
    ASSERT_NO_FATAL_FAILURE(StartSim({"--silent"}));
    auto cli =
        StartCli({"--trace", Path("trace.txt").string(), file.string(), "+P0", "+B19200", "+T30"});
    ASSERT_TRUE(cli->started());
    // Interrupt once the loader is calling the handheld (its first ENQ is in the trace).
    const auto until = Clock::now() + 20s;
    while (dir_.Read("trace.txt").find(" TX 05 ") == std::string::npos) {
        ASSERT_TRUE(cli->running()) << "quenlo-cli ended early: " << dir_.Read("cli.out");
        ASSERT_LT(Clock::now(), until) << "quenlo-cli never called the handheld";
        cli->WaitFor(10ms);
    }
    cli->Signal(SIGINT);
    // Well inside the 30 s time-out, so an ignored interrupt cannot pass as a time-out.
    const auto result = Finish(*cli, 25s);
    EXPECT_EQ(result.status, 90) << result.err;
    EXPECT_EQ(result.out, "Transfer Error\nErr(90) Aborted by Cancel.\n");

    std::string lastNote;
    for (const auto& line : Lines(dir_.Read("trace.txt"))) {
        const auto at = line.find(" -- ");
        if (at != std::string::npos) {
            lastNote = line.substr(at + 4);
        }
    }
    EXPECT_EQ(lastNote, "closed port 1");

    const auto sim = FinishSim(true);
    EXPECT_TRUE(fs::is_empty(Path("received")));
    EXPECT_NE(sim.out.find("records=0/0"), std::string::npos) << sim.out;
}

TEST_F(CliSimTest, MissingPortIsNotAvailable) {
    const auto file = dir_.Write("X.PD3", std::string(128, '1') + "\r\n");
    const auto cli = RunCli({file.string(), "+P4"}, {"QUENLO_COM5=" + Path("nothing").string()});
    EXPECT_EQ(cli.status, 101) << cli.err;
    EXPECT_EQ(cli.out, "Transfer Error\nErr(101) Communications Port COM5 not available.\n");
}

TEST_F(CliSimTest, HandheldVanishingMidTransfer) {
    const fs::path file = ProgramFile("GONE.PD3", 50);
    ASSERT_NO_FATAL_FAILURE(StartSim({"--exit-after-block", "5"}));
    // It exits by itself: the closed pseudo-terminal is a lost device, whose code has no message
    // of its own.
    const auto result = RunCli({file.string(), "+P0", "+B115200", "+T30"});
    EXPECT_EQ(result.status, 255) << result.err;
    EXPECT_EQ(result.out, "Transfer Error\nError1002 OCCURED\n");

    const auto sim = FinishSim();
    EXPECT_EQ(sim.status, 4);
    EXPECT_EQ(sim.out, "bht-sim: received GONE.PD3 records=4/50 naks=0 status=vanished");
    EXPECT_TRUE(fs::is_empty(Path("received")));
}

TEST_F(CliSimTest, MissingFileIsReportedBeforeThePortIsOpened) {
    // The port would fail too; the file is looked at first.
    const auto cli =
        RunCli({Path("absent.pd3").string(), "+P0"}, {"QUENLO_COM1=" + Path("nothing").string()});
    EXPECT_EQ(cli.status, 1) << cli.err;
    // The option line is upper case, and so is the name in the message.
    EXPECT_EQ(cli.out, "Transfer Error\nErr(1) File: ABSENT.PD3  not found.\n");
}

TEST_F(CliSimTest, HelpNamesThePortVariables) {
    const auto cli = RunCli({"--help"});
    EXPECT_EQ(cli.status, 0) << cli.err;
    EXPECT_NE(cli.out.find("QUENLO_COM"), std::string::npos) << cli.out;
}

}  // namespace
