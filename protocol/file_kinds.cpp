#include "protocol/file_kinds.h"

namespace quenlo {

namespace {
constexpr ProgramKind kProgramKinds[] = {
    {"PD3", 128, false}, {"PD4", 1024, true}, {"FN3", 130, false},
    {"FN4", 1024, true}, {"EX3", 130, false}, {"CAB", 1024, true},
};
}  // namespace

const ProgramKind* ProgramKindOf(std::string_view extension) {
    for (const auto& kind : kProgramKinds) {
        if (extension == kind.extension) {
            return &kind;
        }
    }
    return nullptr;
}

std::string_view ExtensionOf(std::string_view name) {
    const auto dot = name.find('.');
    return dot == std::string_view::npos ? std::string_view() : name.substr(dot + 1);
}

}  // namespace quenlo
