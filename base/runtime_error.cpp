#include "base/runtime_error.h"

#include <utility>

namespace quenlo {

std::string RuntimeErrorText(std::int32_t number) {
    switch (number) {
        case 5:
            return "Invalid procedure call or argument";
        case 6:
            return "Overflow";
        case 7:
            return "Out of memory";
        case 9:
            return "Subscript out of range";
        case 11:
            return "Division by zero";
        case 52:
            return "Bad file name or number";
        case 53:
            return "File not found";
        case 55:
            return "File already open";
        case 57:
            return "Device I/O error";
        case 61:
            return "Disk full";
        case 62:
            return "Input past end of file";
        case 68:
            return "Device unavailable";
        case 70:
            return "Permission denied";
        case 71:
            return "Disk not ready";
        case 75:
            return "Path/File access error";
        case 76:
            return "Path not found";
        default:
            return "Application-defined or object-defined error";
    }
}

RuntimeError::RuntimeError(std::int32_t number) : RuntimeError(number, RuntimeErrorText(number)) {}

RuntimeError::RuntimeError(std::int32_t number, std::string text)
    : std::runtime_error(std::to_string(number) + ": " + text),
      number_(number),
      text_(std::move(text)) {}

}  // namespace quenlo
