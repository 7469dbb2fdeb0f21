// bht-sim: a simulated BHT handheld on a pseudo-terminal or a serial device. It takes one file
// from the loader by the block protocol, checks every block, writes the file and prints one
// summary line; or, with --send, uploads a file to the loader. Faults of the handheld and of the
// line can be switched on to exercise the loader's recovery.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <filesystem>
#include <iostream>
#include <memory>
#include <optional>
#include <string>

#include "platform/posix_pty.h"
#include "platform/posix_serial.h"
#include "protocol/block_receiver.h"
#include "protocol/block_sender.h"
#include "protocol/ymodem_receiver.h"
#include "protocol/ymodem_sender.h"
#include "sim/directory_store.h"
#include "sim/line.h"
#include "sim/session.h"
#include "sim/upload.h"

namespace {

// Longest wait at the end for the loader to read the last answer.
constexpr int kDrainLimitMs = 3000;

constexpr int kUsageExit = 2;
constexpr int kDefaultDeviceBaud = 19200;

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

int Usage(const std::string& message) {
    std::cerr << "bht-sim: " << message << '\n';
    return kUsageExit;
}

quenlo::sim::Time Seconds(double seconds) {
    return quenlo::sim::Time(static_cast<long long>(std::llround(seconds * 1e6)));
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"A simulated BHT handheld: it receives one file from the loader, or uploads one."};
    app.set_version_flag("--version", "bht-sim " QUENLO_VERSION);

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
    std::string fields;
    quenlo::protocol::HandheldFaults faults;
    quenlo::protocol::SenderFaults senderFaults;
    quenlo::sim::LineFaults fromLoader;
    quenlo::sim::LineFaults toLoader;
    double delayMs = 0;

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
    app.add_option("--fields", fields,
                   "Field widths of a data file to upload (default: the fields line of NAME.FLD)")
        ->type_name("W,W,...");
    app.add_flag("--ymodem", ymodem, "Use YMODEM instead of the block protocol");
    app.add_flag("--no-bcc", noBcc, "Blocks come without a block check byte (loader -PB)");
    app.add_flag("--no-seq", noSeq, "Data blocks come without block numbers (loader -SN)");
    app.add_flag("--cmp", packed, "Records come packed, written as received (loader +CMP)");
    app.add_option("--baud", baud,
                   "Line rate: paces both directions at 10 bits a byte, in bursts of up to 16 "
                   "bytes as a UART's FIFO hands them over; on a --device it sets the rate "
                   "instead (19200 when not given). Without it a pseudo-terminal is not paced.")
        ->check(CLI::PositiveNumber);
    app.add_option("--timeout", timeoutSeconds,
                   "Give up after this many seconds without a byte (status timeout)")
        ->capture_default_str()
        ->check(CLI::PositiveNumber)
        ->type_name("SECONDS");
    app.add_flag("--once", once, "Take one file, then exit (the default)");
    app.add_flag("-v,--verbose", verbose, "Trace every block and answer on stderr");

    auto* handheld = app.add_option_group("Faults of the handheld");
    handheld->add_option("--nak-heading", faults.nakHeading, "NAK the heading N times")
        ->check(CLI::PositiveNumber)
        ->type_name("N");
    handheld->add_option("--nak-block", faults.nakBlock, "NAK data block K (see --nak-times)")
        ->check(CLI::PositiveNumber)
        ->type_name("K");
    handheld->add_option("--nak-times", faults.nakTimes, "How often --nak-block refuses it")
        ->capture_default_str()
        ->check(CLI::PositiveNumber)
        ->type_name("N");
    handheld->add_option("--eot-at-block", faults.eotAtBlock, "Answer data block K with EOT")
        ->check(CLI::PositiveNumber)
        ->type_name("K");
    handheld
        ->add_option("--enq-block", faults.enqBlock,
                     "Answer data block K with ENQ (see --enq-times) instead of ACK")
        ->check(CLI::PositiveNumber)
        ->type_name("K");
    handheld->add_option("--enq-times", faults.enqTimes, "How often --enq-block does so")
        ->check(CLI::PositiveNumber)
        ->type_name("N");

    auto* uploader = app.add_option_group("Faults of an uploading handheld (--send)");
    uploader
        ->add_option("--repeat-block", senderFaults.repeatBlock,
                     "Send data block K twice, with the same number")
        ->check(CLI::PositiveNumber)
        ->type_name("K");
    uploader
        ->add_option("--bad-check-block", senderFaults.badCheckBlock,
                     "Send data block K first with a wrong check byte")
        ->check(CLI::PositiveNumber)
        ->type_name("K");
    uploader->add_flag("--drop-nul-checks", senderFaults.dropNulChecks,
                       "Leave off check bytes that come out NUL");
    uploader->add_flag("--call-forever", senderFaults.callForever,
                       "Keep calling (ENQ) whatever the loader answers");
    uploader
        ->add_option("--stray-before-block", senderFaults.strayBeforeBlock,
                     "Put noise on the line right before data block K")
        ->check(CLI::PositiveNumber)
        ->type_name("K");
    uploader
        ->add_option("--enq-before-block", senderFaults.enqBeforeBlock,
                     "Send a lone ENQ before data block K")
        ->check(CLI::PositiveNumber)
        ->type_name("K");

