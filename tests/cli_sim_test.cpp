// quenlo-cli against bht-sim over real pseudo-terminals: whole transfers through the terminal front
// end, the Qt serial port and the simulated handheld, checked by what arrives on the other side.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "support/process.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using quenlo::testing::Clock;
using quenlo::testing::Ended;
using quenlo::testing::ExitStatus;
using quenlo::testing::LastLine;

// Guards against hangs only; every transfer here ends in a few seconds.
constexpr auto kTransferLimit = 60s;
// The simulated handheld waits at most three seconds for the loader to read its last answer.
constexpr auto kSimEndLimit = 8s;

struct Result {
    int status = -1;  // -1: did not end by exiting
    std::string out;  // for the handheld: the last line, its summary
    std::string err;
};

const std::string kProgramSent = "Program Sent OK\nErr(0) Transfer Complete\n";
const std::string kFileSent = "File Sent OK\nErr(0) Transfer Complete\n";

// A temporary directory with a simulated handheld on DIR/COM1 that writes to DIR/received.
class CliSimTest : public ::testing::Test {
  protected:
    fs::path Path(const std::string& name) const { return dir_.path() / name; }

    void StartSim(const std::vector<std::string>& options = {}) {
        fs::create_directory(Path("received"));
        std::vector<std::string> argv{BHT_SIM, "--pty", Path("COM1").string(), "--dir",
                                      Path("received").string()};
        argv.insert(argv.end(), options.begin(), options.end());
        sim_ = quenlo::testing::StartProcess(argv, {}, Path("sim.err"), Path("sim.out"));
        ASSERT_EQ(sim_->state(), QProcess::Running);
        const auto until = Clock::now() + 10s;
        while (!fs::exists(Path("COM1"))) {
            ASSERT_FALSE(Ended(*sim_, 0s)) << "bht-sim ended early: " << dir_.Read("sim.err");
            ASSERT_LT(Clock::now(), until) << "bht-sim made no link";
            std::this_thread::sleep_for(5ms);
        }
    }
    std::unique_ptr<QProcess> StartCli(std::vector<std::string> args) {
        args.insert(args.begin(), QUENLO_CLI);
        return quenlo::testing::StartProcess(args, {"QUENLO_COM1=" + Path("COM1").string()},
                                             Path("cli.err"), Path("cli.out"));
    }
    Result Finish(QProcess& cli, Clock::duration limit = kTransferLimit) {
        EXPECT_TRUE(Ended(cli, limit)) << "quenlo-cli still running after the limit";
        return {ExitStatus(cli), dir_.Read("cli.out"), dir_.Read("cli.err")};
    }
    Result RunCli(const std::vector<std::string>& args) { return Finish(*StartCli(args)); }
    // Waits for the handheld to end by itself, or (stop) ends it on its normal path.
    Result FinishSim(bool stop = false, Clock::duration limit = kSimEndLimit) {
        if (stop) {
            ::kill(static_cast<pid_t>(sim_->processId()), SIGTERM);
        }
        EXPECT_TRUE(Ended(*sim_, limit)) << "bht-sim did not end";
        return {ExitStatus(*sim_), LastLine(dir_.Read("sim.out")), dir_.Read("sim.err")};
    }
    // A copy of a sample file under its name or `as`.
    fs::path Sample(const std::string& name, std::string as = "") const {
        as = as.empty() ? name : as;
        fs::copy_file(fs::path(QUENLO_SAMPLES) / name, Path(as));
        return Path(as);
    }

    // A whole send that must succeed: every record in, nothing refused, no byte a handheld
    // refuses, and the file received as sent.
    void ExpectDelivered(const fs::path& file, int records,
                         const std::vector<std::string>& simOptions,
                         std::vector<std::string> cliOptions, const std::string& cliOut) {
        ASSERT_NO_FATAL_FAILURE(StartSim(simOptions));
        cliOptions.insert(cliOptions.begin(), file.string());
        const auto cli = RunCli(cliOptions);
        EXPECT_EQ(cli.status, 0) << cli.err;
        EXPECT_EQ(cli.out, cliOut);
        const auto sim = FinishSim();
        const std::string name = file.filename().string();
        const std::string count = std::to_string(records);
        EXPECT_EQ(sim.out, "bht-sim: received " + name + " records=" + count + "/" + count +
                               " naks=0 strays=0 status=ok")
            << sim.err;
        EXPECT_EQ(dir_.Read("received/" + name), dir_.Read(name));
    }

