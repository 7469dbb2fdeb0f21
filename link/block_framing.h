#pragma once

#include <string>
#include <string_view>

#include "base/run_state.h"
#include "protocol/block_codec.h"

namespace quenlo {

// The block options of this run: the check byte with +PB, sequence digits with +SN.
inline BlockOptions BlockOptionsOf(const RunState& state) {
    return {state.bccEnabled, state.seqEnabled};
}

// The block check character of a block body (the text after SOH or STX, ETX included).
char AddBcc(RunState& state, std::string_view body);

// The check character computed over a received block without its start character: every
// character but the last (the received BCC). Equal to that last character when the block is intact.
char BccCheck(RunState& state, std::string_view text);

// The heading block and a data block framed with this run's options.
std::string FrameHeadingBlock(RunState& state, std::string_view headingText);
std::string FrameDataBlock(RunState& state, std::string_view sequenceText, std::string_view record);

}  // namespace quenlo
