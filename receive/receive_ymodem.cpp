#include "receive/receive_ymodem.h"

#include <algorithm>

#include "base/host.h"
#include "base/number_text.h"
#include "base/text.h"
#include "base/transfer_view.h"
#include "files/file_names.h"
#include "files/file_open.h"
#include "files/transfer_files.h"
#include "link/file_transfer.h"
#include "link/link_control.h"
#include "link/reasons.h"
#include "link/ymodem_steps.h"
#include "protocol/fields.h"

namespace quenlo {

namespace {

// Where the name starts in a full path: after its last separator (a drive's colon counts: "A:"
// joined with the name has no other), looked for from the second character from the end
// backwards (0 when there is none).
std::size_t NameStart(const std::string& path) {
    if (path.size() < 2) {
        return 0;
    }
    const auto separator = path.find_last_of("\\/:", path.size() - 2);
    return separator == std::string::npos ? 0 : separator + 1;
}

ResultCode ReceiveByYModem(RunState& s) {
    s.currentProcedure = "ReceiveYModem";
    ResultCode result = result::kOk;
    FileTransfer transfer(*s.comm, *s.host);
    TransferView& view = *s.view;
    view.SetTimerEnabled(true);
    s.timerTicks = 0;
    s.cancelRequested = false;

    disk::Directory* folder = TargetFolder(s, result);
    if (folder == nullptr) {
        view.SetTimerEnabled(false);
        return result;
    }
    // Each name the handheld announces is judged before anything of its file is written.
    TargetDirectory directory(*folder, s.appendMode, s.keepEarlierFiles,
                              [&s](const std::string& name) {
                                  s.fileName = name;
                                  return CheckFilename(s) != result::kOk || IsDeviceName(name)
                                             ? result::kIllegalFileOrHeading
                                             : result::kOk;
                              });
    // The file's own failure (its name, its place, the disk) says more than the line's: it wins
    // over 51 to 55, and a refused name even over Cancel.
    const auto ended = [&](ResultCode lineCode) {
        ResultCode file = directory.failure();
        if (file != result::kOk) {
            s.failureDetail = directory.reason();
        } else if (transfer.HeaderRefused()) {
            file = result::kIllegalFileOrHeading;
            s.failureDetail = "the handheld's block 0 gave no usable file name or size";
        }
        if (file != result::kOk &&
            (result == result::kOk || file == result::kIllegalFileOrHeading)) {
            return file;
        }
        if (result == result::kOk && lineCode != result::kOk) {
            const std::string progress =
                " after " + std::to_string(transfer.TransferBytes()) + " bytes of " +
                (s.fileName.empty() ? std::string("the file") : Latin1ToUtf8(s.fileName));
            s.failureDetail = lineCode == result::kCommTimeout
                                  ? "the handheld did not start sending within " + TimeoutText(s) +
                                        ": " + SameSpeedQuestion(s, "sending by YMODEM")
                              : lineCode == result::kCommEndedByPeer
                                  ? "the handheld ended the transfer" + progress
                                  : "the transfer failed" + progress;
        }
        return result == result::kOk ? lineCode : result;
    };
    SetTransferLimits(s, transfer);
    transfer.SetReceiveDirectory(s.filePath.empty() ? s.host->CurrentDirectory() : s.filePath);
    transfer.ReceiveStart(directory);

    AwaitTransferStart(s, transfer, result);
    if (s.timerTicks >= s.timeoutCount) {
        return ended(result::kCommTimeout);
    }
    if (transfer.Status() == TransferStatus::kFailed) {
        return ended(result::kCommFailedAtStart);
    }
    std::string path = transfer.TransferFileName();
    const std::size_t nameAt = NameStart(path);
    s.fileName = path.substr(nameAt);
    if (CheckFilename(s) != result::kOk) {
        CancelTransfer(s, transfer, result);
        return result::kIllegalFileOrHeading;
    }
    s.recordLength = static_cast<std::int16_t>(kTransferBlockSize);
    view.SetStatus(s.programFile ? "Receiving Program " : "Receiving File ");
    std::string shownFile;  // what FileBox and RecordsBox show; the run emptied both
    std::string shownRecords;

    const TransferStatus status = FollowTransfer(s, transfer, result, [&] {
        // At most one change a look: the name, the size, or the count.
        path = transfer.TransferFileName();
        const std::string name = path.substr(std::min(nameAt, path.size()));
        const std::uint64_t size = transfer.TransferSize();
        const std::uint64_t bytes = transfer.TransferBytes();
        const std::string records = BlockCountText(size);
        if (name != shownFile) {
            s.fileName = shownFile = name;
            view.SetFile(name);
        } else if (records != shownRecords) {
            shownRecords = records;
            view.SetRecords(records);
        } else if (bytes > 0) {
            ShowTransferProgress(s, bytes, size);
        }
    });
    if (status == TransferStatus::kFinished) {
        NoteUnclosedBatch(s, transfer);
        s.received.insert(s.received.end(), directory.stored().begin(), directory.stored().end());
        return ended(result::kOk);
    }
    return ended(status == TransferStatus::kFailed ? result::kCommRefused
                                                   : result::kCommEndedByPeer);
}

}  // namespace

ResultCode ReceiveYModem(RunState& s) {
    const ResultCode result = ReceiveByYModem(s);
    if (result != result::kOk) {
        NoteLineLoss(s);
    }
    // The window says "Received OK" for a transfer that completed, as for the block protocol.
    s.link.transferState =
        result == result::kOk ? TransferState::kCompleted : TransferState::kStopped;
    return result;
}

}  // namespace quenlo
