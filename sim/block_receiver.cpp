#include "sim/block_receiver.h"

#include <algorithm>
#include <utility>

#include "sim/wire.h"

namespace quenlo::sim {
namespace {

constexpr std::size_t kSeqDigits = 5;
// Heading text: 17 characters for a program file, up to 19 + 2 x 16 for a data file.
constexpr std::size_t kMinHeadingText = 17;
constexpr std::size_t kMaxHeadingText = 19 + 2 * 16;

}  // namespace

const char* OutcomeName(Outcome outcome) {
    switch (outcome) {
        case Outcome::kRunning:
            return "running";
        case Outcome::kOk:
            return "ok";
        case Outcome::kIncomplete:
            return "incomplete";
        case Outcome::kTimeout:
            return "timeout";
        case Outcome::kVanished:
            return "vanished";
    }
    return "?";
}

BlockReceiver::BlockReceiver(ReceiverOptions options, TimeUs now)
    : options_(std::move(options)), lastByteAt_(now), noise_(options_.faults.seed) {}

void BlockReceiver::OnBytes(std::string_view bytes, TimeUs now) {
    // A stall or silence that ran out before these bytes came is dealt with first.
    OnTick(now);
    for (const char byte : bytes) {
        if (finished()) {
            return;
        }
        lastByteAt_ = now;
        OnByte(byte);
    }
}

void BlockReceiver::OnTick(TimeUs now) {
    if (finished()) {
        return;
    }
    if (frame_ != Frame::kNone && now - lastByteAt_ >= options_.blockStallUs) {
        Note("block stalled after " + std::to_string(block_.size() + 1) + " bytes -> NAK");
        frame_ = Frame::kNone;
        block_.clear();
        Answer(chNAK);
    }
    if (now - lastByteAt_ >= options_.idleTimeoutUs) {
        Note("nothing received for too long");
        outcome_ = Outcome::kTimeout;
    }
}

std::optional<TimeUs> BlockReceiver::NextDeadline() const {
    if (finished()) {
        return std::nullopt;
    }
    TimeUs deadline = lastByteAt_ + options_.idleTimeoutUs;
    if (frame_ != Frame::kNone) {
        deadline = std::min(deadline, lastByteAt_ + options_.blockStallUs);
    }
    return deadline;
}

std::string BlockReceiver::TakeOutput() {
    return std::exchange(output_, {});
}

std::vector<std::string> BlockReceiver::TakeRecords() {
    return std::exchange(records_, {});
}

std::vector<std::string> BlockReceiver::TakeNotes() {
    return std::exchange(notes_, {});
}

void BlockReceiver::OnByte(char byte) {
    switch (frame_) {
        case Frame::kNone:
            OnIdleByte(byte);
            break;
        case Frame::kHeading:
            OnHeadingByte(byte);
            break;
        case Frame::kData:
            OnDataByte(byte);
            break;
    }
}

// Between blocks only the start bytes and the single-byte signals mean anything; the rest is
// line noise (or a NUL block check that stayed behind) and is skipped.
void BlockReceiver::OnIdleByte(char byte) {
    if (phase_ == Phase::kCalling) {
        if (byte == chENQ) {
            Note("ENQ -> ACK");
            Answer(chACK);
            phase_ = Phase::kHeading;
        }
        return;
    }
    if (byte == chENQ) {
        RepeatLastAnswer();
    } else if (byte == chEOT) {
        OnEot();
    } else if (phase_ == Phase::kHeading && byte == chSOH) {
        frame_ = Frame::kHeading;
        block_.clear();
        headingEtxSeen_ = false;
    } else if (phase_ == Phase::kData && byte == chSTX) {
        frame_ = Frame::kData;
        block_.clear();
    }
}

void BlockReceiver::OnHeadingByte(char byte) {
    block_ += byte;
    if (headingEtxSeen_) {
        CheckHeading();  // that was the block check byte
        return;
    }
    // An ETX too early to end a heading is taken as part of the text, which then fails.
    if (byte == chETX && block_.size() > kMinHeadingText) {
        headingEtxSeen_ = true;
        // A block whose check comes out NUL may arrive without it; a NUL that follows anyway is
        // skipped as noise.
        if (!options_.bcc || Bcc(block_) == 0) {
            CheckHeading();
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
    if (options_.bcc) {
        const bool checkArrived = block_.size() == body.size() + 1;
        const char expected = checkArrived ? block_.back() : '\0';
        if (Bcc(body) != expected) {
            Note("heading: bad block check -> NAK");
            Answer(chNAK);
            return;
        }
    }
    std::string problem;
    auto parsed = ParseHeading(body.substr(0, etx), &problem);
    if (!parsed) {
        Note("heading: " + problem + " -> NAK");
        Answer(chNAK);
        return;
    }
    if (headingsRefused_ < options_.faults.nakHeading) {
        ++headingsRefused_;
        Note("heading: refused on purpose -> NAK");
        Answer(chNAK);
        return;
    }
    Note("heading " + parsed->name + " records=" + std::to_string(parsed->recordCount) +
         " length=" + std::to_string(parsed->recordLength) +
         (options_.packed ? " packed=" + std::to_string(PackedRecordLength(parsed->recordLength))
                          : std::string()) +
         " -> ACK");
    heading_ = std::move(parsed);
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
    return (options_.seq ? kSeqDigits : 0) + RecordLength() + 1;
}

// The loader sends one block and waits for its answer, so the block's length is known from the
// heading and the block ends when that many bytes are in.
void BlockReceiver::OnDataByte(char byte) {
    block_ += byte;
    const std::size_t body = DataBodyLength();
    if (block_.size() == body) {
        // Without a block check, or when the check would be a NUL that may not arrive, the block
        // ends at its ETX.
        if (!options_.bcc || (block_.back() == chETX && Bcc(block_) == 0)) {
            CheckData();
        }
    } else if (block_.size() == body + 1) {
        CheckData();
    }
}

void BlockReceiver::CheckData() {
    frame_ = Frame::kNone;
    ++dataBlocksSeen_;
    const int every = options_.faults.corruptEvery;
    if (every > 0 && dataBlocksSeen_ % every == 0) {
        Corrupt(block_);
    }

    const std::string label = "block " + std::to_string(expectedBlock_);
    std::string why;
    switch (Classify(&why)) {
        case Verdict::kBad:
            Note(label + ": " + why + " -> NAK");
            Answer(chNAK);
            return;
        case Verdict::kRepeat:
            Note(label + ": repeat of the last block -> ACK");
            Answer(chACK);
            return;
        case Verdict::kNew:
            break;
    }

    const Faults& faults = options_.faults;
    if (faults.exitAfterBlock == expectedBlock_) {
        Note(label + ": vanishing");
        outcome_ = Outcome::kVanished;
        return;
    }
    if (faults.eotAtBlock == expectedBlock_ && !eotSent_) {
        eotSent_ = true;
        Note(label + ": -> EOT");
        if (!faults.silent) {
            output_ += chEOT;
        }
        return;
    }
    if (faults.nakBlock == expectedBlock_ && !nakBlockDone_) {
        nakBlockDone_ = true;
        Note(label + ": refused on purpose -> NAK");
        Answer(chNAK);
        return;
    }

    const std::size_t start = options_.seq ? kSeqDigits : 0;
    records_.push_back(block_.substr(start, RecordLength()));
    ++recordsReceived_;
    ++expectedBlock_;
    Note(label + " -> ACK");
    Answer(chACK);
}

BlockReceiver::Verdict BlockReceiver::Classify(std::string* why) const {
    const std::size_t bodyLength = DataBodyLength();
    const std::string_view body(block_.data(), bodyLength);
    if (body.find(chETX) != bodyLength - 1) {
        *why = "ETX out of place";
        return Verdict::kBad;
    }
    if (options_.bcc) {
        const bool checkArrived = block_.size() == bodyLength + 1;
        const char expected = checkArrived ? block_.back() : '\0';
        if (Bcc(body) != expected) {
            *why = checkArrived ? "bad block check" : "block check missing";
            return Verdict::kBad;
        }
    }
    if (!options_.seq) {
        // Without block numbers a repeat cannot be told from the next record, except after the
        // last one: then it can only be the last block again, sent because its ACK went astray.
        return AllRecordsIn() ? Verdict::kRepeat : Verdict::kNew;
    }
    const int number = DecimalValue(body.substr(0, kSeqDigits));
    if (number >= 1 && number == expectedBlock_ - 1) {
        return Verdict::kRepeat;
    }
    if (number != expectedBlock_) {
        *why = "carries number " + std::string(body.substr(0, kSeqDigits));
        return Verdict::kBad;
    }
    if (AllRecordsIn()) {
        *why = "no more records announced";
        return Verdict::kBad;
    }
    return Verdict::kNew;
}

void BlockReceiver::OnEot() {
    if (!Answer(chACK) && !options_.faults.silent) {
        // The loader will send EOT again when our ACK does not come.
        Note("EOT -> ACK dropped");
        return;
    }
    outcome_ = AllRecordsIn() ? Outcome::kOk : Outcome::kIncomplete;
    Note(std::string("EOT -> ACK, ") + OutcomeName(outcome_));
}

// Returns whether the answer went on the line.
bool BlockReceiver::Answer(char answer) {
    lastAnswer_ = answer;
    ++answersDecided_;
    if (options_.faults.silent) {
        return false;
    }
    const int every = options_.faults.dropAnswerEvery;
    if (every > 0 && answersDecided_ % every == 0) {
        Note(std::string(answer == chACK ? "ACK" : "NAK") + " dropped on purpose");
        return false;
    }
    output_ += answer;
    if (answer == chNAK) {
        ++naksSent_;
    }
    return true;
}

// ENQ asks for the last answer again: the loader did not hear it.
void BlockReceiver::RepeatLastAnswer() {
    if (!lastAnswer_) {
        return;
    }
    Note(std::string("ENQ -> ") + (*lastAnswer_ == chACK ? "ACK" : "NAK") + " again");
    Answer(*lastAnswer_);
}

void BlockReceiver::Corrupt(std::string& block) {
    if (block.empty()) {
        return;
    }
    const auto position = noise_() % block.size();
    const auto bit = noise_() % 8;
    block[position] = static_cast<char>(block[position] ^ (1 << bit));
    Note("line noise in byte " + std::to_string(position + 2) + " of the block");
}

void BlockReceiver::Note(std::string text) {
    notes_.push_back(std::move(text));
}

bool BlockReceiver::AllRecordsIn() const {
    return heading_ && recordsReceived_ >= heading_->recordCount;
}

}  // namespace quenlo::sim
