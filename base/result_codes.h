#pragma once

#include <cstdint>
#include <iosfwd>

namespace quenlo {

// A result code is the engine's 16-bit outcome of a procedure: 0 is success, every other value
// has a fixed meaning that the operator reads as "Err(n) ...". Codes above 1000 are line errors
// passed on from the port (see CommEvent); a code with no meaning of its own reads "Error<n>
// OCCURED". A type of its own, so that no answer, status or event can pass for one.
enum class ResultCode : std::int16_t {
    kOk = 0,
    kFileNotFound = 1,
    kWrongFileNameFormat = 2,
    kTooManyRecords = 3,
    kFieldLengthOutOfRange = 4,
    kFieldCountOutOfRange = 5,
    kRecordLengthOutOfRange = 6,
    kParameterMismatch = 7,
    kFieldLengthNotFound = 8,
    kOptionMismatch = 9,
    kCommFailedAtStart = 51,
    kCommTimeout = 52,
    kCommTooManyNaks = 53,
    kCommRefused = 54,
    kCommEndedByPeer = 55,
    kIllegalFileOrHeading = 70,
    kPathNotFound = 71,
    kDiskFull = 72,
    kCancelled = 90,
    kGeneralFailure = 99,
    kPortNotAvailable = 101,
    kPortError = 102,
};

// The code's number, as the operator reads it.
constexpr std::int16_t Number(ResultCode code) {
    return static_cast<std::int16_t>(code);
}
// 0 and below are success, as the result report has it.
constexpr bool Succeeded(ResultCode code) {
    return Number(code) <= 0;
}
// A line error the port reported (1000, 1002 to 1010), passed on as the run's result.
constexpr bool IsLineError(ResultCode code) {
    return Number(code) == 1000 || (Number(code) >= 1002 && Number(code) <= 1010);
}

// Printed as its number, so that a failed check reads "72", not bytes.
std::ostream& operator<<(std::ostream& out, ResultCode code);

// The codes by their names, as the procedures return them.
namespace result {
inline constexpr ResultCode kOk = ResultCode::kOk;
inline constexpr ResultCode kFileNotFound = ResultCode::kFileNotFound;
inline constexpr ResultCode kWrongFileNameFormat = ResultCode::kWrongFileNameFormat;
inline constexpr ResultCode kTooManyRecords = ResultCode::kTooManyRecords;
inline constexpr ResultCode kFieldLengthOutOfRange = ResultCode::kFieldLengthOutOfRange;
inline constexpr ResultCode kFieldCountOutOfRange = ResultCode::kFieldCountOutOfRange;
inline constexpr ResultCode kRecordLengthOutOfRange = ResultCode::kRecordLengthOutOfRange;
inline constexpr ResultCode kParameterMismatch = ResultCode::kParameterMismatch;
inline constexpr ResultCode kFieldLengthNotFound = ResultCode::kFieldLengthNotFound;
inline constexpr ResultCode kOptionMismatch = ResultCode::kOptionMismatch;
inline constexpr ResultCode kCommFailedAtStart = ResultCode::kCommFailedAtStart;
inline constexpr ResultCode kCommTimeout = ResultCode::kCommTimeout;
inline constexpr ResultCode kCommTooManyNaks = ResultCode::kCommTooManyNaks;
inline constexpr ResultCode kCommRefused = ResultCode::kCommRefused;
inline constexpr ResultCode kCommEndedByPeer = ResultCode::kCommEndedByPeer;
inline constexpr ResultCode kIllegalFileOrHeading = ResultCode::kIllegalFileOrHeading;
inline constexpr ResultCode kPathNotFound = ResultCode::kPathNotFound;
inline constexpr ResultCode kDiskFull = ResultCode::kDiskFull;
inline constexpr ResultCode kCancelled = ResultCode::kCancelled;
inline constexpr ResultCode kGeneralFailure = ResultCode::kGeneralFailure;
inline constexpr ResultCode kPortNotAvailable = ResultCode::kPortNotAvailable;
inline constexpr ResultCode kPortError = ResultCode::kPortError;
}  // namespace result

}  // namespace quenlo
