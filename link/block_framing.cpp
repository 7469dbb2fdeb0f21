#include "link/block_framing.h"

#include "protocol/control_chars.h"

namespace quenlo {

namespace {

// The check byte of a framed block is AddBcc's work, so a failure after framing is reported under
// its name, as it always has been.
void NoteCheckByteAdded(RunState& state) {
    if (state.bccEnabled) {
        state.currentProcedure = "AddBcc";
    }
}

}  // namespace

char AddBcc(RunState& state, std::string_view body) {
    state.currentProcedure = "AddBcc";
    return Bcc(body);
}

char BccCheck(RunState& state, std::string_view text) {
    state.currentProcedure = "BccCheck";
    return text.empty() ? chNUL : Bcc(text.substr(0, text.size() - 1));
}

std::string FrameHeadingBlock(RunState& state, std::string_view headingText) {
    std::string block = quenlo::FrameHeadingBlock(headingText, BlockOptionsOf(state));
    NoteCheckByteAdded(state);
    return block;
}

std::string FrameDataBlock(RunState& state, std::string_view sequenceText,
                           std::string_view record) {
    std::string block = quenlo::FrameDataBlock(sequenceText, record, BlockOptionsOf(state));
    NoteCheckByteAdded(state);
    return block;
}

}  // namespace quenlo
