#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace quenlo {

// The leading decimal number of a text, read the way operators have always typed numbers into
// option lines: blanks anywhere are skipped, an optional sign, digits and a decimal fraction;
// reading stops at the first character that cannot continue the number. No number gives 0.
double LeadingNumber(std::string_view text);

// Rounds to the nearest whole number, halves to the even neighbour (10.5 -> 10, 11.5 -> 12).
double RoundHalfEven(double value);

// numerator / denominator rounded to the nearest whole number, halves to the even neighbour,
// computed exactly in integers (a percentage of 57.5 is 58 and 54.5 is 54, where floating point
// would land on either side). The denominator must be positive.
std::int64_t RoundedQuotient(std::int64_t numerator, std::int64_t denominator);

// The transfer window's percentage text: a blank, the digits and "%" (" 41%").
std::string PercentText(int percent);

// The transfer window's count text: a blank and the count in five digits (" 00060").
std::string CountText(std::int64_t count);

// Rounds half to even and stores in 32 bits; a value that does not fit raises the
// run-time error 6 "Overflow".
std::int32_t ToInt32Rounded(double value);

}  // namespace quenlo
