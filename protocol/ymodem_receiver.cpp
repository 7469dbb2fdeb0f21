#include "protocol/ymodem_receiver.h"

#include <algorithm>
#include <utility>

#include "protocol/control_chars.h"
#include "protocol/line_text.h"

namespace quenlo::protocol {
namespace {

// A name from the line, fit for a trace line.
std::string ShownName(std::string_view text) {
    std::string shown(text);
    for (char& c : shown) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
            c = '?';
        }
    }
    return shown;
}

}  // namespace

YmodemReceiver::YmodemReceiver(YmodemReceiverOptions options, FileStore* store, Time now)
    : options_(std::move(options)),
      store_(store),
      reader_(options_.crc ? CheckKind::kCrc16 : CheckKind::kChecksum) {
    if (options_.startLimit > Time::zero()) {
        startDeadline_ = now + options_.startLimit;
    }
    Put(Invitation());
    deadline_ = now + options_.inviteInterval;
}

void YmodemReceiver::OnBytes(std::string_view bytes, Time now) {
    if (bytes.empty()) {
        return;  // no progress: the stall limit keeps running
    }
    if (purgeUntil_) {
        // The line is not quiet yet; but a sender that never stops is asked again all the same.
        purgeUntil_ = std::min(now + options_.purgeQuiet, purgeStarted_ + options_.frameLimit);
        return;
    }
    const bool partialBefore = reader_.partial();
    bool frameEnded = false;
    std::size_t pos = 0;
    while (!finished() && !purgeUntil_) {
        const FrameReader::Event event = reader_.Next(bytes, pos);
        if (event == FrameReader::Event::kNeedMore) {
            break;
        }
        frameEnded = true;
        if (event == FrameReader::Event::kBlock) {
            OnFrame(now);
        } else if (event == FrameReader::Event::kEot) {
            OnEot(now);
        } else {
            Finish(Outcome::kAborted, "cancelled by the sender");
        }
    }
    if (!finished() && reader_.partial()) {
        stallDeadline_ = now + options_.blockStall;
        if (!partialBefore || frameEnded) {
            frameDeadline_ = now + options_.frameLimit;
        }
    }
}

void YmodemReceiver::OnFrame(Time now) {
    const ParsedBlock block =
        ParseBlock(reader_.frame(), options_.crc ? CheckKind::kCrc16 : CheckKind::kChecksum);
    if (block.status != BlockStatus::kGood) {
        Purge("block " + std::to_string(block.number) + " damaged", now);
        return;
    }
    if (phase_ == Phase::kData) {
        OnData(block.number, block.data, now);
    } else if (block.number == 0) {
        OnHeader(block.data, now);
    } else {
        Retry(chNAK, Outcome::kAborted,
              "block " + std::to_string(block.number) + " where block 0 belongs", now);
    }
}

void YmodemReceiver::Purge(const std::string& why, Time now) {
    reader_.Reset();
    purgeStarted_ = now;
    purgeUntil_ = now + options_.purgeQuiet;
    purgeWhy_ = why;
}

void YmodemReceiver::OnHeader(std::string_view data, Time now) {
    const ParsedHeader header = ParseHeader(data);
    if (header.kind == HeaderKind::kBatchEnd) {
        Answer(std::string(1, chACK), now);
        Finish(Outcome::kOk, "batch ended after " + std::to_string(filesWhole_) + " file(s)");
        return;
    }
    if (header.kind == HeaderKind::kMalformed) {
        headerRefused_ = true;
        GiveUp(Outcome::kFailed, "block 0 unreadable");
        return;
    }
    const std::optional<std::string> name = SafeFileName(header.file.name);
    if (!name) {
        headerRefused_ = true;
        GiveUp(Outcome::kFailed, "refused the name \"" + ShownName(header.file.name) + "\"");
        return;
    }
    std::string error;
    if (!store_->Begin(*name, error)) {
        GiveUp(Outcome::kFailed, "cannot store " + *name + ": " + error);
        return;
    }
    fileOpen_ = true;
    name_ = *name;
    size_ = header.file.size;
    written_ = 0;
    expected_ = 1;
    blocks_ = 0;
    eotRefused_ = false;
    retries_ = 0;
    started_ = true;
    startDeadline_.reset();
    phase_ = Phase::kData;
    Progress(now);
    Note("block 0: " + name_ + (size_ ? ", " + std::to_string(*size_) + " bytes" : ""));
    Answer(std::string{chACK, Invitation()}, now);
}

