#include "protocol/block_receiver.h"

#include <algorithm>
#include <utility>

#include "protocol/control_chars.h"
#include "protocol/fields.h"
#include "protocol/line_text.h"
#include "protocol/record_packing.h"

namespace quenlo::protocol {
namespace {

// Heading text: 17 characters for a program file, up to 19 + 2 x 16 for a data file.
constexpr std::size_t kMinHeadingText = kHeadingNameWidth + 5;
constexpr std::size_t kMaxHeadingText = kMinHeadingText + 2 + 2 * kMaxFields;

}  // namespace

BlockReceiver::BlockReceiver(BlockReceiverOptions options, FileStore& store, Time now)
    : options_(std::move(options)), store_(store), lastByteAt_(now) {}

void BlockReceiver::OnBytes(std::string_view bytes, Time now) {
    // A stall or silence that ran out before these bytes came is dealt with first.
    OnTick(now);
    dropBurst_ = false;
    for (std::size_t i = 0; i < bytes.size() && !finished() && !dropBurst_; ++i) {
        lastByteAt_ = now;
        OnByte(bytes[i], i + 1 < bytes.size());
    }
}

void BlockReceiver::OnTick(Time now) {
    if (finished()) {
        return;
    }
    if (checkByteDue_ && now >= *checkByteDue_) {
        // No check byte came: the block's NUL check was lost on the line.
        checkByteDue_.reset();
        nulMayFollow_ = true;
        if (frame_ == Frame::kHeading) {
            CheckHeading();
        } else {
            CheckData(false);
        }
    }
    if (frame_ != Frame::kNone && now - lastByteAt_ >= options_.blockStall) {
        Note("block stalled after " + std::to_string(block_.size() + 1) + " bytes -> NAK");
        frame_ = Frame::kNone;
        block_.clear();
        Answer(chNAK);
    }
    if (now - lastByteAt_ >= options_.idleTimeout) {
        Finish(Outcome::kTimeout, "nothing received for too long");
    }
}

std::optional<Time> BlockReceiver::NextDeadline() const {
    if (finished()) {
        return std::nullopt;
    }
    Time deadline = lastByteAt_ + options_.idleTimeout;
    if (frame_ != Frame::kNone) {
        deadline = std::min(deadline, lastByteAt_ + options_.blockStall);
    }
    if (checkByteDue_) {
        deadline = std::min(deadline, *checkByteDue_);
    }
    return deadline;
}

std::string BlockReceiver::Summary() const {
    return "received " + (heading_ ? heading_->name : std::string("-")) +
           " records=" + std::to_string(recordsReceived_) + "/" +
           std::to_string(heading_ ? heading_->recordCount : 0) +
           " naks=" + std::to_string(naksSent_) + " strays=" + std::to_string(strayBytes_);
}

void BlockReceiver::OnByte(char byte, bool moreInBurst) {
    switch (frame_) {
        case Frame::kNone:
            OnIdleByte(byte);
            break;
        case Frame::kHeading:
            OnHeadingByte(byte, moreInBurst);
            break;
        case Frame::kData:
            OnDataByte(byte, moreInBurst);
            break;
    }
}

// Between blocks only the start bytes and the single-byte signals have a place.
void BlockReceiver::OnIdleByte(char byte) {
    const bool nulExpected = std::exchange(nulMayFollow_, false) && byte == chNUL;
    if (phase_ == Phase::kCalling) {
        if (byte == chENQ) {
            Note("ENQ -> ACK");
            Answer(chACK);
            phase_ = Phase::kHeading;
        } else if (byte != chEOT) {  // a loader that gave up calling ends with EOT
            ++strayBytes_;
            Note("stray byte " + Printable(std::string(1, byte)) + " before the link");
        }
        return;
    }
    if (byte == chENQ) {
        if (lastAnswer_) {
            Note(std::string("ENQ -> ") + Printable(std::string(1, *lastAnswer_)) + " again");
            Answer(*lastAnswer_);
        }
    } else if (byte == chEOT) {
        OnEot();
    } else if (phase_ == Phase::kHeading && byte == chSOH) {
        frame_ = Frame::kHeading;
        block_.clear();
        headingEtxSeen_ = false;
    } else if (phase_ == Phase::kData && byte == chSTX) {
        frame_ = Frame::kData;
        block_.clear();
    } else if (!nulExpected) {
        ++strayBytes_;
        Note("stray byte " + Printable(std::string(1, byte)) + " between blocks");
    }
}

void BlockReceiver::RefuseOverlong() {
    Note("bytes right behind the block's end -> NAK");
    frame_ = Frame::kNone;
    block_.clear();
    dropBurst_ = true;
    Answer(chNAK);
}

void BlockReceiver::OnHeadingByte(char byte, bool moreInBurst) {
    block_ += byte;
    if (headingEtxSeen_) {
        // That was the check byte.
        checkByteDue_.reset();
        if (moreInBurst && options_.blocks.bcc) {
            RefuseOverlong();
        } else {
            CheckHeading();
        }
        return;
    }
    // An ETX too early to end a heading is taken as part of the text, which then fails.
    if (byte == chETX && block_.size() > kMinHeadingText) {
        headingEtxSeen_ = true;
        if (!options_.blocks.bcc) {
            if (moreInBurst) {
                RefuseOverlong();
            } else {
                CheckHeading();
            }
        } else if (!moreInBurst && Bcc(block_) == chNUL) {
            // A NUL check byte may be lost on the line: taken so if none comes soon.
            checkByteDue_ = lastByteAt_ + options_.checkByteGrace;
        }
        return;
    }
    if (block_.size() > kMaxHeadingText + 1) {
        Note("heading without ETX -> NAK");
        frame_ = Frame::kNone;
        block_.clear();
        Answer(chNAK);
    }
}

void BlockReceiver::CheckHeading() {
    frame_ = Frame::kNone;
    const std::size_t etx = block_.find(chETX, kMinHeadingText);
    const std::string_view body(block_.data(), etx + 1);
    if (options_.blocks.bcc) {
        const bool checkArrived = block_.size() == body.size() + 1;
        if (!BlockCheckHolds(body,
                             checkArrived ? std::optional<char>(block_.back()) : std::nullopt)) {
            Note("heading: bad block check -> NAK");
            Answer(chNAK);
            return;
        }
    }
    ParsedHeading parsed = ParseHeadingText(body.substr(0, etx));
    if (parsed.fault != HeadingFault::kNone ||
        SafeFileName(parsed.heading.name) != parsed.heading.name) {
        Note("heading: " +
             std::string(parsed.fault == HeadingFault::kMalformed    ? "wrong length"
                         : parsed.fault == HeadingFault::kOutOfRange ? "count out of range"
                                                                     : "unusable name") +
             " -> NAK");
        Answer(chNAK);
        return;
    }
    if (headingsRefused_ < options_.faults.nakHeading) {
        ++headingsRefused_;
        Note("heading: refused on purpose -> NAK");
        Answer(chNAK);
        return;
    }
    std::string error;
    if (!store_.Begin(parsed.heading.name, error)) {
        Note("cannot store " + parsed.heading.name + ": " + error + " -> EOT");
        Put(chEOT);
        Finish(Outcome::kFailed, error);
        return;
    }
    fileOpen_ = true;
    heading_ = std::move(parsed.heading);
    Note("heading " + heading_->name + " records=" + std::to_string(heading_->recordCount) +
         " length=" + std::to_string(RecordLength()) + " -> ACK");
    phase_ = Phase::kData;
    Answer(chACK);
}

// How many characters a record takes in its block: the heading announces the length of a filled
// line, which packing shortens.
std::size_t BlockReceiver::RecordLength() const {
    const int length = heading_->recordLength;
    return static_cast<std::size_t>(options_.packed ? PackedRecordLength(length) : length);
}

std::size_t BlockReceiver::DataBodyLength() const {
    return DataBlockLength(RecordLength(), options_.blocks) - 1 - (options_.blocks.bcc ? 1 : 0);
}

// The loader sends one block and waits for its answer, so the block's length is known from the
// heading and the block ends when that many bytes are in.
void BlockReceiver::OnDataByte(char byte, bool moreInBurst) {
    block_ += byte;
    const std::size_t body = DataBodyLength();
    if (block_.size() == body) {
        if (!options_.blocks.bcc) {
            CheckData(moreInBurst);
        } else if (!moreInBurst && block_.back() == chETX && Bcc(block_) == chNUL) {
            // A NUL check byte may be lost on the line: taken so if none comes soon.
            checkByteDue_ = lastByteAt_ + options_.checkByteGrace;
        }
    } else if (block_.size() == body + 1) {
        checkByteDue_.reset();
        CheckData(moreInBurst);
    }
}

void BlockReceiver::CheckData(bool moreInBurst) {
    if (moreInBurst) {
        RefuseOverlong();
        return;
    }
    frame_ = Frame::kNone;
    std::string why;
    switch (Classify(why)) {
        case Verdict::kBad:
            Note("block " + std::to_string(expectedBlock_) + ": " + why + " -> NAK");
            Answer(chNAK);
            return;
        case Verdict::kRepeat:
            Note("block " + std::to_string(expectedBlock_ - 1) + " again -> ACK");
            Answer(chACK);
            return;
        case Verdict::kBeyond:
            Note(why + " -> EOT");
            Put(chEOT);
            Finish(Outcome::kIncomplete, why);
            return;
        case Verdict::kNew:
            break;
    }
    const HandheldFaults& faults = options_.faults;
    const std::string label = "block " + std::to_string(expectedBlock_);
    if (faults.eotAtBlock == expectedBlock_ && !eotSent_) {
        eotSent_ = true;
        Note(label + ": -> EOT");
        Put(chEOT);
        return;
    }
    if (faults.enqBlock == expectedBlock_ && blockEnqsDone_ < faults.enqTimes) {
        ++blockEnqsDone_;
        Note(label + ": answered with ENQ on purpose");
        Put(chENQ);
        return;
    }
    if (faults.nakBlock == expectedBlock_ && blockNaksDone_ < faults.nakTimes) {
        ++blockNaksDone_;
        Note(label + ": refused on purpose -> NAK");
        Answer(chNAK);
        return;
    }
    AcceptRecord();
}

void BlockReceiver::AcceptRecord() {
    const std::size_t start = options_.blocks.seq ? kSeqDigits : 0;
    lastRecord_ = block_.substr(start, RecordLength());
    const std::string line = lastRecord_ + "\r\n";
    std::string error;
    if (!store_.Append(line, error)) {
        Note("cannot store block " + std::to_string(expectedBlock_) + ": " + error + " -> EOT");
        Put(chEOT);
        Finish(Outcome::kFailed, error);
        return;
    }
    ++recordsReceived_;
    Note("block " + std::to_string(expectedBlock_) + " -> ACK");
    ++expectedBlock_;
    Answer(chACK);
}

BlockReceiver::Verdict BlockReceiver::Classify(std::string& why) const {
    const std::size_t bodyLength = DataBodyLength();
    const std::string_view body(block_.data(), bodyLength);
    if (body.find(chETX) != bodyLength - 1) {
        why = "ETX out of place";
        return Verdict::kBad;
    }
    if (options_.blocks.bcc) {
        const bool checkArrived = block_.size() == bodyLength + 1;
        if (!BlockCheckHolds(body,
                             checkArrived ? std::optional<char>(block_.back()) : std::nullopt)) {
            why = checkArrived ? "bad block check" : "block check missing";
            return Verdict::kBad;
        }
    }
    if (!options_.blocks.seq) {
        // Without block numbers a repeat cannot be told from the next record, except after the
        // last one: then it can only be the last block again, sent because its ACK went astray;
        // any other means a record was taken twice.
        if (AllRecordsIn() && body.substr(0, RecordLength()) != lastRecord_) {
            why = "more records than announced";
            return Verdict::kBeyond;
        }
        return AllRecordsIn() ? Verdict::kRepeat : Verdict::kNew;
    }
    const auto number = DecimalValue(body.substr(0, kSeqDigits));
    if (number && *number >= 1 && *number == expectedBlock_ - 1) {
        return Verdict::kRepeat;
    }
    if (number != expectedBlock_) {
        why = "carries number " + std::string(body.substr(0, kSeqDigits));
        return Verdict::kBad;
    }
    if (AllRecordsIn()) {
        why = "no more records announced";
        return Verdict::kBad;
    }
    return Verdict::kNew;
}

void BlockReceiver::OnEot() {
    Answer(chACK);
    Finish(AllRecordsIn() ? Outcome::kOk : Outcome::kIncomplete, "EOT -> ACK");
}

void BlockReceiver::Answer(char answer) {
    lastAnswer_ = answer;
    Put(answer);
    if (answer == chNAK) {
        ++naksSent_;
    }
}

void BlockReceiver::Finish(Outcome outcome, const std::string& why) {
    phase_ = Phase::kDone;
    std::string error;
    const bool kept = CloseFile(outcome == Outcome::kOk, error);
    End(kept ? outcome : Outcome::kFailed, why + ", " + OutcomeName(outcome));
    if (!kept) {
        Note("cannot store " + heading_->name + ": " + error);
    }
}

bool BlockReceiver::CloseFile(bool keep, std::string& error) {
    if (!std::exchange(fileOpen_, false)) {
        return true;
    }
    if (!keep) {
        store_.Abandon();
        return true;
    }
    return store_.Commit(error);
}

bool BlockReceiver::AllRecordsIn() const {
    return heading_ && recordsReceived_ >= heading_->recordCount;
}

}  // namespace quenlo::protocol
