#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace quenlo {

// Run-time error numbers the engine can raise. Operators and support staff know these numbers from
// the handhelds' loaders, so "6: Overflow Error in CheckCommand" means what they expect.
namespace runtime_error_number {
inline constexpr std::int32_t kInvalidCall = 5;
inline constexpr std::int32_t kOverflow = 6;
inline constexpr std::int32_t kOutOfMemory = 7;
inline constexpr std::int32_t kSubscriptOutOfRange = 9;
inline constexpr std::int32_t kDivisionByZero = 11;
inline constexpr std::int32_t kBadFileName = 52;
inline constexpr std::int32_t kFileNotFound = 53;
inline constexpr std::int32_t kFileAlreadyOpen = 55;
inline constexpr std::int32_t kDeviceIoError = 57;
inline constexpr std::int32_t kDiskFull = 61;
inline constexpr std::int32_t kInputPastEndOfFile = 62;
inline constexpr std::int32_t kDeviceUnavailable = 68;
inline constexpr std::int32_t kPermissionDenied = 70;
inline constexpr std::int32_t kDiskNotReady = 71;
inline constexpr std::int32_t kPathFileAccessError = 75;
inline constexpr std::int32_t kPathNotFound = 76;
}  // namespace runtime_error_number

// The run-time's own text for an error number ("Overflow" for 6).
std::string RuntimeErrorText(std::int32_t number);

// A failure that no engine procedure handles itself; the transfer run's catch-all reports it as
// "<number>: <text> Error in <procedure>".
class RuntimeError : public std::runtime_error {
  public:
    explicit RuntimeError(std::int32_t number);
    RuntimeError(std::int32_t number, std::string text);

    std::int32_t number() const { return number_; }
    const std::string& text() const { return text_; }

  private:
    std::int32_t number_;
    std::string text_;
};

}  // namespace quenlo
