#pragma once

#include <filesystem>
#include <functional>
#include <string>

#include "sim/block_receiver.h"
#include "sim/line_pacer.h"

namespace quenlo::sim {

struct SessionSetup {
    int fd = -1;      // the line, non-blocking
    int stopFd = -1;  // becomes readable when the session must end at once (a signal came)
    std::filesystem::path dir;
    bool verbose = false;
    // Waits until what we wrote has reached the other side; the line is closed right after.
    std::function<void()> drain;
};

struct SessionReport {
    Outcome outcome = Outcome::kRunning;
    bool failed = false;  // a file or line error, or a stop request
    std::string failure;
    std::string name;  // from the heading; empty when none was accepted
    int received = 0;
    int announced = 0;
    int naks = 0;

    // ok, incomplete, timeout, vanished or error.
    std::string status() const;
    int exitCode() const;
    // The one line bht-sim prints at the end.
    std::string SummaryLine() const;
};

// The clock the session runs on; a receiver handed to RunSession must start on it.
TimeUs MonotonicNow();

// Drives the receiver over the line until it finishes: waits in poll() for bytes, the next
// deadline or the next paced byte, and writes the records to DIR as they are accepted. A line has
// one rate both ways, so the pacer's rate also holds each received byte back until it would have
// crossed the line; the receiver then answers a block only once all of it is through.
SessionReport RunSession(const SessionSetup& setup, BlockReceiver& receiver, LinePacer& pacer);

}  // namespace quenlo::sim
