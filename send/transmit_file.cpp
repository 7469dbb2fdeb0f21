#include "send/transmit_file.h"

#include <string>

#include "base/number_text.h"
#include "base/text.h"
#include "base/transfer_view.h"
#include "files/file_open.h"
#include "link/link_control.h"
#include "link/reasons.h"
#include "protocol/control_chars.h"
#include "send/heading_block.h"
#include "send/record_reader.h"

namespace quenlo {

namespace {

const std::string kEnq(1, chENQ);
const std::string kEot(1, chEOT);

class Sender {
  public:
    explicit Sender(RunState& state) : s_(state), view_(*state.view) {}

    ResultCode Run();

  private:
    // The rules every state applies to an answer other than ACK. ACK is the caller's.
    void ApplyCommonRules(Answer reply);
    // The next transmission repeats the heading or block, rather than asking for the answer
    // again: linkStatus holds 0 or 1, an ACK or NAK answer or a transmission that went out.
    bool RepeatsTransmission() const {
        return s_.link.linkStatus == Raw(Answer::kAck) || s_.link.linkStatus == Raw(Answer::kNak);
    }
    // Records the answer in linkStatus, and hands it on.
    Answer Wait() {
        const Answer answer = WaitAnswerBHT(s_);
        s_.link.linkStatus = Raw(answer);
        return answer;
    }
    // Sends text and records the result in linkStatus; false when a line error ended the
    // transfer at once.
    bool Transmit(const std::string& text);
    std::string Unit() const;
    void ClearCounters() {
        s_.timerTicks = 0;
        txRetries_ = 0;
    }
    void Establish();
    // false when a line error stopped the transfer at once.
    bool SendHeading();
    bool SendRecord();
    void PrepareRecordWindow();
    void Close();
    void YieldOnce() { YieldToWindow(s_); }

