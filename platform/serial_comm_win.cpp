// Win32 errors become LastEvent codes as follows:
//
//   error                                    LastEvent
//   broken pipe, not ready, bad command,     1002 kDeviceLost
//     general failure, access denied,
//     device removed or not connected,
//     end of file, an abort we did not ask
//     for (a USB adapter pulled out; Wine's
//     pseudo-terminal whose other end closed)
//   any other on a write                     1008 kWriteFailed (queued output discarded)
//   any other on a read                      1009 kReadFailed
//   any other asking for the port's state    1010 kDeviceError
//
// A one-byte read that completes with nothing is the end of the device too: with every timeout at
// zero a read waits until its buffer is full.
//
// The host's wait arms an overlapped one-byte read rather than WaitCommEvent: both block in the
// driver on Windows, but under Wine WaitCommEvent(EV_RXCHAR) returned at once with an empty mask,
// while the read blocks in the system until a byte comes and fails at once (broken pipe) when the
// other end of the pseudo-terminal closes.
#include <windows.h>

#include <algorithm>
#include <limits>
#include <utility>

#include "base/runtime_error.h"
#include "platform/line_settings.h"
#include "platform/os_checks.h"
#include "platform/port_names.h"
#include "platform/win_serial_comm.h"

namespace quenlo {
namespace {

constexpr std::int32_t kInvalidPropertyValue = 380;
constexpr std::int32_t kInvalidPortNumber = 8002;
constexpr std::int32_t kCannotSetCommState = 8015;
constexpr std::int32_t kPortNotOpen = 8018;
constexpr auto kDevicePollInterval = std::chrono::milliseconds(250);

bool DeviceGone(DWORD error) {
    switch (error) {
        case ERROR_BROKEN_PIPE:
        case ERROR_NOT_READY:
        case ERROR_BAD_COMMAND:
        case ERROR_GEN_FAILURE:
        case ERROR_ACCESS_DENIED:
        case ERROR_INVALID_HANDLE:
        case ERROR_FILE_NOT_FOUND:
        case ERROR_HANDLE_EOF:
        case ERROR_DEVICE_REMOVED:
        case ERROR_DEVICE_NOT_CONNECTED:
        case ERROR_OPERATION_ABORTED:
            return true;
        default:
            return false;
    }
}

std::wstring Wide(const std::string& utf8) {
    const int length =
        MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(),
                        length);
    return wide;
}

std::string SystemMessage(DWORD error) {
    char* text = nullptr;
    const DWORD length = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string message = length > 0 ? std::string(text, length) : std::string();
    LocalFree(text);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                                message.back() == ' ' || message.back() == '.')) {
        message.pop_back();
    }
    return message.empty() ? "system error " + std::to_string(error) : message;
}

// What CreateFile's failure means to a technician, or nothing when it is not about availability.
std::optional<std::string> Unavailable(DWORD error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_NAME:
        case ERROR_BAD_PATHNAME:
            return "no such device";
        // A COM port another program has open refuses access: the usual meaning of this error.
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
        case ERROR_BUSY:
            return "busy: another program holds it";
        default:
            return std::nullopt;
    }
}

// "COM3" opens as "\\.\COM3", the form two-digit port numbers need; a full name stays.
std::string OpeningName(const std::string& device) {
    return device.rfind("\\\\", 0) == 0 ? device : "\\\\.\\" + device;
}

// The name of the lock every opener of a device takes: the device behind the name where Windows
// tells it (\Device\Serial2), so that two names of one port share one lock.
std::wstring LockName(const std::string& device) {
    std::wstring name = Wide(device.rfind("\\\\.\\", 0) == 0 ? device.substr(4) : device);
    wchar_t target[512];
    if (QueryDosDeviceW(name.c_str(), target, 512) != 0) {
        name = target;
    }
    std::transform(name.begin(), name.end(), name.begin(),
                   [](wchar_t c) { return c == L'\\' ? L'/' : towupper(c); });
    return L"Local\\Quenlo.SerialPort." + name;
}

std::int32_t Clamped(std::size_t count) {
    return static_cast<std::int32_t>(
        std::min<std::size_t>(count, std::numeric_limits<std::int32_t>::max()));
}

}  // namespace

struct WinSerialComm::Io {
    HANDLE port = INVALID_HANDLE_VALUE;
    // Held while the port is open. Windows' own drivers refuse a second opener; Wine's serial
    // ports do not, so two loaders would steal each other's bytes without it.
    HANDLE lock = nullptr;
    OVERLAPPED read{};
    OVERLAPPED write{};
    char arrival = 0;
    bool readArmed = false;
    std::string writing;  // the text of the write in flight; empty when none
};

