#include "support/recording_view.h"

namespace quenlo::testing {

void RecordingView::Show(TransferWindowEvents& events) {
    events_ = &events;
    unloaded = false;
    status = message = "";
    caption = "&Cancel";
    aboutEnabled = true;
    log.push_back("Show");
}

void RecordingView::Unload() {
    unloaded = true;
    events_ = nullptr;
    log.push_back("Unload");
}

void RecordingView::SetTimerEnabled(bool enabled) {
    Put("YModemTimer", enabled ? "1" : "0");
    nextTick_.reset();
    if (enabled && clock) {
        nextTick_ = clock() + 3.0;
    }
}

std::vector<std::string> RecordingView::Values(const std::string& control) const {
    std::vector<std::string> values;
    for (const auto& entry : log) {
        if (entry.rfind(control + "=", 0) == 0) {
            values.push_back(entry.substr(control.size() + 1));
        }
    }
    return values;
}

void RecordingView::Click() {
    if (events_ != nullptr) {
        events_->CommandButtonClicked();
    }
}

void RecordingView::OnYield() {
    while (nextTick_ && clock && clock() >= *nextTick_ && events_ != nullptr) {
        *nextTick_ += 3.0;
        events_->TimerTicked();
    }
    if (autoOk && caption == "OK") {
        Click();
    }
}

}  // namespace quenlo::testing
