#include "protocol/block_sender.h"

#include <utility>

#include "protocol/control_chars.h"
#include "protocol/fields.h"
#include "protocol/heading.h"
#include "protocol/line_text.h"

namespace quenlo::protocol {

BlockSender::BlockSender(BlockSenderOptions options, Upload upload, Time now)
    : options_(std::move(options)), upload_(std::move(upload)) {
    SendCurrent(now);
}

std::string BlockSender::Summary() const {
    return "sent " + upload_.name + " records=" + std::to_string(acknowledged_) + "/" +
           std::to_string(upload_.records.size()) + " naks=" + std::to_string(naks_) +
           " strays=" + std::to_string(strayBytes_);
}

std::string BlockSender::DataBlock(int number, bool firstSending) {
    const std::string& record = upload_.records[static_cast<std::size_t>(number - 1)];
    std::string block = FrameDataBlock(ZeroFilled(number, kSeqDigits), record, options_.blocks);
    const SenderFaults& faults = options_.faults;
    if (options_.blocks.bcc && faults.dropNulChecks && block.back() == chNUL) {
        block.pop_back();
    }
    if (options_.blocks.bcc && firstSending && faults.badCheckBlock == number) {
        block.back() = static_cast<char>(block.back() ^ 0x5A);
    }
    if (firstSending && faults.strayBeforeBlock == number) {
        block.insert(0, "\x7F~");
    }
    return block;
}

// Sends the unit of the current phase (again), and gives up after too many tries.
void BlockSender::SendCurrent(Time now) {
    if (++tries_ > (phase_ == Phase::kCalling ? options_.callTries : options_.tries)) {
        Note("no acknowledgement after " + std::to_string(tries_ - 1) + " tries -> EOT");
        Put(chEOT);
        Finish(phase_ == Phase::kCalling ? Outcome::kTimeout : Outcome::kAborted, "gave up");
        return;
    }
    deadline_ = now + options_.answerTimeout;
    switch (phase_) {
        case Phase::kCalling:
            Put(chENQ);
            break;
        case Phase::kHeading:
            Put(FrameHeadingBlock(
                HeadingText(upload_.name, static_cast<int>(upload_.records.size()),
                            upload_.programFile, upload_.fieldLengths),
                options_.blocks));
            break;
        case Phase::kData:
        case Phase::kRepeat:
            if (phase_ == Phase::kData && options_.faults.enqBeforeBlock == block_ &&
                enqSentFor_ != block_) {
                enqSentFor_ = block_;
                enqProbe_ = true;
                Note("a lone ENQ before block " + std::to_string(block_));
                Put(chENQ);
                --tries_;
                return;
            }
            Put(DataBlock(block_, tries_ == 1 && phase_ == Phase::kData));
            break;
        case Phase::kClosing:
            Put(chEOT);
            break;
        case Phase::kDone:
            break;
    }
}

// The current unit was acknowledged: on to the next.
void BlockSender::Advance(Time now) {
    tries_ = 0;
    switch (phase_) {
        case Phase::kCalling:
            if (options_.faults.callForever) {
                tries_ = 0;  // a handheld stuck calling never gives up on its own
                break;
            }
            phase_ = Phase::kHeading;
            break;
        case Phase::kHeading:
            phase_ = upload_.records.empty() ? Phase::kClosing : Phase::kData;
            block_ = 1;
            break;
        case Phase::kData:
            ++acknowledged_;
            if (options_.faults.repeatBlock == block_ && phase_ != Phase::kRepeat) {
                Note("block " + std::to_string(block_) + " once more, same number");
                phase_ = Phase::kRepeat;
                break;
            }
            [[fallthrough]];
        case Phase::kRepeat:
            if (block_ < static_cast<int>(upload_.records.size())) {
                ++block_;
                phase_ = Phase::kData;
            } else {
                phase_ = Phase::kClosing;
            }
            break;
        case Phase::kClosing:
            Finish(Outcome::kOk, "EOT acknowledged");
            return;
        case Phase::kDone:
            return;
    }
    SendCurrent(now);
}

void BlockSender::OnAnswer(char answer, Time now) {
    if (enqProbe_) {
        // Whatever the answer to the lone ENQ, the block itself comes now.
        enqProbe_ = false;
        SendCurrent(now);
        return;
    }
    switch (answer) {
        case chACK:
            Advance(now);
            break;
        case chNAK:
            ++naks_;
            Note("NAK -> again");
            SendCurrent(now);
            break;
        default:  // EOT: the loader ended the exchange
            Finish(phase_ == Phase::kClosing ? Outcome::kOk : Outcome::kAborted,
                   "EOT from the loader");
            break;
    }
}

void BlockSender::OnBytes(std::string_view bytes, Time now) {
    for (const char byte : bytes) {
        if (finished()) {
            return;
        }
        if (byte == chACK || byte == chNAK || byte == chEOT) {
            OnAnswer(byte, now);
        } else {
            ++strayBytes_;
            Note("stray byte " + Printable(std::string(1, byte)) + " from the loader");
        }
    }
}

void BlockSender::OnTick(Time now) {
    if (!finished() && now >= deadline_) {
        Note("no answer -> again");
        enqProbe_ = false;
        SendCurrent(now);
    }
}

std::optional<Time> BlockSender::NextDeadline() const {
    return finished() ? std::nullopt : std::optional<Time>(deadline_);
}

void BlockSender::Finish(Outcome outcome, const std::string& why) {
    phase_ = Phase::kDone;
    End(outcome, why + ", " + OutcomeName(outcome));
}

}  // namespace quenlo::protocol
