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
#include "protocol/line_text.h"

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

// How a reception that ended with `lineCode` on the line ends. The file's own failure (its name,
// its place, the disk) says more than the line's: it wins over 51 to 55, and a refused name even
// over Cancel (already in `result`).
ResultCode Ended(RunState& state, TargetDirectory& directory, const FileTransfer& transfer,
                 ResultCode result, ResultCode lineCode) {
    ResultCode file = directory.failure();
    if (file != result::kOk) {
        state.failureDetail = directory.reason();
    } else if (transfer.HeaderRefused()) {
        file = result::kIllegalFileOrHeading;
        state.failureDetail = "the handheld's block 0 gave no usable file name or size";
    }
    if (file != result::kOk && (result == result::kOk || file == result::kIllegalFileOrHeading)) {
        return file;
    }
    if (result == result::kOk && lineCode != result::kOk) {
        const std::string progress =
            " after " + std::to_string(transfer.TransferBytes()) + " bytes of " +
            (state.fileName.empty() ? std::string("the file") : Latin1ToUtf8(state.fileName));
        state.failureDetail =
            lineCode == result::kCommTimeout
                ? "the handheld did not start sending within " + TimeoutText(state) + ": " +
                      SameSpeedQuestion(state, "sending by YMODEM")
            : lineCode == result::kCommEndedByPeer ? "the handheld ended the transfer" + progress
                                                   : "the transfer failed" + progress;
    }
    return result == result::kOk ? lineCode : result;
}

// Follows the file as it comes, the window showing at most one change a look: the name, the
// size, or the count. The run emptied FileBox and RecordsBox.
TransferStatus FollowReception(RunState& state, FileTransfer& transfer, ResultCode& result,
                               std::size_t nameAt) {
    TransferView& view = *state.view;
    view.SetStatus(state.programFile ? "Receiving Program " : "Receiving File ");
    std::string shownFile;
    std::string shownRecords;
    return FollowTransfer(state, transfer, result, [&] {
        const std::string path = transfer.TransferFileName();
        const std::string name = path.substr(std::min(nameAt, path.size()));
        const std::uint64_t size = transfer.TransferSize();
        const std::uint64_t bytes = transfer.TransferBytes();
        const std::string records = BlockCountText(size);
        if (name != shownFile) {
            state.fileName = shownFile = name;
            view.SetFile(name);
        } else if (records != shownRecords) {
            shownRecords = records;
            view.SetRecords(records);
        } else if (bytes > 0) {
            ShowTransferProgress(state, bytes, size);
        }
    });
}

ResultCode ReceiveByYModem(RunState& state) {
    state.currentProcedure = "ReceiveYModem";
    ResultCode result = result::kOk;
    FileTransfer transfer(*state.comm, *state.host);
    state.view->SetTimerEnabled(true);
    state.timerTicks = 0;
    state.cancelRequested = false;

    disk::Directory* folder = TargetFolder(state, result);
    if (folder == nullptr) {
        state.view->SetTimerEnabled(false);
        return result;
    }
    // Each name the handheld announces is judged before anything of its file is written.
    TargetDirectory directory(*folder, state.appendMode, state.keepEarlierFiles,
                              [&state](const std::string& name) {
                                  state.fileName = name;
                                  return CheckFilename(state) != result::kOk || IsDeviceName(name)
                                             ? result::kIllegalFileOrHeading
                                             : result::kOk;
                              });
    SetTransferLimits(state, transfer);
    transfer.SetReceiveDirectory(state.filePath.empty() ? state.host->CurrentDirectory()
                                                        : state.filePath);
    transfer.ReceiveStart(directory);

    AwaitTransferStart(state, transfer, result);
    if (state.timerTicks >= state.timeoutCount) {
        return Ended(state, directory, transfer, result, result::kCommTimeout);
    }
    if (transfer.Status() == TransferStatus::kFailed) {
        return Ended(state, directory, transfer, result, result::kCommFailedAtStart);
    }
    const std::string path = transfer.TransferFileName();
    const std::size_t nameAt = NameStart(path);
    state.fileName = path.substr(nameAt);
    if (CheckFilename(state) != result::kOk) {
        CancelTransfer(state, transfer, result);
        return result::kIllegalFileOrHeading;
    }
    state.recordLength = static_cast<std::int16_t>(kTransferBlockSize);
    const TransferStatus status = FollowReception(state, transfer, result, nameAt);
    if (status == TransferStatus::kFinished) {
        NoteUnclosedBatch(state, transfer);
        state.received.insert(state.received.end(), directory.stored().begin(),
                              directory.stored().end());
        return Ended(state, directory, transfer, result, result::kOk);
    }
    return Ended(
        state, directory, transfer, result,
        status == TransferStatus::kFailed ? result::kCommRefused : result::kCommEndedByPeer);
}

}  // namespace

ResultCode ReceiveYModem(RunState& state) {
    return EndYmodemRun(state, ReceiveByYModem(state));
}

}  // namespace quenlo
