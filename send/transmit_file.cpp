#include "send/transmit_file.h"

#include <string>

#include "base/number_text.h"
#include "base/text.h"
#include "base/transfer_view.h"
#include "files/file_open.h"
#include "link/link_control.h"
#include "link/reasons.h"
#include "protocol/control_chars.h"
#include "protocol/fields.h"
#include "send/heading_block.h"
#include "send/record_reader.h"

namespace quenlo {

namespace {

const std::string kEnq(1, chENQ);
const std::string kEot(1, chEOT);

class Sender {
  public:
    explicit Sender(RunState& state) : state_(state), view_(*state.view) {}

    ResultCode Run();

  private:
    // The rules every state applies to an answer other than ACK. ACK is the caller's.
    void ApplyCommonRules(Answer reply);
    // The next transmission repeats the heading or block, rather than asking for the answer
    // again: linkStatus holds 0 or 1, an ACK or NAK answer or a transmission that went out.
    bool RepeatsTransmission() const {
        return state_.link.linkStatus == Raw(Answer::kAck) ||
               state_.link.linkStatus == Raw(Answer::kNak);
    }
    // Records the answer in linkStatus, and hands it on.
    Answer Wait() {
        const Answer answer = WaitAnswerBHT(state_);
        state_.link.linkStatus = Raw(answer);
        return answer;
    }
    // Sends text and records the result in linkStatus; false when a line error ended the
    // transfer at once.
    bool Transmit(const std::string& text);
    std::string Unit() const;
    void ClearCounters() {
        state_.timerTicks = 0;
        txRetries_ = 0;
    }
    void Establish();
    // false when a line error stopped the transfer at once.
    bool SendHeading();
    bool SendRecord();
    void PrepareRecordWindow();
    void Close();
    void YieldOnce() { YieldToWindow(state_); }

