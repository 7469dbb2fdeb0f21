#pragma once

#include <iosfwd>

#include "base/host.h"

namespace quenlo {

// What a host without windows shares on every platform: message boxes and questions on streams,
// free space and the current directory. The waits, the clocks and the date are the platform's.
class TerminalHost : public Host {
  public:
    // Messages and questions on the given streams; `interactive` says whether a question is asked
    // on `in` or answered with the default at once.
    TerminalHost(std::istream& in, std::ostream& out, bool interactive);

    // "TITLE: TEXT" on its own line.
    void ShowMessage(const std::string& title, const std::string& text, MessageIcon icon) override;
    // "TITLE: TEXT [y/N] " and one line of answer when interactive; the default otherwise, and
    // when the line is empty or input has ended. Not interactive, the question is shown all the
    // same, with the answer taken.
    bool AskYesNo(const std::string& title, const std::string& text) override;
    std::optional<std::uint64_t> FreeSpace(const std::filesystem::path& directory) override;
    std::string CurrentDirectory() override;

    // The answer to questions nobody can be asked (quenlo-cli's --yes and --no); No unless set.
    void SetDefaultAnswer(bool yes) { defaultAnswer_ = yes; }
    bool DefaultAnswer() const { return defaultAnswer_; }

  private:
    std::istream& in_;
    std::ostream& out_;
    bool interactive_;
    bool defaultAnswer_ = false;
};

}  // namespace quenlo
