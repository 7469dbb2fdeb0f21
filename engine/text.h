#pragma once

#include <string>
#include <string_view>

namespace quenlo {

// Engine texts hold one character per byte, ISO 8859-1, exactly as the characters go on the serial
// line; front ends convert from and to UTF-8 at their edges.

// Upper case of a single-byte text: a-z and the accented Latin-1 letters.
std::string UpperCase(std::string_view text);

std::string TrimBlanks(std::string_view text);
std::string TrimLeadingBlanks(std::string_view text);

// UTF-8 to single-byte text; characters outside ISO 8859-1 become "?", which no name check accepts.
std::string Utf8ToLatin1(std::string_view utf8);
std::string Latin1ToUtf8(std::string_view latin1);

// Decimal digits of n, left-filled with "0" and cut to the rightmost `width` characters.
std::string ZeroFilled(long long n, std::size_t width);

}  // namespace quenlo
