#include "files/native_path.h"

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

// The name of the entry of directory that equals utf8Name without regard to case (utf8Name itself
// when it exists as given); nothing when the directory holds no such entry.
std::optional<std::string> FindEntry(const std::string& directory, const std::string& utf8Name) {
    if (utf8Name == "." || utf8Name == "..") {
        return utf8Name;
    }
    std::error_code ec;
    const std::filesystem::path scanned = directory.empty() ? "." : directory;
    if (std::filesystem::exists(scanned / utf8Name, ec)) {
        return utf8Name;
    }
    const std::string wanted = UpperCase(Utf8ToLatin1(utf8Name));
    std::filesystem::directory_iterator it(scanned, ec);
    for (; !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
        std::string entry = it->path().filename().string();
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
        result = "/";
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
            if (!result.empty() && result.back() != '/') {
                result += '/';
            }
            result += found ? *found : name;
        }
        i = next + 1;
    }
    return result;
}

}  // namespace quenlo
