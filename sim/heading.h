#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quenlo::sim {

// What the heading block announces about the file that follows.
struct Heading {
    std::string name;  // blanks trimmed
    int recordCount = 0;
    bool programFile = false;
    int recordLength = 0;
    std::vector<int> fieldLengths;  // data files only
};

// The record length of a program file with this name (128, 130 or 1024), or 0 for a data file.
int ProgramRecordLength(std::string_view name);

// The length of a record sent packed (loader +CMP) when its filled line is lineLength characters
// long: 9 for characters 1-18, up to 16 for 19-34 as they are, and up to 4 for the digits of 35-39
// and 41-42. A filled program line (128 or more) always packs to 29.
int PackedRecordLength(int lineLength);

// Reads the heading text (between SOH and ETX): a 12-character name, 5 digits of record count
// and, for a data file, 2 digits of field count and 2 digits per field length. Returns nothing
// when the text is malformed, out of range, or names something that is not a plain file name;
// *problem then says why.
std::optional<Heading> ParseHeading(std::string_view text, std::string* problem = nullptr);

}  // namespace quenlo::sim
