#pragma once

#include <string_view>

namespace quenlo {

// Program-type files travel as fixed-length records; PD4, FN4 and CAB files go by YMODEM. Any other
// extension (or none) names a data file described by field definitions.
struct ProgramKind {
    std::string_view extension;
    int recordLength;
    bool ymodem;
};

// The kind of a program-type extension, compared exactly and with case; nothing for a data file.
const ProgramKind* ProgramKindOf(std::string_view extension);

// The extension of a short name: the text after its first dot; empty when it has none.
std::string_view ExtensionOf(std::string_view name);

}  // namespace quenlo
