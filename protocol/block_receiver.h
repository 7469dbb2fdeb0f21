#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/block_codec.h"
#include "protocol/heading.h"
#include "protocol/peer_machine.h"

namespace quenlo::protocol {

// A handheld's misbehaviour on the protocol level. Faults of the line (lost, damaged or late
// bytes, silence, a cut) belong to the line, not here. Block numbers count from 1; 0 means off.
struct HandheldFaults {
    int nakHeading = 0;  // NAK this many intact headings before accepting one
    int nakBlock = 0;    // NAK data block k ...
    int nakTimes = 1;    // ... this many times when it arrives intact, then take it
    int eotAtBlock = 0;  // answer data block k with EOT, once
    int enqBlock = 0;    // answer data block k with ENQ, asking the loader to answer again ...
    int enqTimes = 1;    // ... this many times, then take it
};

struct BlockReceiverOptions {
    BlockOptions blocks;
    // Records come packed (loader +CMP): shorter than the heading's record length.
    bool packed = false;
    // A block whose bytes stop coming for this long is thrown away and refused, so that the
    // receiver is back in step when the sender repeats it.
    Time blockStall = std::chrono::seconds(2);
    // Nothing at all received for this long ends the reception.
    Time idleTimeout = std::chrono::seconds(60);
    // A block that ends at its ETX with a NUL check due is taken without its check byte only
    // when none comes this long after it: a check byte on its way must be compared, not lost.
    Time checkByteGrace = std::chrono::milliseconds(200);
    HandheldFaults faults;
};

// The handheld's side of a block-protocol send: it answers the loader's call, checks the heading
// and every data block, and keeps each accepted record as one line ending in CR LF. Strict, as a
// test instrument must be: a block with bytes after its end in the same burst is refused, and
// bytes between blocks that have no place there are counted as stray.
class BlockReceiver : public PeerMachine {
  public:
    BlockReceiver(BlockReceiverOptions options, FileStore& store, Time now);

    void OnBytes(std::string_view bytes, Time now) override;
    void OnTick(Time now) override;
    std::optional<Time> NextDeadline() const override;
    std::string Summary() const override;

    // The accepted heading, once there is one.
    const std::optional<Heading>& heading() const { return heading_; }
    int naksSent() const { return naksSent_; }
    // Bytes that arrived where no block, answer request or EOT could stand.
    int protocolErrors() const override { return strayBytes_; }

  private:
    enum class Phase { kCalling, kHeading, kData, kDone };
    enum class Frame { kNone, kHeading, kData };
    enum class Verdict { kBad, kNew, kRepeat, kBeyond };

    void OnByte(char byte, bool moreInBurst);
    // Refuses the block just collected because more bytes came right behind it, and drops the
    // rest of that burst, as a receiver that reads whatever is waiting would.
    void RefuseOverlong();
    void OnIdleByte(char byte);
    void OnHeadingByte(char byte, bool moreInBurst);
    void OnDataByte(char byte, bool moreInBurst);
    void CheckHeading();
    void CheckData(bool moreInBurst);
    Verdict Classify(std::string& why) const;
    void AcceptRecord();
    void OnEot();
    void Answer(char answer);
    void Finish(Outcome outcome, const std::string& why);
    // Keeps the file when `keep`, else throws it away; false (and error set) when it cannot be
    // kept.
    bool CloseFile(bool keep, std::string& error);
    bool AllRecordsIn() const;
    std::size_t RecordLength() const;
    std::size_t DataBodyLength() const;

    BlockReceiverOptions options_;
    FileStore& store_;
    Phase phase_ = Phase::kCalling;
    Frame frame_ = Frame::kNone;
    std::string block_;  // bytes of the block being collected, start byte excluded
    bool headingEtxSeen_ = false;
    bool nulMayFollow_ = false;         // a block ended at ETX with a NUL check that may still come
    std::optional<Time> checkByteDue_;  // the block ended at ETX: its check byte is awaited
    std::string lastRecord_;            // the record kept last
    Time lastByteAt_;

    std::optional<Heading> heading_;
    bool fileOpen_ = false;
    int expectedBlock_ = 1;
    int recordsReceived_ = 0;

    std::optional<char> lastAnswer_;
    int naksSent_ = 0;
    int strayBytes_ = 0;
    int headingsRefused_ = 0;
    int blockNaksDone_ = 0;
    int blockEnqsDone_ = 0;
    bool eotSent_ = false;
    bool dropBurst_ = false;
};

}  // namespace quenlo::protocol
