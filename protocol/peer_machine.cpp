#include "protocol/peer_machine.h"

namespace quenlo::protocol {

const char* OutcomeName(Outcome outcome) {
    switch (outcome) {
        case Outcome::kRunning:
            return "running";
        case Outcome::kOk:
            return "ok";
        case Outcome::kIncomplete:
            return "incomplete";
        case Outcome::kTimeout:
            return "timeout";
        case Outcome::kAborted:
            return "aborted";
        case Outcome::kFailed:
            return "failed";
        case Outcome::kVanished:
            return "vanished";
    }
    return "?";
}

}  // namespace quenlo::protocol
