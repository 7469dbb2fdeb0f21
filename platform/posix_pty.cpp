#include "platform/posix_pty.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace quenlo {
namespace {

std::string Failure(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

// Points linkPath at target in one step, so a user never finds the link missing.
bool ReplaceLink(const std::string& target, const std::string& linkPath, std::string* error) {
    struct stat info {};
    if (::lstat(linkPath.c_str(), &info) == 0 && !S_ISLNK(info.st_mode)) {
        *error = linkPath + " exists and is not a symbolic link";
        return false;
    }
    const std::string temporary = linkPath + ".new-" + std::to_string(::getpid());
    ::unlink(temporary.c_str());
    if (::symlink(target.c_str(), temporary.c_str()) != 0) {
        *error = Failure("cannot create " + temporary);
        return false;
    }
    if (::rename(temporary.c_str(), linkPath.c_str()) != 0) {
        *error = Failure("cannot create " + linkPath);
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}

}  // namespace

std::unique_ptr<PosixPty> PosixPty::Open(const std::string& linkPath, std::string* error) {
    std::unique_ptr<PosixPty> pty(new PosixPty);
    pty->masterFd_ = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (pty->masterFd_ < 0) {
        *error = Failure("cannot create a pseudo-terminal");
        return nullptr;
    }
    if (::grantpt(pty->masterFd_) != 0 || ::unlockpt(pty->masterFd_) != 0) {
        *error = Failure("cannot unlock the pseudo-terminal");
        return nullptr;
    }
    const char* name = ::ptsname(pty->masterFd_);
    if (name == nullptr) {
        *error = Failure("cannot name the pseudo-terminal");
        return nullptr;
    }
    pty->devicePath_ = name;
    pty->slaveFd_ = ::open(name, O_RDWR | O_NOCTTY);
    if (pty->slaveFd_ < 0) {
        *error = Failure("cannot open " + pty->devicePath_);
        return nullptr;
    }
    // Raw: no echo, no line editing, no CR/LF translation; every byte passes as it is.
    termios settings{};
    if (::tcgetattr(pty->slaveFd_, &settings) != 0) {
        *error = Failure("cannot read the settings of " + pty->devicePath_);
        return nullptr;
    }
    ::cfmakeraw(&settings);
    settings.c_cc[VMIN] = 1;
    settings.c_cc[VTIME] = 0;
    if (::tcsetattr(pty->slaveFd_, TCSANOW, &settings) != 0) {
        *error = Failure("cannot set " + pty->devicePath_ + " to raw mode");
        return nullptr;
    }
    const int flags = ::fcntl(pty->masterFd_, F_GETFL);
    if (flags < 0 || ::fcntl(pty->masterFd_, F_SETFL, flags | O_NONBLOCK) != 0) {
        *error = Failure("cannot make the pseudo-terminal non-blocking");
        return nullptr;
    }
    if (!ReplaceLink(pty->devicePath_, linkPath, error)) {
        return nullptr;
    }
    pty->linkPath_ = linkPath;
    return pty;
}

PosixPty::~PosixPty() {
    Close();
}

std::size_t PosixPty::UnreadOutput() const {
    int waiting = 0;
    if (slaveFd_ < 0 || ::ioctl(slaveFd_, FIONREAD, &waiting) != 0 || waiting < 0) {
        return 0;
    }
    return static_cast<std::size_t>(waiting);
}

void PosixPty::Drain(int maxMillis) const {
    // The kernel tells no one when the other side reads, so this looks now and then; it runs
    // once, at the end. Right after a write the bytes may not be counted as waiting yet, so the
    // queue must stay empty for a while before the other side has surely read them. A queue that
    // stops shrinking has no reader any more (the loader closed the port): no use waiting on.
    using Clock = std::chrono::steady_clock;
    constexpr auto kSettled = std::chrono::milliseconds(100);
    constexpr auto kAbandoned = std::chrono::milliseconds(500);
    constexpr auto kStep = std::chrono::milliseconds(5);
    const auto start = Clock::now();
    const auto limit = std::chrono::milliseconds(maxMillis);
    auto changedAt = start;
    std::size_t last = UnreadOutput();
    for (auto now = start; now - start < limit; now = Clock::now()) {
        const std::size_t unread = UnreadOutput();
        if (unread != last) {
            last = unread;
            changedAt = now;
        }
        if (now - changedAt >= (unread == 0 ? kSettled : kAbandoned)) {
            return;
        }
        std::this_thread::sleep_for(kStep);
    }
}

void PosixPty::Close() {
    if (!linkPath_.empty()) {
        // Only our own link: another instance may have taken the path over since.
        char target[4096];
        const ssize_t length = ::readlink(linkPath_.c_str(), target, sizeof target - 1);
        if (length >= 0 && std::string(target, static_cast<std::size_t>(length)) == devicePath_) {
            ::unlink(linkPath_.c_str());
        }
        linkPath_.clear();
    }
    if (slaveFd_ >= 0) {
        ::close(slaveFd_);
        slaveFd_ = -1;
    }
    if (masterFd_ >= 0) {
        ::close(masterFd_);
        masterFd_ = -1;
    }
}

}  // namespace quenlo
