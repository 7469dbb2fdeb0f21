// quenlo-cli against bht-sim over real pseudo-terminals: whole transfers through the terminal front
// end, the Qt serial port and the simulated handheld, checked by what arrives on the other side.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
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

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void WriteFile(const fs::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary);
    out << bytes;
}

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

        std::vector<char*> args;
        for (const auto& arg : argv) {
            args.push_back(const_cast<char*>(arg.c_str()));
        }
        args.push_back(nullptr);
        std::vector<char*> envp;
        for (const auto& entry : env) {
            envp.push_back(const_cast<char*>(entry.c_str()));
        }
        envp.push_back(nullptr);
        const int error = posix_spawn(&pid_, argv.front().c_str(), &actions, &attributes,
                                      args.data(), envp.data());
        if (error != 0) {
            pid_ = -1;
            spawnError_ = std::strerror(error);
        }
        posix_spawnattr_destroy(&attributes);
        posix_spawn_file_actions_destroy(&actions);
    }
    ~Process() {
        if (running()) {
            ::kill(pid_, SIGKILL);
            int status = 0;
            ::waitpid(pid_, &status, 0);
        }
    }
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    bool started() const { return pid_ > 0; }
    const std::string& spawnError() const { return spawnError_; }
    bool running() const { return started() && !status_; }

    // Waits at most `limit` for the process to end; false when it is still running.
    bool WaitFor(Clock::duration limit) {
        const auto until = Clock::now() + limit;
        while (running()) {
            int status = 0;
            const pid_t done = ::waitpid(pid_, &status, WNOHANG);
            if (done == pid_) {
                status_ = status;
                break;
            }
            if (done < 0 || Clock::now() >= until) {
                break;
            }
            std::this_thread::sleep_for(5ms);
        }
        return !running();
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
    std::optional<int> status_;
    std::string spawnError_;
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

struct CliResult {
    int status = -1;  // -1: it did not exit normally
    std::string out;
    std::string err;
};

struct SimResult {
    int status = -1;
    std::string summary;  // the last line of its standard output
    std::string err;
};

// A temporary directory with a simulated handheld on DIR/COM1 that writes to DIR/received.
class CliSimTest : public ::testing::Test {
  protected:
    fs::path Path(const std::string& name) const { return dir_.path() / name; }
    fs::path Link() const { return Path("COM1"); }
    std::string PortVariable() const { return "QUENLO_COM1=" + Link().string(); }

    // Starts the handheld and waits until its pseudo-terminal can be opened.
    void StartSim(const std::vector<std::string>& options = {}) {
        fs::create_directory(Path("received"));
        std::vector<std::string> argv{kSim, "--pty", Link().string(), "--dir",
                                      Path("received").string()};
        argv.insert(argv.end(), options.begin(), options.end());
        sim_ = std::make_unique<Process>(argv, Environment({}), Path("sim.out"), Path("sim.err"));
        ASSERT_TRUE(sim_->started()) << sim_->spawnError();
        const auto until = Clock::now() + 10s;
        while (!fs::exists(Link())) {
            ASSERT_FALSE(sim_->WaitFor(0s)) << "bht-sim ended early: " << ReadFile(Path("sim.err"));
            ASSERT_LT(Clock::now(), until) << "bht-sim made no link";
            std::this_thread::sleep_for(5ms);
        }
    }

    std::unique_ptr<Process> StartCli(const std::vector<std::string>& args,
                                      const std::vector<std::string>& env) {
        std::vector<std::string> argv{kCli};
        argv.insert(argv.end(), args.begin(), args.end());
        auto cli =
            std::make_unique<Process>(argv, Environment(env), Path("cli.out"), Path("cli.err"));
        EXPECT_TRUE(cli->started()) << cli->spawnError();
        return cli;
    }

    CliResult Finish(Process& cli, Clock::duration limit = kTransferLimit) {
        CliResult result;
        if (!cli.WaitFor(limit)) {
            ADD_FAILURE() << "quenlo-cli still running after the limit; killed";
            cli.Signal(SIGKILL);
            cli.WaitFor(5s);
        }
        result.status = cli.exitStatus();
        result.out = ReadFile(Path("cli.out"));
        result.err = ReadFile(Path("cli.err"));
        return result;
    }

    // Runs quenlo-cli to its end with the handheld's port as COM1.
    CliResult RunCli(const std::vector<std::string>& args, std::vector<std::string> env = {}) {
        if (env.empty()) {
            env.push_back(PortVariable());
        }
        auto cli = StartCli(args, env);
        if (!cli->started()) {
            return {};
        }
        return Finish(*cli);
    }

    // Waits for the handheld to end by itself; stops it (and fails) when it does not.
    SimResult FinishSim() {
        SimResult result;
        if (!sim_) {
            ADD_FAILURE() << "no bht-sim was started";
            return result;
        }
        if (!sim_->WaitFor(kSimEndLimit)) {
            ADD_FAILURE() << "bht-sim did not end by itself; stopped";
            StopSim();
        }
        return SimReport();
    }

    // Ends a handheld that is meant to keep waiting (a signal makes it end on its normal path).
    SimResult StopSim() {
        sim_->Signal(SIGTERM);
        if (!sim_->WaitFor(kSimEndLimit)) {
            sim_->Signal(SIGKILL);
            sim_->WaitFor(5s);
        }
        return SimReport();
    }

    SimResult SimReport() const {
        SimResult result;
        result.status = sim_->exitStatus();
        const auto lines = Lines(ReadFile(Path("sim.out")));
        if (!lines.empty()) {
            result.summary = lines.back();
        }
        result.err = ReadFile(Path("sim.err"));
        return result;
    }

    std::string Received(const std::string& name) const {
        return ReadFile(Path("received") / name);
    }

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
        WriteFile(Path(name), text);
        return Path(name);
    }

    quenlo::testing::TempDir dir_;
    std::unique_ptr<Process> sim_;
};

