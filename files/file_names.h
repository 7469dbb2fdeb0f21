#pragma once

#include <cstdint>
#include <string>

#include "base/result_codes.h"
#include "base/run_state.h"

namespace quenlo {

// Checks the file argument in currentOption: a directory to receive into (it ends in "\", or is a
// bare drive such as "A:"), or a file to send, split into filePath and fileName and classified.
// Returns 0 or 2.
ResultCode CheckFileArg(RunState& state);

// 0 when every character of text (taken in upper case) is one of the characters a short name may
// hold, plus ":" and "\" when acceptDirectoryChars is 1; otherwise 2.
ResultCode CheckValid(RunState& state, const std::string& text, std::int16_t acceptDirectoryChars);

// Checks fileName as an 8.3 name and classifies it by its extension. Returns 0 or 2.
ResultCode CheckFilename(RunState& state);

// True for a name Windows gives to a device (CON, COM1, ...): a received file of that name would
// open the device, so no reception may take it.
bool IsDeviceName(const std::string& name);

}  // namespace quenlo
