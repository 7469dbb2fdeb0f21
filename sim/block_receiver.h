#pragma once

#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "sim/heading.h"

namespace quenlo::sim {

// Microseconds on any monotonic clock; the receiver only compares and subtracts them.
using TimeUs = std::int64_t;

// Misbehaviour switched on from the command line. Block numbers count from 1; 0 means off.
struct Faults {
    int nakBlock = 0;         // NAK this data block the first time it arrives intact
    int nakHeading = 0;       // NAK this many intact headings before accepting one
    bool silent = false;      // never put anything on the line
    int eotAtBlock = 0;       // answer this data block with EOT
    int dropAnswerEvery = 0;  // leave every Nth ACK/NAK unsent
    int corruptEvery = 0;     // flip one bit of every Nth data block as it comes in
    std::uint32_t seed = 1;   // chooses the byte and bit that --corrupt-every flips
    int exitAfterBlock = 0;   // vanish when this data block arrives
};

struct ReceiverOptions {
    bool bcc = true;  // blocks end with a block check byte
    bool seq = true;  // data blocks carry a 5-digit block number
    // Records come packed (loader +CMP): shorter than the heading's record length.
    bool packed = false;
    // A block whose bytes stop coming for this long is thrown away and refused, so that the
    // receiver is back in step when the loader sends it again.
    TimeUs blockStallUs = 2'000'000;
    // Nothing at all received for this long ends the reception.
    TimeUs idleTimeoutUs = 60'000'000;
    Faults faults;
};

enum class Outcome {
    kRunning,
    kOk,          // every announced record arrived, then EOT
    kIncomplete,  // EOT before every record arrived
    kTimeout,     // the line went quiet
    kVanished,    // --exit-after-block struck
};

const char* OutcomeName(Outcome outcome);

// The handheld's side of a block-protocol reception as a pure state machine: bytes and the time
// go in, answers and accepted records come out. It never touches a device, a file or a clock.
class BlockReceiver {
  public:
    BlockReceiver(ReceiverOptions options, TimeUs now);

    // Bytes as they came off the line.
    void OnBytes(std::string_view bytes, TimeUs now);
    // Lets the stall and idle limits expire; call it at NextDeadline() at the latest.
    void OnTick(TimeUs now);
    // When OnTick next has something to do; nothing once finished.
    std::optional<TimeUs> NextDeadline() const;

    // Bytes to put on the line, oldest first, since the last call.
    std::string TakeOutput();
    // Records accepted since the last call, each exactly as it stood in its block.
    std::vector<std::string> TakeRecords();
    // One line per event worth tracing, since the last call.
    std::vector<std::string> TakeNotes();

    // The accepted heading, once there is one.
    const std::optional<Heading>& heading() const { return heading_; }
    int recordsReceived() const { return recordsReceived_; }
    // NAKs that went out on the line.
    int naksSent() const { return naksSent_; }
    Outcome outcome() const { return outcome_; }
    bool finished() const { return outcome_ != Outcome::kRunning; }

  private:
    enum class Phase { kCalling, kHeading, kData };
    enum class Frame { kNone, kHeading, kData };
    enum class Verdict { kBad, kNew, kRepeat };

    void OnByte(char byte);
    void OnIdleByte(char byte);
    void OnHeadingByte(char byte);
    void OnDataByte(char byte);
    void CheckHeading();
    void CheckData();
    Verdict Classify(std::string* why) const;
    void OnEot();
    bool Answer(char answer);
    void RepeatLastAnswer();
    void Corrupt(std::string& block);
    void Note(std::string text);
    bool AllRecordsIn() const;
    std::size_t RecordLength() const;
    std::size_t DataBodyLength() const;

    ReceiverOptions options_;
    Phase phase_ = Phase::kCalling;
    Frame frame_ = Frame::kNone;
    Outcome outcome_ = Outcome::kRunning;
    std::string block_;  // bytes of the block being collected, start byte excluded
    bool headingEtxSeen_ = false;
    TimeUs lastByteAt_;

    std::optional<Heading> heading_;
    int expectedBlock_ = 1;
    int recordsReceived_ = 0;

    std::optional<char> lastAnswer_;
    long answersDecided_ = 0;
    int naksSent_ = 0;
    int headingsRefused_ = 0;
    bool nakBlockDone_ = false;
    bool eotSent_ = false;
    long dataBlocksSeen_ = 0;
    std::mt19937 noise_;

    std::string output_;
    std::vector<std::string> records_;
    std::vector<std::string> notes_;
};

}  // namespace quenlo::sim
