#include "link/block_framing.h"

#include "link/control_chars.h"

namespace quenlo {

namespace {

char ExclusiveOr(std::string_view text) {
    unsigned char code = 0;
    for (const char c : text) {
        code ^= static_cast<unsigned char>(c);
    }
    return static_cast<char>(code);
}

std::string Frame(RunState& state, char start, std::string body) {
    body.push_back(chETX);
    std::string block(1, start);
    block += body;
    if (state.bccEnabled) {
        block.push_back(AddBcc(state, body));
    }
    return block;
}

}  // namespace

char AddBcc(RunState& state, std::string_view body) {
    state.currentProcedure = "AddBcc";
    return ExclusiveOr(body);
}

char BccCheck(RunState& state, std::string_view text) {
    state.currentProcedure = "BccCheck";
    return text.empty() ? chNUL : ExclusiveOr(text.substr(0, text.size() - 1));
}

std::string FrameHeadingBlock(RunState& state, std::string_view headingText) {
    return Frame(state, chSOH, std::string(headingText));
}

std::string FrameDataBlock(RunState& state, std::string_view sequenceText,
                           std::string_view record) {
    std::string body;
    if (state.seqEnabled) {
        body += sequenceText;
    }
    body += record;
    return Frame(state, chSTX, std::move(body));
}

}  // namespace quenlo
