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

QtEventLoopWait::QtEventLoopWait() {
    deadline_.setSingleShot(true);
    deadline_.setTimerType(Qt::PreciseTimer);
}

void QtEventLoopWait::Wait(std::chrono::milliseconds maxWait) {
    QAbstractEventDispatcher* dispatcher =
        QCoreApplication::instance() != nullptr ? QAbstractEventDispatcher::instance() : nullptr;
    if (dispatcher == nullptr) {
        if (maxWait.count() > 0) {
            std::this_thread::sleep_for(maxWait);
        }
        return;
    }
    if (maxWait.count() <= 0) {
        dispatcher->processEvents(QEventLoop::AllEvents);
        return;
    }
    // One pass: it delivers what is pending and returns at once when the port or a user event has
    // something, else it sleeps in the operating system until one of them or the deadline wakes it.
    deadline_.start(maxWait);
    dispatcher->processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    deadline_.stop();
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
