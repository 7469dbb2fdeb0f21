#pragma once

#include "fuzz_input.h"
#include "support/engine_rig.h"
#include "support/temp_dir.h"

namespace quenlo::fuzz {

// The engine rig with its window shown and its port open, its files in a scratch directory that
// lives as long as the process.
struct EngineRig : testing::EngineRig {
    EngineRig() {
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
};

}  // namespace quenlo::fuzz
