#include "faults/campaign.h"

#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>

#include "protocol/block_receiver.h"
#include "protocol/block_sender.h"
#include "protocol/control_chars.h"
#include "protocol/ymodem_block.h"
#include "protocol/ymodem_receiver.h"
#include "protocol/ymodem_sender.h"
#include "run/run_transfer.h"
#include "support/engine_rig.h"
#include "support/temp_dir.h"

namespace quenlo::faults {
namespace {

namespace fs = std::filesystem;

constexpr double kTimeoutSeconds = 30;  // +T30
const std::string kEarlier = "EARLIER CONTENT\r\n";
const std::vector<std::string> kProgramLines = {"PROGRAM LINE ONE", "PROGRAM LINE TWO, LONGER"};
const std::vector<std::string> kDataLines = {"ITEM1     AB1  ", "ITEM2     CD2  "};
const std::vector<int> kWidths = {10, 5};

std::string FileName(const TransferKind& kind) {
    return kind.ymodem ? "APP.PD4" : kind.dataFile ? "DATA.TXT" : "PROG.PD3";
}

// The records as a handheld keeps them, and as the loader writes them: a line each, filled.
std::string Records(const TransferKind& kind) {
    std::string text;
    for (const std::string& line : kind.dataFile ? kDataLines : kProgramLines) {
        std::string record = line;
        record.resize(kind.dataFile ? 15 : 128, kind.dataFile ? ' ' : '0');
        text += record + "\r\n";
    }
    return text;
}

// What the whole transfer carries: the file's bytes by YMODEM, its records by blocks.
std::string Carried(const TransferKind& kind) {
    return kind.ymodem ? testing::Bytes(kind.bytes) : Records(kind);
}

protocol::Upload UploadOf(const TransferKind& kind) {
    protocol::Upload upload{FileName(kind), !kind.dataFile, {}, {}};
    if (kind.dataFile) {
        upload.fieldLengths = kWidths;
    }
    const std::string records = Records(kind);
    for (std::size_t at = 0; at < records.size();) {
        const std::size_t end = records.find("\r\n", at);
        upload.records.push_back(records.substr(at, end - at));
        at = end + 2;
    }
    return upload;
}

sim::LineFaults LineFaultsOf(const std::vector<Fault>& faults, Direction direction) {
    sim::LineFaults line;
    for (const Fault& fault : faults) {
        if (fault.direction != direction) {
            continue;
        }
        switch (fault.type) {
            case FaultType::kLost:
                line.dropBytes.insert(fault.position);
                break;
            case FaultType::kFlip:
                line.flipBits[fault.position] ^= fault.bits;
                break;
            case FaultType::kDoubled:
                line.doubleBytes.insert(fault.position);
                break;
            case FaultType::kStray:
                line.insertBefore[fault.position] = static_cast<char>(fault.bits);
                break;
            case FaultType::kSilent:
                if (fault.position <= 1) {
                    line.silent = true;
                } else if (line.cutAfter == 0 || line.cutAfter > fault.position - 1) {
                    line.cutAfter = fault.position - 1;
                }
                break;
        }
    }
    return line;
}

// The frame each byte of a clean stream belongs to, counted from 1 (0 for a single-byte signal):
// the heading up to its ETX and check byte, data blocks of their fixed length, YMODEM frames of
// the length their start byte gives.
std::vector<int> FramesOf(const TransferKind& kind, const std::string& stream) {
    std::vector<int> frames(stream.size(), 0);
    const std::size_t block = DataBlockLength(kind.dataFile ? 15 : 128, kind.blocks);
    int frame = 0;
    for (std::size_t at = 0; at < stream.size();) {
        std::size_t length = 1;
        if (kind.ymodem) {
            length = std::max<std::size_t>(
                1, protocol::FrameSize(stream[at], protocol::CheckKind::kCrc16));
        } else if (stream[at] == chSOH) {
            length = stream.find(chETX, at + 18) + 1 - at + (kind.blocks.bcc ? 1 : 0);
        } else if (stream[at] == chSTX) {
            length = block;
        }
        const int of = length > 1 ? ++frame : 0;
        for (std::size_t i = at; i < std::min(stream.size(), at + length); ++i) {
            frames[i] = of;
        }
        at += length;
    }
    return frames;
}

// What no check of the protocol can see: a flipped bit with no check byte on; a single-byte signal
// flipped into another (ENQ, EOT, ACK and NAK travel alone, unchecked: EOT and ENQ differ in one
// bit); and, with more faults than one, an answer that comes twice or out of noise (answers carry
// no numbers, so it is taken for the next one), or faults in one frame that keep its length, which
// its check (an exclusive-or, or CRC-16 for one pattern in 65536) may miss, flips in one frame
// that cancel out in its exclusive-or, or a block's check byte lost beside another fault.
bool ProtocolCannotSee(const TransferKind& kind, const std::vector<Fault>& faults,
                       const CleanRun& clean) {
    static const std::string kSignals{chENQ, chEOT, chACK, chNAK};
    const Direction answers = kind.send ? Direction::kToLoader : Direction::kToHandheld;
    struct InFrame {
        int lost = 0, added = 0, flips = 0;
        std::uint8_t flipped = 0;
        bool checkLost = false;
    };
    std::map<std::pair<Direction, int>, InFrame> frames;
    for (const Fault& fault : faults) {
        const std::string& stream =
            fault.direction == Direction::kToHandheld ? clean.toHandheld : clean.toLoader;
        const auto at = static_cast<std::size_t>(fault.position - 1);
        if (fault.type == FaultType::kFlip &&
            ((!kind.ymodem && !kind.blocks.bcc) ||
             (at < stream.size() && kSignals.find(stream[at]) != std::string::npos &&
              kSignals.find(static_cast<char>(stream[at] ^ fault.bits)) != std::string::npos))) {
            return true;
        }
        if (faults.size() < 2 || at >= stream.size()) {
            continue;
        }
        if (fault.direction == answers &&
            (fault.type == FaultType::kDoubled || fault.type == FaultType::kStray)) {
            return true;
        }
        const std::vector<int> of = FramesOf(kind, stream);
        // A stray byte before a frame's start byte falls between frames, where it is dropped.
        const bool before = fault.type == FaultType::kStray && (at == 0 || of[at - 1] != of[at]);
        InFrame& in = frames[{fault.direction, before ? 0 : of[at]}];
        // Without its check byte a block is judged by the missing NUL rule, which one more fault
        // may satisfy.
        in.checkLost |= fault.type == FaultType::kLost && !kind.ymodem && kind.blocks.bcc &&
                        of[at] != 0 && (at + 1 == of.size() || of[at + 1] != of[at]);
        in.lost += fault.type == FaultType::kLost ? 1 : 0;
        in.added += fault.type == FaultType::kDoubled || fault.type == FaultType::kStray ? 1 : 0;
        if (fault.type == FaultType::kFlip) {
            ++in.flips;
            in.flipped ^= fault.bits;
        }
    }
    for (const auto& [where, in] : frames) {
        const bool shifted = where.second != 0 && in.lost > 0 && in.lost == in.added;
        const bool cancelled = where.second != 0 && in.lost == 0 && in.added == 0 &&
                               in.flips >= 2 && !kind.ymodem && in.flipped == 0;
        const bool unchecked = in.checkLost && in.lost + in.added + in.flips >= 2;
        if (shifted || cancelled || unchecked) {
            return true;
        }
    }
    return false;
}

// Without block numbers a handheld cannot tell a block sent again (its ACK lost) from the next
// one when the count comes out right all the same: the file it keeps has every record it should
// have and one of them twice.
bool RecordTakenTwice(const TransferKind& kind, const std::string& held) {
    if (kind.ymodem || kind.blocks.seq || !kind.send) {
        return false;
    }
    const std::string expected = Records(kind);
    std::size_t records = 0;
    for (std::size_t at = 0; at < held.size(); ++records) {
        const std::size_t end = held.find("\r\n", at);
        if (end == std::string::npos ||
            expected.find(held.substr(at, end + 2 - at)) == std::string::npos) {
            return false;
        }
        at = end + 2;
    }
    return records == (kind.dataFile ? kDataLines : kProgramLines).size();
}

struct Outcome {
    ResultCode result = result::kOk;
    double seconds = 0;
    std::string held;        // what the name holds after
    std::string names;       // the receiving folder's names after
    std::string toHandheld;  // the bytes each way
    std::string toLoader;
};

}  // namespace

const std::vector<TransferKind>& Kinds() {
    static const std::vector<TransferKind> kinds = [] {
        std::vector<TransferKind> all;
        for (const bool send : {true, false}) {
            const std::string way = send ? "send" : "receive";
            for (const BlockOptions blocks :
                 {BlockOptions{true, true}, BlockOptions{true, false}, BlockOptions{false, true},
                  BlockOptions{false, false}}) {
                all.push_back({way + " block " + (blocks.bcc ? "+PB" : "-PB") +
                                   (blocks.seq ? " +SN" : " -SN"),
                               send, false, blocks});
            }
            all.push_back({way + " block data file", send, false, {}, true});
            all.push_back({way + " YMODEM 128", send, true, {}, false, false, 300});
            all.push_back({way + " YMODEM 1024", send, true, {}, false, false, 1100});
        }
        all.push_back({"receive block +APP", false, false, {}, false, true});
        return all;
    }();
    return kinds;
}

Campaign::Campaign(std::filesystem::path scratch) : scratch_(std::move(scratch)) {
    fs::create_directories(scratch_);
}

namespace {

// Writes the file the run sends, or the earlier file a reception may replace, into `scratch`;
// returns the option line of the run.
std::string PrepareRun(const fs::path& scratch, const TransferKind& kind) {
    fs::remove_all(scratch);
    fs::create_directories(scratch / "in");
    const std::string name = FileName(kind);
    const std::string enginePath = scratch.string() + "/";
    std::string line;
    if (kind.send) {
        std::string content;
        if (kind.ymodem) {
            content = Carried(kind);
        } else {
            for (const std::string& text : kind.dataFile ? kDataLines : kProgramLines) {
                content += text + "\r\n";
            }
        }
        std::ofstream(scratch / name, std::ios::binary) << content;
        line = enginePath + name + (kind.dataFile ? " +F10,5" : "");
    } else {
        std::ofstream(scratch / "in" / name, std::ios::binary) << kEarlier;
        line = enginePath + "in/" + (kind.append ? " +APP" : "") + (kind.ymodem ? " +YMOD" : "");
    }
    return line + std::string(" +T30") + (kind.ymodem ? " +B115200" : " +B19200") +
           (kind.blocks.bcc ? "" : " -PB") + (kind.blocks.seq ? "" : " -SN");
}

// The handheld's machine for the kind: the receiver of a send, the sender of a reception.
std::unique_ptr<protocol::PeerMachine> HandheldFor(const TransferKind& kind,
                                                   testing::MemoryStore& store,
                                                   testing::MemorySource& source,
                                                   protocol::Time now) {
    if (kind.send && kind.ymodem) {
        return std::make_unique<protocol::YmodemReceiver>(protocol::YmodemReceiverOptions{}, &store,
                                                          now);
    }
    if (kind.send) {
        protocol::BlockReceiverOptions options;
        options.blocks = kind.blocks;
        return std::make_unique<protocol::BlockReceiver>(options, store, now);
    }
    if (kind.ymodem) {
        return std::make_unique<protocol::YmodemSender>(protocol::YmodemSenderOptions{}, &source,
                                                        now);
    }
    protocol::BlockSenderOptions options;
    options.blocks = kind.blocks;
    return std::make_unique<protocol::BlockSender>(options, UploadOf(kind), now);
}

Outcome RunTransferOf(const fs::path& scratch, const TransferKind& kind,
                      const std::vector<Fault>& faults) {
    const std::string line = PrepareRun(scratch, kind);
    const std::string name = FileName(kind);
    testing::EngineRig rig;
    testing::MemoryStore store;
    testing::MemorySource source(name, Carried(kind));
    const std::unique_ptr<protocol::PeerMachine> handheld =
        HandheldFor(kind, store, source, rig.line.Now());
    const int baud = kind.ymodem ? 115200 : 19200;
    sim::Line toHandheld(baud, LineFaultsOf(faults, Direction::kToHandheld));
    sim::Line toLoader(baud, LineFaultsOf(faults, Direction::kToLoader));
    rig.line.Attach(*handheld, std::move(toHandheld), std::move(toLoader));
    rig.state.commandLine = line;
    const double start = rig.host.ClockSeconds();
    RunTransfer(rig.state);
    const double seconds = rig.host.ClockSeconds() - start;
    // What is on its way when the loader closes still reaches the handheld.
    rig.host.Advance(5);
    rig.line.InputCount();

    Outcome outcome;
    outcome.result = rig.state.resultCode;
    outcome.seconds = seconds;
    for (const std::string& text : rig.line.sent) {
        outcome.toHandheld += text;
    }
    outcome.toLoader = rig.line.heard;
    if (kind.send) {
        const auto kept = store.files.find(name);
        outcome.held = kept == store.files.end() ? "-" : kept->second;
    } else {
        outcome.held = testing::TempDir::HeldAt(scratch / "in" / name);
        outcome.names = testing::TempDir::NamesIn(scratch / "in");
    }
    return outcome;
}

}  // namespace

CleanRun Campaign::Clean(const TransferKind& kind) {
    const Outcome outcome = RunTransferOf(scratch_, kind, {});
    return {outcome.toHandheld, outcome.toLoader, outcome.seconds};
}

RunResult Campaign::Run(const TransferKind& kind, const std::vector<Fault>& faults,
                        const CleanRun& clean) {
    const Outcome outcome = RunTransferOf(scratch_, kind, faults);
    const std::string whole = (kind.append ? kEarlier : "") + Carried(kind);
    const std::string earlier = kind.send ? "-" : kEarlier;
    const std::string name = FileName(kind);
    const std::string fieldFile = "DATA.FLD";
    RunResult run{outcome.result, Verdict::kViolation, outcome.seconds, {}};
    bool good = false;
    if (outcome.result == result::kOk) {
        const std::string names = kind.dataFile && !kind.send ? fieldFile + "|" + name : name;
        good = outcome.held == whole && (kind.send || outcome.names == names);
    } else {
        // A send that failed may have left the whole file with the handheld: its last answer lost.
        good = (outcome.held == earlier || (kind.send && outcome.held == whole)) &&
               (kind.send || outcome.names == name);
    }
    if (!good) {
        run.verdict = ProtocolCannotSee(kind, faults, clean) || RecordTakenTwice(kind, outcome.held)
                          ? Verdict::kLimit
                          : Verdict::kViolation;
        run.why = "result " + std::to_string(Number(outcome.result)) + ", " +
                  std::to_string(outcome.held.size()) + " bytes held" +
                  (kind.send ? "" : ", names " + outcome.names);
        return run;
    }
    run.verdict = outcome.seconds > TimeBound(clean, faults.size())
                      ? Verdict::kOverlong
                      : (outcome.result == result::kOk ? Verdict::kWhole : Verdict::kCleanFailure);
    return run;
}

std::vector<std::vector<Fault>> SingleFaults(const CleanRun& clean, long positions) {
    std::vector<std::vector<Fault>> runs;
    for (const Direction direction : {Direction::kToHandheld, Direction::kToLoader}) {
        const long bytes = static_cast<long>(
            (direction == Direction::kToHandheld ? clean.toHandheld : clean.toLoader).size());
        // Spread over the whole direction; an odd step meets bytes of every kind in turn.
        const long step = bytes <= positions ? 1 : (bytes / positions) | 1;
        for (long position = 1; position <= bytes; position += step) {
            runs.push_back({{direction, position, FaultType::kLost}});
            for (int bit = 0; bit < 8; ++bit) {
                runs.push_back(
                    {{direction, position, FaultType::kFlip, static_cast<std::uint8_t>(1 << bit)}});
            }
            runs.push_back({{direction, position, FaultType::kDoubled}});
            // A stray byte of every value in turn, the protocol's own among them.
            runs.push_back({{direction, position, FaultType::kStray,
                             static_cast<std::uint8_t>(position * 37 % 256)}});
            runs.push_back({{direction, position, FaultType::kSilent}});
        }
    }
    return runs;
}

double TimeBound(const CleanRun& clean, std::size_t faults) {
    return clean.seconds + (2.0 * static_cast<double>(faults) + 1.0) * 2.0 * kTimeoutSeconds;
}

const char* FaultName(FaultType type) {
    switch (type) {
        case FaultType::kLost:
            return "lost";
        case FaultType::kFlip:
            return "bit flipped";
        case FaultType::kDoubled:
            return "doubled";
        case FaultType::kStray:
            return "stray byte";
        case FaultType::kSilent:
            return "silent";
    }
    return "?";
}

}  // namespace quenlo::faults
