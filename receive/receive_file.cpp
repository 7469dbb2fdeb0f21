#include "receive/receive_file.h"

#include <string>
#include <system_error>

#include "base/deadline.h"
#include "base/host.h"
#include "base/number_text.h"
#include "base/serial_comm.h"
#include "base/transfer_view.h"
#include "files/field_file.h"
#include "files/file_open.h"
#include "link/block_framing.h"
#include "link/block_rest.h"
#include "link/link_control.h"
#include "link/reasons.h"
#include "protocol/control_chars.h"
#include "protocol/fields.h"
#include "protocol/line_text.h"
#include "protocol/received_blocks.h"
#include "receive/receive_header.h"

namespace quenlo {

namespace {

const std::string kAck(1, chACK);
const std::string kNak(1, chNAK);
const std::string kEot(1, chEOT);

class Receiver {
  public:
    explicit Receiver(RunState& state) : state_(state), view_(*state.view) {}

    ResultCode Run();

  private:
    // Sends a one-character answer; a failed send ends the reception at once.
    bool Reply(const std::string& answer) {
        const ResultCode sent = SendText(state_, answer);
        if (StopsSending(sent)) {
            result_ = sent;
            state_.link.transferState = TransferState::kStopped;
            return false;
        }
        return true;
    }
    void ClearCounters() {
        state_.timerTicks = 0;
        rxRetries_ = 0;
    }
    void CountSilentSlice() {
        if (const ResultCode lost = LineError(state_); lost != result::kOk) {
            result_ = lost;
            state_.link.transferState = TransferState::kStopped;
        } else if (++state_.timerTicks == state_.timeoutCount) {
            state_.failureDetail = "no " + Awaited() + " from the handheld within " +
                                   TimeoutText(state_) + ": " +
                                   SameSpeedQuestion(state_, "sending");
            result_ = result::kCommFailedAtStart;
            state_.link.transferState = TransferState::kStopped;
        }
    }
    void Refuse() {
        FlushInput(state_);
        if (!Reply(kNak)) {
            return;
        }
        if (++rxRetries_ == kMaxRefusals) {
            state_.failureDetail = "ten times in a row the " + Awaited() +
                                   " came damaged or out of order: check that the block check and "
                                   "block numbers are set alike on both sides (" +
                                   BlockOptionsText(state_) + " here), and the line";
            result_ = result::kCommTooManyNaks;
            state_.link.transferState = TransferState::kClosing;
        }
    }
    void Cancelled() {
        FlushInput(state_);
        state_.failureDetail = "cancelled while waiting for the " + Awaited();
        result_ = result::kCancelled;
        state_.link.transferState = TransferState::kStopped;
    }
    // What the reception waits for now, for the reasons.
    std::string Awaited() const {
        switch (state_.link.transferState) {
            case TransferState::kEstablishing:
                return "call (ENQ)";
            case TransferState::kHeading:
                return "heading";
            case TransferState::kData:
                return "record " + std::to_string(state_.link.blockSeq);
            default:
                return "end (EOT)";
        }
    }
    void Call();
    void TakeHeading();
    void PrepareRecordWindow();
    void TakeRecord();
    void Close();
    void TakeLateBlock();
    void End();

