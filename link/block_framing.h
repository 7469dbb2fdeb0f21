#pragma once

#include <string>
#include <string_view>

#include "engine/run_state.h"

namespace quenlo {

// The block check character of a block body (the text after SOH or STX, ETX included): the
// exclusive-or of all its character codes.
char AddBcc(RunState& state, std::string_view body);

// The check character computed over a received block without its start character: every
// character but the last (the received BCC). Equal to that last character when the block is intact.
char BccCheck(RunState& state, std::string_view text);

// SOH, heading text, ETX and, with BCC on, the BCC. Never a sequence number.
std::string FrameHeadingBlock(RunState& state, std::string_view headingText);

// STX, the five sequence digits when sequence numbers are on, the record, ETX and, with BCC on,
// the BCC.
std::string FrameDataBlock(RunState& state, std::string_view sequenceText, std::string_view record);

}  // namespace quenlo
