#include "cli/terminal_view.h"

#include <algorithm>

#include "base/text.h"

namespace quenlo {

namespace {
// A terminal redraw for every record would cost more than the record; the eye needs far fewer.
constexpr std::chrono::milliseconds kRedrawInterval{100};
constexpr std::chrono::milliseconds kTimerInterval{3000};
}  // namespace

TerminalView::TerminalView(std::FILE* out, bool isTerminal, EventTimers& timers)
    : out_(out), isTerminal_(isTerminal), timers_(timers) {}

void TerminalView::Show(TransferWindowEvents& events) {
    events_ = &events;
    status_ = file_ = recCnt_ = records_ = complete_ = message_ = "";
    caption_ = "&Cancel";
    ticker_ = timers_.MakeRepeating(kTimerInterval, [this] {
        if (events_ != nullptr) {
            events_->TimerTicked();
        }
    });
}

void TerminalView::Unload() {
    Render(true);
    if (lineOpen_) {
        std::fputc('\n', out_);
        lineOpen_ = false;
    }
    ticker_.reset();
    events_ = nullptr;
}

void TerminalView::SetTimerEnabled(bool enabled) {
    if (ticker_ == nullptr) {
        return;
    }
    if (enabled) {
        ticker_->Start();
    } else {
        ticker_->Stop();
    }
}

void TerminalView::SetStatus(const std::string& text) {
    const bool changed = text != status_;
    if (changed) {
        beforeStatus_ = lastDrawn_;
    }
    status_ = text;
    Render(changed);
}
void TerminalView::SetFile(const std::string& text) {
    file_ = text;
    Render(false);
}
void TerminalView::SetRecordCount(const std::string& text) {
    recCnt_ = text;
    Render(false);
}
void TerminalView::SetRecords(const std::string& text) {
    records_ = text;
    Render(false);
}
void TerminalView::SetComplete(const std::string& text) {
    complete_ = text;
    Render(false);
}

void TerminalView::SetButtonCaption(const std::string& text) {
    caption_ = text;
    if (text == "OK" && isTerminal_ && lineOpen_) {
        std::fprintf(out_, "\r\033[K%s", beforeStatus_.c_str());
        if (beforeStatus_.empty()) {
            lineOpen_ = false;
        }
        std::fflush(out_);
        lastDrawn_ = beforeStatus_;
    }
}

void TerminalView::AwaitingOk() {
    // Nobody is there to click OK: click it as soon as the engine waits for it.
    timers_.Post([this] { PressButton(); });
}

void TerminalView::AddPassLine(const std::string& text) {
    if (lineOpen_) {
        std::fputs("\r\033[K", out_);
        lineOpen_ = false;
    }
    std::fprintf(out_, "%s\n", text.c_str());
    std::fflush(out_);
    lastPlain_.clear();
}

void TerminalView::SetReason(const std::string& text) {
    if (text.empty()) {
        return;
    }
    if (lineOpen_) {
        std::fputc('\n', out_);
        lineOpen_ = false;
    }
    for (std::size_t start = 0; start < text.size();) {
        const std::size_t end = std::min(text.find('\n', start), text.size());
        std::fprintf(out_, "quenlo-cli: %s\n", text.substr(start, end - start).c_str());
        start = end + 1;
    }
    std::fflush(out_);
}

void TerminalView::PressButton() {
    if (events_ != nullptr) {
        events_->CommandButtonClicked();
    }
}

std::string TerminalView::Line() const {
    std::string line(TrimBlanks(status_));
    if (!file_.empty() && file_ != status_) {
        line += "  " + file_;
    }
    if (!records_.empty()) {
        line += "  record" + recCnt_ + " of" + records_;
    }
    if (!complete_.empty()) {
        line += "  " + std::string(TrimBlanks(complete_));
    }
    return Latin1ToUtf8(line);
}

void TerminalView::Render(bool force) {
    if (status_.empty()) {
        return;
    }
    // The line is made only when it is written: a transfer asks for it at every record.
    if (!isTerminal_) {
        // Plain lines: one for each new status or percentage, not for every record.
        const std::string key = status_ + "|" + complete_;
        if (key != lastPlain_) {
            lastPlain_ = key;
            std::fprintf(out_, "%s\n", Line().c_str());
            std::fflush(out_);
        }
        return;
    }
    const auto now = std::chrono::steady_clock::now();
    if (resultShown() || (!force && now - lastDraw_ < kRedrawInterval)) {
        return;
    }
    lastDraw_ = now;
    lastDrawn_ = Line();
    std::fprintf(out_, "\r\033[K%s", lastDrawn_.c_str());
    std::fflush(out_);
    lineOpen_ = true;
}

}  // namespace quenlo
