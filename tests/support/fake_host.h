#pragma once

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "base/host.h"

namespace quenlo::testing {

// A host in virtual time: the clock moves only when the engine waits or sleeps, so a 30-second
// time-out runs in microseconds. Message boxes are recorded and answered from a script.
class FakeHost : public Host {
  public:
    struct Message {
        std::string title;
        std::string text;
        MessageIcon icon;
    };

    void Yield(std::chrono::milliseconds maxWait) override {
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
    double ClockSeconds() override { return now_; }
    void SleepMs(std::int32_t milliseconds) override {
        sleeps.push_back(milliseconds);
        now_ += std::max(milliseconds, 0) / 1000.0;
    }
    void ShowMessage(const std::string& title, const std::string& text, MessageIcon icon) override {
        messages.push_back({title, text, icon});
    }
    bool AskYesNo(const std::string& title, const std::string& text) override {
        messages.push_back({title, text, MessageIcon::kQuestion});
        return yesNoAnswer;
    }
    std::optional<std::uint64_t> FreeSpace(const std::filesystem::path&) override {
        return freeSpace;
    }
    LocalDateTime Now() override { return dateTime; }
    std::string CurrentDirectory() override { return currentDirectory; }

    void Advance(double seconds) { now_ += seconds; }

    // Called on every yield, after the clock moved: where tests click or a scripted peer answers.
    std::function<void()> onYield;
    // When something is due (an answer on the line, a timer tick): a waiting yield jumps there.
    std::vector<std::function<std::optional<double>()>> eventSources;
    // A yield with a wait limit moves the clock to the next due event or by the whole limit,
    // whichever is sooner, and never by more than this (so scheduled clicks are not skipped).
    double yieldStepSeconds = 0.5;

    LocalDateTime dateTime{2026, 12, 6, 9, 5, 7};
    std::string currentDirectory = "./";
    std::optional<std::uint64_t> freeSpace = 1ULL << 30;
    bool yesNoAnswer = false;
    std::vector<Message> messages;
    std::vector<std::int32_t> sleeps;  // every pause asked for, also those the clock ignores
    int yieldCount = 0;

  private:
    double now_ = 1000.0;
};

}  // namespace quenlo::testing
