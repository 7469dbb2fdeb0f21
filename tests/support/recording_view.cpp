#include "support/recording_view.h"

namespace quenlo::testing {

void RecordingView::Show(TransferWindowEvents& events) {
    events_ = &events;
    shown = true;
    unloaded = false;
    status = file = recCnt = records = complete = message = "";
    caption = "&Cancel";
    progress = 0;
    aboutEnabled = true;
    log.push_back("Show");
}

void RecordingView::Unload() {
    shown = false;
    unloaded = true;
    events_ = nullptr;
    log.push_back("Unload");
}

void RecordingView::SetStatus(const std::string& text) {
    status = text;
    log.push_back("StatusBox=" + text);
}
void RecordingView::SetFile(const std::string& text) {
    file = text;
    log.push_back("FileBox=" + text);
}
void RecordingView::SetRecordCount(const std::string& text) {
    recCnt = text;
    log.push_back("RecCntBox=" + text);
}
void RecordingView::SetRecords(const std::string& text) {
    records = text;
    log.push_back("RecordsBox=" + text);
}
void RecordingView::SetProgress(int percent) {
    progress = percent;
    log.push_back("ProgressBar1=" + std::to_string(percent));
}
void RecordingView::SetComplete(const std::string& text) {
    complete = text;
    log.push_back("complete=" + text);
}
void RecordingView::SetMessage(const std::string& text) {
    message = text;
    log.push_back("MsgLabel=" + text);
}
void RecordingView::SetMessageVisible(bool visible) {
    log.push_back(std::string("MsgLabel.Visible=") + (visible ? "1" : "0"));
}
void RecordingView::SetButtonCaption(const std::string& text) {
    caption = text;
    log.push_back("CommandButton=" + text);
}
void RecordingView::FocusButton() {
    log.push_back("Focus");
}
void RecordingView::SetAboutEnabled(bool enabled) {
    aboutEnabled = enabled;
    log.push_back(std::string("AboutButton.Enabled=") + (enabled ? "1" : "0"));
}
void RecordingView::SetTimerEnabled(bool enabled) {
    log.push_back(std::string("YModemTimer=") + (enabled ? "1" : "0"));
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
