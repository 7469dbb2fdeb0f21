#pragma once

#include <cstdint>
#include <string_view>

#include "base/result_codes.h"
#include "base/run_state.h"

namespace quenlo {

// Answers of WaitAnswerBHT.
namespace answer {
inline constexpr std::int16_t kAck = 0;
inline constexpr std::int16_t kNak = 1;
inline constexpr std::int16_t kEnq = 2;
inline constexpr std::int16_t kCancelled = 3;
inline constexpr std::int16_t kEot = 4;
inline constexpr std::int16_t kSilent = -1;
inline constexpr std::int16_t kBlock = 5;  // a data block came instead of an answer
}  // namespace answer

// One wait for an answer lasts at most this long; time-outs are counted in such slices.
inline constexpr double kSliceSeconds = 3.0;

// Opens the port: 0, 101 when the device is not available, 102 for any other failure.
ResultCode OpenPort(RunState& state);

// Reads and drops whatever input is waiting.
void FlushInput(RunState& state);

// Queues text, waits until it has left the port (or Cancel), pauses irDelay milliseconds.
// Returns 0, or the line-error event (1000, 1002..1010) that the senders pass on.
ResultCode SendText(RunState& state, std::string_view text);

// The line error (1000, 1002..1010) the port reports, or 0. A device that went away (unplugged,
// the other end closed) stays away: a wait that cannot be answered any more ends with this code
// instead of running out its time-out.
ResultCode LineError(RunState& state);
// What a line error event means to the operator, and what to try.
std::string LineErrorText(std::int32_t event);

// Waits at most one 3-second slice for the handheld's one-character answer. Only the first
// character of what is read counts. With a block length, a read that begins with STX is a data
// block instead, collected up to that length or the slice's end (kBlock, the bytes in inputText).
std::int16_t WaitAnswerBHT(RunState& state, std::size_t blockLength = 0);

// Lets the window deliver its events (Cancel, timer ticks) without waiting, or waiting at most
// maxWait for something to happen; never waits while input is already waiting.
void YieldToWindow(RunState& state, std::chrono::milliseconds maxWait = {});

}  // namespace quenlo
