#include <QCoreApplication>
#include <QTimer>
#include <atomic>
#include <csignal>
#include <cstdlib>

#include "cli/interrupt.h"

namespace quenlo {

namespace {
std::atomic<int> presses{0};
int secondStatus = 255;

extern "C" void OnInterrupt(int) {
    if (++presses >= 2) {
        std::_Exit(secondStatus);
    }
    std::signal(SIGINT, OnInterrupt);
}
}  // namespace

void InstallInterruptHandler(std::function<void()> onCancel, int exitStatusOnSecond) {
    secondStatus = exitStatusOnSecond;
    std::signal(SIGINT, OnInterrupt);
    // No self-pipe here: look for a press a few times a second from the event loop.
    auto* poll = new QTimer(QCoreApplication::instance());
    poll->setInterval(100);
    QObject::connect(poll, &QTimer::timeout, [onCancel = std::move(onCancel), seen = 0]() mutable {
        if (presses > seen) {
            seen = presses;
            onCancel();
        }
    });
    poll->start();
}

void LetWritesFailPastTheSizeLimit() {}

}  // namespace quenlo
