#include "send/heading_block.h"

#include "engine/text.h"
#include "link/block_framing.h"

namespace quenlo {

namespace {
constexpr std::size_t kNameWidth = 12;
}

std::string HeadingText(const RunState& state) {
    std::string text = (state.fileName + std::string(kNameWidth, ' ')).substr(0, kNameWidth);
    text += ZeroFilled(state.recordCount, 5);
    if (!state.programFile) {
        text += ZeroFilled(state.fieldCount, 2);
        for (int i = 1; i <= state.fieldCount && i <= kMaxFields; ++i) {
            const std::string width = "00" + state.fieldLengths[static_cast<std::size_t>(i)];
            text += width.substr(width.size() - 2);
        }
    }
    return text;
}

void SetHeader(RunState& state) {
    state.currentProcedure = "SetHeader";
    state.headerBlock = FrameHeadingBlock(state, HeadingText(state));
}

}  // namespace quenlo
