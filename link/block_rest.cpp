#include "link/block_rest.h"

#include <algorithm>
#include <cstdlib>

#include "base/host.h"
#include "base/serial_comm.h"

namespace quenlo {

namespace {
// The longest rest between looks at the port, which only then reports a device that went away.
constexpr std::chrono::milliseconds kLongestRest{250};
// What a UART's receive FIFO or a USB adapter's frame hands over in one piece: a rest for no more
// than this would only make the piece late, since it wakes the wait once anyway.
constexpr std::size_t kOnePieceBytes = 16;
}  // namespace

double CharacterSeconds(const RunState& state) {
    const int baud = std::atoi(state.baudRate.c_str());
    if (baud <= 0) {
        return 0;
    }
    const int parityBits = state.parity == "N" || state.parity == "n" ? 0 : 1;
    const int bits = 1 + std::atoi(state.dataBits.c_str()) + parityBits +
                     std::max(1, std::atoi(state.stopBits.c_str()));
    return static_cast<double>(bits) / baud;
}

void AwaitRestOfBlock(RunState& state, std::size_t missing, std::chrono::milliseconds limit) {
    // Rounded down: waking a little early costs one more look, waking late costs the line time.
    const auto due = std::chrono::milliseconds(
        static_cast<long long>(static_cast<double>(missing) * CharacterSeconds(state) * 1000.0));
    const auto rest = std::min({due, limit, kLongestRest});
    // A lost device ends no rest: waiting as before keeps the caller from spinning until it looks.
    if (missing <= kOnePieceBytes || rest.count() < 1 || IsLineError(state.comm->LastEvent())) {
        state.host->Yield(limit);
        return;
    }
    // Looked at again only while a whole millisecond is left: a timer that fires a hair early
    // must not cost another millisecond.
    const double end = state.host->ClockSeconds() + static_cast<double>(rest.count()) / 1000.0;
    state.comm->HoldInput(true);
    for (auto left = rest;
         left.count() >= 1 && !state.cancelRequested && !IsLineError(state.comm->LastEvent());
         left = std::chrono::milliseconds(
             static_cast<long long>((end - state.host->ClockSeconds()) * 1000.0))) {
        state.host->Yield(left);
    }
    state.comm->HoldInput(false);
}

}  // namespace quenlo
