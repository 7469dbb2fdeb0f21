#include "run/options.h"

#include <string_view>

#include "base/number_text.h"
#include "base/text.h"
#include "files/field_definitions.h"
#include "files/field_file.h"
#include "files/file_names.h"

namespace quenlo {

namespace {

constexpr std::int16_t kNoTimeout = 32500;  // about 27 hours of 3-second slices

bool StartsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

// Applies a token that is one of the fixed options; false when it is none of them.
bool ApplyFixedOption(RunState& state, const std::string& t) {
    for (int n = 0; n <= 20; ++n) {
        if (t == "+P" + std::to_string(n)) {
            state.portNumber = static_cast<std::int16_t>(n + 1);
            return true;
        }
    }
    for (const char* rate : kBaudRates) {
        if (t == std::string("+B") + rate) {
            state.baudRate = rate;
            return true;
        }
    }
    if (t == "+PN" || t == "+PE" || t == "+PO") {
        state.parity = t.substr(2);
    } else if (t == "+D7" || t == "+D8") {
        state.dataBits = t.substr(2);
    } else if (t == "+S1" || t == "+S2") {
        state.stopBits = t.substr(2);
    } else if (t == "+PB" || t == "-PB") {
        state.bccEnabled = t[0] == '+';
    } else if (t == "+SN" || t == "-SN") {
        state.seqEnabled = t[0] == '+';
    } else if (t == "+EX") {
        state.exMode = true;
    } else if (t == "+EW" || t == "+RSG") {
        // Taken for the handhelds' older option lines; they change nothing here.
    } else if (t == "+IR") {
        state.irdaMode = true;
    } else if (t == "+DDE") {
        state.ddeMode = true;
    } else if (t == "+APP") {
        state.appendMode = true;
    } else if (t == "+T0") {
        state.timeoutCount = kNoTimeout;
    } else if (t == "+T30") {
        state.timeoutCount = 10;
    } else if (t == "+T60") {
        state.timeoutCount = 20;
    } else if (t == "+T90") {
        state.timeoutCount = 30;
    } else if (t == "+T120") {
        state.timeoutCount = 40;
    } else if (t == "+CMP") {
        state.cmpMode = true;
    } else if (t == "+RXON") {
        state.rxonMode = true;
    } else if (t == "+YMOD") {
        state.ymodemMode = true;
    } else {
        return false;
    }
    return true;
}

// What is accepted where an unknown option stands, by its first letters.
std::string AcceptedLike(const std::string& token) {
    if (StartsWith(token, "+B")) {
        return "the baud rates are 300, 600, 1200, 2400, 4800, 9600, 19200, 38400 and 115200";
    }
    if (StartsWith(token, "+T")) {
        return "the time-outs are +T30, +T60, +T90, +T120 and +T0 (none)";
    }
    if (StartsWith(token, "+P") && token.size() > 2 && token[2] >= '0' && token[2] <= '9') {
        return "the ports are +P0 (COM1) to +P20 (COM21)";
    }
    if (StartsWith(token, "+D") || StartsWith(token, "+S")) {
        return "data bits are +D7 or +D8, stop bits +S1 or +S2";
    }
    return "no such option (options are upper case; quenlo-cli --help lists them)";
}

ResultCode ApplyToken(RunState& state, const std::string& token) {
    if (ApplyFixedOption(state, token)) {
        return result::kOk;
    }
    if (StartsWith(token, "+F")) {
        std::string list = token.substr(2);
        return SetFields(state, list);
    }
    if (StartsWith(token, "+IRD")) {
        return SetIrDelay(state, token.substr(4));
    }
    if (StartsWith(token, "+") || StartsWith(token, "-")) {
        state.failureDetail = Latin1ToUtf8(token) + ": " + AcceptedLike(token);
        return result::kOptionMismatch;
    }
    return CheckFileArg(state);
}

}  // namespace

ResultCode SetIrDelay(RunState& state, const std::string& text) {
    state.irDelay = ToInt32Rounded(LeadingNumber(text));
    return result::kOk;
}

namespace {

// The first token of a line: up to its first space, or a quoted one ("My Files/PROG.PD3") up to
// its closing quote, without the quotes. `length` is what it takes of the line.
std::string FirstToken(const std::string& line, std::size_t& length) {
    if (line.starts_with('"')) {
        const auto close = line.find('"', 1);
        length = close == std::string::npos ? line.size() : close + 1;
        return line.substr(1, (close == std::string::npos ? line.size() : close) - 1);
    }
    length = std::min(line.find(' '), line.size());
    return line.substr(0, length);
}

// Takes `length` characters and the spaces after them from the front of the line.
void DropToken(std::string& line, std::size_t length) {
    line.erase(0, length);
    const auto rest = line.find_first_not_of(' ');
    line.erase(0, rest == std::string::npos ? line.size() : rest);
}

}  // namespace

ResultCode CheckCommand(RunState& state) {
    state.currentProcedure = "CheckCommand";
    state.resultCode = result::kOk;
    while (state.commandLine.size() >= 2) {
        std::size_t length = 0;
        state.currentOption = FirstToken(state.commandLine, length);
        std::size_t givenLength = 0;
        state.currentOptionAsGiven = FirstToken(state.commandLineAsGiven, givenLength);
        state.resultCode = ApplyToken(state, state.currentOption);
        if (state.resultCode != result::kOk) {
            return state.resultCode;
        }
        DropToken(state.commandLine, length);
        DropToken(state.commandLineAsGiven, givenLength);
    }
    if (!state.sendMode) {
        return result::kOk;
    }
    state.resultCode = Test_File(state);
    if (state.resultCode != result::kOk) {
        return state.resultCode;
    }
    if (state.fieldCount != 0 && state.programFile) {
        state.failureDetail = Latin1ToUtf8(state.fileName) +
                              " is a program or system file, whose records have a fixed length: "
                              "+F is for data files";
        state.resultCode = result::kParameterMismatch;
        return state.resultCode;
    }
    if (state.fieldCount == 0 && !state.programFile) {
        state.resultCode = CheckFieldFile(state);
        if (state.resultCode != result::kOk) {
            return state.resultCode;
        }
    }
    return result::kOk;
}

}  // namespace quenlo
