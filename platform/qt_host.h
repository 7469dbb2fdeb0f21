#pragma once

#include <iosfwd>

#include "base/host.h"

namespace quenlo {

// The engine's host over the Qt event loop, for programs without windows. The desktop program
// derives from it and puts its message boxes in place of the terminal ones.
class QtHost : public Host {
  public:
    // Messages on std::cerr; questions asked on std::cin when it is a terminal.
    QtHost();
    // Messages and questions on the given streams; `interactive` says whether a question is asked
    // on `in` or answered with the default at once.
    QtHost(std::istream& in, std::ostream& out, bool interactive);

    // Without a QCoreApplication there is no event loop: the wait is a plain sleep.
    void Yield(std::chrono::milliseconds maxWait) override;
    double ClockSeconds() override;
    void SleepMs(std::int32_t milliseconds) override;
    // "TITLE: TEXT" on its own line.
    void ShowMessage(const std::string& title, const std::string& text, MessageIcon icon) override;
    // "TITLE: TEXT [y/N] " and one line of answer when interactive; the default otherwise, and
    // when the line is empty or input has ended. Not interactive, the question is shown all the
    // same, with the answer taken.
    bool AskYesNo(const std::string& title, const std::string& text) override;
    std::optional<std::uint64_t> FreeSpace(const std::filesystem::path& directory) override;
    LocalDateTime Now() override;
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
