#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "base/run_state.h"
#include "base/transfer_view.h"

namespace quenlo::testing {

// A transfer window that records what the engine wrote, in order, and clicks when a test asks.
class RecordingView : public TransferView {
  public:
    void Show(TransferWindowEvents& events) override {
        events_ = &events;
        unloaded = false;
        status = message = "";
        caption = "&Cancel";
        aboutEnabled = true;
        log.push_back("Show");
    }
    void Unload() override {
        unloaded = true;
        events_ = nullptr;
        log.push_back("Unload");
    }
    void SetStatus(const std::string& t) override { Put("StatusBox", t, &status); }
    void SetFile(const std::string& t) override { Put("FileBox", t); }
    void SetRecordCount(const std::string& t) override { Put("RecCntBox", t); }
    void SetRecords(const std::string& t) override { Put("RecordsBox", t); }
    void SetComplete(const std::string& t) override { Put("complete", t); }
    void SetMessage(const std::string& t) override { Put("MsgLabel", t, &message); }
    void SetButtonCaption(const std::string& t) override { Put("CommandButton", t, &caption); }
    void SetProgress(int percent) override { Put("ProgressBar1", std::to_string(percent)); }
    void SetMessageVisible(bool on) override { Put("MsgLabel.Visible", on ? "1" : "0"); }
    void SetAboutEnabled(bool on) override {
        aboutEnabled = on;
        Put("AboutButton.Enabled", on ? "1" : "0");
    }
    void SetReason(const std::string& t) override { Put("lblReason", t, &reason); }
    void AddPassLine(const std::string& t) override { Put("PassLine", t); }
    void FocusButton() override { log.push_back("Focus"); }
    void SetTimerEnabled(bool enabled) override {
        Put("YModemTimer", enabled ? "1" : "0");
        nextTick_.reset();
        if (enabled && clock) {
            nextTick_ = clock() + 3.0;
        }
    }

    // Every value the engine wrote to one control, in order ("complete" gives " 0%", " 33%", ...).
    std::vector<std::string> Values(const std::string& control) const {
        std::vector<std::string> values;
        for (const auto& entry : log) {
            if (entry.starts_with(control + "=")) {
                values.push_back(entry.substr(control.size() + 1));
            }
        }
        return values;
    }

    // Clicks the button, as the operator would, if the window is shown.
    void Click() {
        if (events_ != nullptr) {
            events_->CommandButtonClicked();
        }
    }
    // Call on every host yield: ticks the 3-second timer while it runs, and clicks OK once the
    // result is on show (when autoOk is set).
    void OnYield() {
        while (nextTick_ && clock && clock() >= *nextTick_ && events_ != nullptr) {
            *nextTick_ += 3.0;
            events_->TimerTicked();
        }
        if (autoOk && caption == "OK") {
            Click();
        }
    }
    // When the running timer ticks next.
    std::optional<double> NextTick() const { return nextTick_; }

    std::function<double()> clock;  // the host's, for the timer

    bool autoOk = true;
    bool unloaded = false;
    std::string status, message, caption = "&Cancel";  // as last written since Show
    std::string reason;                                // as last written, whatever run
    bool aboutEnabled = true;
    std::vector<std::string> log;  // "StatusBox=Sending Header", "complete= 50%", ...

  private:
    void Put(const char* control, const std::string& text, std::string* field = nullptr) {
        if (field != nullptr) {
            *field = text;
        }
        log.push_back(control + ("=" + text));
    }

    TransferWindowEvents* events_ = nullptr;
    std::optional<double> nextTick_;
};

}  // namespace quenlo::testing
