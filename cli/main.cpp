// quenlo-cli: one transfer run from an option line, in a terminal.
#include <CLI/CLI.hpp>
#include <QCoreApplication>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include <unistd.h>

#include "base/run_state.h"
#include "base/text.h"
#include "cli/interrupt.h"
#include "cli/terminal_view.h"
#include "link/tracing_serial_comm.h"
#include "platform/qt_host.h"
#include "platform/qt_serial_comm.h"
#include "run/run_transfer.h"

namespace {

constexpr int kNoResultStatus = 255;
// A command line that cannot be read: not a result code, so it cannot be mistaken for one.
constexpr int kUsageStatus = 64;

constexpr const char* kUsage =
    "Usage: quenlo-cli [--device PATH] [--trace FILE] [--yes | --no] [--] TOKEN...\n";

constexpr const char* kDescription =
    "Sends a file to a DENSO BHT handheld (or receives one) over a serial or IrDA port.\n"
    "The TOKENs form the option line: the file to send, or a directory to receive into,\n"
    "and options such as +P0 (COM1) .. +P20 (COM21), +B115200 .. +B300, +PN/+PE/+PO, +D7/+D8,\n"
    "+S1/+S2, +T30/+T60/+T90/+T120/+T0 (time-out; 0 = none), +PB/-PB (block check),\n"
    "+SN/-SN (sequence numbers), +IR (IrDA), +IRDn (pause after each send, ms), +Fw,w,...\n"
    "(field widths of a data file), +CMP, +YMOD, +RXON, +APP, +EX, +DDE.";

constexpr const char* kFooter =
    "Port n opens the device named by the environment variable QUENLO_COM<n> when it is set,\n"
    "otherwise /dev/ttyS<n-1> (COM<n> on Windows); --device overrides both.\n"
    "Progress goes to stderr; stdout gets two lines at the end: the status and the result.\n"
    "Ctrl-C cancels the transfer (result 90); a second Ctrl-C quits at once.\n"
    "Our own --options may stand anywhere before a bare --; everything else is a TOKEN.\n"
    "Exit status: 0 success, the result code for 1..254 (1 file not found, 52 time-out, 90\n"
    "cancelled, 101 port not available, ...), 255 for larger codes and runs without a result,\n"
    "64 for a command line that cannot be read.\n"
    "Example: quenlo-cli --device /dev/ttyUSB0 PROG.PD3 +B115200 +T60";

// The usage line, first, names the tokens, which CLI11's own line would leave out.
class UsageFormatter : public CLI::Formatter {
  public:
    std::string make_usage(const CLI::App*, std::string) const override { return {}; }
    std::string make_description(const CLI::App* app) const override {
        return std::string(kUsage) + "\n" + app->get_description() + "\n";
    }
};

// Our own options may stand anywhere before a bare "--"; every other argument is a token of the
// option line (tokens are paths, or begin with "+" or a single "-").
struct Arguments {
    std::vector<std::string> ours{"quenlo-cli"};
    std::vector<std::string> tokens;
};

Arguments SplitArguments(int argc, char** argv) {
    static const std::set<std::string> kWithValue = {"--device", "--trace"};
    Arguments split;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--") {
            split.tokens.insert(split.tokens.end(), argv + i + 1, argv + argc);
            break;
        }
        if (arg.rfind("--", 0) != 0 && arg != "-h") {
            split.tokens.push_back(arg);
            continue;
        }
        split.ours.push_back(arg);
        if (kWithValue.count(arg) != 0 && i + 1 < argc) {
            split.ours.emplace_back(argv[++i]);
        }
    }
    return split;
}

std::string OptionLine(const std::vector<std::string>& tokens) {
    std::string line;
    for (const auto& token : tokens) {
        if (!line.empty()) {
            line += ' ';
        }
        line += token;
    }
    // The option line is upper case, exactly as the desktop loader builds it.
    return quenlo::UpperCase(quenlo::Utf8ToLatin1(line));
}

int ExitStatus(const quenlo::RunState& state, bool resultShown) {
    if (!resultShown) {
        return kNoResultStatus;
    }
    if (state.resultCode <= 0) {
        return 0;
    }
    return state.resultCode <= 254 ? state.resultCode : kNoResultStatus;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{kDescription, "quenlo-cli"};
    std::string device;
    std::string tracePath;
    bool yes = false;
    bool no = false;
    app.add_option("--device", device, "Device to open for whatever port the line selects")
        ->type_name("PATH");
    app.add_option("--trace", tracePath, "Log every byte sent and received to FILE")
        ->type_name("FILE");
    auto* yesFlag = app.add_flag("--yes", yes, "Answer Yes to questions when stdin is no terminal");
    auto* noFlag = app.add_flag("--no", no, "Answer No to such questions (the default)");
    yesFlag->excludes(noFlag);
    app.footer(kFooter);
    app.formatter(std::make_shared<UsageFormatter>());
    const Arguments arguments = SplitArguments(argc, argv);
    try {
        std::vector<std::string> reversed(arguments.ours.rbegin(), arguments.ours.rend() - 1);
        app.parse(reversed);
    } catch (const CLI::ParseError& error) {
        if (app.exit(error) == 0) {
            return 0;
        }
        std::cerr << kUsage;
        return kUsageStatus;
    }
    const std::vector<std::string>& tokens = arguments.tokens;

    QCoreApplication qapp(argc, argv);
    quenlo::QtSerialComm serial;
    if (!device.empty()) {
        serial.SetDeviceOverride(device);
    }
    quenlo::QtHost host;
    host.SetDefaultAnswer(yes);

    std::ofstream traceFile;
    std::unique_ptr<quenlo::TracingSerialComm> tracing;
    quenlo::SerialComm* comm = &serial;
    if (!tracePath.empty()) {
        traceFile.open(tracePath, std::ios::binary | std::ios::trunc);
        if (!traceFile) {
            std::cerr << "quenlo-cli: cannot write the trace file " << tracePath << '\n';
            return kNoResultStatus;
        }
        tracing = std::make_unique<quenlo::TracingSerialComm>(
            serial, traceFile, [&host] { return host.ClockSeconds(); });
        comm = tracing.get();
    }

    quenlo::TerminalView view(stderr, isatty(STDERR_FILENO) != 0);
    quenlo::RunState state(host, comm, &view);
    state.commandLine = OptionLine(tokens);
    quenlo::InstallInterruptHandler([&view] { view.PressButton(); }, kNoResultStatus);
    quenlo::LetWritesFailPastTheSizeLimit();

    quenlo::RunTransfer(state);

    std::cout << quenlo::Latin1ToUtf8(view.status()) << '\n'
              << quenlo::Latin1ToUtf8(view.message()) << std::endl;
    // The result line stays as the loader has always written it; the reason behind it goes here.
    if (state.resultCode > 0 && !state.failureDetail.empty()) {
        std::cerr << "quenlo-cli: " << quenlo::Latin1ToUtf8(state.failureDetail) << std::endl;
    }
    return ExitStatus(state, view.resultShown());
}
