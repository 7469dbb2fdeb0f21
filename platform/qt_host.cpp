#include "platform/qt_host.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QDateTime>
#include <QEventLoop>
#include <QTimer>
#include <filesystem>
#include <iostream>
#include <string>
#include <system_error>
#include <thread>

#include "base/text.h"
#include "platform/os_checks.h"

namespace quenlo {
namespace {

// Engine texts are ISO 8859-1; std::filesystem takes UTF-8 through char8_t on every platform.
std::string LowerAscii(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return text;
}

}  // namespace

QtHost::QtHost() : QtHost(std::cin, std::cerr, StdinIsTerminal()) {}

QtHost::QtHost(std::istream& in, std::ostream& out, bool interactive)
    : in_(in), out_(out), interactive_(interactive) {}

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

void QtHost::ShowMessage(const std::string& title, const std::string& text, MessageIcon) {
    out_ << Latin1ToUtf8(title) << ": " << Latin1ToUtf8(text) << std::endl;
}

bool QtHost::AskYesNo(const std::string& title, const std::string& text) {
    if (!interactive_) {
        // Nobody can be asked, but everybody can see what was asked and what was answered.
        out_ << Latin1ToUtf8(title) << ": " << Latin1ToUtf8(text) << " -> "
             << (defaultAnswer_ ? "Yes (--yes)" : "No (no terminal to ask; --yes answers Yes)")
             << std::endl;
        return defaultAnswer_;
    }
    out_ << Latin1ToUtf8(title) << ": " << Latin1ToUtf8(text)
         << (defaultAnswer_ ? " [Y/n] " : " [y/N] ") << std::flush;
    std::string answer;
    if (!std::getline(in_, answer)) {
        return defaultAnswer_;
    }
    answer = LowerAscii(std::string(TrimBlanks(answer)));
    if (answer == "y" || answer == "yes") {
        return true;
    }
    if (answer == "n" || answer == "no") {
        return false;
    }
    return defaultAnswer_;
}

std::optional<std::uint64_t> QtHost::FreeSpace(const std::filesystem::path& directory) {
    std::error_code error;
    const std::filesystem::space_info space = std::filesystem::space(directory, error);
    if (error) {
        return std::nullopt;
    }
    return static_cast<std::uint64_t>(space.available);
}

LocalDateTime QtHost::Now() {
    const QDateTime now = QDateTime::currentDateTime();
    const QDate date = now.date();
    const QTime time = now.time();
    return LocalDateTime{date.year(), date.month(),  date.day(),
                         time.hour(), time.minute(), time.second()};
}

std::string QtHost::CurrentDirectory() {
    std::error_code error;
    const std::filesystem::path current = std::filesystem::current_path(error);
    if (error) {
        return "./";
    }
    const std::u8string generic = current.generic_u8string();
    std::string directory = Utf8ToLatin1(std::string(generic.begin(), generic.end()));
    if (directory.empty() || directory.back() != '/') {
        directory += '/';
    }
    return directory;
}

}  // namespace quenlo
