#pragma once

namespace quenlo {

// Control characters of the block protocol, one line byte each.
inline constexpr char chNUL = '\x00';
inline constexpr char chSOH = '\x01';
inline constexpr char chSTX = '\x02';
inline constexpr char chETX = '\x03';
inline constexpr char chEOT = '\x04';
inline constexpr char chENQ = '\x05';
inline constexpr char chACK = '\x06';
inline constexpr char chDLE = '\x10';
inline constexpr char chDC1 = '\x11';
inline constexpr char chNAK = '\x15';

}  // namespace quenlo
