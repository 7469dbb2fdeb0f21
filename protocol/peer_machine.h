#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quenlo::protocol {

// The one time type of every machine: microseconds on whatever monotonic clock drives it (the
// system's in bht-sim and the loader, a virtual one in tests).
using Time = std::chrono::microseconds;

// How a machine's exchange ended.
enum class Outcome {
    kRunning,
    kOk,          // every file went through whole
    kIncomplete,  // the other side ended the exchange before the whole file went through
    kTimeout,     // the line stayed quiet for longer than the machine waits
    kAborted,     // cancelled (CAN, Abort) or given up after too many retries
    kFailed,      // a file could not be stored or read
    kVanished,    // a handheld that drops off the line on purpose (a fault policy)
};

const char* OutcomeName(Outcome outcome);

// Where a receiving machine keeps what it receives: a directory in bht-sim and in the loader,
// memory in tests. One file at a time: Begin, Append..., then Commit or Abandon.
class FileStore {
  public:
    virtual ~FileStore() = default;
    // Starts the file `name`; false (and error set) when it cannot be created.
    virtual bool Begin(const std::string& name, std::string& error) = 0;
    virtual bool Append(std::string_view bytes, std::string& error) = 0;
    // Puts the finished file in place under its name.
    virtual bool Commit(std::string& error) = 0;
    // Throws away what was written since Begin; nothing of it stays.
    virtual void Abandon() = 0;
};

// What a sending machine sends: one file, read piece by piece.
class FileSource {
  public:
    virtual ~FileSource() = default;
    virtual std::string Name() const = 0;
    virtual std::uint64_t Size() const = 0;
    // Reads up to `length` bytes at `offset` into out (fewer only at the end of the file); false
    // (and error set) when the read fails.
    virtual bool Read(std::uint64_t offset, std::size_t length, std::string& out,
                      std::string& error) = 0;
};

// A protocol machine: bytes in, bytes out, a next deadline. It does no I/O and has no clock of its
// own, so it runs the same over a pseudo-terminal, in memory, inside bht-sim or in the loader.
// The bytes for the line, the trace notes and the outcome are kept here, the same for every
// machine; what a machine answers, and what ending means for its files, is its own.
class PeerMachine {
  public:
    virtual ~PeerMachine() = default;

    // Bytes as they came off the line, at `now`.
    virtual void OnBytes(std::string_view bytes, Time now) = 0;
    // Lets the machine's time limits expire; call it at NextDeadline() at the latest.
    virtual void OnTick(Time now) = 0;
    // When OnTick next has something to do; nothing once finished.
    virtual std::optional<Time> NextDeadline() const = 0;
    // Bytes to put on the line, oldest first, since the last call.
    std::string TakeOutput() { return std::exchange(output_, {}); }
    // One line per event worth tracing, since the last call.
    std::vector<std::string> TakeNotes() { return std::exchange(notes_, {}); }

    Outcome outcome() const { return outcome_; }
    bool finished() const { return outcome_ != Outcome::kRunning; }
    // Bytes or blocks that a correct peer never sends, even on a noisy line (a check byte where
    // none belongs, stray bytes between blocks): a strict handheld reports them.
    virtual int protocolErrors() const { return 0; }
    // What moved, in a few words, for a summary line ("PROG.PD3 records=3/3 naks=0").
    virtual std::string Summary() const = 0;

  protected:
    // Queues bytes for the line, behind what is queued already.
    void Put(char byte) { output_ += byte; }
    void Put(std::string_view bytes) { output_ += bytes; }
    void Note(std::string text) { notes_.push_back(std::move(text)); }
    // The exchange is over with `outcome`, which is final; `why` goes to the trace.
    void End(Outcome outcome, std::string why) {
        outcome_ = outcome;
        Note(std::move(why));
    }

  private:
    std::string output_;
    std::vector<std::string> notes_;
    Outcome outcome_ = Outcome::kRunning;
};

}  // namespace quenlo::protocol
