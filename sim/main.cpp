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

namespace protocol = quenlo::protocol;
namespace sim = quenlo::sim;

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

sim::Time Seconds(double seconds) {
    return sim::Time(static_cast<long long>(std::llround(seconds * 1e6)));
}

// Everything the command line sets.
struct SimOptions {
    std::string ptyLink;
    std::string devicePath;
    std::string dir = ".";
    std::string sendFile;
    std::string fields;
    bool ymodem = false;
    bool noBcc = false;
    bool noSeq = false;
    bool packed = false;
    bool verbose = false;
    int baud = 0;
    double timeoutSeconds = 60;
    double delayMs = 0;
    protocol::HandheldFaults faults;
    protocol::SenderFaults senderFaults;
    sim::LineFaults fromLoader;
    sim::LineFaults toLoader;
};

// A count or a block number: 1 or more.
template <typename T>
CLI::Option* AddPositive(CLI::App* app, const std::string& name, T& value, const std::string& help,
                         const std::string& typeName) {
    return app->add_option(name, value, help)->check(CLI::PositiveNumber)->type_name(typeName);
}

// A chance, from 0 to 1.
CLI::Option* AddChance(CLI::App* app, const std::string& name, double& value,
                       const std::string& help) {
    return app->add_option(name, value, help)->check(CLI::Range(0.0, 1.0))->type_name("P");
}

void AddLineAndTransferOptions(CLI::App& app, SimOptions& o) {
    auto* ptyOption = app.add_option("--pty", o.ptyLink,
                                     "Create a pseudo-terminal and a symbolic link LINK to it")
                          ->type_name("LINK");
    auto* deviceOption =
        app.add_option("--device", o.devicePath, "Use this serial device")->type_name("PATH");
    ptyOption->excludes(deviceOption);
    app.add_option("--dir", o.dir, "Directory the received file is written to")
        ->capture_default_str()
        ->type_name("DIR");
    app.add_option("--send", o.sendFile, "Upload FILE to the loader instead")->type_name("FILE");
    app.add_option("--fields", o.fields,
                   "Field widths of a data file to upload (default: the fields line of NAME.FLD)")
        ->type_name("W,W,...");
    app.add_flag("--ymodem", o.ymodem, "Use YMODEM instead of the block protocol");
    app.add_flag("--no-bcc", o.noBcc, "Blocks come without a block check byte (loader -PB)");
    app.add_flag("--no-seq", o.noSeq, "Data blocks come without block numbers (loader -SN)");
    app.add_flag("--cmp", o.packed, "Records come packed, written as received (loader +CMP)");
    app.add_option("--baud", o.baud,
                   "Line rate: paces both directions at 10 bits a byte, in bursts of up to 16 "
                   "bytes as a UART's FIFO hands them over; on a --device it sets the rate "
                   "instead (19200 when not given). Without it a pseudo-terminal is not paced.")
        ->check(CLI::PositiveNumber);
    app.add_option("--timeout", o.timeoutSeconds,
                   "Give up after this many seconds without a byte (status timeout)")
        ->capture_default_str()
        ->check(CLI::PositiveNumber)
        ->type_name("SECONDS");
    app.add_flag("-v,--verbose", o.verbose, "Trace every block and answer on stderr");
}

void AddHandheldFaults(CLI::App& app, protocol::HandheldFaults& faults) {
    auto* group = app.add_option_group("Faults of the handheld");
    AddPositive(group, "--nak-heading", faults.nakHeading, "NAK the heading N times", "N");
    AddPositive(group, "--nak-block", faults.nakBlock, "NAK data block K (see --nak-times)", "K");
    AddPositive(group, "--nak-times", faults.nakTimes, "How often --nak-block refuses it", "N")
        ->capture_default_str();
    AddPositive(group, "--eot-at-block", faults.eotAtBlock, "Answer data block K with EOT", "K");
    AddPositive(group, "--enq-block", faults.enqBlock,
                "Answer data block K with ENQ (see --enq-times) instead of ACK", "K");
    AddPositive(group, "--enq-times", faults.enqTimes, "How often --enq-block does so", "N");
}

