#pragma once

#include <string>
#include <string_view>

namespace quenlo {

// A line filled to a record's length: with "0" in a program file, with blanks in a data file.
std::string FilledRecord(std::string line, std::size_t length, bool programFile);

// The packed record layout (+CMP): digits two to a byte, so that a 42-character line travels
// as 29 bytes.

// Packs a text of decimal digits two to a character (code 100 + the pair's value). An odd count
// gets a leading "0"; any other character gives "ERROR".
std::string PackDigits(std::string_view digits);

// The packed layout of a line already filled to its record length: characters 1-18 packed (blanks
// around them removed) in 9, 19-34 as they are, the digits of 35-39 and 41-42 packed in 4.
std::string PackRecord(std::string_view line);

// How long PackRecord's result is for a filled line of lineLength characters, when its packed
// fields hold digits only (29 for any line of 42 characters or more).
int PackedRecordLength(int lineLength);

}  // namespace quenlo
