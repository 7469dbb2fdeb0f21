#pragma once

#include "base/run_state.h"
#include "fuzz_input.h"
#include "support/fake_host.h"
#include "support/memory_serial_comm.h"
#include "support/recording_view.h"
#include "support/temp_dir.h"

namespace quenlo::fuzz {

// The loader's engine on an in-memory line in virtual time, its window shown, its files in a
// scratch directory that lives as long as the process.
struct EngineRig {
    EngineRig() {
        view.clock = [this] { return host.ClockSeconds(); };
        host.eventSources.push_back([this] { return view.NextTick(); });
        host.onYield = [this] { view.OnYield(); };
        SetDefaults(state);
        state.filePath = Directory().enginePath();
        line.SetPortOpen(true);
        view.Show(events);
    }

    // Puts the steps on the line, to arrive one after another (a burst 20 ms after the one before
    // it, so that each arrives on its own), as a line that does not listen.
    void Schedule(StepReader& input) {
        double at = 0;
        for (Step step; input.Next(step);) {
            if (step.kind == Step::kBurst) {
                line.Deliver(step.bytes, at);
            }
            at += step.kind == Step::kBurst ? 0.02
                  : step.kind == Step::kDeadline
                      ? 3.0
                      : std::chrono::duration<double>(step.pause).count();
        }
    }

    static const testing::TempDir& Directory() {
        static const testing::TempDir dir;
        return dir;
    }

    testing::FakeHost host;
    testing::MemorySerialComm line{host};
    testing::RecordingView view;
    RunState state{host, &line, &view};
    testing::RunStateEvents events{state};
};

}  // namespace quenlo::fuzz
