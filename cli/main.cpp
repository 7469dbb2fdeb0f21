// quenlo-cli: one transfer run from an option line, in a terminal.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>
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
    "Usage: quenlo-cli [--device PATH] [--trace FILE] [--wait-port SECONDS] [--keep]\n"
    "                  [--yes | --no] [--] TOKEN...\n"
    "       quenlo-cli --list-ports | --help | --version\n";

constexpr const char* kDescription =
    "Sends a file to a DENSO BHT handheld, or receives files from it, over a serial or IrDA\n"
    "port. The TOKENs form the option line: the file to send, or the directory to receive into\n"
    "(a token ending in / or \\; ./ is the current directory), and any of these options:\n"
    "  +P0 .. +P20       the port: +P0 is COM1 (the default), +P20 is COM21\n"
    "  +B115200 +B38400 +B19200 +B9600 +B4800 +B2400 +B1200 +B600 +B300\n"
    "                    the baud rate (default 19200)\n"
    "  +PN +PE +PO       parity none (default), even, odd\n"
    "  +D8 +D7           data bits (default 8)\n"
    "  +S1 +S2           stop bits (default 1)\n"
    "  +T30 +T60 +T90 +T120 +T0\n"
    "                    seconds without an answer before giving up (default 30; 0: never)\n"
    "  +PB -PB           blocks with (default) or without a block check character\n"
    "  +SN -SN           data blocks with (default) or without sequence numbers\n"
    "  +IR               the port is an IrDA adapter (9600, 19200 or 115200 baud)\n"
    "  +IRDn             pause n milliseconds after each transmission\n"
    "  +Fw,w,...         the field widths of a data file (else its .FLD field file gives them)\n"
    "  +CMP              send each record of a data file packed: digits two to a character,\n"
    "                    in the fixed 29-character layout the handheld program unpacks\n"
    "  +YMOD             YMODEM instead of the block protocol (.PD4, .FN4 and .CAB files\n"
    "                    always go by YMODEM)\n"
    "  +RXON             receive file after file until Ctrl-C\n"
    "  +APP              append a received file to the file of its name instead of replacing\n"
    "                    it (what was there stays if the reception fails)\n"
    "  +EX               after a success, the transfer window does not wait for OK\n"
    "  +DDE              it does not wait for OK whatever the result (quenlo-cli never\n"
    "                    waits for OK, so these two change nothing here)\n"
    "  +EW +RSG          accepted, and without effect";

constexpr const char* kFooter =
    "Port n opens the device named by the environment variable QUENLO_COM<n> when it is set;\n"
    "otherwise /dev/ttyS<n-1> when that is a serial port here; otherwise the free numbers, lowest\n"
    "first, go to the other ports present (USB adapters) in the order of their /dev/serial/by-id\n"
    "names. On Windows port n is COM<n>. --device overrides all of it. --list-ports shows which\n"
    "number opens which port; COM n in the desktop loader is +P<n-1> here. A port that may not\n"
    "be opened usually means: add yourself to the dialout group and log in again.\n"
    "Progress goes to stderr; stdout gets two lines at the end: the status and the result, and\n"
    "a failure's reason follows on stderr. Ctrl-C cancels the transfer (result 90); a second\n"
    "Ctrl-C quits at once. Our own --options may stand anywhere before a bare --; everything\n"
    "else is a TOKEN.\n"
    "Exit status: 0 success, the result code for 1..254 (1 file not found, 52 time-out, 90\n"
    "cancelled, 101 port not available, ...), 255 for larger codes and runs without a result,\n"
    "64 for a command line that cannot be read. man quenlo-cli lists every result code.\n"
    "Examples: quenlo-cli --list-ports\n"
    "          quenlo-cli PROG.PD3 +P1 +B115200 +T60     send PROG.PD3 on COM2\n"
    "          quenlo-cli incoming/ +P1 +B115200          receive one file into incoming/";

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

// The option line as typed: each argument one token, quoted when it holds a space (a folder such
// as "My Files").
std::string OptionLine(const std::vector<std::string>& tokens) {
    std::string line;
    for (const auto& token : tokens) {
        if (!line.empty()) {
            line += ' ';
        }
        line += token.find(' ') == std::string::npos ? token : '"' + token + '"';
    }
    return line;
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
    if (quenlo::Succeeded(state.resultCode)) {
        return 0;
    }
    const int code = quenlo::Number(state.resultCode);
    return code <= 254 ? code : kNoResultStatus;
}

// Our own --options.
struct CliOptions {
    std::string device;
    std::string tracePath;
    bool yes = false;
    bool no = false;
    bool listPorts = false;
    bool keep = false;
    double waitSeconds = 0;
};

void DeclareOptions(CLI::App& app, CliOptions& options) {
    app.add_option("--device", options.device, "Open PATH whatever port the line selects")
        ->type_name("PATH");
    app.add_option("--trace", options.tracePath, "Log every byte sent and received to FILE")
        ->type_name("FILE");
    app.add_option("--wait-port", options.waitSeconds,
                   "Wait up to SECONDS for the port's device to appear")
        ->type_name("SECONDS");
    app.add_flag("--list-ports", options.listPorts, "List the ports present and their COM numbers");
    app.add_flag("--keep", options.keep,
                 "Keep a file the folder has already: a received one of its name goes under a "
                 "numbered name (STOCK-2.TXT, with STOCK-2.FLD)");
    app.add_flag("--yes", options.yes, "Answer Yes to questions when stdin is no terminal");
    app.add_flag("--no", options.no, "Answer No to such questions (the default)");
    app.set_version_flag("--version", "quenlo-cli " QUENLO_VERSION, "Print the version and exit");
    app.footer(kFooter);
    app.formatter(std::make_shared<UsageFormatter>());
}