WinSerialComm::WinSerialComm() : io_(new Io) {
    io_->read.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    io_->write.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
}

WinSerialComm::~WinSerialComm() {
    CloseHandles();
    CloseHandle(io_->read.hEvent);
    CloseHandle(io_->write.hEvent);
    delete io_;
}

std::string WinSerialComm::Device() const {
    return deviceOverride_.empty() ? CurrentDeviceForPort(portNumber_) : deviceOverride_;
}

// Windows announces new ports to windows, not to consoles: look a few times a second.
bool WinSerialComm::WaitForDevice(std::chrono::milliseconds limit) const {
    const auto until = std::chrono::steady_clock::now() + limit;
    while (!DeviceExists(Device())) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            until - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            return false;
        }
        Sleep(static_cast<DWORD>(std::min(left, kDevicePollInterval).count()));
    }
    return true;
}

void WinSerialComm::SetSettings(const std::string& settings) {
    settings_ = settings;
    if (open_ && !lost_) {
        if (!ParseLineSettings(settings_)) {
            throw RuntimeError(kInvalidPropertyValue, "Invalid property value");
        }
        ApplySettings();
    }
}

void WinSerialComm::SetLineA(bool on) {
    lineA_ = on;
    ApplyLines();
}

void WinSerialComm::SetLineB(bool on) {
    lineB_ = on;
    ApplyLines();
}

// Throws 8015 when the device refuses the settings. No flow control of any kind, and no aborting
// of reads and writes on a line error: the port must keep moving bytes whatever the line does.
void WinSerialComm::ApplySettings() {
    const LineSettings line = *ParseLineSettings(settings_);
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(io_->port, &dcb)) {
        throw RuntimeError(kCannotSetCommState, "Could not set comm state");
    }
    dcb.BaudRate = static_cast<DWORD>(line.baud);
    dcb.ByteSize = static_cast<BYTE>(line.dataBits);
    dcb.Parity = line.parity == 'E' ? EVENPARITY : line.parity == 'O' ? ODDPARITY : NOPARITY;
    dcb.fParity = line.parity != 'N';
    dcb.StopBits = line.stopBits == 2 ? TWOSTOPBITS : ONESTOPBIT;
    dcb.fBinary = TRUE;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fErrorChar = FALSE;
    dcb.fNull = FALSE;
    dcb.fAbortOnError = FALSE;
    // The lines themselves stay as the device opened with them, unless the engine sets them.
    if (dcb.fDtrControl == DTR_CONTROL_HANDSHAKE) {
        dcb.fDtrControl = DTR_CONTROL_ENABLE;
    }
    if (dcb.fRtsControl != RTS_CONTROL_DISABLE) {
        dcb.fRtsControl = RTS_CONTROL_ENABLE;
    }
    if (!SetCommState(io_->port, &dcb)) {
        throw RuntimeError(kCannotSetCommState, "Could not set comm state");
    }
}

// Only lines the engine has written are touched. A device without modem lines (Wine's
// pseudo-terminal) refuses; that is not an error.
void WinSerialComm::ApplyLines() {
    if (!open_ || lost_) {
        return;
    }
    if (lineA_) {
        EscapeCommFunction(io_->port, *lineA_ ? SETDTR : CLRDTR);
    }
    if (lineB_) {
        EscapeCommFunction(io_->port, *lineB_ ? SETRTS : CLRRTS);
    }
}