    quenlo::testing::TempDir dir_;
    std::unique_ptr<QProcess> sim_;
};

// The demo program with the main window's settings and back, a name beyond ASCII stored as the
// system spells it, a data file with its fields on the line.
TEST_F(CliSimTest, SendsProgramsAndDataFiles) {
    ExpectDelivered(Sample("DEMO.PD3"), 400, {},
                    {"+P0", "+B19200", "+PN", "+D8", "+S1", "+T30", "+PB", "+SN"}, kProgramSent);
    // And back: the handheld uploads it to the loader.
    fs::rename(Path("received/DEMO.PD3"), Path("UP.PD3"));
    ASSERT_NO_FATAL_FAILURE(StartSim({"--send", Path("UP.PD3").string()}));
    EXPECT_EQ(RunCli({Path("received").string() + "/", "+P0", "+B115200"}).out,
              "Program Received OK\nErr(0) Transfer Complete\n");
    EXPECT_EQ(FinishSim().out, "bht-sim: sent UP.PD3 records=400/400 naks=0 strays=0 status=ok");
    EXPECT_EQ(dir_.Read("received/UP.PD3"), dir_.Read("UP.PD3"));
    fs::remove(Path("received/UP.PD3"));
    const std::string pound = "\xC2\xA3";
    ExpectDelivered(Sample("DEMO.PD3", pound + "1.PD3"), 400, {}, {"+P0", "+B115200"},
                    kProgramSent);
    ExpectDelivered(Sample("STOCK.TXT"), 60, {}, {"+P0", "+B115200", "+F13,20,6"}, kFileSent);
    // Folders as people have them, each one argument: a space, letters beyond A-Z; a file named
    // in lower case; a folder to receive into named without its final "/".
    const fs::path folder = Path("My Files") / "\xD0\xB4\xD0\xB0\xD0\xBD\xD0\xBD\xD1\x8B\xD0\xB5";
    fs::create_directories(folder);
    fs::copy_file(fs::path(QUENLO_SAMPLES) / "DEMO.PD3", folder / "demo.pd3");
    ASSERT_NO_FATAL_FAILURE(StartSim());
    EXPECT_EQ(RunCli({(folder / "demo.pd3").string(), "+P0", "+B115200"}).out, kProgramSent);
    FinishSim();
    EXPECT_EQ(dir_.Read("received/DEMO.PD3"), dir_.Read("DEMO.PD3"));
    fs::create_directory(
        Path("R\xC3\xA9"
             "ception"));  // the handheld uploads what it got
    ASSERT_NO_FATAL_FAILURE(StartSim({"--send", Path("received/DEMO.PD3").string()}));
    EXPECT_EQ(RunCli({Path("R\xC3\xA9"
                           "ception")
                          .string(),
                      "+P0", "+B115200"})
                  .out,
              "Program Received OK\nErr(0) Transfer Complete\n");
    FinishSim();
    EXPECT_EQ(dir_.Read("R\xC3\xA9"
                        "ception/DEMO.PD3"),
              dir_.Read("DEMO.PD3"));
}

// 70,000 bytes of every value to the handheld and back, byte for byte.
TEST_F(CliSimTest, YmodemBothWays) {
    std::string data(70000, '\0');
    for (std::size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<char>(i * 13 % 256);
    }
    const struct {
        std::vector<std::string> sim;
        std::string token, name;
    } rows[] = {{{"--ymodem"}, dir_.Write("APP.PD4", data).string(), "APP.PD4"},
                {{"--ymodem", "--send", dir_.Write("UP.PD4", data).string()},
                 Path("received").string() + "/",
                 "UP.PD4"}};
    for (const auto& row : rows) {
        ASSERT_NO_FATAL_FAILURE(StartSim(row.sim));
        const auto cli = RunCli({row.token, "+P0", "+B115200", "+YMOD"});
        EXPECT_EQ(cli.out.substr(cli.out.find('\n')), "\nErr(0) Transfer Complete\n") << cli.err;
        EXPECT_EQ(FinishSim().status, 0);
        EXPECT_EQ(dir_.Read("received/" + row.name), data);
    }
}

