#include "platform/terminal_host.h"

#include <iostream>
#include <string>

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

}  // namespace quenlo