// Reads our own options into what DeclareOptions bound them to. The exit status when the program
// ends here: after --help or --version, or for options it cannot read.
std::optional<int> ReadOptions(CLI::App& app, const CliOptions& options,
                               const std::vector<std::string>& ours) {
    try {
        std::vector<std::string> reversed(ours.rbegin(), ours.rend() - 1);
        app.parse(reversed);
    } catch (const CLI::ParseError& error) {
        if (app.exit(error) == 0) {
            return 0;
        }
        std::cerr << kUsage;
        return kUsageStatus;
    }
    // Checked here rather than by the parser, whose own words ("Excludes:", "NONNEGATIVE") would
    // show in the help.
    const char* refusal = options.waitSeconds < 0     ? "--wait-port: must be 0 or more"
                          : options.yes && options.no ? "--yes and --no cannot both be given"
                                                      : nullptr;
    if (refusal != nullptr) {
        std::cerr << "quenlo-cli: " << refusal << '\n' << kUsage;
        return kUsageStatus;
    }
    return std::nullopt;
}

// --trace: the port as the run sees it, every byte logged to the file with the host's time.
struct TracedPort {
    std::ofstream file;
    std::unique_ptr<quenlo::TracingSerialComm> port;
};

// The port the run uses: the console's, or with --trace one that logs to the file; null when
// that file cannot be written.
quenlo::SerialComm* PortForRun(quenlo::Console& console, const std::string& tracePath,
                               TracedPort& traced) {
    quenlo::SerialComm& serial = console.Port();
    if (tracePath.empty()) {
        return &serial;
    }
    traced.file.open(tracePath, std::ios::binary | std::ios::trunc);
    if (!traced.file) {
        std::cerr << "quenlo-cli: cannot write the trace file " << tracePath << '\n';
        return nullptr;
    }
    quenlo::Host& host = console.TheHost();
    traced.port = std::make_unique<quenlo::TracingSerialComm>(
        serial, traced.file, [&host] { return host.ClockSeconds(); });
    return traced.port.get();
}

// --wait-port: waits for the device of the port the line selects when it is not there yet. The
// run sets the port again; here it only names the device to wait for.
void WaitForPort(quenlo::Console& console, const std::string& commandLine, double waitSeconds) {
    const std::int16_t port = SelectedPort(commandLine);
    if (!console.DeviceExists(console.Device(port))) {
        std::cerr << "quenlo-cli: waiting for " << console.Device(port) << '\n';
        console.WaitForDevice(
            port, std::chrono::milliseconds(static_cast<long long>(waitSeconds * 1000)));
    }
}

// One transfer run from the tokens; its two result lines on stdout; the exit status.
int Transfer(quenlo::Console& console, const CliOptions& options,
             const std::vector<std::string>& tokens) {
    if (!options.device.empty()) {
        console.SetDeviceOverride(options.device);
    }
    console.SetDefaultAnswer(options.yes);
    TracedPort traced;
    quenlo::SerialComm* comm = PortForRun(console, options.tracePath, traced);
    if (comm == nullptr) {
        return kNoResultStatus;
    }
    quenlo::TerminalView view(stderr, console.StderrIsTerminal(), console.Timers());
    quenlo::RunState state(console.TheHost(), comm, &view);
    // The option line is upper case, exactly as the desktop loader builds it; the line as typed
    // goes beside it, so that files and folders are opened as named.
    state.keepEarlierFiles = options.keep;
    state.commandLineAsGiven = OptionLine(tokens);
    state.commandLine = quenlo::UpperCase(quenlo::Utf8ToLatin1(state.commandLineAsGiven));
    if (options.waitSeconds > 0) {
        WaitForPort(console, state.commandLine, options.waitSeconds);
    }
    console.CatchInterrupts([&view] { view.PressButton(); }, kNoResultStatus);

    quenlo::RunTransfer(state);

    // The reason behind a failure went to stderr with the result (TerminalView::SetReason).
    std::cout << quenlo::Latin1ToUtf8(view.status()) << '\n'
              << quenlo::Latin1ToUtf8(view.message()) << std::endl;
    return ExitStatus(state, view.resultShown());
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{kDescription, "quenlo-cli"};
    CliOptions options;
    DeclareOptions(app, options);
    if (argc < 2) {
        // Receiving into the current directory takes a "./": no run starts by accident.
        std::cerr << kUsage << "Run quenlo-cli --help for the options; quenlo-cli ./ receives into "
                  << "the current directory.\n";
        return kUsageStatus;
    }
    const Arguments arguments = SplitArguments(quenlo::Console::Arguments(argc, argv));
    if (const std::optional<int> status = ReadOptions(app, options, arguments.ours)) {
        return *status;
    }
    const auto console = quenlo::Console::Make(argc, argv);
    if (options.listPorts) {
        PrintPorts(std::cout);
        return 0;
    }
    return Transfer(*console, options, arguments.tokens);
}
