#include <unistd.h>
#include <QCoreApplication>
#include <QSocketNotifier>
#include <csignal>

#include "cli/interrupt.h"
#include "disk/directory.h"

namespace quenlo {

namespace {

int wakePipe[2] = {-1, -1};
volatile std::sig_atomic_t presses = 0;
int secondStatus = 255;

// Ctrl-C, a closing terminal (SIGHUP) and SIGTERM all press Cancel; a second one of any ends the
// program at once, taking back first what it was writing.
extern "C" void OnInterrupt(int) {
    presses = presses + 1;
    if (presses >= 2) {
        disk::AbandonAllPending();
        _exit(secondStatus);
    }
    const char byte = 1;
    [[maybe_unused]] const auto written = write(wakePipe[1], &byte, 1);
}

}  // namespace

void InstallInterruptHandler(std::function<void()> onCancel, int exitStatusOnSecond) {
    secondStatus = exitStatusOnSecond;
    if (pipe(wakePipe) != 0) {
        return;
    }
    // Owned by the application: the handler stays installed to the end.
    auto* notifier =
        new QSocketNotifier(wakePipe[0], QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, [onCancel = std::move(onCancel)] {
        char byte = 0;
        [[maybe_unused]] const auto got = read(wakePipe[0], &byte, 1);
        onCancel();
    });
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        sigaction(signal, &action, nullptr);
    }
    // Output to a terminal or a pipe that has gone must not end the run before its clean-up.
    std::signal(SIGPIPE, SIG_IGN);
}

void LetWritesFailPastTheSizeLimit() {
    std::signal(SIGXFSZ, SIG_IGN);
}

}  // namespace quenlo