void YmodemReceiver::OnData(std::uint8_t number, std::string_view data, Time now) {
    if (number == expected_) {
        std::uint64_t take = data.size();
        if (size_) {
            take = std::min(take, *size_ - written_);
        }
        std::string error;
        if (take > 0 && !store_->Append(data.substr(0, static_cast<std::size_t>(take)), error)) {
            GiveUp(Outcome::kFailed, "cannot write " + name_ + ": " + error);
            return;
        }
        written_ += take;
        ++expected_;
        ++blocks_;
        retries_ = 0;
        Progress(now);
        eotRefused_ = false;
        Answer(std::string(1, chACK), now);
    } else if (number == static_cast<std::uint8_t>(expected_ - 1)) {
        // Our ACK was lost and the block came again; block 0 again also wants the data invitation.
        Note("block " + std::to_string(number) + " again -> ACK");
        Answer(blocks_ == 0 ? std::string{chACK, Invitation()} : std::string(1, chACK), now);
    } else {
        Retry(chNAK, Outcome::kAborted,
              "block " + std::to_string(number) + " where block " + std::to_string(expected_) +
                  " belongs",
              now);
    }
}

void YmodemReceiver::OnEot(Time now) {
    if (phase_ == Phase::kData) {
        if (!eotRefused_) {
            // A stray EOT must not end a file: only one that comes again does.
            eotRefused_ = true;
            Note("EOT -> NAK");
            Answer(std::string(1, chNAK), now);
        } else {
            EndFile(now);
        }
    } else if (phase_ == Phase::kHeader) {
        Note("EOT again -> ACK");
        Answer(std::string{chACK, Invitation()}, now);
    }
}

void YmodemReceiver::EndFile(Time now) {
    if (size_ && written_ < *size_) {
        GiveUp(Outcome::kIncomplete, "the sender ended " + name_ + " after " +
                                         std::to_string(written_) + " of " +
                                         std::to_string(*size_) + " bytes");
        return;
    }
    std::string error;
    if (!store_->Commit(error)) {
        GiveUp(Outcome::kFailed, "cannot keep " + name_ + ": " + error);
        return;
    }
    fileOpen_ = false;
    ++filesWhole_;
    phase_ = Phase::kHeader;
    retries_ = 0;
    Progress(now);
    Note(name_ + " received, " + std::to_string(written_) + " bytes");
    Answer(std::string{chACK, Invitation()}, now);
}

void YmodemReceiver::Answer(std::string_view bytes, Time now) {
    Put(bytes);
    deadline_ =
        now + (phase_ == Phase::kFirstHeader ? options_.inviteInterval : options_.blockTimeout);
}

void YmodemReceiver::Retry(char answer, Outcome whenExhausted, const std::string& why, Time now) {
    if (++retries_ > options_.retryLimit) {
        GiveUp(whenExhausted, why + ", " + std::to_string(options_.retryLimit) + " retries spent");
        return;
    }
    if (answer == chNAK) {
        ++naks_;
    }
    Note(why + (answer == chNAK ? " -> NAK" : " -> invitation"));
    Answer(std::string(1, answer), now);
}

