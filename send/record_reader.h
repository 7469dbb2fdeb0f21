#pragma once

#include <string>
#include <string_view>

#include "base/run_state.h"

namespace quenlo {

// The record of one text line: cut and filled to recordLength ("0" for program files, blanks for
// data files), or packed with +CMP.
std::string RecordFromLine(const RunState& state, std::string line);

// Reads the next line of file 1 and returns its framed data block, numbered blockSeq.
std::string GetNextRecord(RunState& state);

}  // namespace quenlo
