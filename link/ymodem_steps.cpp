#include "link/ymodem_steps.h"

#include <cstdlib>

#include "base/number_text.h"
#include "base/transfer_view.h"
#include "link/block_rest.h"
#include "link/link_control.h"
#include "protocol/fields.h"

namespace quenlo {

namespace {

// Waits for what the transfer waits for: the rest of a frame on its way, or any news.
void AwaitTransferNews(RunState& state, const FileTransfer& transfer) {
    if (const std::size_t missing = transfer.FrameBytesMissing()) {
        AwaitRestOfBlock(state, missing, transfer.NextWait());
    } else {
        YieldToWindow(state, transfer.NextWait());
    }
}

}  // namespace

std::string BlockCountText(std::uint64_t bytes) {
    return CountText(RoundedQuotient(static_cast<std::int64_t>(bytes),
                                     static_cast<std::int64_t>(kTransferBlockSize)));
}

void SetTransferLimits(const RunState& state, FileTransfer& transfer) {
    transfer.SetLimits(std::chrono::milliseconds(static_cast<long long>(state.timeoutCount) *
                                                 static_cast<long long>(kSliceSeconds * 1000)),
                       std::atoi(state.baudRate.c_str()));
}

void NoteUnclosedBatch(RunState& state, const FileTransfer& transfer) {
    if (transfer.BatchUnclosed()) {
        state.notes.emplace_back(
            "the handheld did not close the YMODEM batch; the file went through whole");
    }
}

void AwaitTransferStart(RunState& state, FileTransfer& transfer, ResultCode& result) {
    for (;;) {
        AwaitTransferNews(state, transfer);
        if (state.cancelRequested) {
            CancelTransfer(state, transfer, result);
        }
        transfer.Poll();
        if (transfer.TransferBytes() > 0 || transfer.Status() != TransferStatus::kWaiting ||
            state.timerTicks >= state.timeoutCount || state.cancelRequested) {
            break;
        }
    }
    state.view->SetTimerEnabled(false);
}

void CancelTransfer(RunState& state, FileTransfer& transfer, ResultCode& result) {
    transfer.Abort();
    for (transfer.Poll(); transfer.Status() > TransferStatus::kFinished; transfer.Poll()) {
        AwaitTransferNews(state, transfer);
    }
    result = result::kCancelled;
}

TransferStatus FollowTransfer(RunState& state, FileTransfer& transfer, ResultCode& result,
                              const std::function<void()>& moving) {
    for (;;) {
        AwaitTransferNews(state, transfer);
        if (state.cancelRequested) {
            CancelTransfer(state, transfer, result);
        }
        transfer.Poll();
        switch (const TransferStatus status = transfer.Status()) {
            case TransferStatus::kFailed:
            case TransferStatus::kFinished:
            case TransferStatus::kEndedWithError:
                return status;
            case TransferStatus::kMoving:
                moving();
                break;
            case TransferStatus::kWaiting:
            case TransferStatus::kStarting:
                break;
        }
    }
}

ResultCode EndYmodemRun(RunState& state, ResultCode result) {
    if (result != result::kOk) {
        NoteLineLoss(state);
    }
    state.link.transferState =
        result == result::kOk ? TransferState::kCompleted : TransferState::kStopped;
    return result;
}

void ShowTransferProgress(RunState& state, std::uint64_t bytes, std::uint64_t size) {
    TransferView& view = *state.view;
    if (bytes <= size && size > 0) {
        const auto percent = static_cast<int>(RoundedQuotient(
            static_cast<std::int64_t>(bytes - 1) * 100, static_cast<std::int64_t>(size)));
        view.SetRecordCount(BlockCountText(bytes));
        view.SetProgress(percent);
        view.SetComplete(PercentText(percent));
    } else {
        view.SetRecordCount(BlockCountText(size));
        view.SetProgress(100);
        view.SetComplete(" 100%");
    }
}

}  // namespace quenlo
