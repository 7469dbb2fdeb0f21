#include <string>

#include "disk/directory.h"

namespace quenlo::disk {
namespace {
constexpr std::string_view kPrefix = ".quenlo-";
constexpr std::string_view kSuffix = ".part";
}  // namespace

std::string TemporaryName(unsigned long processId, unsigned n) {
    return std::string(kPrefix) + std::to_string(processId) + "-" + std::to_string(n) +
           std::string(kSuffix);
}

bool IsTemporaryName(std::string_view name) {
    return name.size() > kPrefix.size() + kSuffix.size() && name.starts_with(kPrefix) &&
           name.ends_with(kSuffix);
}

}  // namespace quenlo::disk