TEST_F(CliSimTest, InterruptCancelsAndClosesThePort) {
    const fs::path file = Sample("DEMO.PD3", "QUIET.PD3");
    ASSERT_NO_FATAL_FAILURE(StartSim({"--silent"}));
    auto cli =
        StartCli({"--trace", Path("trace.txt").string(), file.string(), "+P0", "+B19200", "+T30"});
    ASSERT_EQ(cli->state(), QProcess::Running);
    // Interrupt once the loader is calling the handheld (its first ENQ is in the trace).
    const auto until = Clock::now() + 20s;
    while (dir_.Read("trace.txt").find(" TX 05 ") == std::string::npos) {
        ASSERT_NE(cli->state(), QProcess::NotRunning)
            << "quenlo-cli ended early: " << dir_.Read("cli.out");
        ASSERT_LT(Clock::now(), until) << "quenlo-cli never called the handheld";
        Ended(*cli, 10ms);
    }
    ::kill(static_cast<pid_t>(cli->processId()), SIGINT);
    // Well inside the 30 s time-out, so an ignored interrupt cannot pass as a time-out.
    const auto result = Finish(*cli, 25s);
    EXPECT_EQ(result.status, 90) << result.err;
    EXPECT_EQ(result.out, "Transfer Error\nErr(90) Aborted by Cancel.\n");
    EXPECT_EQ(LastLine(dir_.Read("trace.txt")).substr(13), "-- closed port 1");
    FinishSim(true);
    EXPECT_TRUE(fs::is_empty(Path("received")));
}

// A terminal that closes (SIGHUP) or a SIGTERM cancels a reception as Ctrl-C does; a second one
// ends the program at once. Either way the earlier file stays as it was, nothing half-written is
// left, and what a run killed earlier left is gone.
TEST_F(CliSimTest, SignalsDuringAReceptionLeaveTheEarlierFile) {
    const fs::path upload = Sample("DEMO.PD3", "UP.PD3");
    // Two different signals, as one of a kind twice may arrive as one.
    const std::vector<std::vector<int>> rows = {{SIGTERM}, {SIGHUP}, {SIGTERM, SIGHUP}};
    for (const auto& kill : rows) {
        SCOPED_TRACE(kill.size());
        ASSERT_NO_FATAL_FAILURE(StartSim({"--send", upload.string(), "--baud", "19200"}));
        dir_.Write("received/UP.PD3", "EARLIER\r\n");
        dir_.Write("received/.quenlo-99999-0.part", "LEFT BY A KILLED RUN");
        fs::remove(Path("trace.txt"));
        auto cli = StartCli(
            {Path("received").string() + "/", "+P0", "--trace", Path("trace.txt").string()});
        const auto until = Clock::now() + 20s;
        while (dir_.Read("trace.txt").find(" RX 02 30 30 30 30 32") == std::string::npos) {
            ASSERT_NE(cli->state(), QProcess::NotRunning) << dir_.Read("cli.out");
            ASSERT_LT(Clock::now(), until) << "no second record came";
            Ended(*cli, 10ms);
        }
        const auto pid = static_cast<pid_t>(cli->processId());
        ASSERT_GT(pid, 0);
        for (const int signal : kill) {  // back to back: the second comes during the clean-up
            ::kill(pid, signal);
        }
        const auto result = Finish(*cli, 25s);
        EXPECT_EQ(result.status, kill.size() == 1 ? 90 : 255) << result.err;
        EXPECT_EQ(dir_.Read("received/UP.PD3"), "EARLIER\r\n");
        EXPECT_EQ(fs::directory_iterator(Path("received"))->path().filename(), "UP.PD3");
        EXPECT_EQ(std::distance(fs::directory_iterator(Path("received")), {}), 1);
        FinishSim(true);
        fs::remove(Path("COM1"));
    }
}

