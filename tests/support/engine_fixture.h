#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "engine/run_state.h"
#include "support/fake_host.h"
#include "support/memory_serial_comm.h"
#include "support/recording_view.h"
#include "support/scripted_handheld.h"
#include "support/temp_dir.h"

namespace quenlo::testing {

// The engine wired to an in-memory line, a scripted handheld, a recording window and a host in
// virtual time: whole exchanges, time-outs included, run in milliseconds.
class EngineFixture : public ::testing::Test {
  protected:
    EngineFixture() {
        line.peer = &handheld;
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

    // A file of `lines` lines "LINE0001", "LINE0002", ... ended by CR LF; returns its full path.
    std::string WriteLines(const std::string& name, int lines, const std::string& stem = "LINE") {
        std::string text;
        for (int i = 1; i <= lines; ++i) {
            text += stem + std::to_string(1000 + i).substr(1) + "\r\n";
        }
        dir.Write(name, text);
        return dir.enginePath() + name;
    }

    // Clicks the transfer window's button once the virtual clock reaches the given time, counted
    // from now.
    void ClickAfter(double seconds) { clickAt = host.ClockSeconds() + seconds; }

    FakeHost host;
    MemorySerialComm line{host};
    RecordingView view;
    ScriptedHandheld handheld;
    TempDir dir;
    RunState state{host, &line, &view};
    std::function<void()> onYield;
    double clickAt = -1;
};

}  // namespace quenlo::testing
