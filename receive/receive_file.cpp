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
#include "protocol/received_blocks.h"
#include "receive/receive_header.h"

namespace quenlo {

namespace {

const std::string kAck(1, chACK);
const std::string kNak(1, chNAK);
const std::string kEot(1, chEOT);

class Receiver {
  public:
    explicit Receiver(RunState& state) : s_(state), view_(*state.view) {}

    ResultCode Run();

  private:
    // Sends a one-character answer; a failed send ends the reception at once.
    bool Reply(const std::string& answer) {
        const ResultCode sent = SendText(s_, answer);
        if (StopsSending(sent)) {
            result_ = sent;
            s_.link.transferState = TransferState::kStopped;
            return false;
        }
        return true;
    }
    void ClearCounters() {
        s_.timerTicks = 0;
        rxRetries_ = 0;
    }
    void CountSilentSlice() {
        if (const ResultCode lost = LineError(s_); lost != result::kOk) {
            result_ = lost;
            s_.link.transferState = TransferState::kStopped;
        } else if (++s_.timerTicks == s_.timeoutCount) {
            s_.failureDetail = "no " + Awaited() + " from the handheld within " + TimeoutText(s_) +
                               ": " + SameSpeedQuestion(s_, "sending");
            result_ = result::kCommFailedAtStart;
            s_.link.transferState = TransferState::kStopped;
        }
    }
    void Refuse() {
        FlushInput(s_);
        if (!Reply(kNak)) {
            return;
        }
        if (++rxRetries_ == kMaxRefusals) {
            s_.failureDetail = "ten times in a row the " + Awaited() +
                               " came damaged or out of order: check that the block check and "
                               "block numbers are set alike on both sides (" +
                               BlockOptionsText(s_) + " here), and the line";
            result_ = result::kCommTooManyNaks;
            s_.link.transferState = TransferState::kClosing;
        }
    }
    void Cancelled() {
        FlushInput(s_);
        s_.failureDetail = "cancelled while waiting for the " + Awaited();
        result_ = result::kCancelled;
        s_.link.transferState = TransferState::kStopped;
    }
    // What the reception waits for now, for the reasons.
    std::string Awaited() const {
        switch (s_.link.transferState) {
            case TransferState::kEstablishing:
                return "call (ENQ)";
            case TransferState::kHeading:
                return "heading";
            case TransferState::kData:
                return "record " + std::to_string(s_.link.blockSeq);
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

    RunState& s_;
    TransferView& view_;
    ResultCode result_ = result::kOk;
    std::int16_t rxRetries_ = 0;  // refusals since the last block was taken
};

void Receiver::Call() {
    const Answer answer = WaitAnswerBHT(s_);
    if (answer == Answer::kEnq) {
        if (Reply(kAck)) {
            ClearCounters();
            s_.link.transferState = TransferState::kHeading;
            view_.SetAboutEnabled(false);
        }
    } else if (answer == Answer::kCancelled) {
        FlushInput(s_);
        SendText(s_, kEot);
        s_.failureDetail = "cancelled while waiting for the " + Awaited();
        result_ = result::kCancelled;
        s_.link.transferState = TransferState::kStopped;
    } else {
        FlushInput(s_);
        CountSilentSlice();
    }
}

void Receiver::TakeHeading() {
    const HeadingReading heading = ReceiveHeader(s_);
    s_.link.linkStatus = static_cast<std::int16_t>(heading.status);
    switch (heading.status) {
        case HeadingStatus::kAccepted:
            if (Reply(kAck)) {
                ClearCounters();
                s_.link.transferState =
                    s_.recordCount < 1 ? TransferState::kClosing : TransferState::kData;
            }
            break;
        case HeadingStatus::kDamaged:
            Refuse();
            break;
        case HeadingStatus::kNothing:
            FlushInput(s_);
            CountSilentSlice();
            break;
        case HeadingStatus::kCancelled:
            FlushInput(s_);
            SendText(s_, kEot);
            s_.failureDetail = "cancelled while waiting for the " + Awaited();
            result_ = result::kCancelled;
            s_.link.transferState = TransferState::kStopped;
            break;
        case HeadingStatus::kCalling:
            // The handheld did not hear our ACK and calls again; calling is no progress, and a
            // handheld that only calls counts toward the time-out.
            FlushInput(s_);
            SendText(s_, kAck);
            CountSilentSlice();
            break;
        case HeadingStatus::kRefused:
            FlushInput(s_);
            result_ = heading.refusal;
            s_.link.linkStatus = Number(heading.refusal);
            s_.link.transferState = TransferState::kStopped;
            break;
    }
}

void Receiver::PrepareRecordWindow() {
    const bool noRecords = s_.link.transferState == TransferState::kClosing;
    view_.SetStatus(s_.programFile ? "Receiving Program " : "Receiving File ");
    view_.SetFile(s_.fileName);
    view_.SetRecords(" " + ZeroFilled(s_.recordCount, kSeqDigits));
    view_.SetRecordCount(" 00000");
    if (noRecords) {
        view_.SetProgress(100);
        view_.SetComplete("100%");
    }
    YieldToWindow(s_);
}

void Receiver::TakeRecord() {
    switch (ReceiveData(s_)) {
        case DataStatus::kAccepted: {
            // The ACK goes out before the record is written.
            if (!Reply(kAck)) {
                return;
            }
            view_.SetRecordCount(" " + s_.link.blockSeqText);
            const int percent = static_cast<int>(
                RoundedQuotient(std::int64_t{s_.link.blockSeq} * 100, s_.recordCount));
            view_.SetProgress(percent);
            view_.SetComplete(PercentText(percent));
            YieldToWindow(s_);
            const ResultCode written = WriteRecord(s_);
            if (written == result::kOk) {
                ++s_.link.blockSeq;
                ClearCounters();
                s_.link.blockSeqText = ZeroFilled(s_.link.blockSeq, kSeqDigits);
                if (s_.link.blockSeq > s_.recordCount) {
                    s_.link.transferState = TransferState::kClosing;
                }
            } else if (written == result::kCancelled) {
                Cancelled();
            } else {
                // The disk will not take more: waiting for the handheld's EOT while it goes on
                // sending would only end in a time-out that hides why.
                result_ = written;
                s_.link.transferState = TransferState::kStopped;
            }
            break;
        }
        case DataStatus::kDamaged:
            Refuse();
            break;
        case DataStatus::kNothing:
            FlushInput(s_);
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
    while (s_.link.transferState == TransferState::kClosing) {
        const Answer answer =
            WaitAnswerBHT(s_, static_cast<std::size_t>(s_.receiving.rxBlockLength));
        if (answer == Answer::kCancelled) {
            FlushInput(s_);
            SendText(s_, kEot);
            s_.failureDetail = "cancelled while waiting for the " + Awaited();
            result_ = result::kCancelled;
            s_.link.transferState = TransferState::kStopped;
        } else if (answer == Answer::kEot) {
            if (Reply(kAck)) {
                s_.link.transferState = TransferState::kCompleted;
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
    const ReadData block =
        ReadDataBlock(s_.link.inputText, static_cast<std::size_t>(s_.receiving.rxBlockLength),
                      BlockOptionsOf(s_));
    if (block.reading != BlockReading::kWhole) {
        FlushInput(s_);
        if (Reply(kNak)) {
            CountSilentSlice();
        }
        return;
    }
    const bool lastAgain = s_.seqEnabled
                               ? s_.link.blockSeq > 1 && block.number == s_.link.blockSeq - 1
                               : s_.recordCount > 0 && block.record == s_.receiving.rxRecord;
    if (lastAgain) {
        if (Reply(kAck)) {
            CountSilentSlice();
        }
        return;
    }
    FlushInput(s_);
    result_ = result::kCommRefused;
    s_.failureDetail =
        "the handheld sent more records than its heading announced (" +
        std::to_string(s_.recordCount) +
        (s_.seqEnabled ? "): the file is not taken"
                       : "), so an answer was lost and a record taken twice: turn block numbers "
                         "on (+SN) on both sides");
    s_.link.transferState = TransferState::kStopped;
}

void Receiver::End() {
    auto& file = s_.file(FileNumber::kReceive);
    // Only a file that came whole is put in place: after refusals or a failure it would lack
    // records. Dropped, it leaves the name as it was (with +APP the earlier records).
    const bool whole = s_.link.transferState == TransferState::kCompleted && result_ == result::kOk;
    if (file && whole) {
        if (const int error = file->Close(); error != 0) {
            result_ = WriteFailed(s_, file->failure(), error);
        }
    }
    s_.CloseFile(FileNumber::kReceive);
    if (whole && result_ == result::kOk) {
        s_.received.push_back(Latin1ToUtf8(s_.fileName) + ": " + std::to_string(s_.recordCount) +
                              (s_.recordCount == 1 ? " record" : " records"));
    }
    if (whole && result_ == result::kOk && !s_.programFile) {
        // The data file stays whole whatever becomes of its field file; a field file that cannot
        // be written is the run's failure all the same.
        result_ = WriteFieldFile(s_);
    }
    if (s_.link.transferState == TransferState::kStopped) {
        s_.link.linkStatus = Number(SendText(s_, kEot));
        s_.link.linkStatus = Number(SendText(s_, kAck));
    }
}

ResultCode Receiver::Run() {
    s_.currentProcedure = "ReceiveFile";
    s_.receiving.rxFileCreated = false;
    ClearCounters();
    s_.link.blockSeq = 1;
    s_.link.blockSeqText = "00001";
    s_.link.transferState = TransferState::kEstablishing;

    while (s_.link.transferState == TransferState::kEstablishing) {
        Call();
    }
    if (s_.link.transferState == TransferState::kHeading) {
        view_.SetStatus("Receive Header");
        YieldToWindow(s_);
    }
    while (s_.link.transferState == TransferState::kHeading) {
        TakeHeading();
    }
    if (s_.link.transferState == TransferState::kData ||
        (s_.link.transferState == TransferState::kClosing && result_ == result::kOk)) {
        PrepareRecordWindow();
    }
    while (s_.link.transferState == TransferState::kData) {
        TakeRecord();
    }
    view_.SetStatus("Closing Link");
    YieldToWindow(s_);
    Close();
    End();
    return result_;
}

}  // namespace

DataStatus ReceiveData(RunState& s) {
    s.currentProcedure = "ReceiveData";
    const Deadline slice(*s.host, kSliceSeconds);
    s.receiving.rxBuffer.clear();
    const auto blockLength = static_cast<std::size_t>(s.receiving.rxBlockLength);
    for (auto have = static_cast<std::size_t>(s.comm->InputCount());
         !slice.Expired() && have < blockLength;
         have = static_cast<std::size_t>(s.comm->InputCount())) {
        // Part of the block may be waiting already: wait for the rest, not for what is there.
        if (have > 0) {
            AwaitRestOfBlock(s, blockLength - have, slice.Remaining());
        } else {
            s.host->Yield(slice.Remaining());
        }
        if (s.cancelRequested) {
            return DataStatus::kCancelled;
        }
    }
    if (s.comm->InputCount() >= 1) {
        s.receiving.rxBuffer = s.comm->Input();
    }
    if (s.receiving.rxBuffer == std::string(1, chENQ)) {
        return DataStatus::kDamaged;
    }
    const ReadData block = ReadDataBlock(s.receiving.rxBuffer, blockLength, BlockOptionsOf(s));
    if (block.checkByteCompared) {
        s.currentProcedure = "BccCheck";
    }
    switch (block.reading) {
        case BlockReading::kIncomplete:
            return DataStatus::kNothing;
        case BlockReading::kDamaged:
            return DataStatus::kDamaged;
        case BlockReading::kOverlong:
            FlushInput(s);
            return DataStatus::kDamaged;
        case BlockReading::kWhole:
            break;
    }
    if (s.seqEnabled && block.digits != s.link.blockSeqText) {
        const auto expected = DecimalValue(s.link.blockSeqText);
        return block.number && expected && *block.number == *expected - 1 ? DataStatus::kRepeat
                                                                          : DataStatus::kDamaged;
    }
    s.receiving.rxRecord = std::string(block.record);
    return DataStatus::kAccepted;
}

ResultCode WriteRecord(RunState& s) {
    ResultCode status = result::kOk;
    auto& file = s.file(FileNumber::kReceive);
    // Each record goes to the disk as it comes, so a full disk shows at the record, not later.
    const int error = file ? file->Write(s.receiving.rxRecord + "\r\n") : EBADF;
    if (error != 0) {
        status = WriteFailed(s, file ? file->failure() : "no output file", error);
    }
    if (s.cancelRequested) {
        status = result::kCancelled;
    }
    return status;
}

ResultCode ReceiveFile(RunState& state) {
    return Receiver(state).Run();
}

}  // namespace quenlo
