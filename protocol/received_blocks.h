#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

#include "protocol/block_codec.h"

namespace quenlo {

// The loader's reading of the blocks a handheld sends it, from whatever it collected: the checks
// in their fixed order, so that the first fault found decides. Beside the block writers, so that
// what is written and what is read are one fact.

enum class BlockReading {
    kWhole,       // a whole, intact block
    kIncomplete,  // no whole block in what was collected: nothing to judge yet
    kDamaged,     // a block came, damaged or malformed: ask for it again
    kOverlong,    // bytes behind the block's end: damaged, and what is waiting goes too
};

// The heading block: an SOH and its first ETX standing at least this far on (SOH and at least 17
// characters of text before it).
inline constexpr std::size_t kHeadingEtxFrom = 19;

struct ReadHeading {
    BlockReading reading = BlockReading::kIncomplete;
    std::string_view text;  // between SOH and ETX, when whole
    // The check byte was compared with the one that came (not taken as a lost NUL).
    bool checkByteCompared = false;
};

// Reads a heading from `collected`: whatever stands before the first SOH is dropped; an ETX too
// early makes it damaged; with the check byte on, a single byte after the ETX must equal the
// check, and any other ending is taken as a lost NUL check, which only a body whose check is NUL
// passes. Without the check byte what follows the ETX is not looked at.
ReadHeading ReadHeadingBlock(std::string_view collected, bool bcc);

struct ReadData {
    BlockReading reading = BlockReading::kIncomplete;
    std::optional<int> number;  // the sequence digits' value; nothing without them (or unreadable)
    std::string_view digits;    // the sequence digits as they came
    std::string_view record;
    bool checkByteCompared = false;
};

// Reads a data block of exactly blockLength bytes (the heading's record length with STX, ETX and
// the options' bytes) from `collected`: its first ETX must stand where the block's ETX belongs,
// bytes before its STX are dropped, and the check byte may be missing when it is NUL.
ReadData ReadDataBlock(std::string_view collected, std::size_t blockLength,
                       const BlockOptions& options);

}  // namespace quenlo
