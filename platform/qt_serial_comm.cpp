// QSerialPort errors become LastEvent codes as follows:
//
//   QSerialPort error                        LastEvent
//   ResourceError (unplugged, other end      1002 kDeviceLost
//     of a pseudo-terminal closed)
//   any error while the device has hung up   1002 kDeviceLost
//   WriteError                               1008 kWriteFailed (queued output discarded)
//   ReadError                                1009 kReadFailed
//   NoError, TimeoutError                    no event
//   any other error                          1010 kDeviceError
//
// The hang-up check matters: a hung-up terminal reads as end of file, which QSerialPort reports as
// a ReadError with whatever error number was left over, again on every pass of the event loop.
// Once lost, the device is closed and its queued output counts as gone.
//
// Errors while opening, closing or setting the lines are not events: opening reports its failure
// as a RuntimeError, and a device that cannot set the lines ignores them.
#include "platform/qt_serial_comm.h"

#include <QByteArray>
#include <QEventLoop>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QString>
#include <QTimer>
#include <algorithm>
#include <limits>
#include <utility>

#include "base/runtime_error.h"
#include "platform/os_checks.h"
#include "platform/port_names.h"

namespace quenlo {
namespace {

constexpr std::int32_t kInvalidPropertyValue = 380;
constexpr std::int32_t kInvalidPortNumber = 8002;
constexpr std::int32_t kCannotSetCommState = 8015;
constexpr std::int32_t kPortNotOpen = 8018;

std::int32_t Clamped(qint64 count) {
    return static_cast<std::int32_t>(
        std::min<qint64>(count, std::numeric_limits<std::int32_t>::max()));
}

}  // namespace

QtSerialComm::QtSerialComm() {
    bytesWrittenConnection_ =
        QObject::connect(&port_, &QSerialPort::bytesWritten, [this] { OnBytesWritten(); });
    errorConnection_ = QObject::connect(&port_, &QSerialPort::errorOccurred,
                                        [this](QSerialPort::SerialPortError e) { OnError(e); });
}

QtSerialComm::~QtSerialComm() {
    QObject::disconnect(bytesWrittenConnection_);
    QObject::disconnect(errorConnection_);
    if (port_.isOpen()) {
        port_.close();
    }
}

void QtSerialComm::SetDeviceOverride(std::string path) {
    deviceOverride_ = std::move(path);
}

std::string QtSerialComm::Device() const {
    // Asked each time: QUENLO_COMn or the ports present decide which device a number opens.
    return deviceOverride_.empty() ? CurrentDeviceForPort(portNumber_) : deviceOverride_;
}

// A watch on the directory answers at once where the system reports new devices; the timer covers
// the rest (a directory that appears only with the first adapter, Windows ports). The device is
// asked again each time: an adapter plugged in may take the number over (PortDevices).
bool QtSerialComm::WaitForDevice(std::chrono::milliseconds limit) const {
    if (DeviceExists(Device())) {
        return true;
    }
    QEventLoop loop;
    const auto check = [&] {
        if (DeviceExists(Device())) {
            loop.quit();
        }
    };
    QFileSystemWatcher watcher;
    const QString directory = QFileInfo(QString::fromLocal8Bit(Device())).absolutePath();
    if (QFileInfo::exists(directory)) {
        watcher.addPath(directory);
    }
    QObject::connect(&watcher, &QFileSystemWatcher::directoryChanged, &loop, check);
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, check);
    poll.start(std::chrono::milliseconds(250));
    QTimer::singleShot(limit, &loop, &QEventLoop::quit);
    loop.exec();
    return DeviceExists(Device());
}

std::string QtSerialComm::OpenNote() const {
    return lowLatency_ ? "low latency on" : "low latency not available";
}

void QtSerialComm::SetSettings(const std::string& settings) {
    settings_ = settings;
    if (open_ && !lost_) {
        const auto parsed = ParseLineSettings(settings_);
        if (!parsed) {
            throw RuntimeError(kInvalidPropertyValue, "Invalid property value");
        }
        ++quiet_;
        ApplySettings(*parsed);
        --quiet_;
    }
}

void QtSerialComm::SetLineA(bool on) {
    lineA_ = on;
    ApplyLines();
}

void QtSerialComm::SetLineB(bool on) {
    lineB_ = on;
    ApplyLines();
}

void QtSerialComm::ApplySettings(const LineSettings& settings) {
    port_.setBaudRate(settings.baud);
    port_.setDataBits(settings.dataBits == 7 ? QSerialPort::Data7 : QSerialPort::Data8);
    port_.setParity(settings.parity == 'E'   ? QSerialPort::EvenParity
                    : settings.parity == 'O' ? QSerialPort::OddParity
                                             : QSerialPort::NoParity);
    port_.setStopBits(settings.stopBits == 2 ? QSerialPort::TwoStop : QSerialPort::OneStop);
    port_.setFlowControl(QSerialPort::NoFlowControl);
}

