// bht-sim: a simulated BHT handheld on a pseudo-terminal or a serial device. It takes one file
// from the loader by the block protocol, checks every block, writes the file and prints one
// summary line. Faults can be switched on to exercise the loader's recovery.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cerrno>
#include <cmath>
#include <filesystem>
#include <iostream>
#include <memory>
#include <string>

#include "platform/posix_pty.h"
#include "platform/posix_serial.h"
#include "sim/block_receiver.h"
#include "sim/line_pacer.h"
#include "sim/session.h"

namespace {

// Longest wait at the end for the loader to read the last answer.
constexpr int kDrainLimitMs = 3000;

constexpr int kUsageExit = 2;
constexpr int kDefaultBaud = 19200;

int stopPipe[2] = {-1, -1};

extern "C" void OnStopSignal(int) {
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] const auto ignored = ::write(stopPipe[1], &byte, 1);
    errno = saved;
}

// SIGINT and SIGTERM only wake the session through a pipe, so it ends on its normal path and the
// link to the pseudo-terminal is removed.
bool CatchStopSignals() {
    if (::pipe(stopPipe) != 0) {
        return false;
    }
    for (const int fd : stopPipe) {
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
        ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    return ::sigaction(SIGINT, &action, nullptr) == 0 &&
           ::sigaction(SIGTERM, &action, nullptr) == 0;
}

// Closing the pseudo-terminal hangs up the loader's side and throws away what it has not read,
// the last answer included. The kernel moves written bytes to that side's queue a moment after the
// write, and until then the queue looks empty; so it must stay empty for a while before our bytes
// count as read. Three seconds are long enough for a loader to pick up the last answer.
int Usage(const std::string& message) {
    std::cerr << "bht-sim: " << message << '\n';
    return kUsageExit;
}

}  // namespace