    auto* line = app.add_option_group("Faults of the line");
    line->add_flag("--silent", toLoader.silent, "Nothing the handheld sends arrives");
    line->add_option("--drop-answer-every", toLoader.dropEvery,
                     "Every Nth byte the handheld sends is lost")
        ->check(CLI::PositiveNumber)
        ->type_name("N");
    line->add_option("--corrupt-every", fromLoader.corruptEvery,
                     "One bit of every Nth byte from the loader is flipped")
        ->check(CLI::PositiveNumber)
        ->type_name("N");
    line->add_option("--drop-rate", fromLoader.dropRate, "Chance that a byte is lost, each way")
        ->check(CLI::Range(0.0, 1.0))
        ->type_name("P");
    line->add_option("--corrupt-rate", fromLoader.corruptRate,
                     "Chance that a byte is damaged, each way")
        ->check(CLI::Range(0.0, 1.0))
        ->type_name("P");
    line->add_option("--delay-rate", fromLoader.delayRate,
                     "Chance that a byte comes late (see --delay-ms), each way")
        ->check(CLI::Range(0.0, 1.0))
        ->type_name("P");
    line->add_option("--delay-ms", delayMs, "How late a late byte comes")
        ->check(CLI::NonNegativeNumber)
        ->type_name("MS");
    line->add_option("--cut-after", fromLoader.cutAfter,
                     "The line dies after N bytes from the loader: bht-sim vanishes (exit 4)")
        ->check(CLI::PositiveNumber)
        ->type_name("N");
    line->add_option("--seed", fromLoader.seed, "Seed for the random faults and flipped bits")
        ->capture_default_str()
        ->type_name("S");

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        const int code = app.exit(error);
        return code == 0 ? 0 : kUsageExit;
    }

    std::string error;
    std::optional<quenlo::protocol::Upload> upload;
    std::unique_ptr<quenlo::sim::PathSource> source;
    if (!sendFile.empty() && ymodem) {
        source = quenlo::sim::PathSource::Open(sendFile, error);
        if (!source) {
            return Usage(error);
        }
    } else if (!sendFile.empty()) {
        upload = quenlo::sim::LoadUpload(sendFile, fields, error);
        if (!upload) {
            return Usage(error);
        }
    }
    if (ptyLink.empty() && devicePath.empty()) {
        return Usage("give --pty LINK or --device PATH");
    }
    const auto store = quenlo::sim::DirectoryStore::Open(dir, error);
    if (!store) {
        return Usage(error);
    }
    if (!devicePath.empty() && baud != 0 && !quenlo::PosixSerial::SupportedBaud(baud)) {
        return Usage("--baud " + std::to_string(baud) + " is not a rate the device offers");
    }
    if (!CatchStopSignals()) {
        return Usage("cannot catch signals");
    }
    // The random faults strike both ways; the other direction gets its own stream of chances.
    toLoader.dropRate = fromLoader.dropRate;
    toLoader.corruptRate = fromLoader.corruptRate;
    toLoader.delayRate = fromLoader.delayRate;
    fromLoader.delay = toLoader.delay = Seconds(delayMs / 1000.0);
    toLoader.seed = fromLoader.seed + 1;

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
        serial =
            quenlo::PosixSerial::Open(devicePath, baud != 0 ? baud : kDefaultDeviceBaud, &error);
        if (!serial) {
            return Usage(error);
        }
        setup.fd = serial->fd();
        setup.drain = [&serial] { serial->Drain(); };
    }
    setup.stopFd = stopPipe[0];
    setup.verbose = verbose;

    std::unique_ptr<quenlo::protocol::PeerMachine> machine;
    const quenlo::BlockOptions blocks{!noBcc, !noSeq};
    if (source) {
        quenlo::protocol::YmodemSenderOptions options;
        options.startLimit = Seconds(timeoutSeconds);
        machine = std::make_unique<quenlo::protocol::YmodemSender>(options, source.get(),
                                                                   quenlo::sim::MonotonicNow());
    } else if (ymodem) {
        quenlo::protocol::YmodemReceiverOptions options;
        options.startLimit = Seconds(timeoutSeconds);
        // A loader that opens its port throws away what came before: invite again soon.
        options.inviteInterval = std::chrono::milliseconds(500);
        machine = std::make_unique<quenlo::protocol::YmodemReceiver>(options, store.get(),
                                                                     quenlo::sim::MonotonicNow());
    } else if (upload) {
        quenlo::protocol::BlockSenderOptions options;
        options.blocks = blocks;
        options.faults = senderFaults;
        // Call for as long as the loader may take to come, up to the time-out.
        options.callTries = std::max(1, static_cast<int>(timeoutSeconds / 3.5));
        machine = std::make_unique<quenlo::protocol::BlockSender>(options, std::move(*upload),
                                                                  quenlo::sim::MonotonicNow());
    } else {
        quenlo::protocol::BlockReceiverOptions options;
        options.blocks = blocks;
        options.packed = packed;
        options.idleTimeout = Seconds(timeoutSeconds);
        options.faults = faults;
        machine = std::make_unique<quenlo::protocol::BlockReceiver>(options, *store,
                                                                    quenlo::sim::MonotonicNow());
    }
    quenlo::sim::Line inbound(paceBaud, fromLoader);
    quenlo::sim::Line outbound(paceBaud, toLoader);
    const auto report = quenlo::sim::RunSession(setup, *machine, inbound, outbound,
                                                fromLoader.any() || toLoader.any());

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
