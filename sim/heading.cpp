#include "sim/heading.h"

#include <algorithm>
#include <cctype>

#include "sim/wire.h"

namespace quenlo::sim {
namespace {

constexpr std::size_t kNameWidth = 12;
constexpr std::size_t kProgramTextLength = 17;
constexpr int kMaxRecords = 32767;
constexpr int kMaxFields = 16;
constexpr int kMaxFieldLength = 99;
constexpr int kMaxFieldsPlusLength = 255;

std::string_view Trim(std::string_view text) {
    while (!text.empty() && text.front() == ' ') {
        text.remove_prefix(1);
    }
    while (!text.empty() && text.back() == ' ') {
        text.remove_suffix(1);
    }
    return text;
}

// The name becomes a file in the output directory, so it may not leave it or hide in it.
bool SafeFileName(std::string_view name) {
    if (name.empty() || name == "." || name == "..") {
        return false;
    }
    return std::none_of(name.begin(), name.end(), [](char c) {
        const auto code = static_cast<unsigned char>(c);
        return code < 0x20 || code == 0x7F || c == '/' || c == '\\';
    });
}

std::optional<Heading> Fail(std::string* problem, const char* why) {
    if (problem != nullptr) {
        *problem = why;
    }
    return std::nullopt;
}

}  // namespace

int ProgramRecordLength(std::string_view name) {
    const auto dot = name.rfind('.');
    if (dot == std::string_view::npos) {
        return 0;
    }
    std::string extension(name.substr(dot + 1));
    for (char& c : extension) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    if (extension == "PD3") {
        return 128;
    }
    if (extension == "FN3" || extension == "EX3") {
        return 130;
    }
    if (extension == "PD4" || extension == "FN4" || extension == "CAB") {
        return 1024;
    }
    return 0;
}

int PackedRecordLength(int lineLength) {
    // How many of the `count` characters from position `from` (1-based) on the line has.
    const auto part = [lineLength](int from, int count) {
        return std::clamp(lineLength - (from - 1), 0, count);
    };
    const auto packed = [](int digits) { return (digits + 1) / 2; };
    // The digits of 35-39 are packed behind a leading "0".
    const int tail = packed(1 + part(35, 5)) + packed(part(41, 2));
    return 9 + part(19, 16) + std::min(4, tail);
}

std::optional<Heading> ParseHeading(std::string_view text, std::string* problem) {
    if (text.size() < kProgramTextLength) {
        return Fail(problem, "heading too short");
    }
    Heading heading;
    heading.name = std::string(Trim(text.substr(0, kNameWidth)));
    if (!SafeFileName(heading.name)) {
        return Fail(problem, "unusable file name");
    }
    heading.recordCount = DecimalValue(text.substr(kNameWidth, 5));
    if (heading.recordCount < 0 || heading.recordCount > kMaxRecords) {
        return Fail(problem, "bad record count");
    }

    heading.recordLength = ProgramRecordLength(heading.name);
    if (heading.recordLength > 0) {
        heading.programFile = true;
        if (text.size() != kProgramTextLength) {
            return Fail(problem, "program heading of the wrong length");
        }
        return heading;
    }

    if (text.size() < kProgramTextLength + 4) {
        return Fail(problem, "data heading without fields");
    }
    const int fields = DecimalValue(text.substr(kProgramTextLength, 2));
    if (fields < 1 || fields > kMaxFields) {
        return Fail(problem, "bad field count");
    }
    if (text.size() != kProgramTextLength + 2 + 2 * static_cast<std::size_t>(fields)) {
        return Fail(problem, "data heading of the wrong length");
    }
    for (int i = 0; i < fields; ++i) {
        const int length = DecimalValue(text.substr(kProgramTextLength + 2 + 2 * i, 2));
        if (length < 1 || length > kMaxFieldLength) {
            return Fail(problem, "bad field length");
        }
        heading.fieldLengths.push_back(length);
        heading.recordLength += length;
    }
    if (fields + heading.recordLength > kMaxFieldsPlusLength) {
        return Fail(problem, "record too long");
    }
    return heading;
}

}  // namespace quenlo::sim
