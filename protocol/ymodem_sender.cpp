#include "protocol/ymodem_sender.h"

#include <algorithm>
#include <utility>

#include "protocol/control_chars.h"

namespace quenlo::protocol {
namespace {

bool Invitation(char byte) {
    return byte == chCRC || byte == chNAK || byte == chStreaming;
}

std::string BareName(const std::string& name) {
    const std::size_t slash = name.find_last_of("/\\");
    return slash == std::string::npos ? name : name.substr(slash + 1);
}

}  // namespace

YmodemSender::YmodemSender(YmodemSenderOptions options, FileSource* source, Time now)
    : options_(std::move(options)),
      source_(source),
      name_(BareName(source->Name())),
      size_(source->Size()) {
    if (options_.startLimit > Time::zero()) {
        startDeadline_ = now + options_.startLimit;
    }
    if (EncodeHeader({name_, size_, options_.modificationTime, options_.mode}).empty()) {
        Finish(Outcome::kFailed, "the name \"" + name_ + "\" does not fit block 0");
    }
}

void YmodemSender::OnBytes(std::string_view bytes, Time now) {
    for (const char byte : bytes) {
        if (finished()) {
            return;
        }
        OnByte(byte, now);
    }
}

void YmodemSender::OnByte(char byte, Time now) {
    if (byte == chCAN) {
        if (++cans_ >= 2) {
            Finish(Outcome::kAborted, "cancelled by the receiver");
        }
        return;
    }
    cans_ = 0;
    switch (phase_) {
        case Phase::kInvite:
            if (Invitation(byte)) {
                Invited(byte, now);
            }
            break;
        case Phase::kDataInvite:
            if (Invitation(byte)) {
                StartData(now);
            }
            break;
        case Phase::kEndInvite:
            if (Invitation(byte)) {
                Send(EncodeBlock(0, EncodeBatchEnd(), kShortBlock, check_, chNUL), Phase::kEndAck,
                     now);
            }
            break;
        case Phase::kHeaderAck:
        case Phase::kBlockAck:
        case Phase::kEotAck:
        case Phase::kEndAck:
            OnAnswer(byte, now);
            break;
        case Phase::kDone:
            break;
    }
}

void YmodemSender::OnAnswer(char byte, Time now) {
    switch (phase_) {
        case Phase::kHeaderAck:
            if (byte == chACK) {
                AwaitInvitation(Phase::kDataInvite, now);
            } else if (byte == chNAK) {
                ++naks_;
                Resend(now, Outcome::kAborted, "block 0 refused");
            } else if (byte == chStreaming && streaming_) {
                // A streaming receiver may ask for the data without acknowledging block 0.
                StartData(now);
            }
            break;
        case Phase::kBlockAck:
            if (byte == chACK) {
                acked_ += inFrame_;
                ++number_;
                lastProgress_ = now;
                SendNext(now);
            } else if (byte == chNAK) {
                ++naks_;
                Resend(now, Outcome::kAborted, "block " + std::to_string(number_) + " refused");
            }
            break;
        case Phase::kEotAck:
            if (byte == chACK) {
                acked_ = size_;
                AwaitInvitation(Phase::kEndInvite, now);
                Note("EOT acknowledged: " + name_ + " sent");
            } else if (byte == chNAK) {
                // Many receivers refuse the first EOT to make sure it was no line noise.
                Resend(now, Outcome::kAborted, "EOT answered with NAK");
            }
            break;
        case Phase::kEndAck:
            if (byte == chACK) {
                Finish(Outcome::kOk, "batch ended");
            } else if (byte == chNAK) {
                Resend(now, Outcome::kAborted, "end of batch refused");
            }
            break;
        case Phase::kInvite:
        case Phase::kDataInvite:
        case Phase::kEndInvite:
        case Phase::kDone:
            break;
    }
}

void YmodemSender::AwaitInvitation(Phase phase, Time now) {
    phase_ = phase;
    retries_ = 0;
    lastProgress_ = now;
    deadline_ = now + options_.answerTimeout;
}

void YmodemSender::Invited(char byte, Time now) {
    check_ = byte == chNAK ? CheckKind::kChecksum : CheckKind::kCrc16;
    streaming_ = byte == chStreaming;
    Note(std::string("receiver asks for ") + (streaming_      ? "streaming"
                                              : byte == chNAK ? "checksums"
                                                              : "CRC-16"));
    SendHeader(now);
}

void YmodemSender::SendHeader(Time now) {
    const std::string data = EncodeHeader({name_, size_, options_.modificationTime, options_.mode});
    started_ = true;
    startDeadline_.reset();
    lastProgress_ = now;
    Note("block 0: " + name_ + ", " + std::to_string(size_) + " bytes");
    Send(EncodeBlock(0, data, data.size(), check_, chNUL), Phase::kHeaderAck, now);
}

void YmodemSender::StartData(Time now) {
    if (streaming_) {
        Stream(now);
    } else {
        SendNext(now);
    }
}

bool YmodemSender::FrameNext(std::uint64_t offset, std::uint8_t number, std::string& frame,
                             std::uint64_t& length) {
    const std::uint64_t remaining = size_ - offset;
    // Past seven 128-byte blocks one 1024-byte block is the shorter way.
    const bool longBlock =
        check_ == CheckKind::kCrc16 && options_.longBlocks && remaining > 7 * kShortBlock;
    const std::size_t blockSize = longBlock ? kLongBlock : kShortBlock;
    length = std::min<std::uint64_t>(remaining, blockSize);
    std::string data;
    std::string error;
    if (!source_->Read(offset, static_cast<std::size_t>(length), data, error)) {
        GiveUp(Outcome::kFailed, "cannot read " + name_ + ": " + error);
        return false;
    }
    if (data.size() != length) {
        GiveUp(Outcome::kFailed, name_ + " is shorter than its size");
        return false;
    }
    frame = EncodeBlock(number, data, blockSize, check_);
    return true;
}

void YmodemSender::SendNext(Time now) {
    if (acked_ >= size_) {
        SendEot(now);
        return;
    }
    std::string frame;
    std::uint64_t length = 0;
    if (FrameNext(acked_, number_, frame, length)) {
        inFrame_ = length;
        Send(std::move(frame), Phase::kBlockAck, now);
    }
}

void YmodemSender::Stream(Time now) {
    std::uint64_t offset = 0;
    std::uint8_t number = 1;
    std::string frame;
    std::size_t queued = 0;
    while (offset < size_) {
        std::uint64_t length = 0;
        if (!FrameNext(offset, number++, frame, length)) {
            return;
        }
        Put(frame);
        queued += frame.size();
        offset += length;
    }
    SendEot(now);
    if (options_.streamDrainRate > 0) {
        deadline_ += Time(static_cast<Time::rep>(queued * 1'000'000ull / options_.streamDrainRate));
    }
}

void YmodemSender::SendEot(Time now) {
    Send(std::string(1, chEOT), Phase::kEotAck, now);
}

void YmodemSender::Send(std::string frame, Phase phase, Time now) {
    frame_ = std::move(frame);
    Put(frame_);
    phase_ = phase;
    retries_ = 0;
    deadline_ = now + options_.answerTimeout;
}

void YmodemSender::Resend(Time now, Outcome whenExhausted, const std::string& why) {
    if (++retries_ > options_.retryLimit) {
        if (!EndUnclosedBatch()) {
            GiveUp(whenExhausted,
                   why + ", " + std::to_string(options_.retryLimit) + " retries spent");
        }
        return;
    }
    Note(why + ", sent again");
    Put(frame_);
    deadline_ = now + options_.answerTimeout;
}

bool YmodemSender::EndUnclosedBatch() {
    if (phase_ != Phase::kEndInvite && phase_ != Phase::kEndAck) {
        return false;
    }
    batchUnclosed_ = true;
    Finish(Outcome::kOk, "the receiver never took the batch's end; " + name_ + " went whole");
    return true;
}

void YmodemSender::OnTick(Time now) {
    if (finished()) {
        return;
    }
    if (phase_ == Phase::kInvite) {
        if (startDeadline_ && now >= *startDeadline_) {
            GiveUp(Outcome::kTimeout, "no receiver asked for the file");
        }
        return;
    }
    if (options_.idleLimit > Time::zero() && now - lastProgress_ >= options_.idleLimit) {
        if (!EndUnclosedBatch()) {
            GiveUp(Outcome::kTimeout, "nothing acknowledged for too long");
        }
        return;
    }
    if (now < deadline_) {
        return;
    }
    if (phase_ == Phase::kDataInvite || phase_ == Phase::kEndInvite) {
        // Nothing to repeat: the receiver invites again on its own time-out.
        if (++retries_ > options_.retryLimit) {
            if (!EndUnclosedBatch()) {
                GiveUp(Outcome::kTimeout, "the receiver stopped asking");
            }
        } else {
            deadline_ = now + options_.answerTimeout;
        }
        return;
    }
    Resend(now, Outcome::kTimeout, "no answer");
}

std::optional<Time> YmodemSender::NextDeadline() const {
    if (finished()) {
        return std::nullopt;
    }
    if (phase_ == Phase::kInvite) {
        return startDeadline_;
    }
    if (options_.idleLimit > Time::zero()) {
        return std::min(deadline_, lastProgress_ + options_.idleLimit);
    }
    return deadline_;
}

std::string YmodemSender::Summary() const {
    return name_ + " bytes=" + std::to_string(acked_) + "/" + std::to_string(size_) +
           " naks=" + std::to_string(naks_);
}

void YmodemSender::Abort(Time) {
    if (!finished()) {
        GiveUp(Outcome::kAborted, "aborted");
    }
}

void YmodemSender::GiveUp(Outcome outcome, const std::string& why) {
    Put(kCancelSequence);
    Finish(outcome, why);
}

void YmodemSender::Finish(Outcome outcome, const std::string& why) {
    phase_ = Phase::kDone;
    End(outcome, why);
}

}  // namespace quenlo::protocol
