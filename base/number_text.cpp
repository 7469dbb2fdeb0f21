#include "base/number_text.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <string>

#include "base/runtime_error.h"
#include "protocol/fields.h"

namespace quenlo {

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}
bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

template <typename Int>
Int ToIntRounded(double value) {
    const double rounded = RoundHalfEven(value);
    if (!std::isfinite(rounded) || rounded < static_cast<double>(std::numeric_limits<Int>::min()) ||
        rounded > static_cast<double>(std::numeric_limits<Int>::max())) {
        throw RuntimeError(runtime_error_number::kOverflow);
    }
    return static_cast<Int>(rounded);
}

}  // namespace

double LeadingNumber(std::string_view text) {
    std::string number;
    bool seenSign = false;
    bool seenPoint = false;
    bool seenDigit = false;
    for (const char c : text) {
        if (IsBlank(c)) {
            continue;
        }
        if ((c == '+' || c == '-') && !seenSign && !seenDigit && !seenPoint) {
            seenSign = true;
            if (c == '-') {
                number.push_back('-');
            }
            continue;
        }
        if (c == '.' && !seenPoint) {
            seenPoint = true;
            number.push_back('.');
            continue;
        }
        if (IsDigit(c)) {
            seenDigit = true;
            number.push_back(c);
            continue;
        }
        break;
    }
    if (!seenDigit) {
        return 0.0;
    }
    // from_chars does not depend on the process locale, unlike strtod.
    double value = 0.0;
    const auto [end, ec] = std::from_chars(number.data(), number.data() + number.size(), value);
    (void)end;
    if (ec == std::errc::result_out_of_range) {
        return number.front() == '-' ? -std::numeric_limits<double>::infinity()
                                     : std::numeric_limits<double>::infinity();
    }
    return value;
}

std::string PercentText(int percent) {
    // Built by appending: GCC 12 warns wrongly (-Wrestrict) on " " + std::to_string(...).
    std::string text(" ");
    text += std::to_string(percent);
    text += '%';
    return text;
}

std::string CountText(std::int64_t count) {
    std::string text(" ");  // appended, for the same reason
    text += ZeroFilled(count, 5);
    return text;
}

std::int64_t RoundedQuotient(std::int64_t numerator, std::int64_t denominator) {
    std::int64_t quotient = numerator / denominator;
    std::int64_t twiceRemainder = 2 * (numerator % denominator);
    if (twiceRemainder < 0) {  // floor division for negative numerators
        --quotient;
        twiceRemainder += 2 * denominator;
    }
    if (twiceRemainder > denominator || (twiceRemainder == denominator && quotient % 2 != 0)) {
        ++quotient;
    }
    return quotient;
}

double RoundHalfEven(double value) {
    if (!std::isfinite(value)) {
        return value;
    }
    const double below = std::floor(value);
    const double fraction = value - below;
    if (fraction > 0.5) {
        return below + 1.0;
    }
    if (fraction < 0.5) {
        return below;
    }
    return std::fmod(below, 2.0) == 0.0 ? below : below + 1.0;
}

std::int32_t ToInt32Rounded(double value) {
    return ToIntRounded<std::int32_t>(value);
}
}  // namespace quenlo
