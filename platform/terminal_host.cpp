#include "platform/terminal_host.h"

#include <filesystem>
#include <iostream>
#include <string>
#include <system_error>

#include "base/text.h"

namespace quenlo {
namespace {

std::string LowerAscii(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return text;
}

}  // namespace

TerminalHost::TerminalHost(std::istream& in, std::ostream& out, bool interactive)
    : in_(in), out_(out), interactive_(interactive) {}

void TerminalHost::ShowMessage(const std::string& title, const std::string& text, MessageIcon) {
    out_ << Latin1ToUtf8(title) << ": " << Latin1ToUtf8(text) << std::endl;
}

bool TerminalHost::AskYesNo(const std::string& title, const std::string& text) {
    if (!interactive_) {
        // Nobody can be asked, but everybody can see what was asked and what was answered.
        out_ << Latin1ToUtf8(title) << ": " << Latin1ToUtf8(text) << " -> "
             << (defaultAnswer_ ? "Yes (--yes)" : "No (no terminal to ask; --yes answers Yes)")
             << std::endl;
        return defaultAnswer_;
    }
    out_ << Latin1ToUtf8(title) << ": " << Latin1ToUtf8(text)
         << (defaultAnswer_ ? " [Y/n] " : " [y/N] ") << std::flush;
    std::string answer;
    if (!std::getline(in_, answer)) {
        return defaultAnswer_;
    }
    answer = LowerAscii(std::string(TrimBlanks(answer)));
    if (answer == "y" || answer == "yes") {
        return true;
    }
    if (answer == "n" || answer == "no") {
        return false;
    }
    return defaultAnswer_;
}

std::optional<std::uint64_t> TerminalHost::FreeSpace(const std::filesystem::path& directory) {
    std::error_code error;
    const std::filesystem::space_info space = std::filesystem::space(directory, error);
    if (error) {
        return std::nullopt;
    }
    return static_cast<std::uint64_t>(space.available);
}

// Engine texts are ISO 8859-1; std::filesystem takes UTF-8 through char8_t on every platform.
std::string TerminalHost::CurrentDirectory() {
    std::error_code error;
    const std::filesystem::path current = std::filesystem::current_path(error);
    if (error) {
        return "./";
    }
    const std::u8string generic = current.generic_u8string();
    std::string directory = Utf8ToLatin1(std::string(generic.begin(), generic.end()));
    if (directory.empty() || directory.back() != '/') {
        directory += '/';
    }
    return directory;
}

}  // namespace quenlo
