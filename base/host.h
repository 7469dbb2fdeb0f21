#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace quenlo {

struct LocalDateTime {
    int year = 0;
    int month = 0;  // 1..12
    int day = 0;    // 1..31
    int hour = 0;   // 0..23
    int minute = 0;
    int second = 0;
};

enum class MessageIcon { kNone, kExclamation, kCritical, kQuestion, kInformation };

// Everything the engine asks of the platform besides the serial port and the transfer window.
class Host {
  public:
    virtual ~Host() = default;

    // Delivers pending user-interface events and returns when one was handled, when serial data
    // arrived, or at the latest after maxWait. Never spins.
    virtual void Yield(std::chrono::milliseconds maxWait) = 0;
    // Monotonic clock in seconds with fractions.
    virtual double ClockSeconds() = 0;
    virtual void SleepMs(std::int32_t milliseconds) = 0;
    // Modal message box with an OK button.
    virtual void ShowMessage(const std::string& title, const std::string& text,
                             MessageIcon icon) = 0;
    // Modal Yes/No question; true for Yes.
    virtual bool AskYesNo(const std::string& title, const std::string& text) = 0;
    // Free bytes on the volume that holds the directory, or nothing when it cannot be asked.
    virtual std::optional<std::uint64_t> FreeSpace(const std::filesystem::path& directory) = 0;
    virtual LocalDateTime Now() = 0;
    // The process's current directory, as a single-byte engine text ending in a separator.
    virtual std::string CurrentDirectory() = 0;
};

}  // namespace quenlo
