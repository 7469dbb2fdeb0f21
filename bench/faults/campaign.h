#pragma once

#include <climits>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "base/result_codes.h"
#include "protocol/block_codec.h"

namespace quenlo::faults {

// The fault campaign: small transfers of every kind through the whole engine (RunTransfer), with
// the real handheld machines behind the in-memory line, in virtual time, each with faults of the
// line at chosen bytes, each judged by the rule of receptions: a success means the whole new file
// under its name; anything else means exactly what the name held before.

struct TransferKind {
    std::string name;
    bool send = false;  // the loader sends (else it receives)
    bool ymodem = false;
    BlockOptions blocks = {};  // the block protocol's check byte and numbers
    bool dataFile = false;     // a data file with its fields, not a program file
    bool append = false;       // +APP onto earlier content
    std::size_t bytes = 0;     // YMODEM: the file's size (up to 896 bytes go in 128-byte blocks)
};

// The kinds the campaign runs.
const std::vector<TransferKind>& Kinds();

enum class Direction { kToHandheld, kToLoader };
enum class FaultType { kLost, kFlip, kDoubled, kStray, kSilent };

struct Fault {
    Direction direction = Direction::kToHandheld;
    long position = 1;  // the byte, counted from 1 in its direction
    FaultType type = FaultType::kLost;
    std::uint8_t bits = 0;  // kFlip: the bits flipped; kStray: the byte put in before it
};

enum class Verdict {
    kWhole,         // success, and the whole new file is there
    kCleanFailure,  // a failure, and the name holds what it held
    kLimit,         // a violation the protocol cannot see: a flip where no check byte is, one
                    // control byte flipped into another, two flips that cancel in the check,
                    // or a record sent again that, without block numbers, a handheld keeps twice
    kViolation,     // anything else: a partial, wrong or lost file, or a success without one
    kOverlong,      // judged well, but it took longer than the time-out's bound
};

struct RunResult {
    ResultCode result = ResultCode::kOk;
    Verdict verdict = Verdict::kViolation;
    double seconds = 0;  // virtual time the run took
    std::string why;     // for a violation: what was found
};

struct CleanRun {
    std::string toHandheld;  // the bytes each way
    std::string toLoader;
    double seconds = 0;
};

// Runs transfers in a scratch folder of its own (one per thread).
class Campaign {
  public:
    explicit Campaign(std::filesystem::path scratch);

    CleanRun Clean(const TransferKind& kind);
    RunResult Run(const TransferKind& kind, const std::vector<Fault>& faults,
                  const CleanRun& clean);

  private:
    std::filesystem::path scratch_;
};

// Every single fault at every byte of each direction, or at about `positions` bytes spread over
// it: lost, each bit flipped, doubled, a stray byte before it, the line silent from there.
std::vector<std::vector<Fault>> SingleFaults(const CleanRun& clean, long positions = LONG_MAX);

// A run may take the clean run's time and, per fault, the time-out twice over (ours, and the
// handheld's retries it sets off), and a margin of one more.
double TimeBound(const CleanRun& clean, std::size_t faults);

const char* FaultName(FaultType type);

}  // namespace quenlo::faults
