#include "base/result_message.h"

#include <ostream>

namespace quenlo {

namespace {

std::string GeneralFailureMessage(const ResultMessageInputs& in) {
    std::string text = "Err(99) General Failure";
    switch (in.fileErrNumber) {
        case 55:
        case 70:
        case 71:
        case 75:
            return text + " (" + std::to_string(in.fileErrNumber) + ")";
        default:
            break;
    }
    if (in.fileErrNumber <= 0) {
        return text;
    }
    return text + " Error [" + std::to_string(in.fileErrNumber) + "E " +
           std::to_string(in.fileErrLine) + " ] " + std::to_string(Number(in.transferState));
}

}  // namespace

std::ostream& operator<<(std::ostream& out, ResultCode code) {
    return out << Number(code);
}

std::string ResultMessageFor(ResultCode code, const ResultMessageInputs& in) {
    switch (Number(code)) {
        case 1:
            // The two spaces before "not found." are part of the message.
            return "Err(1) File: " + in.fileName + "  not found.";
        case 2:
            return "Err(2) File name entered in wrong format.";
        case 3:
            return "Err(3) Number of records exceeds 32767.";
        case 4:
            return "Err(4) Field length is out of range.";
        case 5:
            return "Err(5) Number of fields is out of range.";
        case 6:
            return "Err(6) Record length is out of range.";
        case 7:
            return "Err(7) Parameter mismatch.";
        case 8:
            return "Err(8) Field length not found.";
        case 9:
            return "Err(9) Option mismatch.";
        case 51:
        case 52:
        case 53:
        case 54:
        case 55:
            return "Err(" + std::to_string(Number(code)) + ") Communications error.";
        case 70:
            return "Err(70) Incorrect file or illegal heading.";
        case 71:
            return "Err(71) Path not found.";
        case 72:
            return "Err(72) Disk full.";
        case 90:
            return "Err(90) Aborted by Cancel.";
        case 99:
            return GeneralFailureMessage(in);
        case 101:
            return "Err(101) Communications Port COM" + std::to_string(in.portNumber) +
                   " not available.";
        case 102:
            return "Err(102) Communications Port COM" + std::to_string(in.portNumber) + " error.";
        default:
            return "Error" + std::to_string(Number(code)) + " OCCURED";
    }
}

}  // namespace quenlo
