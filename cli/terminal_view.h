#pragma once

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>

#include "base/transfer_view.h"
#include "platform/event_timers.h"

namespace quenlo {

// The transfer window drawn on stderr: one updating line on a terminal, plain lines otherwise.
// The result is not waited on: once the run waits for OK, the view clicks it. On a terminal the
// result is left to the two lines on stdout: the updating line goes back to the last progress, so
// the result does not stand on the screen twice. Its timers fire while the engine yields.
class TerminalView : public TransferView {
  public:
    TerminalView(std::FILE* out, bool isTerminal, EventTimers& timers);

    void Show(TransferWindowEvents& events) override;
    void Unload() override;
    void SetStatus(const std::string& text) override;
    void SetFile(const std::string& text) override;
    void SetRecordCount(const std::string& text) override;
    void SetRecords(const std::string& text) override;
    // The percentage in `complete` says the same in a terminal line.
    void SetProgress(int) override {}
    void SetComplete(const std::string& text) override;
    void SetMessage(const std::string& text) override { message_ = text; }
    void SetMessageVisible(bool) override {}
    void SetButtonCaption(const std::string& text) override;
    void FocusButton() override {}
    void SetAboutEnabled(bool) override {}
    void SetTimerEnabled(bool enabled) override;
    // A line of its own, "quenlo-cli: " and the reason, below the progress.
    void SetReason(const std::string& text) override;
    // On a line of its own that stays, above the updating one.
    void AddPassLine(const std::string& text) override;
    void AwaitingOk() override;

    // The Cancel button, as Ctrl-C presses it.
    void PressButton();

    bool resultShown() const { return caption_ == "OK"; }
    const std::string& status() const { return status_; }
    const std::string& message() const { return message_; }

  private:
    void Render(bool force);
    std::string Line() const;

    std::FILE* out_;
    bool isTerminal_;
    EventTimers& timers_;
    TransferWindowEvents* events_ = nullptr;
    std::string status_, file_, recCnt_, records_, complete_, message_, caption_;
    std::string lastPlain_;
    std::string lastDrawn_;     // the updating line as it stands on the terminal
    std::string beforeStatus_;  // the line as it stood before the status last changed
    std::chrono::steady_clock::time_point lastDraw_{};
    bool lineOpen_ = false;  // an updating line is on screen without its newline
    std::unique_ptr<EventTimers::Repeating> ticker_;  // the 3-second timer, while shown
};

}  // namespace quenlo
