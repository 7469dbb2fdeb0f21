#include "protocol/record_packing.h"

#include <algorithm>

#include "protocol/line_text.h"

namespace quenlo {

namespace {

constexpr std::size_t kLeadWidth = 9;
constexpr std::size_t kTailWidth = 4;

// Characters start..start+length-1 (counted from 1); missing ones are simply absent.
std::string_view Mid(std::string_view text, std::size_t start, std::size_t length) {
    if (start - 1 >= text.size()) {
        return {};
    }
    return text.substr(start - 1, length);
}

}  // namespace

std::string FilledRecord(std::string line, std::size_t length, bool programFile) {
    if (line.size() < length) {
        line.resize(length, programFile ? '0' : ' ');
    }
    return line;
}

std::string PackDigits(std::string_view digits) {
    for (const char c : digits) {
        if (c < '0' || c > '9') {
            return "ERROR";
        }
    }
    std::string even(digits.size() % 2, '0');  // an odd count gets a leading zero
    even += digits;
    std::string packed;
    packed.reserve(even.size() / 2);
    for (std::size_t i = 0; i < even.size(); i += 2) {
        const int value = (even[i] - '0') * 10 + (even[i + 1] - '0');
        packed.push_back(static_cast<char>(100 + value));
    }
    return packed;
}

std::string PackRecord(std::string_view line) {
    std::string packed = PackDigits(TrimBlanks(Mid(line, 1, 18)));
    packed.resize(kLeadWidth, ' ');
    packed += Mid(line, 19, 16);
    std::string quantity = "0";
    quantity += Mid(line, 35, 5);
    const std::string tail = PackDigits(quantity) + PackDigits(Mid(line, 41, 2));
    packed += tail.substr(0, kTailWidth);
    return packed;
}

int PackedRecordLength(int lineLength) {
    // How many of the `count` characters from position `from` (1-based) the line has.
    const auto part = [lineLength](int from, int count) {
        return std::clamp(lineLength - (from - 1), 0, count);
    };
    const auto packed = [](int digits) { return (digits + 1) / 2; };
    const int tail = packed(1 + part(35, 5)) + packed(part(41, 2));
    return static_cast<int>(kLeadWidth) + part(19, 16) + std::min<int>(kTailWidth, tail);
}

}  // namespace quenlo
