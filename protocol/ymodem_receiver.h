#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/peer_machine.h"
#include "protocol/ymodem_block.h"

namespace quenlo::protocol {

struct YmodemReceiverOptions {
    // The invitation goes out again this often while no block 0 comes.
    Time inviteInterval = std::chrono::seconds(3);
    // How long to invite before giving up on a sender; zero invites for ever.
    Time startLimit = std::chrono::seconds(60);
    // How long the next block (or EOT, or the next file's block 0) may take before it is asked
    // for again.
    Time blockTimeout = std::chrono::seconds(10);
    // A block whose bytes stop coming for this long is dropped and NAKed.
    Time blockStall = std::chrono::seconds(1);
    // A block must be whole this long after its start byte, however its bytes trickle in.
    Time frameLimit = std::chrono::seconds(10);
    // A damaged block is thrown away with everything behind it until the line has been quiet
    // this long; then it is asked for again.
    Time purgeQuiet = std::chrono::seconds(1);
    // Nothing accepted for this long, once the transfer began, ends it; zero: no such limit.
    Time idleLimit = Time::zero();
    // Requests for one block (after damage or a time-out) before giving up.
    int retryLimit = 10;
    // CRC-16, asked for with 'C'; false asks with NAK for 1-byte checksums.
    bool crc = true;
};

// YMODEM batch receiver: invites, takes files until the empty block 0, and writes each through
// the store, cut to the size block 0 gives. A name is reduced to its last path component and
// handed to the store before any data; a name that stays unsafe, or a store that refuses it, ends
// the reception with CAN. A file cut short by failure or cancellation is abandoned; files of the
// batch that completed stay.
class YmodemReceiver : public PeerMachine {
  public:
    // `store` must outlive the machine. The first invitation is output at once.
    YmodemReceiver(YmodemReceiverOptions options, FileStore* store, Time now);

    void OnBytes(std::string_view bytes, Time now) override;
    void OnTick(Time now) override;
    std::optional<Time> NextDeadline() const override;
    std::string Summary() const override;

    // Sends CAN eight times, abandons the file in progress and ends with kAborted.
    void Abort(Time now);

    // The file in progress, or the last one.
    const std::string& fileName() const { return name_; }
    // As block 0 gave it; 0 when it gave none.
    std::uint64_t fileSize() const { return size_.value_or(0); }
    // Bytes of the file in progress written so far.
    std::uint64_t bytesTransferred() const { return written_; }
    // The bytes the frame on its way still lacks; 0 between frames.
    std::size_t frameBytesMissing() const { return reader_.missing(); }
    // A first block 0 was accepted.
    bool started() const { return started_; }
    // The reception ended on a block 0 that named no usable file or gave no readable size.
    bool headerRefused() const { return headerRefused_; }
    // Every file came whole, but the sender never sent the empty block 0 that ends its batch.
    bool batchUnclosed() const { return batchUnclosed_; }
    int naksSent() const { return naks_; }

  private:
    enum class Phase {
        kFirstHeader,  // inviting, no file yet
        kHeader,       // a file done, waiting for the next block 0
        kData,
        kDone,
    };

    void OnFrame(Time now);
    // Throws away a damaged block and what follows it until the line is quiet, then asks again.
    void Purge(const std::string& why, Time now);
    void Progress(Time now) { lastProgress_ = now; }
    // The sender stopped after whole files without ending its batch: they stay, and that is all.
    bool EndUnclosedBatch();
    void OnHeader(std::string_view data, Time now);
    void OnData(std::uint8_t number, std::string_view data, Time now);
    void OnEot(Time now);
    void EndFile(Time now);
    void Answer(std::string_view bytes, Time now);
    // Asks again with `answer`, or gives up with `whenExhausted` once the retries are spent.
    void Retry(char answer, Outcome whenExhausted, const std::string& why, Time now);
    void GiveUp(Outcome outcome, const std::string& why);
    void Finish(Outcome outcome, const std::string& why);
    char Invitation() const { return options_.crc ? chCRC : chNAK; }

    YmodemReceiverOptions options_;
    FileStore* store_;
    FrameReader reader_;
    Phase phase_ = Phase::kFirstHeader;
    bool started_ = false;
    bool headerRefused_ = false;
    bool batchUnclosed_ = false;

    bool fileOpen_ = false;
    std::string name_;
    std::optional<std::uint64_t> size_;
    std::uint64_t written_ = 0;
    std::uint8_t expected_ = 1;
    std::uint64_t blocks_ = 0;  // data blocks of this file accepted
    bool eotRefused_ = false;   // the first EOT got its NAK

    std::optional<Time> startDeadline_;
    Time deadline_{};
    Time stallDeadline_{};
    Time frameDeadline_{};
    std::optional<Time> purgeUntil_;  // throwing a damaged block away until then
    Time purgeStarted_{};
    std::string purgeWhy_;
    Time lastProgress_{};
    int retries_ = 0;
    int naks_ = 0;

    int filesWhole_ = 0;  // files of the batch received whole and kept
};

}  // namespace quenlo::protocol