    RunState& state_;
    TransferView& view_;
    ResultCode result_ = result::kOk;
    std::int16_t txRetries_ = 0;        // NAKs since the last block went through
    Answer lastAnswer_ = Answer::kAck;  // the first record cycle reads ahead
};

// What was in flight, for the reasons: the call, the heading, or the data block.
std::string Sender::Unit() const {
    switch (state_.link.transferState) {
        case TransferState::kEstablishing:
            return "the call";
        case TransferState::kHeading:
            return "the heading";
        default:
            return "block " + std::to_string(state_.link.blockSeq - 1);
    }
}

void Sender::ApplyCommonRules(Answer reply) {
    switch (reply) {
        case Answer::kNak:
            if (++txRetries_ >= kMaxNaks) {
                state_.failureDetail =
                    "the handheld refused " + Unit() +
                    " ten times: check the block check and block number settings "
                    "(" +
                    BlockOptionsText(state_) + " here) against the handheld's, or the file";
                result_ = result::kCommRefused;
                state_.link.transferState = TransferState::kClosing;
            }
            break;
        case Answer::kCancelled:
            state_.failureDetail = "cancelled during " + Unit();
            result_ = result::kCancelled;
            state_.link.transferState = TransferState::kStopped;
            break;
        case Answer::kEot:
            state_.failureDetail = "the handheld ended the transfer at " + Unit();
            result_ = result::kCommEndedByPeer;
            state_.link.transferState = TransferState::kClosing;
            break;
        case Answer::kSilent:
        case Answer::kEnq:
            // An ENQ asks for our answer again, and the next cycle gives it; but a handheld that
            // does nothing else makes no progress either, and counts toward the time-out as
            // silence does.
            if (const ResultCode lost = LineError(state_); lost != result::kOk) {
                result_ = lost;
                state_.link.transferState = TransferState::kStopped;
            } else if (++state_.timerTicks >= state_.timeoutCount) {
                state_.failureDetail =
                    (reply == Answer::kEnq
                         ? "the handheld only asked for answers again (ENQ) at " + Unit()
                         : "no answer from the handheld to " + Unit() + " within " +
                               TimeoutText(state_) + ": " +
                               SameSpeedQuestion(state_, "waiting to receive")) +
                    (state_.link.inputText.find(chCRC) != std::string::npos
                         ? " It asks for YMODEM ('C'): send a PD4, FN4 or CAB file, or add +YMOD."
                         : "");
                SendText(state_, kEot);
                result_ = result::kCommTimeout;
                state_.link.transferState = TransferState::kStopped;
            }
            break;
        default:
            break;
    }
}

void Sender::Establish() {
    SendText(state_, kEnq);
    if (const Answer answer = Wait(); answer != Answer::kAck) {
        ApplyCommonRules(answer);
        return;
    }
    SetHeader(state_);
    ClearCounters();
    state_.link.transferState = TransferState::kHeading;
    view_.SetAboutEnabled(false);
    view_.SetStatus("Sending Header");
    view_.SetFile(state_.fileName);
    YieldOnce();
}

bool Sender::Transmit(const std::string& text) {
    const ResultCode sent = SendText(state_, text);
    state_.link.linkStatus = Number(sent);
    if (StopsSending(sent)) {
        result_ = sent;
        state_.link.transferState = TransferState::kStopped;
        return false;
    }
    return true;
}

bool Sender::SendHeading() {
    if (!Transmit(RepeatsTransmission() ? state_.sending.headerBlock : kEnq)) {
        return false;
    }
    if (const Answer answer = Wait(); answer != Answer::kAck) {
        ApplyCommonRules(answer);
        return true;
    }
    ClearCounters();
    if (state_.recordCount <= 0) {
        state_.link.transferState = TransferState::kClosing;
        result_ = result::kOk;
    } else {
        state_.link.transferState = TransferState::kData;
        state_.sending.currentBlock = GetNextRecord(state_);
        ++state_.link.blockSeq;
    }
    PrepareRecordWindow();
    return true;
}

void Sender::PrepareRecordWindow() {
    const bool noRecords = state_.link.transferState == TransferState::kClosing;
    view_.SetStatus(state_.programFile ? "Sending Program " : "Sending File ");
    view_.SetFile(state_.fileName);
    view_.SetRecords(CountText(state_.recordCount));
    view_.SetRecordCount(" 00000");
    view_.SetProgress(noRecords ? 100 : 0);
    view_.SetComplete(noRecords ? "100%" : " 0%");
    YieldOnce();
}

bool Sender::SendRecord() {
    // The answer is not kept in linkStatus here: after a normal transmission it holds 0, so the
    // same block goes again after a NAK, an ENQ or silence.
    if (!Transmit(RepeatsTransmission() ? state_.sending.currentBlock : kEnq)) {
        return false;
    }
    if (state_.link.blockSeq <= state_.recordCount && lastAnswer_ == Answer::kAck) {
        state_.sending.nextRecord = GetNextRecord(state_);
    }
    lastAnswer_ = WaitAnswerBHT(state_);
    if (lastAnswer_ != Answer::kAck) {
        ApplyCommonRules(lastAnswer_);
        return true;
    }
    ClearCounters();
    view_.SetRecordCount(" " + state_.link.blockSeqText);
    const int percent = static_cast<int>(
        RoundedQuotient(std::int64_t{state_.link.blockSeq - 1} * 100, state_.recordCount));
    view_.SetProgress(percent);
    view_.SetComplete(PercentText(percent));
    if (state_.link.blockSeq > state_.recordCount) {
        state_.link.transferState = TransferState::kClosing;
    } else {
        state_.sending.currentBlock = state_.sending.nextRecord;
        ++state_.link.blockSeq;
    }
    return true;
}

void Sender::Close() {
    state_.timerTicks = 0;
    view_.SetStatus("Closing Link");
    YieldOnce();
    while (state_.link.transferState == TransferState::kClosing) {
        SendText(state_, kEot);
        const Answer answer = Wait();
        if (answer == Answer::kAck) {
            state_.link.transferState = TransferState::kCompleted;
        } else if (answer == Answer::kCancelled) {
            result_ = result::kCancelled;
            state_.link.transferState = TransferState::kStopped;
        } else if (const ResultCode lost = LineError(state_); lost != result::kOk) {
            result_ = lost;
            state_.link.transferState = TransferState::kStopped;
        } else if (++state_.timerTicks >= state_.timeoutCount) {
            state_.failureDetail = "the handheld did not acknowledge the end (EOT) within " +
                                   TimeoutText(state_) +
                                   "; it may have the whole file all the same";
            result_ = result::kCommTimeout;
            state_.link.transferState = TransferState::kStopped;
        }
    }
}

ResultCode Sender::Run() {
    state_.currentProcedure = "Transmit File";
    const ResultCode opened =
        OpenFile(state_, state_.filePath, state_.fileName, FileNumber::kSend, "I");
    if (opened != result::kOk) {
        return opened;
    }
    ClearCounters();
    state_.link.blockSeq = 1;
    state_.link.blockSeqText = "00000";
    state_.link.transferState = TransferState::kEstablishing;
    state_.sending.linesCut = 0;

    bool lineError = false;
    while (!lineError && state_.link.transferState >= TransferState::kEstablishing &&
           state_.link.transferState <= TransferState::kData) {
        switch (state_.link.transferState) {
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
    state_.CloseFile(FileNumber::kSend);
    if (state_.sending.linesCut > 0) {
        state_.notes.push_back(std::to_string(state_.sending.linesCut) +
                               (state_.sending.linesCut == 1 ? " line" : " lines") +
                               " longer than " + std::to_string(state_.recordLength) +
                               " characters " + (state_.sending.linesCut == 1 ? "was" : "were") +
                               " cut");
    }
    return result_;
}

}  // namespace

ResultCode TransmitFile(RunState& state) {
    return Sender(state).Run();
}

}  // namespace quenlo
