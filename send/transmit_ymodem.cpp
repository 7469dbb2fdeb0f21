#include "send/transmit_ymodem.h"

#include "base/number_text.h"
#include "base/transfer_view.h"
#include "files/file_open.h"
#include "files/transfer_files.h"
#include "link/file_transfer.h"
#include "link/link_control.h"
#include "link/reasons.h"
#include "link/ymodem_steps.h"
#include "protocol/fields.h"

namespace quenlo {

namespace {

// "2048 of 5000 bytes", for the reasons.
std::string Progress(const FileTransfer& transfer) {
    return std::to_string(transfer.TransferBytes()) + " of " +
           std::to_string(transfer.TransferSize()) + " bytes";
}

ResultCode SendByYModem(RunState& s) {
    s.currentProcedure = "TransmitYModem";
    ResultCode result = result::kOk;
    const auto fail = [&result](ResultCode code) {
        if (result == result::kOk) {
            result = code;
        }
    };
    FileTransfer transfer(*s.comm, *s.host);
    TransferView& view = *s.view;

    view.SetTimerEnabled(true);
    s.timerTicks = 0;
    s.cancelRequested = false;
    int error = 0;
    const std::filesystem::path path = PathOf(s, s.filePath, s.fileName);
    auto source = SourceFile::Open(path, s.fileName, error);
    SetTransferLimits(s, transfer);
    if (source) {
        transfer.SendFile(*source, s.filePath + s.fileName);
    } else {
        s.failureDetail = "cannot read " + Utf8Path(path) + ": " + ErrorText(error);
    }
    AwaitTransferStart(s, transfer, result);
    if (s.timerTicks >= s.timeoutCount) {
        s.failureDetail =
            "the handheld did not ask for the file within " + TimeoutText(s) + ": " +
            SameSpeedQuestion(s, "waiting for a YMODEM file") +
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

    s.recordLength = static_cast<std::int16_t>(kTransferBlockSize);
    view.SetStatus(s.programFile ? "Sending Program " : "Sending File ");
    view.SetFile(s.fileName);
    view.SetRecords(BlockCountText(transfer.TransferSize()));
    const TransferStatus ended = FollowTransfer(s, transfer, result, [&] {
        ShowTransferProgress(s, transfer.TransferBytes(), transfer.TransferSize());
    });
    if (ended == TransferStatus::kFinished) {
        NoteUnclosedBatch(s, transfer);
    } else if (ended == TransferStatus::kEndedWithError) {
        s.failureDetail = "the handheld ended the transfer after " + Progress(transfer);
        fail(result::kCommEndedByPeer);
    } else {
        s.failureDetail = "the handheld stopped taking the file after " + Progress(transfer);
        fail(result::kCommTooManyNaks);
    }
    return result;
}

}  // namespace

ResultCode TransmitYModem(RunState& s) {
    const ResultCode result = SendByYModem(s);
    if (result != result::kOk) {
        NoteLineLoss(s);
    }
    // The window says "Sent OK" for a transfer that completed, as it does for the block protocol.
    s.link.transferState =
        result == result::kOk ? TransferState::kCompleted : TransferState::kStopped;
    return result;
}

}  // namespace quenlo