void AddUploaderFaults(CLI::App& app, protocol::SenderFaults& faults) {
    auto* group = app.add_option_group("Faults of an uploading handheld (--send)");
    AddPositive(group, "--repeat-block", faults.repeatBlock,
                "Send data block K twice, with the same number", "K");
    AddPositive(group, "--bad-check-block", faults.badCheckBlock,
                "Send data block K first with a wrong check byte", "K");
    group->add_flag("--drop-nul-checks", faults.dropNulChecks,
                    "Leave off check bytes that come out NUL");
    group->add_flag("--call-forever", faults.callForever,
                    "Keep calling (ENQ) whatever the loader answers");
    AddPositive(group, "--stray-before-block", faults.strayBeforeBlock,
                "Put noise on the line right before data block K", "K");
    AddPositive(group, "--enq-before-block", faults.enqBeforeBlock,
                "Send a lone ENQ before data block K", "K");
}

void AddLineFaults(CLI::App& app, SimOptions& o) {
    auto* group = app.add_option_group("Faults of the line");
    group->add_flag("--silent", o.toLoader.silent, "Nothing the handheld sends arrives");
    AddPositive(group, "--drop-answer-every", o.toLoader.dropEvery,
                "Every Nth byte the handheld sends is lost", "N");
    AddPositive(group, "--corrupt-every", o.fromLoader.corruptEvery,
                "One bit of every Nth byte from the loader is flipped", "N");
    AddChance(group, "--drop-rate", o.fromLoader.dropRate, "Chance that a byte is lost, each way");
    AddChance(group, "--corrupt-rate", o.fromLoader.corruptRate,
              "Chance that a byte is damaged, each way");
    AddChance(group, "--delay-rate", o.fromLoader.delayRate,
              "Chance that a byte comes late (see --delay-ms), each way");
    group->add_option("--delay-ms", o.delayMs, "How late a late byte comes")
        ->check(CLI::NonNegativeNumber)
        ->type_name("MS");
    AddPositive(group, "--cut-after", o.fromLoader.cutAfter,
                "The line dies after N bytes from the loader: bht-sim vanishes (exit 4)", "N");
    group->add_option("--seed", o.fromLoader.seed, "Seed for the random faults and flipped bits")
        ->capture_default_str()
        ->type_name("S");
}

// What the machine works on: the file to upload, by the block protocol or by YMODEM, and the
// directory a received file goes to.
struct Files {
    std::optional<protocol::Upload> upload;
    std::unique_ptr<sim::PathSource> source;
    std::unique_ptr<sim::DirectoryStore> store;
};

// Reads the file to upload, opens the directory and checks what the options cannot check alone;
// false (and error set, for the usage line) when the run cannot start.
bool Prepare(const SimOptions& o, Files& files, std::string& error) {
    if (!o.sendFile.empty() && o.ymodem) {
        files.source = sim::PathSource::Open(o.sendFile, error);
        if (!files.source) {
            return false;
        }
    } else if (!o.sendFile.empty()) {
        files.upload = sim::LoadUpload(o.sendFile, o.fields, error);
        if (!files.upload) {
            return false;
        }
    }
    if (o.ptyLink.empty() && o.devicePath.empty()) {
        error = "give --pty LINK or --device PATH";
        return false;
    }
    files.store = sim::DirectoryStore::Open(o.dir, error);
    if (!files.store) {
        return false;
    }
    if (!o.devicePath.empty() && o.baud != 0 && !quenlo::PosixSerial::SupportedBaud(o.baud)) {
        error = "--baud " + std::to_string(o.baud) + " is not a rate the device offers";
        return false;
    }
    if (!CatchStopSignals()) {
        error = "cannot catch signals";
        return false;
    }
    return true;
}

// The random faults strike both ways; the other direction gets its own stream of chances.
void SpreadRandomFaults(SimOptions& o) {
    o.toLoader.dropRate = o.fromLoader.dropRate;
    o.toLoader.corruptRate = o.fromLoader.corruptRate;
    o.toLoader.delayRate = o.fromLoader.delayRate;
    o.fromLoader.delay = o.toLoader.delay = Seconds(o.delayMs / 1000.0);
    o.toLoader.seed = o.fromLoader.seed + 1;
}

