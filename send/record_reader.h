#pragma once

#include <string>
#include <string_view>

#include "engine/run_state.h"

namespace quenlo {

// Packs a text of decimal digits two to a character (code 100 + the pair's value). An odd count
// gets a leading "0"; any other character gives "ERROR".
std::string PackDigits(std::string_view digits);

// The 29-character compressed layout of a line already filled to the record length.
std::string PackRecord(std::string_view line);

// The record of one text line: cut and filled to recordLength ("0" for program files, blanks for
// data files), or packed with +CMP.
std::string RecordFromLine(const RunState& state, std::string line);

// Reads the next line of file 1 and returns its framed data block, numbered blockSeq.
std::string GetNextRecord(RunState& state);

}  // namespace quenlo
