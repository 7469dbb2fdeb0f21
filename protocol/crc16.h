#pragma once

#include <cstdint>
#include <string_view>

namespace quenlo::protocol {

// CRC-16 as YMODEM blocks carry it: polynomial 0x1021, initial value 0, no reflection; it goes on
// the line high byte first. Pass the previous value as `crc` to continue over several pieces.
std::uint16_t Crc16(std::string_view bytes, std::uint16_t crc = 0);

// The 1-byte arithmetic sum of the checksum mode, for receivers that invite with NAK.
std::uint8_t Checksum8(std::string_view bytes, std::uint8_t sum = 0);

}  // namespace quenlo::protocol
