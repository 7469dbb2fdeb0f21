#pragma once

#include <iosfwd>

#include "platform/system_host.h"

namespace quenlo {

// The host of a program without windows, on every platform: message boxes and questions on
// streams. The waits and the date are the platform's (QtTerminalHost, ConsoleHost on Windows).
class TerminalHost : public SystemHost {
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

    // The answer to questions nobody can be asked (quenlo-cli's --yes and --no); No unless set.
    void SetDefaultAnswer(bool yes) { defaultAnswer_ = yes; }

  private:
    std::istream& in_;
    std::ostream& out_;
    bool interactive_;
    bool defaultAnswer_ = false;
};

}  // namespace quenlo
