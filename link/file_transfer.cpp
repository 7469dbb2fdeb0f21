#include "link/file_transfer.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "base/host.h"
#include "base/number_text.h"
#include "base/serial_comm.h"
#include "base/transfer_view.h"
#include "link/link_control.h"
#include "protocol/control_chars.h"

namespace quenlo {

namespace {
// The longest the caller waits without looking: window events and the transfer's bytes wake it
// sooner.
constexpr std::chrono::milliseconds kLongestWait{1000};
}  // namespace

FileTransfer::FileTransfer(SerialComm& comm, Host& host) : comm_(comm), host_(host) {}

FileTransfer::~FileTransfer() = default;

protocol::Time FileTransfer::Now() const {
    return protocol::Time(std::llround(host_.ClockSeconds() * 1e6));
}

void FileTransfer::SetLimits(std::chrono::milliseconds idle, int baud) {
    idleLimit_ = idle;
    // The longest frame, 10 bits a byte.
    const auto frameTime = std::chrono::microseconds(
        baud > 0 ? static_cast<long long>(protocol::FrameSize(chSTX, protocol::CheckKind::kCrc16)) *
                       10'000'000 / baud
                 : 0);
    frameLimit_ =
        std::max<protocol::Time>(std::chrono::seconds(10), 2 * frameTime + std::chrono::seconds(1));
}

void FileTransfer::SendFile(protocol::FileSource& source, const std::string& path) {
    protocol::YmodemSenderOptions options;
    options.startLimit = protocol::Time{0};  // the caller decides how long to wait for the start
    options.idleLimit = idleLimit_;
    sender_ = std::make_unique<protocol::YmodemSender>(options, &source, Now());
    machine_ = sender_.get();
    sendPath_ = path;
    lineLost_ = false;
    abortedHere_ = false;
    heardBlockCall_ = false;
    Poll();
}

void FileTransfer::ReceiveStart(protocol::FileStore& store) {
    protocol::YmodemReceiverOptions options;
    options.startLimit = protocol::Time{0};
    options.idleLimit = idleLimit_;
    options.frameLimit = frameLimit_;
    receiver_ = std::make_unique<protocol::YmodemReceiver>(options, &store, Now());
    machine_ = receiver_.get();
    lineLost_ = false;
    abortedHere_ = false;
    Poll();
}

void FileTransfer::Abort() {
    if (machine_ == nullptr || machine_->finished()) {
        return;
    }
    if (sender_) {
        sender_->Abort(Now());
    } else {
        receiver_->Abort(Now());
    }
    abortedHere_ = true;
    Poll();
}

// Bytes that came go to the machine, what it answers goes out, and its time limits run.
void FileTransfer::Poll() {
    if (machine_ == nullptr || lineLost_ || !comm_.PortOpen()) {
        return;
    }
    if (!machine_->finished() && comm_.InputCount() > 0) {
        const std::string input = comm_.Input();
        heardBlockCall_ |= sender_ && !sender_->started() && input.find(chENQ) != std::string::npos;
        machine_->OnBytes(input, Now());
    }
    const auto due = machine_->NextDeadline();
    if (due && *due <= Now()) {
        machine_->OnTick(Now());
    }
    const std::string output = machine_->TakeOutput();
    machine_->TakeNotes();
    if (!output.empty()) {
        comm_.Output(output);
    }
    // A device that went away fails the transfer: its time-outs would only say so later.
    lineLost_ = IsLineError(comm_.LastEvent());
}

TransferStatus FileTransfer::Status() const {
    if (machine_ == nullptr) {
        return TransferStatus::kFailed;
    }
    switch (machine_->outcome()) {
        case protocol::Outcome::kOk:
            return TransferStatus::kFinished;
        case protocol::Outcome::kFailed:
            return TransferStatus::kFailed;
        case protocol::Outcome::kAborted:
            // Stopped on request: idle, not an error of the transfer's own.
            return abortedHere_ ? TransferStatus::kFailed : TransferStatus::kEndedWithError;
        case protocol::Outcome::kRunning:
            break;
        default:
            return TransferStatus::kEndedWithError;
    }
    if (lineLost_) {
        return TransferStatus::kFailed;
    }
    if (TransferBytes() > 0) {
        return TransferStatus::kMoving;
    }
    return (sender_ ? sender_->started() : receiver_->started()) ? TransferStatus::kStarting
                                                                 : TransferStatus::kWaiting;
}

std::uint64_t FileTransfer::TransferBytes() const {
    return sender_ ? sender_->bytesTransferred() : receiver_ ? receiver_->bytesTransferred() : 0;
}

std::uint64_t FileTransfer::TransferSize() const {
    return sender_ ? sender_->fileSize() : receiver_ ? receiver_->fileSize() : 0;
}

std::string FileTransfer::TransferFileName() const {
    if (sender_) {
        return sendPath_;
    }
    return receiver_ && !receiver_->fileName().empty() ? directory_ + receiver_->fileName()
                                                       : std::string();
}

std::size_t FileTransfer::FrameBytesMissing() const {
    return receiver_ && !receiver_->finished() ? receiver_->frameBytesMissing() : 0;
}

std::chrono::milliseconds FileTransfer::NextWait() const {
    const auto due = machine_ != nullptr ? machine_->NextDeadline() : std::nullopt;
    if (!due) {
        return kLongestWait;
    }
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(*due - Now());
    return std::clamp(left, std::chrono::milliseconds(0), kLongestWait);
}

}  // namespace quenlo
