#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "protocol/peer_machine.h"
#include "protocol/ymodem_receiver.h"
#include "protocol/ymodem_sender.h"

namespace quenlo {

class Host;
class SerialComm;

// Values of TransferStatus.
enum class TransferStatus : std::int16_t {
    kFailed = -1,  // failed, or not started
    kFinished = 0,
    kWaiting = 1,   // started, the other side has not answered yet
    kStarting = 2,  // block 0 went through, no data yet
    kMoving = 4,    // data moving
    kEndedWithError = 5,
};

// The serial component's file-transfer facility: YMODEM carried out over the port's bytes. It
// works while the engine polls it: Poll moves the bytes that came and went since and lets the
// transfer's time limits run out; its status and counters tell what the last poll left. The
// files are its caller's, as a source to send from or a store to receive into.
class FileTransfer {
  public:
    FileTransfer(SerialComm& comm, Host& host);
    ~FileTransfer();
    FileTransfer(const FileTransfer&) = delete;
    FileTransfer& operator=(const FileTransfer&) = delete;

    // The limits of the transfers started next: nothing accepted for `idle` ends one (zero: no
    // limit); a block must come whole within the time the line's rate needs for it, twice over,
    // and never less than rb's 10 seconds.
    void SetLimits(std::chrono::milliseconds idle, int baud);
    // Starts sending `source` (path: its full name, for TransferFileName).
    void SendFile(protocol::FileSource& source, const std::string& path);
    // Where received files go, as TransferFileName shows it (ending in a separator).
    void SetReceiveDirectory(const std::string& directory) { directory_ = directory; }
    // Starts receiving into `store`, each file under the name the sender gives.
    void ReceiveStart(protocol::FileStore& store);
    // Stops the running transfer (CAN on the line); nothing once it has ended.
    void Abort();

    // Moves what came and went since the last look, and lets the time limits run.
    void Poll();

    TransferStatus Status() const;
    std::uint64_t TransferBytes() const;
    std::uint64_t TransferSize() const;
    std::string TransferFileName() const;
    // The files went through whole, but the other side never closed the batch.
    bool BatchUnclosed() const {
        return sender_ ? sender_->batchUnclosed() : receiver_ && receiver_->batchUnclosed();
    }
    // The handheld called by the block protocol (ENQ) while a send waited for its YMODEM start.
    bool HeardBlockCall() const { return heardBlockCall_; }
    // A reception ended on a block 0 without a usable name or size.
    bool HeaderRefused() const { return receiver_ && receiver_->headerRefused(); }

    // How long the caller may wait before the transfer needs the next look.
    std::chrono::milliseconds NextWait() const;
    // The bytes of a received frame still to come; 0 between frames and when sending.
    std::size_t FrameBytesMissing() const;

  private:
    protocol::Time Now() const;

    SerialComm& comm_;
    Host& host_;
    std::string directory_;
    std::string sendPath_;
    protocol::Time idleLimit_{0};
    protocol::Time frameLimit_ = std::chrono::seconds(10);
    std::unique_ptr<protocol::YmodemSender> sender_;
    std::unique_ptr<protocol::YmodemReceiver> receiver_;
    protocol::PeerMachine* machine_ = nullptr;
    bool lineLost_ = false;
    bool heardBlockCall_ = false;
    bool abortedHere_ = false;
};

}  // namespace quenlo
