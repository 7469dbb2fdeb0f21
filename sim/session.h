#pragma once

#include <functional>
#include <string>

#include "protocol/peer_machine.h"
#include "sim/line.h"

namespace quenlo::sim {

struct SessionSetup {
    int fd = -1;      // the line, non-blocking
    int stopFd = -1;  // becomes readable when the session must end at once (a signal came)
    bool verbose = false;
    // Waits until what we wrote has reached the other side; the line is closed right after.
    std::function<void()> drain;
};

struct SessionReport {
    protocol::Outcome outcome = protocol::Outcome::kRunning;
    bool vanished = false;  // the line was cut on purpose
    bool failed = false;    // a line error, a stop request, or a protocol error of the loader
    std::string failure;
    std::string summary;  // the machine's

    // ok, incomplete, timeout, aborted, failed, vanished or error.
    std::string status() const;
    int exitCode() const;
    // The one line bht-sim prints at the end.
    std::string SummaryLine() const;
};

// The clock the session runs on; a machine handed to RunSession must start on it.
Time MonotonicNow();

// Drives a machine over the line until it finishes: waits in poll() for bytes, the machine's next
// deadline or the next burst due on either direction of the line. `toMachine` carries what the
// loader wrote, `toLoader` what the machine answers; their rates and faults make the line. A
// machine that reports protocol errors on a line without faults fails the session: the loader
// sent something a handheld refuses.
SessionReport RunSession(const SessionSetup& setup, protocol::PeerMachine& machine, Line& toMachine,
                         Line& toLoader, bool faultyLine);

}  // namespace quenlo::sim
