#include "support/scripted_handheld.h"

#include "link/control_chars.h"

namespace quenlo::testing {

void ScriptedHandheld::Answer(MemorySerialComm& line, char reply) {
    if (!silent && dropAnswerTo.count(static_cast<int>(texts.size())) == 0) {
        line.Deliver(std::string(1, reply), answerDelay);
    }
}

void ScriptedHandheld::OnReceived(std::string_view text, MemorySerialComm& line) {
    texts.emplace_back(text);
    if (text.empty()) {
        return;
    }
    switch (text.front()) {
        case chENQ:
            ++enqs;
            Answer(line, chACK);
            return;
        case chEOT:
            ++eots;
            if (answerClosing) {
                Answer(line, chACK);
            }
            return;
        case chSOH:
            heading = std::string(text);
            if (headingNaks_ < nakHeading) {
                ++headingNaks_;
                Answer(line, chNAK);
            } else {
                Answer(line, chACK);
            }
            return;
        case chSTX: {
            const int number = sequenceNumbers ? std::stoi(std::string(text.substr(1, 5)))
                                               : static_cast<int>(records.size()) + 1;
            blockNumbers.push_back(number);
            if (number == eotAtBlock) {
                Answer(line, chEOT);
                return;
            }
            if (number == nakBlockAlways ||
                (number == nakBlockOnce && nakked_.insert(number).second)) {
                Answer(line, chNAK);
                return;
            }
            if (number == static_cast<int>(records.size()) + 1) {
                const std::size_t start = sequenceNumbers ? 6 : 1;
                const std::size_t etx = text.find(chETX, start);
                records.emplace_back(text.substr(start, etx - start));
            }
            Answer(line, chACK);
            return;
        }
        default:
            return;
    }
}

}  // namespace quenlo::testing