// The pseudo-terminal or the serial device the session runs on.
struct Port {
    std::unique_ptr<quenlo::PosixPty> pty;
    std::unique_ptr<quenlo::PosixSerial> serial;
    sim::SessionSetup setup;
    // A real device paces itself; only the pseudo-terminal needs our pacing.
    int paceBaud = 0;

    void Close() {
        if (pty) {
            pty->Close();
        }
        if (serial) {
            serial->Close();
        }
    }
};

bool OpenPort(const SimOptions& o, Port& port, std::string& error) {
    if (!o.ptyLink.empty()) {
        port.pty = quenlo::PosixPty::Open(o.ptyLink, &error);
        if (!port.pty) {
            return false;
        }
        std::cerr << "bht-sim: listening on " << o.ptyLink << " (-> " << port.pty->devicePath()
                  << ")" << std::endl;
        port.setup.fd = port.pty->fd();
        port.setup.drain = [pty = port.pty.get()] { pty->Drain(kDrainLimitMs); };
        port.paceBaud = o.baud;
    } else {
        port.serial = quenlo::PosixSerial::Open(o.devicePath,
                                                o.baud != 0 ? o.baud : kDefaultDeviceBaud, &error);
        if (!port.serial) {
            return false;
        }
        port.setup.fd = port.serial->fd();
        port.setup.drain = [serial = port.serial.get()] { serial->Drain(); };
    }
    port.setup.stopFd = stopPipe[0];
    port.setup.verbose = o.verbose;
    return true;
}

// The handheld's side of the exchange the options ask for.
std::unique_ptr<protocol::PeerMachine> MakeMachine(const SimOptions& o, Files& files) {
    const quenlo::BlockOptions blocks{!o.noBcc, !o.noSeq};
    const sim::Time now = sim::MonotonicNow();
    if (files.source) {
        protocol::YmodemSenderOptions options;
        options.startLimit = Seconds(o.timeoutSeconds);
        return std::make_unique<protocol::YmodemSender>(options, files.source.get(), now);
    }
    if (o.ymodem) {
        protocol::YmodemReceiverOptions options;
        options.startLimit = Seconds(o.timeoutSeconds);
        // A loader that opens its port throws away what came before: invite again soon.
        options.inviteInterval = std::chrono::milliseconds(500);
        return std::make_unique<protocol::YmodemReceiver>(options, files.store.get(), now);
    }
    if (files.upload) {
        protocol::BlockSenderOptions options;
        options.blocks = blocks;
        options.faults = o.senderFaults;
        // Call for as long as the loader may take to come, up to the time-out.
        options.callTries = std::max(1, static_cast<int>(o.timeoutSeconds / 3.5));
        return std::make_unique<protocol::BlockSender>(options, std::move(*files.upload), now);
    }
    protocol::BlockReceiverOptions options;
    options.blocks = blocks;
    options.packed = o.packed;
    options.idleTimeout = Seconds(o.timeoutSeconds);
    options.faults = o.faults;
    return std::make_unique<protocol::BlockReceiver>(options, *files.store, now);
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"A simulated BHT handheld: it receives one file from the loader, or uploads one."};
    app.set_version_flag("--version", "bht-sim " QUENLO_VERSION);
    SimOptions options;
    AddLineAndTransferOptions(app, options);
    AddHandheldFaults(app, options.faults);
    AddUploaderFaults(app, options.senderFaults);
    AddLineFaults(app, options);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        const int code = app.exit(error);
        return code == 0 ? 0 : kUsageExit;
    }

    std::string error;
    Files files;
    if (!Prepare(options, files, error)) {
        return Usage(error);
    }
    SpreadRandomFaults(options);
    Port port;
    if (!OpenPort(options, port, error)) {
        return Usage(error);
    }
    const std::unique_ptr<protocol::PeerMachine> machine = MakeMachine(options, files);
    sim::Line inbound(port.paceBaud, options.fromLoader);
    sim::Line outbound(port.paceBaud, options.toLoader);
    const auto report = sim::RunSession(port.setup, *machine, inbound, outbound,
                                        options.fromLoader.any() || options.toLoader.any());
    port.Close();
    if (report.failed) {
        std::cerr << "bht-sim: " << report.failure << '\n';
    }
    std::cout << report.SummaryLine() << std::endl;
    return report.exitCode();
}