const std::string kProgramSent = "Program Sent OK\nErr(0) Transfer Complete\n";
const std::string kFileSent = "File Sent OK\nErr(0) Transfer Complete\n";

TEST_F(CliSimTest, SendsTheDemoProgramWithDefaultSettings) {
    const fs::path file = Sample("DEMO.PD3");
    ASSERT_NO_FATAL_FAILURE(StartSim());
    const auto cli =
        RunCli({file.string(), "+P0", "+B19200", "+PN", "+D8", "+S1", "+T30", "+PB", "+SN"});
    EXPECT_EQ(cli.status, 0) << cli.err;
    EXPECT_EQ(cli.out, kProgramSent);
    const auto sim = FinishSim();
    EXPECT_EQ(sim.status, 0) << sim.err;
    EXPECT_EQ(sim.summary, "bht-sim: received DEMO.PD3 records=400/400 naks=0 status=ok");
    EXPECT_EQ(Received("DEMO.PD3"), ReadFile(file));
}

struct Framing {
    bool bcc;
    bool seq;
};

// Names the case by the loader's options.
void PrintTo(const Framing& framing, std::ostream* out) {
    *out << (framing.bcc ? "+PB " : "-PB ") << (framing.seq ? "+SN" : "-SN");
}

class CliSimFramingTest : public CliSimTest, public ::testing::WithParamInterface<Framing> {};

TEST_P(CliSimFramingTest, BlockCheckAndNumbersAsAgreed) {
    const Framing framing = GetParam();
    const fs::path file = ProgramFile("PROG50.PD3", 50);
    std::vector<std::string> simOptions;
    if (!framing.bcc) {
        simOptions.push_back("--no-bcc");
    }
    if (!framing.seq) {
        simOptions.push_back("--no-seq");
    }
    ASSERT_NO_FATAL_FAILURE(StartSim(simOptions));
    const auto cli = RunCli({file.string(), "+P0", "+B115200", framing.bcc ? "+PB" : "-PB",
                             framing.seq ? "+SN" : "-SN"});
    EXPECT_EQ(cli.status, 0) << cli.err;
    EXPECT_EQ(cli.out, kProgramSent);
    const auto sim = FinishSim();
    EXPECT_EQ(sim.summary, "bht-sim: received PROG50.PD3 records=50/50 naks=0 status=ok")
        << sim.err;
    EXPECT_EQ(Received("PROG50.PD3"), ReadFile(file));
}

