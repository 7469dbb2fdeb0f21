#include "protocol/received_blocks.h"

#include "protocol/control_chars.h"
#include "protocol/fields.h"

namespace quenlo {

ReadHeading ReadHeadingBlock(std::string_view collected, bool bcc) {
    ReadHeading read;
    const auto soh = collected.find(chSOH);
    if (soh == std::string_view::npos) {
        return read;
    }
    const std::string_view frame = collected.substr(soh);
    const auto etx = frame.find(chETX);
    if (etx == std::string_view::npos) {
        return read;
    }
    read.reading = BlockReading::kDamaged;
    if (etx + 1 < kHeadingEtxFrom) {
        return read;
    }
    if (bcc) {
        const std::string_view afterSoh = frame.substr(1);
        read.checkByteCompared = frame.size() == etx + 2;
        const bool intact = read.checkByteCompared
                                ? BlockCheckHolds(afterSoh.substr(0, etx), afterSoh.back())
                                : Bcc(afterSoh) == chNUL;
        if (!intact) {
            return read;
        }
    }
    read.reading = BlockReading::kWhole;
    read.text = frame.substr(1, etx - 1);
    return read;
}

ReadData ReadDataBlock(std::string_view collected, std::size_t blockLength,
                       const BlockOptions& options) {
    ReadData read;
    // Where the ETX of a whole block stands, counted from 1: the block may end at it when a NUL
    // check byte was lost.
    const std::size_t etxAt = options.bcc ? blockLength - 1 : blockLength;
    const auto firstEtx = collected.find(chETX);
    if (firstEtx == std::string_view::npos || firstEtx + 1 < etxAt) {
        return read;
    }
    const auto stx = collected.find(chSTX);
    if (stx == std::string_view::npos) {
        return read;
    }
    const std::string_view block = collected.substr(stx);
    const auto etx = block.find(chETX);
    if (etx == std::string_view::npos) {
        return read;
    }
    read.reading = BlockReading::kDamaged;
    if (etx + 1 != etxAt) {
        return read;
    }
    const std::string_view body = block.substr(1, etx);
    if (block.size() == blockLength) {
        read.checkByteCompared = options.bcc;
        if (options.bcc && !BlockCheckHolds(body, block.back())) {
            return read;
        }
    } else if (block.size() == blockLength - 1) {
        if (options.bcc && !BlockCheckHolds(body, std::nullopt)) {
            return read;
        }
    } else {
        read.reading = BlockReading::kOverlong;
        return read;
    }
    std::string_view text = body.substr(0, body.size() - 1);
    if (options.seq) {
        read.digits = text.substr(0, kSeqDigits);
        read.number = DecimalValue(read.digits);
        text.remove_prefix(kSeqDigits);
    }
    read.reading = BlockReading::kWhole;
    read.record = text;
    return read;
}

}  // namespace quenlo
