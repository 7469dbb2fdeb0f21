#pragma once

#include <string>
#include <string_view>

namespace quenlo::sim {

// The line bytes the handheld reacts to.
inline constexpr char kSOH = '\x01';
inline constexpr char kSTX = '\x02';
inline constexpr char kETX = '\x03';
inline constexpr char kEOT = '\x04';
inline constexpr char kENQ = '\x05';
inline constexpr char kACK = '\x06';
inline constexpr char kNAK = '\x15';

// Block check: exclusive-or of every byte given. Callers pass the block body, from the byte after
// SOH/STX up to and including ETX.
char Bcc(std::string_view body);

// The value of a run of decimal digits, or -1 when any character is not a digit.
int DecimalValue(std::string_view digits);

// Bytes as readable text for traces: printable characters as they are, the rest as <ACK>, <x9B>.
std::string Printable(std::string_view bytes);

}  // namespace quenlo::sim
