#include "protocol/block_codec.h"

#include "protocol/control_chars.h"

namespace quenlo {

namespace {

std::string Frame(char start, std::string_view text, const BlockOptions& options) {
    std::string block;
    block.reserve(text.size() + 3);
    block.push_back(start);
    block += text;
    block.push_back(chETX);
    if (options.bcc) {
        block.push_back(Bcc(std::string_view(block).substr(1)));
    }
    return block;
}

}  // namespace

char Bcc(std::string_view body) {
    unsigned char code = 0;
    for (const char c : body) {
        code ^= static_cast<unsigned char>(c);
    }
    return static_cast<char>(code);
}

bool BlockCheckHolds(std::string_view body, std::optional<char> received) {
    return Bcc(body) == received.value_or(chNUL);
}

std::string FrameHeadingBlock(std::string_view headingText, const BlockOptions& options) {
    return Frame(chSOH, headingText, options);
}

std::string FrameDataBlock(std::string_view sequenceText, std::string_view record,
                           const BlockOptions& options) {
    if (!options.seq) {
        return Frame(chSTX, record, options);
    }
    std::string text(sequenceText);
    text += record;
    return Frame(chSTX, text, options);
}

std::size_t DataBlockLength(std::size_t recordLength, const BlockOptions& options) {
    return recordLength + 2 + (options.seq ? kSeqDigits : 0) + (options.bcc ? 1 : 0);
}

}  // namespace quenlo
