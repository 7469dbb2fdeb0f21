// Prints the result codes quenlo-cli reports, for the Windows package's RESULT-CODES.txt: each
// code, the exit status it gives and the line the transfer window shows. Made from the engine's
// own texts, so the table cannot drift from the program.
#include <cstdio>
#include <string>

#include "base/result_codes.h"
#include "base/result_message.h"
#include "base/serial_comm.h"

namespace {

// What a code means where its line does not say it: the five communication errors share one
// text, and the line's own codes (LastEvent, reported as results) say only "ErrorN OCCURED".
const char* Meaning(int code) {
    switch (code) {
        case quenlo::result::kCommFailedAtStart:
            return "the handheld sent nothing in time (receiving), or YMODEM could not start";
        case quenlo::result::kCommTimeout:
            return "the handheld did not answer in time";
        case quenlo::result::kCommTooManyNaks:
            return "too many bad blocks (receiving), or the YMODEM send failed";
        case quenlo::result::kCommRefused:
            return "the handheld refused a block too often, or the YMODEM reception failed";
        case quenlo::result::kCommEndedByPeer:
            return "the handheld ended the transfer";
        case quenlo::CommEvent::kBreak:
            return "a break on the line";
        case quenlo::CommEvent::kDeviceLost:
            return "the device went away (unplugged, or its other end closed)";
        case quenlo::CommEvent::kFraming:
            return "framing error";
        case quenlo::CommEvent::kHardwareOverrun:
            return "hardware overrun";
        case quenlo::CommEvent::kReceiveOverflow:
            return "receive buffer overflow";
        case quenlo::CommEvent::kParity:
            return "parity error";
        case quenlo::CommEvent::kTransmitBufferFull:
            return "transmit buffer full";
        case quenlo::CommEvent::kWriteFailed:
            return "a write to the port failed";
        case quenlo::CommEvent::kReadFailed:
            return "a read from the port failed";
        case quenlo::CommEvent::kDeviceError:
            return "another failure of the port";
        default:
            return nullptr;
    }
}

void Row(int code, int status, const std::string& text, const char* meaning) {
    std::printf("%6d  %6d  %s%s%s\n", code, status, text.c_str(), meaning ? "  - " : "",
                meaning ? meaning : "");
}

}  // namespace

int main() {
    std::printf("Result codes of quenlo-cli (exit status: the code for 1..254, 255 above)\n\n");
    std::printf("%6s  %6s  %s\n", "code", "exit", "result line");
    Row(0, 0, "Err(0) Transfer Complete", nullptr);
    const quenlo::ResultMessageInputs inputs{"NAME.PD3", 1};
    for (int code = 1; code <= quenlo::CommEvent::kDeviceError; ++code) {
        const std::string text =
            quenlo::ResultMessageFor(static_cast<quenlo::ResultCode>(code), inputs);
        const char* meaning = Meaning(code);
        if (text != "Error" + std::to_string(code) + " OCCURED" || meaning != nullptr) {
            Row(code, code <= 254 ? code : 255, text, meaning);
        }
    }
    std::printf("\n%6s  %6s  %s\n", "-", "64", "a command line quenlo-cli cannot read");
    std::printf("%6s  %6s  %s\n", "-", "255", "a run that ends without a result (second Ctrl-C)");
    return 0;
}
