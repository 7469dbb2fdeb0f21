#include "base/run_state.h"

namespace quenlo {

void RunState::CloseAllFiles() {
    for (auto& f : files) {
        f.reset();
    }
}

bool RunState::AnyFileOpen() const {
    for (const auto& f : files) {
        if (f) {
            return true;
        }
    }
    return false;
}

void SetDefaults(RunState& state) {
    static_cast<TransferSettings&>(state) = TransferSettings{};
}

}  // namespace quenlo