void WinSerialComm::SetPortOpen(bool open) {
    if (!open) {
        CloseHandles();
        open_ = false;
        lost_ = false;
        inputLeft_.clear();
        outQueue_.clear();
        return;
    }
    if (open_) {
        return;
    }
    if (!ParseLineSettings(settings_)) {
        throw RuntimeError(kInvalidPropertyValue, "Invalid property value");
    }
    const std::string device = Device();
    openFailure_ = "COM" + std::to_string(portNumber_) + " is " + device + ": ";
    const auto unavailable = [&](const std::string& reason) {
        openFailure_ += reason + "; " + PortsHereHint(ListPorts(PresentPorts()));
        throw RuntimeError(runtime_error_number::kDeviceUnavailable);
    };
    io_->port = CreateFileW(Wide(OpeningName(device)).c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                            nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (io_->port == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        if (const auto reason = Unavailable(error)) {
            unavailable(*reason);
        }
        openFailure_ += SystemMessage(error);
        throw RuntimeError(kInvalidPortNumber, "Invalid port number");
    }
    io_->lock = CreateMutexW(nullptr, FALSE, LockName(device).c_str());
    if (io_->lock == nullptr || GetLastError() == ERROR_ALREADY_EXISTS) {
        CloseHandles();
        unavailable("busy: another program holds it");
    }
    try {
        ApplySettings();
    } catch (const RuntimeError&) {
        openFailure_ += SystemMessage(GetLastError());
        CloseHandles();
        throw;
    }
    // Every timeout zero: a read waits until its buffer is full, a write until it is written. The
    // waits here never ask for more than has arrived, or one byte while the host sleeps.
    COMMTIMEOUTS timeouts{};
    SetCommTimeouts(io_->port, &timeouts);
    SetCommMask(io_->port, 0);
    // Whatever was on the line before we listened belongs to no transfer of ours.
    PurgeComm(io_->port, PURGE_RXABORT | PURGE_RXCLEAR | PURGE_TXABORT | PURGE_TXCLEAR);
    openFailure_.clear();
    open_ = true;
    lost_ = false;
    inputLeft_.clear();
    outQueue_.clear();
    lastEvent_ = CommEvent::kNone;
    outputQueued_ = false;
    ApplyLines();
}

void WinSerialComm::CloseHandles() {
    if (io_->port != INVALID_HANDLE_VALUE) {
        CancelIoEx(io_->port, nullptr);
        DWORD unused = 0;
        if (io_->readArmed) {
            GetOverlappedResult(io_->port, &io_->read, &unused, TRUE);
        }
        if (!io_->writing.empty()) {
            GetOverlappedResult(io_->port, &io_->write, &unused, TRUE);
        }
        CloseHandle(io_->port);
        io_->port = INVALID_HANDLE_VALUE;
    }
    if (io_->lock != nullptr) {
        CloseHandle(io_->lock);
        io_->lock = nullptr;
    }
    io_->readArmed = false;
    io_->writing.clear();
}

// The device is gone, or an operation failed. A lost device is closed at once, but what it sent
// before stays readable and the port stays open for the engine to close.
void WinSerialComm::Fail(unsigned long error, CommEvent otherwise) {
    if (lost_) {
        return;
    }
    eventText_ = std::system_category().message(static_cast<int>(error));
    if (DeviceGone(error)) {
        lost_ = true;
        lastEvent_ = CommEvent::kDeviceLost;
        CloseHandles();
        outQueue_.clear();
        return;
    }
    lastEvent_ = otherwise;
    if (otherwise == CommEvent::kWriteFailed) {
        outQueue_.clear();
    }
}

std::optional<std::uint32_t> WinSerialComm::Waiting() {
    if (!open_ || lost_) {
        return std::nullopt;
    }
    DWORD errors = 0;
    COMSTAT status{};
    if (!ClearCommError(io_->port, &errors, &status)) {
        Fail(GetLastError(), CommEvent::kDeviceError);
        return std::nullopt;
    }
    return status.cbInQue;
}

std::int32_t WinSerialComm::InputCount() {
    const auto waiting = Waiting();
    return Clamped(inputLeft_.size() + waiting.value_or(0));
}

// Reads exactly what the system holds, which a read with no timeouts returns at once.
void WinSerialComm::TakeIn(std::uint32_t count) {
    std::string bytes(count, '\0');
    OVERLAPPED read{};
    read.hEvent = io_->read.hEvent;
    ResetEvent(read.hEvent);
    DWORD got = 0;
    if (!ReadFile(io_->port, bytes.data(), count, nullptr, &read) &&
        GetLastError() != ERROR_IO_PENDING) {
        Fail(GetLastError(), CommEvent::kReadFailed);
        return;
    }
    if (!GetOverlappedResult(io_->port, &read, &got, TRUE)) {
        Fail(GetLastError(), CommEvent::kReadFailed);
        return;
    }
    inputLeft_.append(bytes.data(), got);
}

std::string WinSerialComm::Input() {
    if (const auto waiting = Waiting(); waiting && *waiting > 0) {
        TakeIn(*waiting);
    }
    std::string text = std::move(inputLeft_);
    inputLeft_.clear();
    // A positive input length caps one read; the rest stays for the next.
    if (inputLength_ > 0 && text.size() > static_cast<std::size_t>(inputLength_)) {
        inputLeft_ = text.substr(static_cast<std::size_t>(inputLength_));
        text.resize(static_cast<std::size_t>(inputLength_));
    }
    return text;
}

void WinSerialComm::Output(std::string_view text) {
    if (!open_) {
        throw RuntimeError(kPortNotOpen, "Operation valid only when the port is open");
    }
    // A lost device keeps reporting its loss, so that the sender stops with it.
    if (lost_) {
        return;
    }
    lastEvent_ = CommEvent::kNone;
    outputQueued_ = true;
    outQueue_.append(text);
    Pump();
}

// Ends the write in flight when it has ended (or waits for it), then starts the next one.
void WinSerialComm::TakeWrite(bool wait) {
    if (io_->writing.empty() || lost_) {
        return;
    }
    DWORD written = 0;
    if (!GetOverlappedResult(io_->port, &io_->write, &written, wait ? TRUE : FALSE)) {
        const DWORD error = GetLastError();
        if (error == ERROR_IO_INCOMPLETE) {
            return;
        }
        io_->writing.clear();
        Fail(error, CommEvent::kWriteFailed);
        return;
    }
    io_->writing.clear();
}

void WinSerialComm::Pump() {
    TakeWrite(false);
    while (io_->writing.empty() && !outQueue_.empty() && !lost_) {
        io_->writing = std::move(outQueue_);
        outQueue_.clear();
        ResetEvent(io_->write.hEvent);
        if (!WriteFile(io_->port, io_->writing.data(), static_cast<DWORD>(io_->writing.size()),
                       nullptr, &io_->write) &&
            GetLastError() != ERROR_IO_PENDING) {
            const DWORD error = GetLastError();
            io_->writing.clear();
            Fail(error, CommEvent::kWriteFailed);
            return;
        }
        TakeWrite(false);
    }
    if (lastEvent_ == CommEvent::kNone && outputQueued_ && io_->writing.empty() &&
        outQueue_.empty() && !lost_) {
        lastEvent_ = CommEvent::kSent;
    }
}

std::int32_t WinSerialComm::OutputCount() {
    if (!open_ || lost_) {
        return 0;
    }
    Pump();
    return Clamped(io_->writing.size() + outQueue_.size());
}

void WinSerialComm::ClearOutput() {
    if (!open_ || lost_) {
        return;
    }
    outQueue_.clear();
    PurgeComm(io_->port, PURGE_TXABORT | PURGE_TXCLEAR);
    if (!io_->writing.empty()) {
        DWORD unused = 0;
        GetOverlappedResult(io_->port, &io_->write, &unused, TRUE);
        io_->writing.clear();
    }
}

CommEvent WinSerialComm::LastEvent() {
    if (open_ && !lost_) {
        Pump();
    }
    return lastEvent_;
}

// As with Qt's event loop, what wakes the wait is news: bytes the system has just received (taken
// in at once, so that a caller that does not read them is not woken again and again), a write
// that ended, the device gone. Bytes already taken in do not end a wait.
bool WinSerialComm::ArmWait(std::vector<void*>& handles) {
    if (!open_ || lost_) {
        return true;
    }
    // A write that has ended is collected first: its event stays signalled and would end every
    // wait at once.
    Pump();
    if (held_) {
        if (!io_->writing.empty()) {
            handles.push_back(io_->write.hEvent);
        }
        return true;
    }
    const auto waiting = Waiting();
    if (!waiting) {
        return false;
    }
    if (*waiting > 0) {
        TakeIn(*waiting);
        return false;
    }
    if (!io_->writing.empty()) {
        handles.push_back(io_->write.hEvent);
    }
    ResetEvent(io_->read.hEvent);
    if (ReadFile(io_->port, &io_->arrival, 1, nullptr, &io_->read)) {
        io_->readArmed = true;
        DisarmWait();
        return false;
    }
    if (GetLastError() != ERROR_IO_PENDING) {
        Fail(GetLastError(), CommEvent::kReadFailed);
        return false;
    }
    io_->readArmed = true;
    handles.push_back(io_->read.hEvent);
    return true;
}

void WinSerialComm::DisarmWait() {
    if (!io_->readArmed) {
        return;
    }
    const bool cancelled = WaitForSingleObject(io_->read.hEvent, 0) != WAIT_OBJECT_0;
    if (cancelled) {
        CancelIoEx(io_->port, &io_->read);
    }
    DWORD got = 0;
    const bool ok = GetOverlappedResult(io_->port, &io_->read, &got, TRUE);
    const DWORD error = ok ? ERROR_SUCCESS : GetLastError();
    io_->readArmed = false;
    if (ok && got == 1) {
        inputLeft_ += io_->arrival;
    } else if (ok && !cancelled) {
        Fail(ERROR_HANDLE_EOF, CommEvent::kReadFailed);
    } else if (!ok && !(cancelled && error == ERROR_OPERATION_ABORTED)) {
        Fail(error, CommEvent::kReadFailed);
    }
}

}  // namespace quenlo
