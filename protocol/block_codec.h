#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace quenlo {

// The BHT block protocol's framing. A block is its start byte (SOH for the heading, STX for a data
// block), its body, and with the block check on one BCC byte. The body ends with ETX; a data
// block's body begins with five sequence digits when sequence numbers are on.

inline constexpr std::size_t kSeqDigits = 5;

// Which options a transfer's blocks carry.
struct BlockOptions {
    bool bcc = true;  // a block check byte after ETX
    bool seq = true;  // five sequence digits at the front of a data block
};

// The block check of a body: the exclusive-or of all its bytes.
char Bcc(std::string_view body);

// Whether a received body (ETX included) is intact: equal to the check byte that followed it, or,
// when none arrived, a body whose check would have been NUL (a NUL check may be lost on the line).
bool BlockCheckHolds(std::string_view body, std::optional<char> received);

// SOH, heading text, ETX and, with the block check on, the BCC. Never a sequence number.
std::string FrameHeadingBlock(std::string_view headingText, const BlockOptions& options);

// STX, the sequence digits when they are on, the record, ETX and, with the block check on, the BCC.
std::string FrameDataBlock(std::string_view sequenceText, std::string_view record,
                           const BlockOptions& options);

// The exact length of a data block carrying a record of recordLength bytes: STX and ETX, the
// sequence digits and the check byte when they are on.
std::size_t DataBlockLength(std::size_t recordLength, const BlockOptions& options);

}  // namespace quenlo
