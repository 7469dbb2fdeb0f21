#pragma once

#include <string>

namespace quenlo {

// What the transfer window tells the engine: its button was clicked, its 3-second timer ticked.
class TransferWindowEvents {
  public:
    virtual ~TransferWindowEvents() = default;
    virtual void CommandButtonClicked() = 0;
    virtual void TimerTicked() = 0;
};

// The transfer window's controls as the engine writes them. Implementations: the Qt window, the
// terminal renderer of quenlo-cli, and a recording fake for tests. Events reach the engine only
// while it yields to the host.
class TransferView {
  public:
    virtual ~TransferView() = default;

    // Loads and shows the window with its design-time texts; events go to the given receiver.
    virtual void Show(TransferWindowEvents& events) = 0;
    // Closes the window; no event is delivered afterwards.
    virtual void Unload() = 0;

    virtual void SetStatus(const std::string& text) = 0;         // StatusBox
    virtual void SetFile(const std::string& text) = 0;           // FileBox
    virtual void SetRecordCount(const std::string& text) = 0;    // RecCntBox
    virtual void SetRecords(const std::string& text) = 0;        // RecordsBox
    virtual void SetProgress(int percent) = 0;                   // ProgressBar1
    virtual void SetComplete(const std::string& text) = 0;       // complete
    virtual void SetMessage(const std::string& text) = 0;        // MsgLabel
    virtual void SetMessageVisible(bool visible) = 0;            // MsgLabel
    virtual void SetButtonCaption(const std::string& text) = 0;  // CommandButton
    virtual void FocusButton() = 0;                              // CommandButton
    virtual void SetAboutEnabled(bool enabled) = 0;              // AboutButton
    virtual void SetTimerEnabled(bool enabled) = 0;              // YModemTimer
    // Under the result, in UTF-8, a line each: why the run failed, in words the operator can act
    // on, and what the operator should know of the run all the same; empty hides it.
    virtual void SetReason(const std::string& text) = 0;  // lblReason
    // A line that stays, one for each file a repeat-receive run took (UTF-8). The desktop
    // loader, which never receives, has no use for it.
    virtual void AddPassLine(const std::string&) {}
    // The run shows its result and waits for the operator's OK: a view that nobody looks at
    // answers for the operator.
    virtual void AwaitingOk() {}
};

}  // namespace quenlo
