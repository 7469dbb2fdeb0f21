#include "send/transmit_ymodem.h"

#include "base/number_text.h"
#include "base/transfer_view.h"
#include "files/file_open.h"
#include "files/transfer_files.h"
#include "link/file_transfer.h"
#include "link/link_control.h"
#include "link/reasons.h"
#include "link/ymodem_steps.h"

namespace quenlo {

namespace {

// "2048 of 5000 bytes", for the reasons.
std::string Progress(const FileTransfer& transfer) {
    return std::to_string(transfer.TransferBytes()) + " of " +
           std::to_string(transfer.TransferSize()) + " bytes";
}

ResultCode SendByYModem(RunState& state) {
    state.currentProcedure = "TransmitYModem";
    ResultCode result = result::kOk;
    const auto fail = [&result](ResultCode code) {
        if (result == result::kOk) {
            result = code;
        }
    };
    FileTransfer transfer(*state.comm, *state.host);
    TransferView& view = *state.view;

    view.SetTimerEnabled(true);
    state.timerTicks = 0;
    state.cancelRequested = false;
    int error = 0;
    const std::filesystem::path path = PathOf(state, state.filePath, state.fileName);
    auto source = SourceFile::Open(path, state.fileName, error);
    SetTransferLimits(state, transfer);
    if (source) {
        transfer.SendFile(*source, state.filePath + state.fileName);
    } else {
        state.failureDetail = "cannot read " + Utf8Path(path) + ": " + ErrorText(error);
    }
    AwaitTransferStart(state, transfer, result);
    if (state.timerTicks >= state.timeoutCount) {
        state.failureDetail =
            "the handheld did not ask for the file within " + TimeoutText(state) + ": " +
            SameSpeedQuestion(state, "waiting for a YMODEM file") +
            (transfer.HeardBlockCall()
                 ? " It calls in the block protocol (ENQ): send a PD3 file, or drop +YMOD."
                 : " A handheld waiting for the block protocol says nothing.");
        fail(result::kCommFailedAtStart);
        return result;
    }
    if (transfer.Status() == TransferStatus::kFailed) {
        fail(result::kGeneralFailure);
        return result;
    }

    state.recordLength = static_cast<std::int16_t>(kTransferBlockSize);
    view.SetStatus(state.programFile ? "Sending Program " : "Sending File ");
    view.SetFile(state.fileName);
    view.SetRecords(BlockCountText(transfer.TransferSize()));
    const TransferStatus ended = FollowTransfer(state, transfer, result, [&] {
        ShowTransferProgress(state, transfer.TransferBytes(), transfer.TransferSize());
    });
    if (ended == TransferStatus::kFinished) {
        NoteUnclosedBatch(state, transfer);
    } else if (ended == TransferStatus::kEndedWithError) {
        state.failureDetail = "the handheld ended the transfer after " + Progress(transfer);
        fail(result::kCommEndedByPeer);
    } else {
        state.failureDetail = "the handheld stopped taking the file after " + Progress(transfer);
        fail(result::kCommTooManyNaks);
    }
    return result;
}

}  // namespace

ResultCode TransmitYModem(RunState& state) {
    return EndYmodemRun(state, SendByYModem(state));
}

}  // namespace quenlo
