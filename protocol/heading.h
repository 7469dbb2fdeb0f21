#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace quenlo {

// The heading text that announces a file (between SOH and ETX): the name in 12 characters, the
// record count in 5 digits and, for a data file only, the field count and each field's width in
// 2 digits each.

inline constexpr std::size_t kHeadingNameWidth = 12;
inline constexpr int kMaxRecords = 32767;
inline constexpr int kMaxFields = 16;
inline constexpr int kMaxFieldWidth = 99;
inline constexpr int kMaxRecordWithFields = 255;  // field count + sum of widths

std::string HeadingText(std::string_view name, int recordCount, bool programFile,
                        const std::vector<int>& fieldLengths);

struct Heading {
    std::string name;  // blanks trimmed
    int recordCount = 0;
    bool programFile = false;  // by the name's extension
    int recordLength = 0;      // the kind's, or the sum of the field widths
    std::vector<int> fieldLengths;
};

enum class HeadingFault {
    kNone,
    kMalformed,   // the wrong length for its kind: damaged on the line, worth asking again
    kOutOfRange,  // a count or width outside its limits: an illegal heading
};

struct ParsedHeading {
    Heading heading;  // filled as far as the text was read
    HeadingFault fault = HeadingFault::kNone;
};

// Reads a heading text. The checks run in a fixed order, so that the first fault found is the one
// reported: the shape of the kind, the record count, the field count, the exact length, each
// width, the total. The name itself is not judged here.
ParsedHeading ParseHeadingText(std::string_view text);

}  // namespace quenlo
