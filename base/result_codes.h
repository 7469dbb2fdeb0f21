#pragma once

#include <cstdint>

namespace quenlo {

// A result code is the engine's 16-bit outcome of a procedure: 0 is success, every other value
// has a fixed meaning that the operator reads as "Err(n) ...".
using ResultCode = std::int16_t;

namespace result {
inline constexpr ResultCode kOk = 0;
inline constexpr ResultCode kFileNotFound = 1;
inline constexpr ResultCode kWrongFileNameFormat = 2;
inline constexpr ResultCode kTooManyRecords = 3;
inline constexpr ResultCode kFieldLengthOutOfRange = 4;
inline constexpr ResultCode kFieldCountOutOfRange = 5;
inline constexpr ResultCode kRecordLengthOutOfRange = 6;
inline constexpr ResultCode kParameterMismatch = 7;
inline constexpr ResultCode kFieldLengthNotFound = 8;
inline constexpr ResultCode kOptionMismatch = 9;
inline constexpr ResultCode kCommFailedAtStart = 51;
inline constexpr ResultCode kCommTimeout = 52;
inline constexpr ResultCode kCommTooManyNaks = 53;
inline constexpr ResultCode kCommRefused = 54;
inline constexpr ResultCode kCommEndedByPeer = 55;
inline constexpr ResultCode kIllegalFileOrHeading = 70;
inline constexpr ResultCode kPathNotFound = 71;
inline constexpr ResultCode kDiskFull = 72;
inline constexpr ResultCode kCancelled = 90;
inline constexpr ResultCode kGeneralFailure = 99;
inline constexpr ResultCode kPortNotAvailable = 101;
inline constexpr ResultCode kPortError = 102;
}  // namespace result

}  // namespace quenlo
