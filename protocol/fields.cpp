#include "protocol/fields.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "protocol/control_chars.h"

namespace quenlo {

std::string ZeroFilled(long long n, std::size_t width) {
    std::string digits = std::string(width, '0') + std::to_string(n);
    return digits.substr(digits.size() - width);
}

std::optional<int> DecimalValue(std::string_view digits) {
    if (digits.empty() || digits.size() > 9) {
        return std::nullopt;
    }
    int value = 0;
    for (const char c : digits) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        value = value * 10 + (c - '0');
    }
    return value;
}

}  // namespace quenlo
