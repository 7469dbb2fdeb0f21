#pragma once

#include <functional>
#include <optional>

#include "base/run_state.h"
#include "run/window_events.h"
#include "support/fake_host.h"
#include "support/memory_serial_comm.h"
#include "support/recording_view.h"

namespace quenlo::testing {

// The engine wired to an in-memory line, a recording window and a host in virtual time: whole
// exchanges, time-outs included, run in milliseconds.
struct EngineRig {
    EngineRig() {
        view.clock = [this] { return host.ClockSeconds(); };
        host.eventSources.push_back([this] { return view.NextTick(); });
        // A click wakes the wait it comes in.
        host.eventSources.push_back(
            [this] { return clickAt >= 0 ? std::optional(clickAt) : std::nullopt; });
        host.onYield = [this] {
            if (clickAt >= 0 && host.ClockSeconds() >= clickAt) {
                clickAt = -1;
                view.Click();
            }
            if (onYield) {
                onYield();
            }
            view.OnYield();
        };
    }

    // Clicks the transfer window's button once the virtual clock reaches the given time, counted
    // from now.
    void ClickAfter(double seconds) { clickAt = host.ClockSeconds() + seconds; }

    FakeHost host;
    MemorySerialComm line{host};
    RecordingView view;
    RunState state{host, &line, &view};
    WindowEvents events{state};
    std::function<void()> onYield;  // called on every yield
    double clickAt = -1;
};

}  // namespace quenlo::testing
