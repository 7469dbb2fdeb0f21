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
    void SetStatus(const std::string& t) override { Put(status, "StatusBox", t); }
    void SetFile(const std::string& t) override { Put(file, "FileBox", t); }
    void SetRecordCount(const std::string& t) override { Put(recCnt, "RecCntBox", t); }
    void SetRecords(const std::string& t) override { Put(records, "RecordsBox", t); }
    void SetComplete(const std::string& t) override { Put(complete, "complete", t); }
    void SetMessage(const std::string& t) override { Put(message, "MsgLabel", t); }
    void SetButtonCaption(const std::string& t) override { Put(caption, "CommandButton", t); }
    void SetProgress(int percent) override {
        progress = percent;
        log.push_back("ProgressBar1=" + std::to_string(percent));
    }
    void SetMessageVisible(bool on) override { log.push_back(Flag("MsgLabel.Visible", on)); }
    void SetAboutEnabled(bool on) override {
        aboutEnabled = on;
        log.push_back(Flag("AboutButton.Enabled", on));
    }
    void FocusButton() override { log.push_back("Focus"); }
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
    void Put(std::string& field, const char* control, const std::string& text) {
        field = text;
        log.push_back(control + ("=" + text));
    }
    static std::string Flag(const char* name, bool on) {
        return name + std::string(on ? "=1" : "=0");
    }

    TransferWindowEvents* events_ = nullptr;
    std::optional<double> nextTick_;
};

}  // namespace quenlo::testing
