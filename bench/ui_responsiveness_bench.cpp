// How long the desktop loader keeps the event loop away from the window while it sends: a
// 32767-record program file goes to bht-sim over a pseudo-terminal through the real transfer
// window, and a 5 ms timer records every gap between its ticks. Prints the longest gap.
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "base/result_codes.h"
#include "base/run_state.h"
#include "platform/qt_serial_comm.h"
#include "platform/qt_terminal_host.h"
#include "run/run_transfer.h"
#include "ui/transfer_window.h"

extern char** environ;

namespace {

constexpr int kRecords = 32767;
constexpr int kTickMs = 5;

void WriteProgramFile(const std::string& path) {
    std::ofstream out(path, std::ios::binary);
    for (int i = 0; i < kRecords; ++i) {
        std::string line =
            std::to_string(100000 + i) + std::string(122, static_cast<char>('A' + i % 26));
        out << line.substr(0, 128) << "\r\n";
    }
}

// bht-sim on a pseudo-terminal behind `link`, storing into `received`; its process, 0 when it
// could not start.
pid_t StartSim(const std::string& link, const std::string& received) {
    const std::string sim = BHT_SIM;
    std::vector<std::string> args = {sim, "--pty", link, "--dir", received};
    std::vector<char*> argvSim;
    for (auto& a : args) {
        argvSim.push_back(a.data());
    }
    argvSim.push_back(nullptr);
    pid_t simPid = 0;
    if (posix_spawn(&simPid, sim.c_str(), nullptr, nullptr, argvSim.data(), environ) != 0) {
        std::fprintf(stderr, "cannot start %s\n", sim.c_str());
        return 0;
    }
    for (int i = 0; i < 100 && access(link.c_str(), F_OK) != 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return simPid;
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir dir;
    const std::string base = dir.path().toStdString();
    const std::string file = base + "/BIG.PD3";
    const std::string link = base + "/COM1";
    WriteProgramFile(file);
    const std::string received = base + "/received";
    std::filesystem::create_directory(received);

    const pid_t simPid = StartSim(link, received);
    if (simPid == 0) {
        return 1;
    }
    quenlo::QtTerminalHost host;
    quenlo::QtSerialComm serial;
    serial.SetDeviceOverride(link);
    quenlo::TransferWindow window;
    quenlo::RunState state(host, &serial, &window);
    state.commandLine = file + " +B115200 +EX";

    QElapsedTimer clock;
    qint64 last = -1;
    qint64 longest = 0;
    long ticks = 0;
    QTimer ticker;
    ticker.setInterval(kTickMs);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        if (last >= 0) {
            longest = std::max(longest, now - last);
        }
        last = now;
        ++ticks;
    });
    clock.start();
    ticker.start();
    quenlo::RunTransfer(state);
    const double seconds = static_cast<double>(clock.nsecsElapsed()) / 1e9;
    ticker.stop();

    int status = 0;
    waitpid(simPid, &status, 0);
    std::printf("ui responsiveness: %d records in %.2f s (%.0f records/s), result %d\n", kRecords,
                seconds, kRecords / seconds, quenlo::Number(state.resultCode));
    std::printf(
        "ui responsiveness: %ld timer ticks of %d ms; longest gap between ticks %.1f ms "
        "(target: no stall over 50 ms)\n",
        ticks, kTickMs, static_cast<double>(longest) / 1e6);
    return quenlo::Number(state.resultCode) == 0 ? 0 : 1;
}
