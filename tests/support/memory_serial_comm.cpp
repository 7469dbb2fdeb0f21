#include "support/memory_serial_comm.h"

#include <algorithm>

#include "engine/runtime_error.h"

namespace quenlo::testing {

MemorySerialComm::MemorySerialComm(FakeHost& host) : host_(host) {
    host_.nextEventAt = [this] { return NextDeliveryAt(); };
}

void MemorySerialComm::SetPortNumber(std::int16_t number) {
    portNumber_ = number;
    log.push_back("PortNumber=" + std::to_string(number));
}
void MemorySerialComm::SetSettings(const std::string& settings) {
    log.push_back("Settings=" + settings);
}
void MemorySerialComm::SetInputLength(std::int32_t length) {
    log.push_back("InputLength=" + std::to_string(length));
}
void MemorySerialComm::SetEventThreshold(std::int32_t threshold) {
    log.push_back("EventThreshold=" + std::to_string(threshold));
}
void MemorySerialComm::SetEndOfFileStop(bool enabled) {
    log.push_back(std::string("EndOfFileStop=") + (enabled ? "1" : "0"));
}
void MemorySerialComm::SetLineA(bool on) {
    log.push_back(std::string("LineA=") + (on ? "1" : "0"));
}
void MemorySerialComm::SetLineB(bool on) {
    log.push_back(std::string("LineB=") + (on ? "1" : "0"));
}
void MemorySerialComm::SetTransferProtocol(std::int16_t protocol) {
    log.push_back("TransferProtocol=" + std::to_string(protocol));
}
void MemorySerialComm::SetTransferOption(std::int16_t option) {
    log.push_back("TransferOption=" + std::to_string(option));
}
void MemorySerialComm::SetTransferAbort(bool abort) {
    log.push_back(std::string("TransferAbort=") + (abort ? "1" : "0"));
}

void MemorySerialComm::SetPortOpen(bool open) {
    if (open) {
        if (openFailure) {
            const std::int32_t number = *openFailure;
            openFailure.reset();
            throw RuntimeError(number);
        }
        ++opens;
        log.push_back("Open");
    } else if (open_) {
        log.push_back("Close");
    }
    open_ = open;
}

std::int32_t MemorySerialComm::InputCount() {
    const double now = host_.ClockSeconds();
    while (!pending_.empty() && pending_.front().at <= now) {
        input_ += pending_.front().bytes;
        pending_.pop_front();
    }
    return static_cast<std::int32_t>(input_.size());
}

std::string MemorySerialComm::Input() {
    InputCount();
    std::string taken;
    taken.swap(input_);
    return taken;
}

void MemorySerialComm::Output(std::string_view text) {
    sent.emplace_back(text);
    lastEvent_ =
        (eventOutputNumber != 0 && sent.size() == eventOutputNumber) ? eventAfterOutput : 1;
    if (peer != nullptr) {
        peer->OnReceived(text, *this);
    }
}

void MemorySerialComm::Deliver(std::string bytes, double delaySeconds) {
    const Delivery delivery{host_.ClockSeconds() + delaySeconds, std::move(bytes)};
    const auto at = std::upper_bound(pending_.begin(), pending_.end(), delivery.at,
                                     [](double t, const Delivery& d) { return t < d.at; });
    pending_.insert(at, delivery);
}

std::optional<double> MemorySerialComm::NextDeliveryAt() const {
    if (pending_.empty()) {
        return std::nullopt;
    }
    return pending_.front().at;
}

}  // namespace quenlo::testing
