#include "platform/qt_host.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QDateTime>
#include <QEventLoop>
#include <QTimer>
#include <iostream>
#include <memory>
#include <thread>
#include <utility>

#include "platform/os_checks.h"

namespace quenlo {
QtHost::QtHost() : QtHost(std::cin, std::cerr, StdinIsTerminal()) {}

QtHost::QtHost(std::istream& in, std::ostream& out, bool interactive)
    : TerminalHost(in, out, interactive) {}

void QtHost::Yield(std::chrono::milliseconds maxWait) {
    QAbstractEventDispatcher* dispatcher =
        QCoreApplication::instance() != nullptr ? QAbstractEventDispatcher::instance() : nullptr;
    if (dispatcher == nullptr) {
        SleepMs(static_cast<std::int32_t>(maxWait.count()));
        return;
    }
    if (dispatcher->processEvents(QEventLoop::AllEvents) || maxWait.count() <= 0) {
        return;
    }
    // Nothing was pending: sleep in the operating system until the serial port's notifier, a user
    // event or this timer wakes the loop.
    QTimer deadline;
    deadline.setSingleShot(true);
    deadline.setTimerType(Qt::PreciseTimer);
    deadline.start(maxWait);
    dispatcher->processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
}

double QtHost::ClockSeconds() {
    const auto sinceStart = std::chrono::steady_clock::now().time_since_epoch();
    return std::chrono::duration<double>(sinceStart).count();
}

void QtHost::SleepMs(std::int32_t milliseconds) {
    if (milliseconds > 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
    }
}

LocalDateTime QtHost::Now() {
    const QDateTime now = QDateTime::currentDateTime();
    const QDate date = now.date();
    const QTime time = now.time();
    return LocalDateTime{date.year(), date.month(),  date.day(),
                         time.hour(), time.minute(), time.second()};
}

namespace {

class QtRepeating : public EventTimers::Repeating {
  public:
    QtRepeating(std::chrono::milliseconds interval, std::function<void()> fire) {
        timer_.setInterval(interval);
        QObject::connect(&timer_, &QTimer::timeout, std::move(fire));
    }
    void Start() override { timer_.start(); }
    void Stop() override { timer_.stop(); }

  private:
    QTimer timer_;
};

}  // namespace

std::unique_ptr<EventTimers::Repeating> QtTimers::MakeRepeating(std::chrono::milliseconds interval,
                                                                std::function<void()> fire) {
    return std::make_unique<QtRepeating>(interval, std::move(fire));
}

void QtTimers::Post(std::function<void()> fire) {
    QTimer::singleShot(0, std::move(fire));
}

}  // namespace quenlo
