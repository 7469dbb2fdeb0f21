// quenlo-cli: one transfer run from an option line, in a terminal.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "base/run_state.h"
#include "base/text.h"
#include "cli/console.h"
#include "cli/terminal_view.h"
#include "link/tracing_serial_comm.h"
#include "platform/port_names.h"
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
    "otherwise /dev/ttyS<n-1> (COM<n> on Windows); --device overrides both. --list-ports shows\n"
    "the ports present with the COM number that opens each.\n"
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

Arguments SplitArguments(const std::vector<std::string>& argv) {
    static const std::set<std::string> kWithValue = {"--device", "--trace", "--wait-port"};
    const std::size_t argc = argv.size();
    Arguments split;
    for (std::size_t i = 1; i < argc; ++i) {
        const std::string& arg = argv[i];
        if (arg == "--") {
            split.tokens.insert(split.tokens.end(), argv.begin() + static_cast<long>(i) + 1,
                                argv.end());
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

// The port the option line selects: its last +Pn, as the engine reads it; port 1 without one.
std::int16_t SelectedPort(const std::string& optionLine) {
    std::istringstream tokens(optionLine);
    std::int16_t port = 1;
    for (std::string token; tokens >> token;) {
        for (int n = 0; n < quenlo::kPortNumbers; ++n) {
            if (token == "+P" + std::to_string(n)) {
                port = static_cast<std::int16_t>(n + 1);
            }
        }
    }
    return port;
}

// One line per port present, in columns: the device, the COM numbers that open it, the USB
// vendor:product, the serial number, the maker and the driver's description.
void PrintPorts(std::ostream& out) {
    std::vector<std::vector<std::string>> table{
        {"DEVICE", "COM", "USB ID", "SERIAL", "MANUFACTURER", "DESCRIPTION"}};
    for (const quenlo::PortRow& row : quenlo::ListPorts(quenlo::PresentPorts())) {
        std::string com;
        for (const int n : row.portNumbers) {
            com += (com.empty() ? "COM" : ",COM") + std::to_string(n) + "(+P" +
                   std::to_string(n - 1) + ")";
        }
        std::string usb;
        if (row.facts.vendorId && row.facts.productId) {
            char id[16];
            std::snprintf(id, sizeof id, "%04x:%04x", unsigned{*row.facts.vendorId},
                          unsigned{*row.facts.productId});
            usb = id;
        }
        table.push_back({row.facts.device, com, usb, row.facts.serialNumber, row.facts.manufacturer,
                         row.facts.description});
    }
    std::vector<std::size_t> widths(table[0].size(), 0);
    for (auto& line : table) {
        for (std::size_t column = 0; column < line.size(); ++column) {
            line[column] = line[column].empty() ? "-" : line[column];
            widths[column] = std::max(widths[column], line[column].size());
        }
    }
    for (const auto& line : table) {
        std::string text;
        for (std::size_t column = 0; column < line.size(); ++column) {
            text += line[column];
            text.append(column + 1 < line.size() ? widths[column] + 2 - line[column].size() : 0,
                        ' ');
        }
        out << text << '\n';
    }
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
    bool listPorts = false;
    double waitSeconds = 0;
    app.add_option("--device", device, "Device to open for whatever port the line selects")
        ->type_name("PATH");
    app.add_option("--trace", tracePath, "Log every byte sent and received to FILE")
        ->type_name("FILE");
    app.add_option(
           "--wait-port", waitSeconds,
           "Wait up to SECONDS for the port's device to appear (an adapter being plugged in)")
        ->type_name("SECONDS")
        ->check(CLI::NonNegativeNumber);
    app.add_flag("--list-ports", listPorts,
                 "List the serial ports present and the COM number that opens each, then exit");
    auto* yesFlag = app.add_flag("--yes", yes, "Answer Yes to questions when stdin is no terminal");
    auto* noFlag = app.add_flag("--no", no, "Answer No to such questions (the default)");
    yesFlag->excludes(noFlag);
    app.footer(kFooter);
    app.formatter(std::make_shared<UsageFormatter>());
    const Arguments arguments = SplitArguments(quenlo::Console::Arguments(argc, argv));
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

    const auto console = quenlo::Console::Make(argc, argv);
    if (listPorts) {
        PrintPorts(std::cout);
        return 0;
    }
    quenlo::SerialComm& serial = console->Port();
    if (!device.empty()) {
        console->SetDeviceOverride(device);
    }
    quenlo::Host& host = console->TheHost();
    console->SetDefaultAnswer(yes);

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

    quenlo::TerminalView view(stderr, console->StderrIsTerminal(), console->Timers());
    quenlo::RunState state(host, comm, &view);
    state.commandLine = OptionLine(tokens);
    if (waitSeconds > 0) {
        // The run sets the port again; here it only names the device to wait for.
        const std::int16_t port = SelectedPort(state.commandLine);
        if (!console->DeviceExists(console->Device(port))) {
            std::cerr << "quenlo-cli: waiting for " << console->Device(port) << '\n';
            console->WaitForDevice(
                port, std::chrono::milliseconds(static_cast<long long>(waitSeconds * 1000)));
        }
    }
    console->CatchInterrupts([&view] { view.PressButton(); }, kNoResultStatus);

    quenlo::RunTransfer(state);

    std::cout << quenlo::Latin1ToUtf8(view.status()) << '\n'
              << quenlo::Latin1ToUtf8(view.message()) << std::endl;
    // The result line stays as the loader has always written it; the reason behind it goes here.
    if (state.resultCode > 0 && !state.failureDetail.empty()) {
        std::cerr << "quenlo-cli: " << quenlo::Latin1ToUtf8(state.failureDetail) << std::endl;
    }
    return ExitStatus(state, view.resultShown());
}
