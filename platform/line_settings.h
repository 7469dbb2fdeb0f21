#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace quenlo {

// The settings text "baud,parity,data,stop" taken apart; every serial port of the platform layer
// reads it the same way.
struct LineSettings {
    std::int32_t baud = 19200;
    char parity = 'N';  // N, E or O
    int dataBits = 8;   // 7 or 8
    int stopBits = 1;   // 1 or 2
};

// Nothing when the text is not of that form ("19200,N,8,1"; parity in either case, blanks around
// the fields allowed).
std::optional<LineSettings> ParseLineSettings(std::string_view text);

}  // namespace quenlo
