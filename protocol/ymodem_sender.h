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

struct YmodemSenderOptions {
    // How long to wait for the receiver's first 'C' (or NAK, or 'G'); zero waits for ever.
    Time startLimit = std::chrono::seconds(60);
    // How long the answer to a block, to EOT or the receiver's next invitation may take.
    Time answerTimeout = std::chrono::seconds(10);
    // Repeats of one block (after a NAK or a time-out) before giving up.
    int retryLimit = 10;
    // Nothing acknowledged for this long, once the transfer began, ends it; zero: no such limit.
    Time idleLimit = Time::zero();
    // 1024-byte blocks wherever they take less line time than 128-byte ones (CRC mode only:
    // a receiver that asks for checksums is an old one).
    bool longBlocks = true;
    // Block 0's modification time (seconds since 1970; 0 when unknown) and mode.
    std::uint64_t modificationTime = 0;
    std::uint32_t mode = kRegularFileMode;
    // Streaming ('G') puts the whole file out at once; the wait for the answer to its EOT allows
    // this many bytes per second for it to drain (960: 9600 Bd, the slowest usual handheld line).
    std::uint32_t streamDrainRate = 960;
};

// YMODEM batch sender of one file: waits for the receiver's invitation, sends block 0, the data
// and EOT, then the empty block 0 that ends the batch. The invitation sets the mode: 'C' CRC-16,
// NAK 1-byte checksums (128-byte blocks), 'G' CRC-16 streamed without waiting for ACKs.
class YmodemSender : public PeerMachine {
  public:
    // `source` must outlive the machine.
    YmodemSender(YmodemSenderOptions options, FileSource* source, Time now);

    void OnBytes(std::string_view bytes, Time now) override;
    void OnTick(Time now) override;
    std::optional<Time> NextDeadline() const override;
    std::string Summary() const override;

    // Sends CAN eight times and ends with kAborted.
    void Abort(Time now);

    // The name block 0 carries: the source's name without any directory.
    const std::string& fileName() const { return name_; }
    std::uint64_t fileSize() const { return size_; }
    // Bytes of the file the receiver has acknowledged (streamed ones count when EOT is answered).
    std::uint64_t bytesTransferred() const { return acked_; }
    // The receiver asked and block 0 went out.
    bool started() const { return started_; }
    // The file went through whole, but the receiver never took the batch's end.
    bool batchUnclosed() const { return batchUnclosed_; }
    int naksReceived() const { return naks_; }

  private:
    enum class Phase {
        kInvite,      // waiting for the receiver's first 'C', NAK or 'G'
        kHeaderAck,   // block 0 sent
        kDataInvite,  // block 0 acknowledged, waiting for the 'C' that asks for the data
        kBlockAck,    // a data block sent
        kEotAck,      // EOT sent
        kEndInvite,   // file done, waiting for the invitation to the batch's end
        kEndAck,      // empty block 0 sent
        kDone,
    };

    void OnByte(char byte, Time now);
    // ACK or NAK (or, from a streaming receiver, 'G') to the frame sent last.
    void OnAnswer(char byte, Time now);
    // What was sent is taken; the receiver's next invitation is awaited.
    void AwaitInvitation(Phase phase, Time now);
    void Invited(char byte, Time now);
    void SendHeader(Time now);
    void StartData(Time now);
    // Reads and frames the block at `offset`; false (and finished) when the file cannot be read.
    bool FrameNext(std::uint64_t offset, std::uint8_t number, std::string& frame,
                   std::uint64_t& length);
    void SendNext(Time now);
    void Stream(Time now);
    void SendEot(Time now);
    void Send(std::string frame, Phase phase, Time now);
    void Resend(Time now, Outcome whenExhausted, const std::string& why);
    void GiveUp(Outcome outcome, const std::string& why);
    // After the file was acknowledged whole, a batch end that does not go through ends the
    // transfer all the same: the file is there.
    bool EndUnclosedBatch();
    void Finish(Outcome outcome, const std::string& why);

    YmodemSenderOptions options_;
    FileSource* source_;
    std::string name_;
    std::uint64_t size_ = 0;

    Phase phase_ = Phase::kInvite;
    CheckKind check_ = CheckKind::kCrc16;
    bool streaming_ = false;
    bool started_ = false;
    bool batchUnclosed_ = false;
    Time lastProgress_{};

    std::string frame_;          // what goes again on a NAK or time-out
    std::uint64_t inFrame_ = 0;  // file bytes in frame_
    std::uint8_t number_ = 1;    // number of the next data block
    std::uint64_t acked_ = 0;

    std::optional<Time> startDeadline_;
    Time deadline_{};
    int retries_ = 0;
    int naks_ = 0;
    int cans_ = 0;
};

}  // namespace quenlo::protocol
