#pragma once

#include <functional>

namespace quenlo {

// Ctrl-C handling for the terminal: the first press calls onCancel from the event loop; a second
// one ends the program at once with the given status.
void InstallInterruptHandler(std::function<void()> onCancel, int exitStatusOnSecond);

// A file-size limit (ulimit -f) makes a write fail, as a full disk does, instead of ending the
// program halfway through a reception.
void LetWritesFailPastTheSizeLimit();

}  // namespace quenlo
