#include "support/fake_host.h"

#include <algorithm>

namespace quenlo::testing {

void FakeHost::Yield(std::chrono::milliseconds maxWait) {
    ++yieldCount;
    double step = std::min(yieldStepSeconds, static_cast<double>(maxWait.count()) / 1000.0);
    for (const auto& source : eventSources) {
        if (const auto due = source(); due && *due > now_ && *due - now_ < step) {
            step = *due - now_;
        }
    }
    now_ += step;
    if (onYield) {
        onYield();
    }
}

void FakeHost::SleepMs(std::int32_t milliseconds) {
    sleeps.push_back(milliseconds);
    if (milliseconds > 0) {
        now_ += milliseconds / 1000.0;
    }
}

bool FakeHost::AskYesNo(const std::string& title, const std::string& text) {
    messages.push_back({title, text, MessageIcon::kQuestion});
    return yesNoAnswer;
}

}  // namespace quenlo::testing