// The handheld's end of the line closes in the middle of each kind of transfer: the loader says
// why at once (a time-out would take 30 s and say 51 to 54), closes the port, keeps nothing.
TEST_F(CliSimTest, HandheldVanishingMidTransfer) {
    const std::string block = Sample("DEMO.PD3", "GONE.PD3").string(),
                      ymodem = dir_.Write("GONE.PD4", std::string(20000, 'Y')).string(),
                      here = Path("received").string() + "/";
    const struct {
        std::vector<std::string> sim, cli;
        int code;
        std::string summary;
    } rows[] = {
        // ENQ, the heading (20 bytes) and four blocks of 135 make 561 bytes: the fifth block dies.
        {{"--cut-after", "600"}, {block}, 1002, "received GONE.PD3 records=4/400 naks=0 strays=0"},
        // The answers to the call, the heading and two blocks go through; the third is lost.
        {{"--send", block, "--cut-after", "4"}, {here}, 1002, "sent GONE.PD3 records=2/400 naks=0"},
        {{"--ymodem", "--cut-after", "3000"}, {ymodem}, 53, "GONE.PD4 bytes=2048/20000 files=0"},
        {{"--ymodem", "--send", ymodem, "--cut-after", "4"}, {here, "+YMOD"}, 54, "GONE.PD4 b"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.summary);
        ASSERT_NO_FATAL_FAILURE(StartSim(row.sim));
        auto args = row.cli;
        args.insert(args.end(), {"--trace", Path("trace.txt").string(), "+P0", "+B115200", "+T30"});
        const auto result = RunCli(args);
        // A lost device's code has no message of its own.
        EXPECT_EQ(result.out, row.code == 1002 ? "Transfer Error\nError1002 OCCURED\n"
                                               : "Transfer Error\nErr(" + std::to_string(row.code) +
                                                     ") Communications error.\n");
        EXPECT_EQ(LastLine(result.err),
                  "quenlo-cli: the device went away (unplugged, or its other end closed)");
        EXPECT_EQ(LastLine(dir_.Read("trace.txt")).substr(13), "-- closed port 1");
        const auto sim = FinishSim();
        EXPECT_EQ(sim.status, 4);
        EXPECT_EQ(sim.out.substr(0, 9 + row.summary.size()), "bht-sim: " + row.summary);
        EXPECT_TRUE(fs::is_empty(Path("received")));
        fs::remove(Path("COM1"));
    }
}

TEST_F(CliSimTest, FailuresBeforeTheLine) {
    const auto file = dir_.Write("X.PD3", std::string(128, '1') + "\r\n");
    const struct {
        std::vector<std::string> args;
        int status;
        std::string out;
        std::string why;  // a line on stderr
    } rows[] = {
        // The file is looked at before the port; the line is upper case, so is the name in the
        // result, but the reason shows the path as typed.
        {{Path("absent.pd3").string(), "+P0"},
         1,
         "Transfer Error\nErr(1) File: ABSENT.PD3  not found.\n",
         "quenlo-cli: " + Path("absent.pd3").string() + ": No such file or directory"},
        // Our own options may follow the tokens; a usage error has a status of its own.
        {{file.string(), "+P0", "--device", Path("nothing").string()},
         101,
         "",
         "quenlo-cli: COM1 is " + Path("nothing").string() + ": no such device; "},
        {{"--yes", "--no"}, 64, "", "quenlo-cli: --yes and --no cannot both be given"},
        {{"--wait-port", "-1", "x/"}, 64, "", "quenlo-cli: --wait-port: must be 0 or more"},
        {{},
         64,
         "",
         "Run quenlo-cli --help for the options; quenlo-cli ./ receives into the current "
         "directory."},
        {{"--version"}, 0, "quenlo-cli " QUENLO_VERSION "\n", ""},
    };
    for (const auto& row : rows) {
        const auto cli = RunCli(row.args);
        EXPECT_EQ(cli.status, row.status) << cli.err;
        if (!row.out.empty()) {
            EXPECT_EQ(cli.out, row.out);
        }
        const std::string err = "\n" + cli.err, why = "\n" + row.why;
        const auto at = err.find(why);
        EXPECT_TRUE(row.why.empty() || (at != err.npos && err.find(why, at + 1) == err.npos))
            << "not once: " << cli.err;
    }
    // The usage line names every option; the parser's own words stay out.
    const auto help = RunCli({"--help"});
    EXPECT_EQ(help.status, 0);
    for (const char* shown :
         {"--device PATH] [--trace FILE] [--wait-port SECONDS] [--keep]",
          "--list-ports | --help | --version", "QUENLO_COM", "+EX ", "+DDE ", "+CMP ", "+APP "}) {
        EXPECT_NE(help.out.find(shown), std::string::npos) << shown;
    }
    EXPECT_EQ(help.out.find(":NONNEGATIVE"), help.out.npos) << help.out;
    EXPECT_EQ(help.out.find("Excludes"), help.out.npos) << help.out;
}

}  // namespace
