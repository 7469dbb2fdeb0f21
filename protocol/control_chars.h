#pragma once

namespace quenlo {

// Control characters of the block protocol and of YMODEM, one line byte each.
inline constexpr char chNUL = '\x00';
inline constexpr char chSOH = '\x01';  // heading block; a 128-byte YMODEM block
inline constexpr char chSTX = '\x02';  // data block; a 1024-byte YMODEM block
inline constexpr char chETX = '\x03';
inline constexpr char chEOT = '\x04';
inline constexpr char chENQ = '\x05';
inline constexpr char chACK = '\x06';
inline constexpr char chDLE = '\x10';
inline constexpr char chDC1 = '\x11';
inline constexpr char chNAK = '\x15';
inline constexpr char chCAN = '\x18';     // YMODEM: two in a row abort the transfer
inline constexpr char chSUB = '\x1A';     // YMODEM: pads the last block
inline constexpr char chCRC = 'C';        // YMODEM: the receiver asks for CRC-16 blocks
inline constexpr char chStreaming = 'G';  // YMODEM-g: CRC-16 without acknowledgements

}  // namespace quenlo