INSTANTIATE_TEST_SUITE_P(Framings, CliSimFramingTest,
                         ::testing::Values(Framing{true, true}, Framing{true, false},
                                           Framing{false, true}, Framing{false, false}),
                         [](const ::testing::TestParamInfo<Framing>& info) {
                             return std::string(info.param.bcc ? "Check" : "NoCheck") +
                                    (info.param.seq ? "Numbers" : "NoNumbers");
                         });

TEST_F(CliSimTest, DataFileWithFieldsOnTheOptionLine) {
    const fs::path file = Sample("STOCK.TXT");
    ASSERT_NO_FATAL_FAILURE(StartSim());
    const auto cli = RunCli({file.string(), "+P0", "+B115200", "+F13,20,6"});
    EXPECT_EQ(cli.status, 0) << cli.err;
    EXPECT_EQ(cli.out, kFileSent);
    const auto sim = FinishSim();
    EXPECT_EQ(sim.summary, "bht-sim: received STOCK.TXT records=60/60 naks=0 status=ok") << sim.err;
    EXPECT_EQ(Received("STOCK.TXT"), ReadFile(file));
}

TEST_F(CliSimTest, DataFileWithFieldsFromItsFieldFile) {
    const fs::path file = Sample("STOCK.TXT");
    Sample("STOCK.FLD");
    ASSERT_NO_FATAL_FAILURE(StartSim());
    const auto cli = RunCli({file.string(), "+P0", "+B115200"});
    EXPECT_EQ(cli.status, 0) << cli.err;
    EXPECT_EQ(cli.out, kFileSent);
    const auto sim = FinishSim();
    EXPECT_EQ(sim.summary, "bht-sim: received STOCK.TXT records=60/60 naks=0 status=ok") << sim.err;
    EXPECT_EQ(Received("STOCK.TXT"), ReadFile(file));
}

TEST_F(CliSimTest, PackedRecordsArriveAsTheLoaderPacksThem) {
    // Digits where packing takes them, text in 19-34, and lines short of 128 to be filled first.
    std::string text;
    std::vector<std::string> lines;
    for (int i = 1; i <= 20; ++i) {
        char line[64];
        std::snprintf(line, sizeof line, "  %06d          ITEM %-11d%05dX%02dnot sent", 123455 + i,
                      i, i * 11, i);
        lines.emplace_back(line);
    }
    lines[4] = "NOT DIGITS";  // packs to ERROR
    for (const auto& line : lines) {
        text += line + "\r\n";
    }
    WriteFile(Path("PACK.PD3"), text);
    ASSERT_NO_FATAL_FAILURE(StartSim({"--cmp"}));
    const auto cli = RunCli({Path("PACK.PD3").string(), "+P0", "+B115200", "+CMP"});
    EXPECT_EQ(cli.status, 0) << cli.err;
    EXPECT_EQ(cli.out, kProgramSent);
    const auto sim = FinishSim();
    EXPECT_EQ(sim.summary, "bht-sim: received PACK.PD3 records=20/20 naks=0 status=ok") << sim.err;

    std::string expected;
    for (auto line : lines) {
        line.resize(128, '0');
        expected += quenlo::PackRecord(line) + "\r\n";
    }
    const std::string received = Received("PACK.PD3");
    EXPECT_EQ(received, expected);
    // The first record worked out by hand: 123456 packs to 112, 134, 156; 000011 and 01 to 100,
    // 100, 111 and 101.
    EXPECT_EQ(received.substr(0, 31), "\x70\x86\x9c      ITEM 1          \x64\x64\x6f\x65\r\n");
    EXPECT_EQ(Lines(received)[4].substr(0, 9), "ERROR    ");
}

TEST_F(CliSimTest, RefusedBlockIsSentAgain) {
    const fs::path file = ProgramFile("NAK.PD3", 50);
    ASSERT_NO_FATAL_FAILURE(StartSim({"--nak-block", "3"}));
    const auto cli = RunCli({file.string(), "+P0", "+B115200"});
    EXPECT_EQ(cli.status, 0) << cli.err;
    EXPECT_EQ(cli.out, kProgramSent);
    const auto sim = FinishSim();
    EXPECT_EQ(sim.summary, "bht-sim: received NAK.PD3 records=50/50 naks=1 status=ok") << sim.err;
    EXPECT_EQ(Received("NAK.PD3"), ReadFile(file));
}

