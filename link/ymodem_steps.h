#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "base/result_codes.h"
#include "base/run_state.h"
#include "link/file_transfer.h"

namespace quenlo {

// The steps both YMODEM procedures take with the transfer facility and the transfer window.

// The transfer window counts a YMODEM transfer in blocks of this size.
inline constexpr std::uint64_t kTransferBlockSize = 1024;

// " " and the number of such blocks in `bytes`, rounded, in five digits: " 00005" for 5000.
std::string BlockCountText(std::uint64_t bytes);

// The transfer's limits from the run's settings: the time-out and the line's rate.
void SetTransferLimits(const RunState& state, FileTransfer& transfer);

// Says so among the run's notes when the other side never closed the batch.
void NoteUnclosedBatch(RunState& state, const FileTransfer& transfer);

// Waits, with the transfer window's timer running, for the transfer to begin: until data moves,
// or the handheld has answered at all (so that an empty file is no time-out), timeoutCount ticks
// pass, or Cancel (which stops the transfer, result 90).
void AwaitTransferStart(RunState& state, FileTransfer& transfer, ResultCode& result);

// Stops the running transfer and waits until the facility is idle; the result becomes 90.
void CancelTransfer(RunState& state, FileTransfer& transfer, ResultCode& result);

// Follows a started transfer until it ends, Cancel stopping it (result 90); `moving` shows each
// look while data moves. Returns how it ended: kFailed, kFinished or kEndedWithError.
TransferStatus FollowTransfer(RunState& state, FileTransfer& transfer, ResultCode& result,
                              const std::function<void()>& moving);

// Ends a YMODEM procedure with `result`: a failure notes a line that went away, and the transfer
// state says whether it completed, so that the window says "Sent OK" or "Received OK" as it does
// for the block protocol.
ResultCode EndYmodemRun(RunState& state, ResultCode result);

// The transfer window's count of 1024-byte blocks and percentage for `bytes` of `size`.
void ShowTransferProgress(RunState& state, std::uint64_t bytes, std::uint64_t size);

}  // namespace quenlo
