// One protocol machine against a hostile line: bursts of any bytes at any moments. Whatever
// comes, it must not crash, spin or wait for ever, and it stores only under safe names, one file
// at a time. Built once per machine (FUZZ_MACHINE names it).
#include <algorithm>
#include <memory>
#include <utility>

#include "fuzz_input.h"
#include "protocol/block_receiver.h"
#include "protocol/block_sender.h"
#include "protocol/line_text.h"
#include "protocol/ymodem_receiver.h"
#include "protocol/ymodem_sender.h"
#include "support/memory_serial_comm.h"

namespace {

using namespace quenlo;
using namespace quenlo::fuzz;
using protocol::PeerMachine;

constexpr Time kStart = 1s;

// Checks how a receiving machine uses its store: one file at a time, under safe names only.
struct CheckingStore : testing::MemoryStore {
    bool Begin(const std::string& name, std::string& error) override {
        assert(!busy && SafeFileName(name) == name);
        return busy = MemoryStore::Begin(name, error);
    }
    bool Append(std::string_view bytes, std::string& error) override {
        assert(busy);
        return MemoryStore::Append(bytes, error);
    }
    bool Commit(std::string& error) override {
        assert(std::exchange(busy, false));
        return MemoryStore::Commit(error);
    }
    void Abandon() override { busy = false; }
    bool busy = false;
};

// The machine under test, with the options `choice` sets.
struct Subject {
    explicit Subject(std::uint8_t choice)
        : source("PROG.PD4", std::string((choice >> 2) * 97u, 'P')) {
        [[maybe_unused]] const BlockOptions blocks{.bcc = (choice & 1) != 0,
                                                   .seq = (choice & 2) != 0};
#if FUZZ_MACHINE == 1
        machine = std::make_unique<protocol::BlockReceiver>(
            protocol::BlockReceiverOptions{.blocks = blocks, .packed = (choice & 4) != 0}, store,
            kStart);
#elif FUZZ_MACHINE == 2
        machine = std::make_unique<protocol::BlockSender>(
            protocol::BlockSenderOptions{.blocks = blocks},
            protocol::Upload{"DATA.TXT",
                             false,
                             {10, 5},
                             {"ITEM1     AB1  ", "ITEM2     AB2  ", "ITEM3     AB3  "}},
            kStart);
#elif FUZZ_MACHINE == 3
        machine = std::make_unique<protocol::YmodemReceiver>(
            protocol::YmodemReceiverOptions{.crc = (choice & 2) != 0}, &store, kStart);
#else
        machine = std::make_unique<protocol::YmodemSender>(
            protocol::YmodemSenderOptions{.longBlocks = (choice & 1) != 0}, &source, kStart);
#endif
    }
    CheckingStore store;
    testing::MemorySource source;  // reading past its end throws
    std::unique_ptr<PeerMachine> machine;
};

class Driver {
  public:
    explicit Driver(PeerMachine& machine) : m_(machine) {}

    // Lets time pass to `until`, ticking at every deadline on the way, as a session does.
    void PassTo(Time until) {
        while (!m_.finished() && *m_.NextDeadline() <= until) {
            Tick(std::max(now_, *m_.NextDeadline()));
        }
        now_ = std::max(now_, until);
    }
    void Tick(Time at) {
        now_ = at;
        m_.OnTick(now_);
        // A deadline that is due again at once would make its session spin.
        assert(m_.finished() || *m_.NextDeadline() > now_);
        Check();
    }
    void Bytes(std::string_view bytes) {
        m_.OnBytes(bytes, now_);
        Check();
    }
    // Silence from here on: every machine gives up within its limits, and soon.
    void Silence() {
        const Time quietSince = now_;
        for (int ticks = 0; ticks < 1000 && !m_.finished(); ++ticks) {
            Tick(std::max(now_, *m_.NextDeadline()));
        }
        assert(m_.finished());
        assert(now_ - quietSince <= Time(10min));
    }
    Time now() const { return now_; }

  private:
    void Check() {
        m_.TakeOutput();
        m_.TakeNotes();
        // An outcome is final, and a running machine always has a deadline: silence ends it.
        assert(outcome_ == protocol::Outcome::kRunning || m_.outcome() == outcome_);
        assert(m_.finished() != m_.NextDeadline().has_value());
        outcome_ = m_.outcome();
    }

    PeerMachine& m_;
    Time now_ = kStart;
    protocol::Outcome outcome_ = protocol::Outcome::kRunning;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    StepReader input(data, size);
    Subject subject(input.Choice());
    Driver driver(*subject.machine);
    Step step;
    while (!subject.machine->finished() && input.Next(step)) {
        if (step.kind == Step::kBurst) {
            driver.Bytes(step.bytes);
        } else if (step.kind == Step::kPause) {
            driver.PassTo(driver.now() + step.pause);
        } else if (!subject.machine->finished()) {
            driver.Tick(std::max(driver.now(), *subject.machine->NextDeadline()));
        }
    }
    driver.Silence();
    return 0;
}
