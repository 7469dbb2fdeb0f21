#include "files/native_path.h"

#include <algorithm>
#include <climits>
#include <optional>
#include <string>
#include <system_error>

#include "base/text.h"

namespace quenlo {

namespace {

// The longest path the system opens; PATH_MAX counts the terminating NUL.
#ifdef PATH_MAX
constexpr std::size_t kLongestPath = PATH_MAX - 1;
#else
constexpr std::size_t kLongestPath = 32767;
#endif

bool IsSeparator(char c) {
    return c == '\\' || c == '/';
}

// Paths go to and from the system as UTF-8 text marked as such: a plain string would be read in
// the system's code page on Windows, and "CAF\xc9.TXT" would not find CAFÉ.TXT.
std::filesystem::path FromUtf8(const std::string& utf8) {
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

std::string Utf8Of(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

constexpr char kSeparator = static_cast<char>(std::filesystem::path::preferred_separator);

// The name of the entry of directory that equals utf8Name without regard to case (utf8Name itself
// when it exists as given); nothing when the directory holds no such entry.
std::optional<std::string> FindEntry(const std::string& directory, const std::string& utf8Name) {
    if (utf8Name == "." || utf8Name == "..") {
        return utf8Name;
    }
    std::error_code ec;
    const std::filesystem::path scanned = FromUtf8(directory.empty() ? "." : directory);
    if (std::filesystem::exists(scanned / FromUtf8(utf8Name), ec)) {
        return utf8Name;
    }
    const std::string wanted = UpperCase(Utf8ToLatin1(utf8Name));
    std::filesystem::directory_iterator it(scanned, ec);
    for (; !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
        std::string entry = Utf8Of(it->path().filename());
        if (UpperCase(Utf8ToLatin1(entry)) == wanted) {
            return entry;
        }
    }
    return std::nullopt;
}

}  // namespace

std::filesystem::path NativePath(std::string_view enginePath) {
    std::string result;
    std::size_t i = 0;
    if (!enginePath.empty() && IsSeparator(enginePath.front())) {
        result = kSeparator;
        i = 1;
    }
    // Below a missing component nothing can be found, so the rest is taken as given without
    // asking the file system again: asking for each of thousands of components made long paths
    // quadratic. A path too long to be opened is not looked up at all; opening refuses it.
    bool resolving = enginePath.size() <= kLongestPath;
    while (i <= enginePath.size()) {
        std::size_t next = i;
        while (next < enginePath.size() && !IsSeparator(enginePath[next])) {
            ++next;
        }
        if (next > i) {
            const std::string name = Latin1ToUtf8(enginePath.substr(i, next - i));
            std::optional<std::string> found;
            if (resolving) {
                found = FindEntry(result, name);
                resolving = found.has_value();
            }
            if (!result.empty() && !IsSeparator(result.back())) {
                result += kSeparator;
            }
            result += found ? *found : name;
        }
        i = next + 1;
    }
    return FromUtf8(result);
}

std::filesystem::path GivenPath(std::string_view enginePath, std::string_view given) {
    if (given.empty()) {
        return NativePath(enginePath);
    }
    std::string typed(given);
    if (kSeparator != '\\') {
        std::replace(typed.begin(), typed.end(), '\\', kSeparator);
    }
    std::error_code ec;
    const std::filesystem::path path = FromUtf8(typed);
    if (std::filesystem::exists(std::filesystem::symlink_status(path, ec))) {
        return path;
    }
    // The folders as typed, the name in them found without regard to case (or new).
    const std::filesystem::path parent = path.parent_path();
    if (parent.empty() || std::filesystem::is_directory(parent, ec)) {
        const auto found = FindEntry(Utf8Of(parent), Utf8Of(path.filename()));
        return found ? parent / FromUtf8(*found) : path;
    }
    return NativePath(enginePath);
}

}  // namespace quenlo
