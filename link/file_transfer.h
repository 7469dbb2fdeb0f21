#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "base/result_codes.h"
#include "base/run_state.h"
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
// works while the engine polls it: every read of its status or counters moves the bytes that
// came and went since, and lets the transfer's time limits run out. The files are its caller's,
// as a source to send from or a store to receive into.
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
    // True stops the running transfer (CAN on the line).
    void SetTransferAbort(bool abort);

    TransferStatus Status();
    std::uint64_t TransferBytes();
    std::uint64_t TransferSize();
    std::string TransferFileName();
    // The files went through whole, but the other side never closed the batch.
    bool BatchUnclosed() const {
        return sender_ ? sender_->batchUnclosed() : receiver_ && receiver_->batchUnclosed();
    }
    // The handheld called by the block protocol (ENQ) while a send waited for its YMODEM start.
    bool HeardBlockCall() const { return heardBlockCall_; }
    // A reception ended on a block 0 without a usable name or size.
    bool HeaderRefused() const { return receiver_ && receiver_->headerRefused(); }

    // How long the caller may wait before the transfer needs the next look.
    std::chrono::milliseconds NextWait();

  private:
    protocol::Time Now() const;
    void Pump();

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

// The transfer window counts a YMODEM transfer in blocks of this size.
inline constexpr std::uint64_t kTransferBlockSize = 1024;

// " " and the number of such blocks in `bytes`, rounded, in five digits: " 00005" for 5000.
std::string BlockCountText(std::uint64_t bytes);

// The transfer's limits from the run's settings: the time-out and the line's rate.
void SetTransferLimits(RunState& state);

// Says so among the run's notes when the other side never closed the batch.
void NoteUnclosedBatch(RunState& state);

// Waits, with the transfer window's timer running, for the transfer to begin: until data moves,
// or the handheld has answered at all (so that an empty file is no time-out), timeoutCount ticks
// pass, or Cancel (which stops the transfer, result 90).
void AwaitTransferStart(RunState& state, ResultCode& result);

// Stops the running transfer and waits until the facility is idle; the result becomes 90.
void CancelTransfer(RunState& state, ResultCode& result);

// The transfer window's count of 1024-byte blocks and percentage for `bytes` of `size`.
void ShowTransferProgress(RunState& state, std::uint64_t bytes, std::uint64_t size);

}  // namespace quenlo