void YmodemReceiver::OnTick(Time now) {
    if (finished()) {
        return;
    }
    // The start limit holds even while noise keeps a false block coming.
    if (phase_ == Phase::kFirstHeader && startDeadline_ && now >= *startDeadline_) {
        GiveUp(Outcome::kTimeout, "no sender came");
        return;
    }
    if (phase_ != Phase::kFirstHeader && options_.idleLimit > Time::zero() &&
        now - lastProgress_ >= options_.idleLimit) {
        if (!EndUnclosedBatch()) {
            GiveUp(Outcome::kTimeout, "nothing accepted for too long");
        }
        return;
    }
    if (purgeUntil_) {
        if (now < *purgeUntil_) {
            return;
        }
        purgeUntil_.reset();
        // Before any sender a NAK would read as a call for checksums: invite instead.
        Retry(phase_ == Phase::kFirstHeader ? Invitation() : chNAK, Outcome::kAborted, purgeWhy_,
              now);
        return;
    }
    if (reader_.partial()) {
        if (now < stallDeadline_ && now < frameDeadline_) {
            return;
        }
        reader_.Reset();
        if (phase_ == Phase::kFirstHeader) {
            // Likely noise before any sender: a NAK now would read as a call for checksums.
            Note("false start dropped -> invitation");
            Put(Invitation());
            deadline_ = now + options_.inviteInterval;
        } else if (now >= frameDeadline_) {
            Retry(chNAK, Outcome::kTimeout, "block too slow", now);
        } else {
            Retry(chNAK, Outcome::kTimeout, "block stalled", now);
        }
        return;
    }
    if (now < deadline_) {
        return;
    }
    if (phase_ == Phase::kFirstHeader) {
        Put(Invitation());
        deadline_ = now + options_.inviteInterval;
        return;
    }
    // Until the first data block the sender waits for an invitation, after it for a NAK.
    const bool invite = phase_ == Phase::kHeader || (blocks_ == 0 && !eotRefused_);
    if (phase_ == Phase::kHeader && retries_ >= options_.retryLimit && EndUnclosedBatch()) {
        return;
    }
    Retry(invite ? Invitation() : chNAK, Outcome::kTimeout, "nothing came", now);
}

bool YmodemReceiver::EndUnclosedBatch() {
    if (phase_ != Phase::kHeader || filesWhole_ == 0) {
        return false;
    }
    batchUnclosed_ = true;
    Finish(Outcome::kOk,
           "the sender never ended its batch; " + std::to_string(filesWhole_) + " file(s) whole");
    return true;
}

std::optional<Time> YmodemReceiver::NextDeadline() const {
    if (finished()) {
        return std::nullopt;
    }
    Time due = purgeUntil_         ? *purgeUntil_
               : reader_.partial() ? std::min(stallDeadline_, frameDeadline_)
                                   : deadline_;
    if (phase_ != Phase::kFirstHeader && options_.idleLimit > Time::zero()) {
        due = std::min(due, lastProgress_ + options_.idleLimit);
    }
    if (startDeadline_ && phase_ == Phase::kFirstHeader) {
        return std::min(due, *startDeadline_);
    }
    return due;
}

std::string YmodemReceiver::Summary() const {
    return (name_.empty() ? std::string("-") : name_) + " bytes=" + std::to_string(written_) + "/" +
           std::to_string(fileSize()) + " files=" + std::to_string(filesWhole_) +
           " naks=" + std::to_string(naks_);
}

void YmodemReceiver::Abort(Time) {
    if (!finished()) {
        GiveUp(Outcome::kAborted, "aborted");
    }
}

void YmodemReceiver::GiveUp(Outcome outcome, const std::string& why) {
    Put(kCancelSequence);
    Finish(outcome, why);
}

void YmodemReceiver::Finish(Outcome outcome, const std::string& why) {
    if (fileOpen_) {
        store_->Abandon();
        fileOpen_ = false;
    }
    phase_ = Phase::kDone;
    reader_.Reset();
    End(outcome, why);
}

}  // namespace quenlo::protocol
