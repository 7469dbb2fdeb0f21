#include "platform/qt_event_loop.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QDateTime>
#include <QEventLoop>
#include <QTimer>
#include <memory>
#include <thread>
#include <utility>

namespace quenlo {

void WaitInQtEventLoop(std::chrono::milliseconds maxWait) {
    QAbstractEventDispatcher* dispatcher =
        QCoreApplication::instance() != nullptr ? QAbstractEventDispatcher::instance() : nullptr;
    if (dispatcher == nullptr) {
        if (maxWait.count() > 0) {
            std::this_thread::sleep_for(maxWait);
        }
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

LocalDateTime QtLocalNow() {
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
