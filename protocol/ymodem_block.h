#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "protocol/control_chars.h"

namespace quenlo::protocol {

// The YMODEM block on the line: start byte (SOH for 128 data bytes, STX for 1024), block number,
// its complement, the data, then CRC-16 high byte first or a 1-byte checksum. Block 0 carries the
// file's name, size, modification time and mode; an empty block 0 ends a batch.

inline constexpr std::size_t kShortBlock = 128;
inline constexpr std::size_t kLongBlock = 1024;
inline constexpr std::size_t kBlockHead = 3;  // start byte, number, complement
// A regular file readable by all: without a mode rb lower-cases an all-upper-case name.
inline constexpr std::uint32_t kRegularFileMode = 0100644;

// What either side sends to abort a transfer: two CANs in a row are enough, the others stand in
// for any the line loses.
inline constexpr std::string_view kCancelSequence = "\x18\x18\x18\x18\x18\x18\x18\x18";

enum class CheckKind { kCrc16, kChecksum };

std::size_t CheckSize(CheckKind check);
// Data bytes behind a start byte: 128 after SOH, 1024 after STX, 0 after anything else.
std::size_t BlockDataSize(char start);
// The whole frame behind a start byte; 0 when it starts none.
std::size_t FrameSize(char start, CheckKind check);

// Frames `data` (at most blockSize bytes, blockSize 128 or 1024) as block `number`, filling the
// rest with `pad`.
std::string EncodeBlock(std::uint8_t number, std::string_view data, std::size_t blockSize,
                        CheckKind check, char pad = chSUB);

enum class BlockStatus {
    kGood,
    kBadLength,  // not a start byte followed by exactly one frame's bytes
    kBadNumber,  // number and complement disagree
    kBadCheck,   // CRC or checksum wrong
};

struct ParsedBlock {
    BlockStatus status = BlockStatus::kBadLength;
    std::uint8_t number = 0;
    std::string_view data;  // into the frame passed in; empty unless kGood
};

// Checks one complete frame.
ParsedBlock ParseBlock(std::string_view frame, CheckKind check);

// What block 0 says about a file.
struct FileHeader {
    std::string name;
    std::optional<std::uint64_t> size;   // decimal on the line
    std::optional<std::uint64_t> mtime;  // seconds since 1970, octal on the line
    std::optional<std::uint32_t> mode;   // octal on the line
};

// Block 0's data: bare name, NUL, size, mtime and mode (each field written when it or a later one
// is known), NUL padding to 128 bytes, or to 1024 for a long name; empty when even 1024 is too
// short.
std::string EncodeHeader(const FileHeader& header);
// The data of the empty block 0 that ends a batch.
std::string EncodeBatchEnd();

enum class HeaderKind { kFile, kBatchEnd, kMalformed };

struct ParsedHeader {
    HeaderKind kind = HeaderKind::kMalformed;
    FileHeader file;  // for kFile
};

// Reads block 0's data. A name without a terminating NUL, or a size that is not a decimal number,
// is malformed; an unreadable mtime or mode is left out.
ParsedHeader ParseHeader(std::string_view data);

// Collects frames from the line as it comes, in pieces of any size, copying each byte once.
// Between frames it skips what is not a start byte, reports EOT, and reports two CANs in a row.
// A start byte begins a frame of its length whatever follows: a frame whose number is damaged is
// still taken whole (ParseBlock says what is wrong with it), so that an EOT or CAN inside its data
// is never read as one.
class FrameReader {
  public:
    enum class Event {
        kNeedMore,  // everything consumed, nothing to report
        kBlock,     // a whole frame is in frame()
        kEot,
        kCancel,  // two CANs in a row
    };

    explicit FrameReader(CheckKind check) : check_(check) {}

    // Consumes bytes of `in` from `pos` up to the next event and advances `pos` past them.
    Event Next(std::string_view in, std::size_t& pos);
    // The frame of the last kBlock, until the next call of Next.
    std::string_view frame() const { return frame_; }
    // A frame has begun and is not complete.
    bool partial() const { return !complete_ && !frame_.empty(); }
    // The bytes a partial frame still lacks; 0 outside a frame.
    std::size_t missing() const { return partial() ? need_ - frame_.size() : 0; }
    // Drops a partial frame and any CAN seen.
    void Reset();
    std::uint64_t skipped() const { return skipped_; }

  private:
    // Looks at one byte outside a frame; returns the event it makes, kNeedMore for none.
    Event Between(char byte);

    CheckKind check_;
    std::string frame_;
    std::size_t need_ = 0;
    bool complete_ = false;
    int cans_ = 0;
    std::uint64_t skipped_ = 0;
};

}  // namespace quenlo::protocol
