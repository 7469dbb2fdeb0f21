#pragma once

#include <filesystem>
#include <string_view>

namespace quenlo {

// A drive such as "A:": two characters, the second a colon.
inline bool IsBareDrive(std::string_view path) {
    return path.size() == 2 && path[1] == ':';
}

// Whether the system names its drives by letter.
#ifdef _WIN32
inline constexpr bool kSystemHasDrives = true;
#else
inline constexpr bool kSystemHasDrives = false;
#endif

// Turns an engine path (single-byte text, "\" or "/" between directories) into a path of this
// machine. Each component that already exists is found without regard to case, so that the
// upper-case names of an option line find files written in lower case; a component that does not
// exist keeps the name as given.
std::filesystem::path NativePath(std::string_view enginePath);

// A path as the operator typed it (UTF-8, letter case kept) where it exists so; otherwise the
// engine's upper-case copy of it, found without regard to case.
std::filesystem::path GivenPath(std::string_view enginePath, std::string_view given);

}  // namespace quenlo
