#include "send/heading_block.h"

#include <vector>

#include "link/block_framing.h"
#include "protocol/fields.h"
#include "protocol/heading.h"

namespace quenlo {

std::string HeadingText(const RunState& state) {
    std::vector<int> widths;
    for (int i = 1; i <= state.fieldCount && i <= kMaxFields; ++i) {
        widths.push_back(DecimalValue(state.fieldLengths[static_cast<std::size_t>(i)]).value_or(0));
    }
    return quenlo::HeadingText(state.fileName, state.recordCount, state.programFile, widths);
}

void SetHeader(RunState& state) {
    state.currentProcedure = "SetHeader";
    state.sending.headerBlock = FrameHeadingBlock(state, HeadingText(state));
}

}  // namespace quenlo
