#include "support/memory_serial_comm.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "base/runtime_error.h"

namespace quenlo::testing {

MemorySerialComm::MemorySerialComm(FakeHost& host) : host_(host) {
    host_.eventSources.push_back([this] { return NextEventAt(); });
}

void MemorySerialComm::Attach(protocol::PeerMachine& machine, sim::Line toMachine,
                              sim::Line toLoader) {
    machine_ = &machine;
    toMachine_ = std::move(toMachine);
    toLoader_ = std::move(toLoader);
    // What the machine put out as it started (an uploading handheld's first call) goes at once.
    Hand(machine_->TakeOutput(), Now());
}

void MemorySerialComm::Deliver(std::string_view bytes, double delaySeconds) {
    toLoader_.Enqueue(bytes, Now() + protocol::Time(std::llround(delaySeconds * 1e6)));
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

void MemorySerialComm::Hand(const std::string& bytes, protocol::Time at) {
    heard += bytes;
    toLoader_.Enqueue(bytes, at);
}

void MemorySerialComm::Pump() {
    const protocol::Time now = Now();
    while (machine_ != nullptr) {
        const auto due = toMachine_.NextDue();
        const auto deadline = machine_->NextDeadline();
        if (due && *due <= now && (!deadline || *due <= *deadline)) {
            const auto burst = toMachine_.TakeBurst(now);
            machine_->OnBytes(burst->bytes, burst->at);
            Hand(machine_->TakeOutput(), burst->at);
        } else if (deadline && *deadline <= now) {
            machine_->OnTick(*deadline);
            Hand(machine_->TakeOutput(), *deadline);
        } else {
            break;
        }
        machine_->TakeNotes();
    }
    input_ += toLoader_.TakeDue(now);
}

std::optional<double> MemorySerialComm::NextEventAt() const {
    std::optional<protocol::Time> next;
    for (const auto candidate : {held_ ? std::nullopt : toLoader_.NextDue(), toMachine_.NextDue(),
                                 machine_ ? machine_->NextDeadline() : std::nullopt}) {
        if (candidate && (!next || *candidate < *next)) {
            next = candidate;
        }
    }
    auto at = next ? std::optional(static_cast<double>(next->count()) / 1e6) : std::nullopt;
    if (lostAt && !held_ && *lostAt > host_.ClockSeconds() && (!at || *lostAt < *at)) {
        at = lostAt;
    }
    return at;
}

std::int32_t MemorySerialComm::InputCount() {
    Pump();
    return static_cast<std::int32_t>(input_.size());
}

std::string MemorySerialComm::Input() {
    Pump();
    return std::exchange(input_, {});
}

void MemorySerialComm::Output(std::string_view text) {
    sent.emplace_back(text);
    lastEvent_ = (eventOutputNumber != 0 && sent.size() == eventOutputNumber) ? eventAfterOutput
                                                                              : CommEvent::kSent;
    if (machine_ != nullptr) {
        Pump();
        toMachine_.Enqueue(text, Now());
    }
}

}  // namespace quenlo::testing
