#include "files/native_path.h"

#include <string>
#include <system_error>

#include "engine/text.h"

namespace quenlo {

namespace {

bool IsSeparator(char c) {
    return c == '\\' || c == '/';
}

// The entry of directory whose name equals name without regard to case, or name itself.
std::filesystem::path ResolveComponent(const std::filesystem::path& directory,
                                       const std::string& utf8Name) {
    std::error_code ec;
    const std::filesystem::path exact = directory / utf8Name;
    if (utf8Name == "." || utf8Name == ".." || std::filesystem::exists(exact, ec)) {
        return exact;
    }
    const std::filesystem::path scanned = directory.empty() ? "." : directory;
    const std::string wanted = UpperCase(Utf8ToLatin1(utf8Name));
    std::filesystem::directory_iterator it(scanned, ec);
    for (; !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
        const std::string entry = it->path().filename().string();
        if (UpperCase(Utf8ToLatin1(entry)) == wanted) {
            return directory / entry;
        }
    }
    return exact;
}

}  // namespace

std::filesystem::path NativePath(std::string_view enginePath) {
    std::filesystem::path result;
    std::size_t i = 0;
    if (!enginePath.empty() && IsSeparator(enginePath.front())) {
        result = "/";
        i = 1;
    }
    while (i <= enginePath.size()) {
        std::size_t next = i;
        while (next < enginePath.size() && !IsSeparator(enginePath[next])) {
            ++next;
        }
        if (next > i) {
            result = ResolveComponent(result, Latin1ToUtf8(enginePath.substr(i, next - i)));
        }
        i = next + 1;
    }
    return result;
}

}  // namespace quenlo
