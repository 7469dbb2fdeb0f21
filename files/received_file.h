#pragma once

#include <cstdint>
#include <string>

namespace quenlo {

// The size of directory & name when it exists as a regular file, else 0: what a reception that
// appends (+APP) must leave in place if it fails.
std::uint64_t ExistingFileSize(const std::string& directory, const std::string& name);

// Takes back what a failed reception wrote to directory & name: the whole file, or with
// keepBytes above 0 only what was appended after them. Returns false when that failed.
bool DiscardReceivedFile(const std::string& directory, const std::string& name,
                         std::uint64_t keepBytes);

}  // namespace quenlo