    RunState& state_;
    TransferView& view_;
    ResultCode result_ = result::kOk;
    std::int16_t rxRetries_ = 0;  // refusals since the last block was taken
};

void Receiver::Call() {
    const Answer answer = WaitAnswerBHT(state_);
    if (answer == Answer::kEnq) {
        if (Reply(kAck)) {
            ClearCounters();
            state_.link.transferState = TransferState::kHeading;
            view_.SetAboutEnabled(false);
        }
    } else if (answer == Answer::kCancelled) {
        FlushInput(state_);
        SendText(state_, kEot);
        state_.failureDetail = "cancelled while waiting for the " + Awaited();
        result_ = result::kCancelled;
        state_.link.transferState = TransferState::kStopped;
    } else {
        FlushInput(state_);
        CountSilentSlice();
    }
}

void Receiver::TakeHeading() {
    const HeadingReading heading = ReceiveHeader(state_);
    state_.link.linkStatus = static_cast<std::int16_t>(heading.status);
    switch (heading.status) {
        case HeadingStatus::kAccepted:
            if (Reply(kAck)) {
                ClearCounters();
                state_.link.transferState =
                    state_.recordCount < 1 ? TransferState::kClosing : TransferState::kData;
            }
            break;
        case HeadingStatus::kDamaged:
            Refuse();
            break;
        case HeadingStatus::kNothing:
            FlushInput(state_);
            CountSilentSlice();
            break;
        case HeadingStatus::kCancelled:
            FlushInput(state_);
            SendText(state_, kEot);
            state_.failureDetail = "cancelled while waiting for the " + Awaited();
            result_ = result::kCancelled;
            state_.link.transferState = TransferState::kStopped;
            break;
        case HeadingStatus::kCalling:
            // The handheld did not hear our ACK and calls again; calling is no progress, and a
            // handheld that only calls counts toward the time-out.
            FlushInput(state_);
            SendText(state_, kAck);
            CountSilentSlice();
            break;
        case HeadingStatus::kRefused:
            FlushInput(state_);
            result_ = heading.refusal;
            state_.link.linkStatus = Number(heading.refusal);
            state_.link.transferState = TransferState::kStopped;
            break;
    }
}

void Receiver::PrepareRecordWindow() {
    const bool noRecords = state_.link.transferState == TransferState::kClosing;
    view_.SetStatus(state_.programFile ? "Receiving Program " : "Receiving File ");
    view_.SetFile(state_.fileName);
    view_.SetRecords(CountText(state_.recordCount));
    view_.SetRecordCount(" 00000");
    if (noRecords) {
        view_.SetProgress(100);
        view_.SetComplete("100%");
    }
    YieldToWindow(state_);
}

void Receiver::TakeRecord() {
    switch (ReceiveData(state_)) {
        case DataStatus::kAccepted: {
            // The ACK goes out before the record is written.
            if (!Reply(kAck)) {
                return;
            }
            view_.SetRecordCount(" " + state_.link.blockSeqText);
            const int percent = static_cast<int>(
                RoundedQuotient(std::int64_t{state_.link.blockSeq} * 100, state_.recordCount));
            view_.SetProgress(percent);
            view_.SetComplete(PercentText(percent));
            YieldToWindow(state_);
            const ResultCode written = WriteRecord(state_);
            if (written == result::kOk) {
                ++state_.link.blockSeq;
                ClearCounters();
                state_.link.blockSeqText = ZeroFilled(state_.link.blockSeq, kSeqDigits);
                if (state_.link.blockSeq > state_.recordCount) {
                    state_.link.transferState = TransferState::kClosing;
                }
            } else if (written == result::kCancelled) {
                Cancelled();
            } else {
                // The disk will not take more: waiting for the handheld's EOT while it goes on
                // sending would only end in a time-out that hides why.
                result_ = written;
                state_.link.transferState = TransferState::kStopped;
            }
            break;
        }
        case DataStatus::kDamaged:
            Refuse();
            break;
        case DataStatus::kNothing:
            FlushInput(state_);
            CountSilentSlice();
            break;
        case DataStatus::kCancelled:
            Cancelled();
            break;
        case DataStatus::kRepeat:
            Reply(kAck);
            break;
    }
}

void Receiver::Close() {
    while (state_.link.transferState == TransferState::kClosing) {
        const Answer answer =
            WaitAnswerBHT(state_, static_cast<std::size_t>(state_.receiving.rxBlockLength));
        if (answer == Answer::kCancelled) {
            FlushInput(state_);
            SendText(state_, kEot);
            state_.failureDetail = "cancelled while waiting for the " + Awaited();
            result_ = result::kCancelled;
            state_.link.transferState = TransferState::kStopped;
        } else if (answer == Answer::kEot) {
            if (Reply(kAck)) {
                state_.link.transferState = TransferState::kCompleted;
            }
        } else if (answer == Answer::kBlock && result_ == result::kOk) {
            TakeLateBlock();
        } else {
            CountSilentSlice();
        }
    }
}

// A data block where EOT belongs: the last one again, because its ACK went astray (acknowledged,
// not written again), or one more than the heading announced: then the count and the blocks
// disagree, and without block numbers a record was taken twice.
void Receiver::TakeLateBlock() {
    const ReadData block = ReadDataBlock(state_.link.inputText,
                                         static_cast<std::size_t>(state_.receiving.rxBlockLength),
                                         BlockOptionsOf(state_));
    if (block.reading != BlockReading::kWhole) {
        FlushInput(state_);
        if (Reply(kNak)) {
            CountSilentSlice();
        }
        return;
    }
    const bool lastAgain =
        state_.seqEnabled ? state_.link.blockSeq > 1 && block.number == state_.link.blockSeq - 1
                          : state_.recordCount > 0 && block.record == state_.receiving.rxRecord;
    if (lastAgain) {
        if (Reply(kAck)) {
            CountSilentSlice();
        }
        return;
    }
    FlushInput(state_);
    result_ = result::kCommRefused;
    state_.failureDetail =
        "the handheld sent more records than its heading announced (" +
        std::to_string(state_.recordCount) +
        (state_.seqEnabled
             ? "): the file is not taken"
             : "), so an answer was lost and a record taken twice: turn block numbers "
               "on (+SN) on both sides");
    state_.link.transferState = TransferState::kStopped;
}

void Receiver::End() {
    auto& file = state_.file(FileNumber::kReceive);
    // Only a file that came whole is put in place: after refusals or a failure it would lack
    // records. Dropped, it leaves the name as it was (with +APP the earlier records).
    const bool whole =
        state_.link.transferState == TransferState::kCompleted && result_ == result::kOk;
    if (file && whole) {
        if (const int error = file->Close(); error != 0) {
            result_ = WriteFailed(state_, file->failure(), error);
        }
    }
    state_.CloseFile(FileNumber::kReceive);
    if (whole && result_ == result::kOk) {
        state_.received.push_back(Latin1ToUtf8(state_.fileName) + ": " +
                                  std::to_string(state_.recordCount) +
                                  (state_.recordCount == 1 ? " record" : " records"));
    }
    if (whole && result_ == result::kOk && !state_.programFile) {
        // The data file stays whole whatever becomes of its field file; a field file that cannot
        // be written is the run's failure all the same.
        result_ = WriteFieldFile(state_);
    }
    if (state_.link.transferState == TransferState::kStopped) {
        state_.link.linkStatus = Number(SendText(state_, kEot));
        state_.link.linkStatus = Number(SendText(state_, kAck));
    }
}

ResultCode Receiver::Run() {
    state_.currentProcedure = "ReceiveFile";
    state_.receiving.rxFileCreated = false;
    ClearCounters();
    state_.link.blockSeq = 1;
    state_.link.blockSeqText = "00001";
    state_.link.transferState = TransferState::kEstablishing;

    while (state_.link.transferState == TransferState::kEstablishing) {
        Call();
    }
    if (state_.link.transferState == TransferState::kHeading) {
        view_.SetStatus("Receive Header");
        YieldToWindow(state_);
    }
    while (state_.link.transferState == TransferState::kHeading) {
        TakeHeading();
    }
    if (state_.link.transferState == TransferState::kData ||
        (state_.link.transferState == TransferState::kClosing && result_ == result::kOk)) {
        PrepareRecordWindow();
    }
    while (state_.link.transferState == TransferState::kData) {
        TakeRecord();
    }
    view_.SetStatus("Closing Link");
    YieldToWindow(state_);
    Close();
    End();
    return result_;
}

}  // namespace

DataStatus ReceiveData(RunState& state) {
    state.currentProcedure = "ReceiveData";
    const Deadline slice(*state.host, kSliceSeconds);
    state.receiving.rxBuffer.clear();
    const auto blockLength = static_cast<std::size_t>(state.receiving.rxBlockLength);
    for (auto have = static_cast<std::size_t>(state.comm->InputCount());
         !slice.Expired() && have < blockLength;
         have = static_cast<std::size_t>(state.comm->InputCount())) {
        // Part of the block may be waiting already: wait for the rest, not for what is there.
        if (have > 0) {
            AwaitRestOfBlock(state, blockLength - have, slice.Remaining());
        } else {
            state.host->Yield(slice.Remaining());
        }
        if (state.cancelRequested) {
            return DataStatus::kCancelled;
        }
    }
    if (state.comm->InputCount() >= 1) {
        state.receiving.rxBuffer = state.comm->Input();
    }
    if (state.receiving.rxBuffer == std::string(1, chENQ)) {
        return DataStatus::kDamaged;
    }
    const ReadData block =
        ReadDataBlock(state.receiving.rxBuffer, blockLength, BlockOptionsOf(state));
    if (block.checkByteCompared) {
        state.currentProcedure = "BccCheck";
    }
    switch (block.reading) {
        case BlockReading::kIncomplete:
            return DataStatus::kNothing;
        case BlockReading::kDamaged:
            return DataStatus::kDamaged;
        case BlockReading::kOverlong:
            FlushInput(state);
            return DataStatus::kDamaged;
        case BlockReading::kWhole:
            break;
    }
    if (state.seqEnabled && block.digits != state.link.blockSeqText) {
        const auto expected = DecimalValue(state.link.blockSeqText);
        return block.number && expected && *block.number == *expected - 1 ? DataStatus::kRepeat
                                                                          : DataStatus::kDamaged;
    }
    state.receiving.rxRecord = std::string(block.record);
    return DataStatus::kAccepted;
}

ResultCode WriteRecord(RunState& state) {
    ResultCode status = result::kOk;
    auto& file = state.file(FileNumber::kReceive);
    // Each record goes to the disk as it comes, so a full disk shows at the record, not later.
    const int error = file ? file->Write(state.receiving.rxRecord + "\r\n") : EBADF;
    if (error != 0) {
        status = WriteFailed(state, file ? file->failure() : "no output file", error);
    }
    if (state.cancelRequested) {
        status = result::kCancelled;
    }
    return status;
}

ResultCode ReceiveFile(RunState& state) {
    return Receiver(state).Run();
}

}  // namespace quenlo