TEST_F(CliSimTest, CorruptedBlocksAreSentAgain) {
    const fs::path file = ProgramFile("NOISE.PD3", 50);
    ASSERT_NO_FATAL_FAILURE(StartSim({"--corrupt-every", "7", "--seed", "5"}));
    const auto cli = RunCli({file.string(), "+P0", "+B115200"});
    EXPECT_EQ(cli.status, 0) << cli.err;
    EXPECT_EQ(cli.out, kProgramSent);
    const auto sim = FinishSim();
    // Every 7th arrival is damaged, resends included: 58 arrivals for 50 records, 8 refused.
    EXPECT_EQ(sim.summary, "bht-sim: received NOISE.PD3 records=50/50 naks=8 status=ok") << sim.err;
    EXPECT_EQ(Received("NOISE.PD3"), ReadFile(file));
}

TEST_F(CliSimTest, InterruptCancelsAndClosesThePort) {
    const fs::path file = ProgramFile("QUIET.PD3", 5);
    ASSERT_NO_FATAL_FAILURE(StartSim({"--silent"}));
    const fs::path trace = Path("trace.txt");
    auto cli = StartCli({"--trace", trace.string(), file.string(), "+P0", "+B19200", "+T30"},
                        {PortVariable()});
    ASSERT_TRUE(cli->started());
    // Interrupt once the loader is calling the handheld (its first ENQ is in the trace).
    const auto until = Clock::now() + 20s;
    while (ReadFile(trace).find(" TX 05 ") == std::string::npos) {
        ASSERT_TRUE(cli->running()) << "quenlo-cli ended early: " << ReadFile(Path("cli.out"));
        ASSERT_LT(Clock::now(), until) << "quenlo-cli never called the handheld";
        cli->WaitFor(10ms);
    }
    cli->Signal(SIGINT);
    // Well inside the 30 s time-out, so an ignored interrupt cannot pass as a time-out.
    const auto result = Finish(*cli, 25s);
    EXPECT_EQ(result.status, 90) << result.err;
    EXPECT_EQ(result.out, "Transfer Error\nErr(90) Aborted by Cancel.\n");

    std::string lastNote;
    for (const auto& line : Lines(ReadFile(trace))) {
        const auto at = line.find(" -- ");
        if (at != std::string::npos) {
            lastNote = line.substr(at + 4);
        }
    }
    EXPECT_EQ(lastNote, "closed port 1");

    const auto sim = StopSim();
    EXPECT_TRUE(fs::is_empty(Path("received")));
    EXPECT_NE(sim.summary.find("records=0/0"), std::string::npos) << sim.summary;
}

TEST_F(CliSimTest, MissingPortIsNotAvailable) {
    WriteFile(Path("X.PD3"), std::string(128, '1') + "\r\n");
    const auto cli =
        RunCli({Path("X.PD3").string(), "+P4"}, {"QUENLO_COM5=" + Path("nothing").string()});
    EXPECT_EQ(cli.status, 101) << cli.err;
    EXPECT_EQ(cli.out, "Transfer Error\nErr(101) Communications Port COM5 not available.\n");
}

TEST_F(CliSimTest, HandheldVanishingMidTransfer) {
    const fs::path file = ProgramFile("GONE.PD3", 50);
    ASSERT_NO_FATAL_FAILURE(StartSim({"--exit-after-block", "5"}));
    auto cli = StartCli({file.string(), "+P0", "+B115200", "+T30"}, {PortVariable()});
    ASSERT_TRUE(cli->started());
    const auto result = Finish(*cli, 45s);
    EXPECT_TRUE(cli->exitedNormally()) << "quenlo-cli did not exit by itself: " << result.err;
    EXPECT_NE(result.status, 0);
    const auto lines = Lines(result.out);
    ASSERT_EQ(lines.size(), 2u) << result.out;
    EXPECT_EQ(lines[0], "Transfer Error");
    // The closed pseudo-terminal is a lost device; its code has no message of its own.
    EXPECT_EQ(lines[1], "Error1002 OCCURED");
    EXPECT_EQ(result.status, 255);

    const auto sim = FinishSim();
    EXPECT_EQ(sim.status, 4);
    EXPECT_EQ(sim.summary, "bht-sim: received GONE.PD3 records=4/50 naks=0 status=vanished");
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
