#pragma once

#include <string>
#include <string_view>

#include "protocol/line_text.h"

namespace quenlo {

// Engine texts hold one character per byte, ISO 8859-1, exactly as the characters go on the serial
// line; front ends convert from and to UTF-8 at their edges (protocol/line_text.h).

// Upper case of a single-byte text: a-z and the accented Latin-1 letters.
std::string UpperCase(std::string_view text);

std::string TrimLeadingBlanks(std::string_view text);

}  // namespace quenlo