// Only lines the engine has written are touched: the others keep the state the device opened with.
// A pseudo-terminal has no modem lines and refuses; that is not an error.
void QtSerialComm::ApplyLines() {
    if (!open_ || lost_) {
        return;
    }
    ++quiet_;
    if (lineA_) {
        port_.setDataTerminalReady(*lineA_);
    }
    if (lineB_) {
        port_.setRequestToSend(*lineB_);
    }
    --quiet_;
}

void QtSerialComm::SetPortOpen(bool open) {
    if (!open) {
        if (port_.isOpen()) {
            ++quiet_;
            port_.close();
            --quiet_;
        }
        open_ = false;
        lost_ = false;
        inputLeft_.clear();
        return;
    }
    if (open_) {
        return;
    }
    const auto settings = ParseLineSettings(settings_);
    if (!settings) {
        throw RuntimeError(kInvalidPropertyValue, "Invalid property value");
    }
    // QSerialPort applies the settings as part of opening.
    ApplySettings(*settings);
    const std::string device = Device();
    port_.setPortName(QString::fromLocal8Bit(device));
    if (!port_.open(QIODevice::ReadWrite)) {
        openFailure_ = "COM" + std::to_string(portNumber_) + " is " + device + ": ";
        switch (port_.error()) {
            case QSerialPort::DeviceNotFoundError:
            case QSerialPort::PermissionError:  // also a port that is busy or locked
                openFailure_ +=
                    WhyNotAvailable(device) + "; " + PortsHereHint(ListPorts(PresentPorts()));
                throw RuntimeError(runtime_error_number::kDeviceUnavailable);
            case QSerialPort::UnsupportedOperationError:
                openFailure_ += port_.errorString().toStdString();
                throw RuntimeError(kCannotSetCommState, "Could not set comm state");
            default:
                openFailure_ += port_.errorString().toStdString();
                throw RuntimeError(kInvalidPortNumber, "Invalid port number");
        }
    }
    if (!LockDevice(port_)) {
        ++quiet_;
        port_.close();
        --quiet_;
        openFailure_ = "COM" + std::to_string(portNumber_) + " is " + Device() +
                       ": busy: another program holds it";
        throw RuntimeError(runtime_error_number::kDeviceUnavailable);
    }
    open_ = true;
    lowLatency_ = RequestLowLatency(port_);
    lost_ = false;
    inputLeft_.clear();
    lastEvent_ = CommEvent::kNone;
    outputQueued_ = false;
    ApplyLines();
}

// Qt reads the device only on an event-loop turn, and the engine often asks before one has come:
// its flush right after opening would see nothing and leave a stale answer for the first wait to
// take. So the count first takes in what the device holds now, which makes every flush and every
// wait honest. Never blocks; a device found gone on the way is reported as usual.
void QtSerialComm::TakeInWaitingBytes(long counted) {
    // Bounded, so that a peer that never stops sending cannot keep us here. The count decides
    // whether to read again: cheaper than Qt's look, which finds nothing most of the time. A read
    // that took all the count showed needs no second count; what came since is looked for as any
    // later byte is.
    for (int round = 0; round < 64 && counted > 0 && port_.isOpen() && !lost_; ++round) {
        const qint64 before = port_.bytesAvailable();
        if (!port_.waitForReadyRead(0) || !port_.isOpen() ||
            port_.bytesAvailable() - before >= counted) {
            break;
        }
        counted = BytesWaitingInDevice(port_);
    }
}

qint64 QtSerialComm::BytesInHand() {
    return static_cast<qint64>(inputLeft_.size()) +
           (port_.isOpen() ? port_.bytesAvailable() : qint64{0});
}

// The count of the device's bytes first, and Qt's own look only when it holds some: that look
// costs far more than the count. Skipped while bytes are in hand and the read notifier has been
// awake since the last look: what else came is read on the loop's next turn, which it wakes. An
// input held by HoldInput leaves the rest of a block in the device, unreported until a look.
void QtSerialComm::LookInDevice() {
    if (!port_.isOpen() || (!heldSinceLook_ && BytesInHand() > 0)) {
        return;
    }
    heldSinceLook_ = inputHeld_;
    TakeInWaitingBytes(BytesWaitingInDevice(port_));
}

std::int32_t QtSerialComm::InputCount() {
    LookInDevice();
    return Clamped(BytesInHand());
}

