#pragma once

#include <cstdint>
#include <utility>

#include "base/run_state.h"
#include "base/transfer_view.h"

namespace quenlo {

// Receives the transfer window's clicks and ticks for a run.
class WindowEvents : public TransferWindowEvents {
  public:
    explicit WindowEvents(RunState& state) : state_(state) {}
    void CommandButtonClicked() override {
        state_.cancelRequested = true;
        clicked_ = true;
    }
    void TimerTicked() override {
        // Saturate rather than wrap: a wrapped counter would restart a time-out.
        if (state_.timerTicks < INT16_MAX) {
            ++state_.timerTicks;
        }
    }

    // The button was clicked since the last pass began. The waits clear cancelRequested when they
    // start, so a click between two waits of a repeat-receive run would be lost; it still ends
    // the run after the pass.
    bool TakeClick() { return std::exchange(clicked_, false); }

  private:
    RunState& state_;
    bool clicked_ = false;
};

}  // namespace quenlo