int main(int argc, char** argv) {
    using quenlo::sim::TimeUs;

    CLI::App app{"A simulated BHT handheld that receives one file from the loader."};
    app.set_version_flag("--version", "bht-sim 1.3.0");

    std::string ptyLink;
    std::string devicePath;
    std::string dir = ".";
    std::string sendFile;
    bool ymodem = false;
    bool noBcc = false;
    bool noSeq = false;
    bool packed = false;
    bool verbose = false;
    bool once = true;
    int baud = 0;
    double timeoutSeconds = 60;
    quenlo::sim::Faults faults;

    auto* ptyOption =
        app.add_option("--pty", ptyLink, "Create a pseudo-terminal and a symbolic link LINK to it")
            ->type_name("LINK");
    auto* deviceOption =
        app.add_option("--device", devicePath, "Use this serial device")->type_name("PATH");
    ptyOption->excludes(deviceOption);
    app.add_option("--dir", dir, "Directory the received file is written to")
        ->capture_default_str()
        ->type_name("DIR");
    app.add_option("--send", sendFile, "Upload FILE to the loader instead")->type_name("FILE");
    app.add_flag("--ymodem", ymodem, "Use YMODEM instead of the block protocol");
    app.add_flag("--no-bcc", noBcc, "Blocks come without a block check byte (loader -PB)");
    app.add_flag("--no-seq", noSeq, "Data blocks come without block numbers (loader -SN)");
    app.add_flag("--cmp", packed, "Records come packed, written as received (loader +CMP)");
    app.add_option("--baud", baud,
                   "Line rate: paces both ways on a pseudo-terminal (10 bits a byte), sets the "
                   "device's rate (default 19200)")
        ->check(CLI::PositiveNumber);
    app.add_option("--timeout", timeoutSeconds,
                   "Give up after this many seconds without a byte (status timeout)")
        ->capture_default_str()
        ->check(CLI::PositiveNumber)
        ->type_name("SECONDS");
    app.add_flag("--once", once, "Take one file, then exit (the default)");
    app.add_flag("-v,--verbose", verbose, "Trace every block and answer on stderr");

    auto* faultGroup = app.add_option_group("Faults");
    faultGroup->add_option("--nak-block", faults.nakBlock, "NAK data block K once")
        ->check(CLI::PositiveNumber)
        ->type_name("K");
    faultGroup->add_option("--nak-heading", faults.nakHeading, "NAK the heading N times")
        ->check(CLI::PositiveNumber)
        ->type_name("N");
    faultGroup->add_flag("--silent", faults.silent, "Never answer");
    faultGroup->add_option("--eot-at-block", faults.eotAtBlock, "Answer data block K with EOT")
        ->check(CLI::PositiveNumber)
        ->type_name("K");
    faultGroup
        ->add_option("--drop-answer-every", faults.dropAnswerEvery,
                     "Leave every Nth ACK/NAK unsent")
        ->check(CLI::PositiveNumber)
        ->type_name("N");
    faultGroup
        ->add_option("--corrupt-every", faults.corruptEvery,
                     "Flip one bit of every Nth data block as it arrives")
        ->check(CLI::PositiveNumber)
        ->type_name("N");
    faultGroup->add_option("--seed", faults.seed, "Seed for the bits --corrupt-every flips")
        ->capture_default_str()
        ->type_name("S");
    faultGroup
        ->add_option("--exit-after-block", faults.exitAfterBlock,
                     "Vanish when data block K arrives (exit 4)")
        ->check(CLI::PositiveNumber)
        ->type_name("K");

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        const int code = app.exit(error);
        return code == 0 ? 0 : kUsageExit;
    }

    if (ymodem) {
        return Usage("--ymodem is not available yet");
    }
    if (!sendFile.empty()) {
        return Usage("--send is not available yet");
    }
    if (ptyLink.empty() && devicePath.empty()) {
        return Usage("give --pty LINK or --device PATH");
    }
    std::error_code ec;
    if (!std::filesystem::is_directory(dir, ec)) {
        return Usage(dir + " is not a directory");
    }
    if (!devicePath.empty() && baud != 0 && !quenlo::PosixSerial::SupportedBaud(baud)) {
        return Usage("--baud " + std::to_string(baud) + " is not a rate the device offers");
    }
    if (!CatchStopSignals()) {
        return Usage("cannot catch signals");
    }

    std::string error;
    std::unique_ptr<quenlo::PosixPty> pty;
    std::unique_ptr<quenlo::PosixSerial> serial;
    quenlo::sim::SessionSetup setup;
    // A real device paces itself; only the pseudo-terminal needs our pacing.
    int paceBaud = 0;
    if (!ptyLink.empty()) {
        pty = quenlo::PosixPty::Open(ptyLink, &error);
        if (!pty) {
            return Usage(error);
        }
        std::cerr << "bht-sim: listening on " << ptyLink << " (-> " << pty->devicePath() << ")"
                  << std::endl;
        setup.fd = pty->fd();
        setup.drain = [&pty] { pty->Drain(kDrainLimitMs); };
        paceBaud = baud;
    } else {
        serial = quenlo::PosixSerial::Open(devicePath, baud != 0 ? baud : kDefaultBaud, &error);
        if (!serial) {
            return Usage(error);
        }
        setup.fd = serial->fd();
        setup.drain = [&serial] { serial->Drain(); };
    }
    setup.stopFd = stopPipe[0];
    setup.dir = dir;
    setup.verbose = verbose;

    quenlo::sim::ReceiverOptions options;
    options.bcc = !noBcc;
    options.seq = !noSeq;
    options.packed = packed;
    options.idleTimeoutUs = static_cast<TimeUs>(std::llround(timeoutSeconds * 1e6));
    options.faults = faults;

    quenlo::sim::BlockReceiver receiver(options, quenlo::sim::MonotonicNow());
    quenlo::sim::LinePacer pacer(paceBaud);
    const quenlo::sim::SessionReport report = quenlo::sim::RunSession(setup, receiver, pacer);

    if (pty) {
        pty->Close();
    }
    if (serial) {
        serial->Close();
    }
    if (report.failed) {
        std::cerr << "bht-sim: " << report.failure << '\n';
    }
    std::cout << report.SummaryLine() << std::endl;
    return report.exitCode();
}