std::string QtSerialComm::Input() {
    LookInDevice();
    std::string text = std::move(inputLeft_);
    inputLeft_.clear();
    if (port_.isOpen()) {
        const QByteArray bytes = port_.readAll();
        text.append(bytes.constData(), static_cast<std::size_t>(bytes.size()));
    }
    // A positive input length caps one read; the rest stays for the next.
    if (inputLength_ > 0 && text.size() > static_cast<std::size_t>(inputLength_)) {
        inputLeft_ = text.substr(static_cast<std::size_t>(inputLength_));
        text.resize(static_cast<std::size_t>(inputLength_));
    }
    return text;
}

void QtSerialComm::Output(std::string_view text) {
    if (!open_) {
        throw RuntimeError(kPortNotOpen, "Operation valid only when the port is open");
    }
    // A lost device keeps reporting its loss, so that the sender stops with it.
    if (lost_) {
        return;
    }
    lastEvent_ = CommEvent::kNone;
    outputQueued_ = true;
    if (!text.empty()) {
        port_.write(text.data(), static_cast<qint64>(text.size()));
        // Hand the bytes to the device now rather than on the event loop's next turn: in a
        // stop-and-wait exchange every turn saved is time saved on every block. Never blocks.
        port_.flush();
    }
    if (port_.bytesToWrite() == 0 && lastEvent_ == CommEvent::kNone) {
        lastEvent_ = CommEvent::kSent;
    }
}

// QSerialPort reports bytesWritten only on the write notifier's next turn, after the bytes have
// already gone to the device. The engine reads "nothing queued, no event yet" as a problem and
// discards the output, which on a pseudo-terminal throws away bytes the other side has not read
// yet. So once nothing is queued any more, the text has been sent.
CommEvent QtSerialComm::LastEvent() {
    if (lastEvent_ == CommEvent::kNone && outputQueued_ && open_ && !lost_ &&
        port_.bytesToWrite() == 0) {
        lastEvent_ = CommEvent::kSent;
    }
    return lastEvent_;
}

// What is gone with the device is no longer queued; reporting it would keep the engine's drain
// loop waiting for ever.
std::int32_t QtSerialComm::OutputCount() {
    if (!open_ || lost_) {
        return 0;
    }
    return Clamped(port_.bytesToWrite());
}

void QtSerialComm::ClearOutput() {
    if (!open_ || lost_) {
        return;
    }
    ++quiet_;
    port_.clear(QSerialPort::Output);
    --quiet_;
}

void QtSerialComm::OnBytesWritten() {
    if (!lost_ && lastEvent_ == CommEvent::kNone && port_.bytesToWrite() == 0) {
        lastEvent_ = CommEvent::kSent;
    }
}

void QtSerialComm::OnError(QSerialPort::SerialPortError error) {
    if (!open_ || lost_ || quiet_ > 0 || error == QSerialPort::NoError ||
        error == QSerialPort::TimeoutError) {
        return;
    }
    eventText_ = port_.errorString().toStdString();
    if (error == QSerialPort::ResourceError || DeviceHungUp(port_)) {
        DropDevice();
        lastEvent_ = CommEvent::kDeviceLost;
        return;
    }
    switch (error) {
        case QSerialPort::WriteError:
            lastEvent_ = CommEvent::kWriteFailed;
            // The bytes that could not be written would be retried on every pass of the event
            // loop; the sender stops with the event instead.
            ++quiet_;
            port_.clear(QSerialPort::Output);
            --quiet_;
            break;
        case QSerialPort::ReadError:
            lastEvent_ = CommEvent::kReadFailed;
            break;
        default:
            lastEvent_ = CommEvent::kDeviceError;
            break;
    }
}

// Closing the device stops its notifiers, which would otherwise fire on the dead descriptor on
// every pass of the event loop. Bytes already received stay readable.
void QtSerialComm::DropDevice() {
    lost_ = true;
    const QByteArray bytes = port_.readAll();
    inputLeft_.append(bytes.constData(), static_cast<std::size_t>(bytes.size()));
    ++quiet_;
    port_.close();
    --quiet_;
}

void QtSerialComm::HoldInput(bool hold) {
    // QSerialPort reads the device when its read notifier fires; asleep, the notifier leaves the
    // bytes in the driver, and the event loop is not woken for them.
    inputHeld_ = hold;
    heldSinceLook_ = heldSinceLook_ || hold;
    if (hold && open_) {
        for (QSocketNotifier* notifier : port_.findChildren<QSocketNotifier*>()) {
            if (notifier->type() == QSocketNotifier::Read && notifier->isEnabled()) {
                notifier->setEnabled(false);
                heldNotifiers_.emplace_back(notifier);
            }
        }
    } else if (!hold) {
        for (const QPointer<QSocketNotifier>& notifier : heldNotifiers_) {
            if (notifier) {
                notifier->setEnabled(true);
            }
        }
        heldNotifiers_.clear();
    }
}

}  // namespace quenlo
