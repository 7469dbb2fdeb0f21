#pragma once

#include <cstdint>
#include <string_view>

#include "base/result_codes.h"
#include "base/run_state.h"
#include "base/serial_comm.h"

namespace quenlo {

// Answers of WaitAnswerBHT.
enum class Answer : std::int16_t {
    kSilent = -1,  // nothing usable within the slice
    kAck = 0,
    kNak = 1,
    kEnq = 2,
    kCancelled = 3,
    kEot = 4,
    kBlock = 5,  // a data block came instead of an answer
};
// As linkStatus keeps it, beside the other primitives' results.
constexpr std::int16_t Raw(Answer answer) {
    return static_cast<std::int16_t>(answer);
}

// One wait for an answer lasts at most this long; time-outs are counted in such slices.
inline constexpr double kSliceSeconds = 3.0;

// Opens the port: 0, 101 when the device is not available, 102 for any other failure.
ResultCode OpenPort(RunState& state);

// Reads and drops whatever input is waiting.
void FlushInput(RunState& state);

// Queues text, waits until it has left the port (or Cancel), pauses irDelay milliseconds.
// Returns 0, or the line-error event (1000, 1002..1010) that the senders pass on.
ResultCode SendText(RunState& state, std::string_view text);

// A SendText result that ends a send at once: a line error other than a break (1000), which
// the line may recover from; after a break the next transmission asks for the answer again.
constexpr bool StopsSending(ResultCode sent) {
    return Number(sent) > 1000;
}

// The line error (1000, 1002..1010) the port reports, or 0. A device that went away (unplugged,
// the other end closed) stays away: a wait that cannot be answered any more ends with this code
// instead of running out its time-out.
ResultCode LineError(RunState& state);
// Says beside a failed code that the device went away or the line failed, when it did.
void NoteLineLoss(RunState& state);
// What a line error event means to the operator, and what to try.
std::string LineErrorText(CommEvent event);

// Waits at most one 3-second slice for the handheld's one-character answer. Only the first
// character of what is read counts. With a block length, a read that begins with STX is a data
// block instead, collected up to that length or the slice's end (kBlock, the bytes in inputText).
Answer WaitAnswerBHT(RunState& state, std::size_t blockLength = 0);

// Lets the window deliver its events (Cancel, timer ticks) without waiting, or waiting at most
// maxWait for something to happen; never waits while input is already waiting, and then gives the
// window a turn once a millisecond at most.
void YieldToWindow(RunState& state, std::chrono::milliseconds maxWait = {});

}  // namespace quenlo
