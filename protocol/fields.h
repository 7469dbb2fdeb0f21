#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace quenlo {

// Numbers inside blocks and files are decimal text left-filled with "0" to a fixed width: the
// digits of n behind `width` zeros, the rightmost `width` characters kept.
std::string ZeroFilled(long long n, std::size_t width);

// The value of a run of 1 to 9 decimal digits; nothing for an empty run or any other character.
std::optional<int> DecimalValue(std::string_view digits);

}  // namespace quenlo
