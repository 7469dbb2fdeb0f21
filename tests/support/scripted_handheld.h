#pragma once

#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "support/memory_serial_comm.h"

namespace quenlo::testing {

// A handheld that takes a file by the block protocol, answering each text the loader sends after
// answerDelay seconds of virtual time, with faults switched on by its fields.
class ScriptedHandheld : public LinePeer {
  public:
    void OnReceived(std::string_view text, MemorySerialComm& line) override;

    double answerDelay = 0.1;
    bool silent = false;
    int nakHeading = 0;    // NAK the heading this many times before taking it
    int nakBlockOnce = 0;  // NAK this data block (numbered from 1) the first time it comes
    int nakBlockAlways = 0;
    int eotAtBlock = 0;  // answer this data block with EOT
    bool answerClosing = true;
    bool sequenceNumbers = true;
    std::set<int> dropAnswerTo;  // numbers (from 1) of texts left unanswered

    std::vector<std::string> texts;    // everything the loader sent, one entry per text
    std::string heading;               // the last heading block
    std::vector<std::string> records;  // records taken, in order, without repeats
    std::vector<int> blockNumbers;     // number of every data block seen, repeats included
    int enqs = 0;
    int eots = 0;

  private:
    void Answer(MemorySerialComm& line, char reply);

    int headingNaks_ = 0;
    std::set<int> nakked_;
};

}  // namespace quenlo::testing
