#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/block_codec.h"
#include "protocol/peer_machine.h"

namespace quenlo::protocol {

// What a handheld uploads: a file's name and layout, and its records, each exactly the record
// length long.
struct Upload {
    std::string name;
    bool programFile = true;
    std::vector<int> fieldLengths;  // data files only
    std::vector<std::string> records;
};

// An uploading handheld's misbehaviour on the protocol level; block numbers count from 1.
struct SenderFaults {
    int repeatBlock = 0;         // send block k a second time, same number, after its ACK
    int badCheckBlock = 0;       // the first sending of block k carries a wrong check byte
    bool dropNulChecks = false;  // a check byte that comes out NUL is left off
    int strayBeforeBlock = 0;    // line noise right before block k's STX
    int enqBeforeBlock = 0;      // a lone ENQ before block k
    bool callForever = false;    // calls again whatever the loader answers, never sending
};

struct BlockSenderOptions {
    BlockOptions blocks;
    // How long to wait for an answer before sending the same thing again.
    Time answerTimeout = std::chrono::milliseconds(3500);
    // How often to send one unit before giving up, and how often to call (ENQ) first.
    int tries = 10;
    int callTries = 20;
    SenderFaults faults;
};

// The handheld's side of an upload by the block protocol: it calls with ENQ until the loader
// answers ACK, sends the heading and one data block per record, each until it is acknowledged,
// and ends with EOT. The loader only answers; an EOT from it ends the upload.
class BlockSender : public PeerMachine {
  public:
    BlockSender(BlockSenderOptions options, Upload upload, Time now);

    void OnBytes(std::string_view bytes, Time now) override;
    void OnTick(Time now) override;
    std::optional<Time> NextDeadline() const override;
    int protocolErrors() const override { return strayBytes_; }
    std::string Summary() const override;

    int naksReceived() const { return naks_; }

  private:
    enum class Phase { kCalling, kHeading, kData, kRepeat, kClosing, kDone };

    void SendCurrent(Time now);
    void OnAnswer(char answer, Time now);
    void Advance(Time now);
    std::string DataBlock(int number, bool firstSending);
    void Finish(Outcome outcome, const std::string& why);

    BlockSenderOptions options_;
    Upload upload_;
    Phase phase_ = Phase::kCalling;
    int block_ = 0;  // the data block in flight, from 1
    int tries_ = 0;  // sendings of the current unit
    int acknowledged_ = 0;
    int naks_ = 0;
    int strayBytes_ = 0;
    bool enqProbe_ = false;  // the lone ENQ before a block awaits its answer
    int enqSentFor_ = 0;
    Time deadline_;
};

}  // namespace quenlo::protocol