    RunState& s_;
    TransferView& view_;
    ResultCode result_ = result::kOk;
    std::int16_t txRetries_ = 0;        // NAKs since the last block went through
    Answer lastAnswer_ = Answer::kAck;  // the first record cycle reads ahead
};

// What was in flight, for the reasons: the call, the heading, or the data block.
std::string Sender::Unit() const {
    switch (s_.link.transferState) {
        case TransferState::kEstablishing:
            return "the call";
        case TransferState::kHeading:
            return "the heading";
        default:
            return "block " + std::to_string(s_.link.blockSeq - 1);
    }
}

void Sender::ApplyCommonRules(Answer reply) {
    switch (reply) {
        case Answer::kNak:
            if (++txRetries_ >= kMaxNaks) {
                s_.failureDetail = "the handheld refused " + Unit() +
                                   " ten times: check the block check and block number settings "
                                   "(" +
                                   BlockOptionsText(s_) +
                                   " here) against the handheld's, or the file";
                result_ = result::kCommRefused;
                s_.link.transferState = TransferState::kClosing;
            }
            break;
        case Answer::kCancelled:
            s_.failureDetail = "cancelled during " + Unit();
            result_ = result::kCancelled;
            s_.link.transferState = TransferState::kStopped;
            break;
        case Answer::kEot:
            s_.failureDetail = "the handheld ended the transfer at " + Unit();
            result_ = result::kCommEndedByPeer;
            s_.link.transferState = TransferState::kClosing;
            break;
        case Answer::kSilent:
        case Answer::kEnq:
            // An ENQ asks for our answer again, and the next cycle gives it; but a handheld that
            // does nothing else makes no progress either, and counts toward the time-out as
            // silence does.
            if (const ResultCode lost = LineError(s_); lost != result::kOk) {
                result_ = lost;
                s_.link.transferState = TransferState::kStopped;
            } else if (++s_.timerTicks >= s_.timeoutCount) {
                s_.failureDetail =
                    (reply == Answer::kEnq
                         ? "the handheld only asked for answers again (ENQ) at " + Unit()
                         : "no answer from the handheld to " + Unit() + " within " +
                               TimeoutText(s_) + ": " +
                               SameSpeedQuestion(s_, "waiting to receive")) +
                    (s_.link.inputText.find(chCRC) != std::string::npos
                         ? " It asks for YMODEM ('C'): send a PD4, FN4 or CAB file, or add +YMOD."
                         : "");
                SendText(s_, kEot);
                result_ = result::kCommTimeout;
                s_.link.transferState = TransferState::kStopped;
            }
            break;
        default:
            break;
    }
}

void Sender::Establish() {
    SendText(s_, kEnq);
    if (const Answer answer = Wait(); answer != Answer::kAck) {
        ApplyCommonRules(answer);
        return;
    }
    SetHeader(s_);
    ClearCounters();
    s_.link.transferState = TransferState::kHeading;
    view_.SetAboutEnabled(false);
    view_.SetStatus("Sending Header");
    view_.SetFile(s_.fileName);
    YieldOnce();
}

bool Sender::Transmit(const std::string& text) {
    const ResultCode sent = SendText(s_, text);
    s_.link.linkStatus = Number(sent);
    if (StopsSending(sent)) {
        result_ = sent;
        s_.link.transferState = TransferState::kStopped;
        return false;
    }
    return true;
}

bool Sender::SendHeading() {
    if (!Transmit(RepeatsTransmission() ? s_.sending.headerBlock : kEnq)) {
        return false;
    }
    if (const Answer answer = Wait(); answer != Answer::kAck) {
        ApplyCommonRules(answer);
        return true;
    }
    ClearCounters();
    if (s_.recordCount <= 0) {
        s_.link.transferState = TransferState::kClosing;
        result_ = result::kOk;
    } else {
        s_.link.transferState = TransferState::kData;
        s_.sending.currentBlock = GetNextRecord(s_);
        ++s_.link.blockSeq;
    }
    PrepareRecordWindow();
    return true;
}

void Sender::PrepareRecordWindow() {
    const bool noRecords = s_.link.transferState == TransferState::kClosing;
    view_.SetStatus(s_.programFile ? "Sending Program " : "Sending File ");
    view_.SetFile(s_.fileName);
    view_.SetRecords(" " + ZeroFilled(s_.recordCount, 5));
    view_.SetRecordCount(" 00000");
    view_.SetProgress(noRecords ? 100 : 0);
    view_.SetComplete(noRecords ? "100%" : " 0%");
    YieldOnce();
}

bool Sender::SendRecord() {
    // The answer is not kept in linkStatus here: after a normal transmission it holds 0, so the
    // same block goes again after a NAK, an ENQ or silence.
    if (!Transmit(RepeatsTransmission() ? s_.sending.currentBlock : kEnq)) {
        return false;
    }
    if (s_.link.blockSeq <= s_.recordCount && lastAnswer_ == Answer::kAck) {
        s_.sending.nextRecord = GetNextRecord(s_);
    }
    lastAnswer_ = WaitAnswerBHT(s_);
    if (lastAnswer_ != Answer::kAck) {
        ApplyCommonRules(lastAnswer_);
        return true;
    }
    ClearCounters();
    view_.SetRecordCount(" " + s_.link.blockSeqText);
    const int percent =
        static_cast<int>(RoundedQuotient(std::int64_t{s_.link.blockSeq - 1} * 100, s_.recordCount));
    view_.SetProgress(percent);
    view_.SetComplete(PercentText(percent));
    if (s_.link.blockSeq > s_.recordCount) {
        s_.link.transferState = TransferState::kClosing;
    } else {
        s_.sending.currentBlock = s_.sending.nextRecord;
        ++s_.link.blockSeq;
    }
    return true;
}

void Sender::Close() {
    s_.timerTicks = 0;
    view_.SetStatus("Closing Link");
    YieldOnce();
    while (s_.link.transferState == TransferState::kClosing) {
        SendText(s_, kEot);
        const Answer answer = Wait();
        if (answer == Answer::kAck) {
            s_.link.transferState = TransferState::kCompleted;
        } else if (answer == Answer::kCancelled) {
            result_ = result::kCancelled;
            s_.link.transferState = TransferState::kStopped;
        } else if (const ResultCode lost = LineError(s_); lost != result::kOk) {
            result_ = lost;
            s_.link.transferState = TransferState::kStopped;
        } else if (++s_.timerTicks >= s_.timeoutCount) {
            s_.failureDetail = "the handheld did not acknowledge the end (EOT) within " +
                               TimeoutText(s_) + "; it may have the whole file all the same";
            result_ = result::kCommTimeout;
            s_.link.transferState = TransferState::kStopped;
        }
    }
}

ResultCode Sender::Run() {
    s_.currentProcedure = "Transmit File";
    const ResultCode opened = OpenFile(s_, s_.filePath, s_.fileName, FileNumber::kSend, "I");
    if (opened != result::kOk) {
        return opened;
    }
    ClearCounters();
    s_.link.blockSeq = 1;
    s_.link.blockSeqText = "00000";
    s_.link.transferState = TransferState::kEstablishing;
    s_.sending.linesCut = 0;

    bool lineError = false;
    while (!lineError && s_.link.transferState >= TransferState::kEstablishing &&
           s_.link.transferState <= TransferState::kData) {
        switch (s_.link.transferState) {
            case TransferState::kEstablishing:
                Establish();
                break;
            case TransferState::kHeading:
                lineError = !SendHeading();
                break;
            default:
                lineError = !SendRecord();
                break;
        }
    }
    // A line error stops at once: no closing exchange, nothing more shown.
    if (!lineError) {
        Close();
    }
    s_.CloseFile(FileNumber::kSend);
    if (s_.sending.linesCut > 0) {
        s_.notes.push_back(std::to_string(s_.sending.linesCut) +
                           (s_.sending.linesCut == 1 ? " line" : " lines") + " longer than " +
                           std::to_string(s_.recordLength) + " characters " +
                           (s_.sending.linesCut == 1 ? "was" : "were") + " cut");
    }
    return result_;
}

}  // namespace

ResultCode TransmitFile(RunState& state) {
    return Sender(state).Run();
}

}  // namespace quenlo
