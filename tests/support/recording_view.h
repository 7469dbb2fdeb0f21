#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "base/transfer_view.h"

namespace quenlo::testing {

// A transfer window that remembers what the engine wrote, control by control and in order, and
// clicks its own button when a test asks for it.
class RecordingView : public TransferView {
  public:
    void Show(TransferWindowEvents& events) override;
    void Unload() override;
    void SetStatus(const std::string& text) override;
    void SetFile(const std::string& text) override;
    void SetRecordCount(const std::string& text) override;
    void SetRecords(const std::string& text) override;
    void SetProgress(int percent) override;
    void SetComplete(const std::string& text) override;
    void SetMessage(const std::string& text) override;
    void SetMessageVisible(bool visible) override;
    void SetButtonCaption(const std::string& text) override;
    void FocusButton() override;
    void SetAboutEnabled(bool enabled) override;
    void SetTimerEnabled(bool enabled) override;

    // Every value the engine wrote to one control, in order ("complete" gives " 0%", " 33%", ...).
    std::vector<std::string> Values(const std::string& control) const;

    // Clicks the button, as the operator would, if the window is shown.
    void Click();
    // Call on every host yield: ticks the 3-second timer while it runs, and clicks OK once the
    // result is on show (when autoOk is set).
    void OnYield();
    // When the running timer ticks next.
    std::optional<double> NextTick() const { return nextTick_; }

    std::function<double()> clock;  // the host's, for the timer

    bool autoOk = true;
    bool shown = false;
    bool unloaded = false;
    std::string status, file, recCnt, records, complete, message, caption = "&Cancel";
    int progress = 0;
    bool aboutEnabled = true;
    std::vector<std::string> log;  // "StatusBox=Sending Header", "complete= 50%", ...

  private:
    TransferWindowEvents* events_ = nullptr;
    std::optional<double> nextTick_;
};

}  // namespace quenlo::testing
