#include "platform/posix_serial.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace quenlo {
namespace {

struct Rate {
    int baud;
    speed_t speed;
};

constexpr Rate kRates[] = {
    {300, B300},     {600, B600},       {1200, B1200},     {2400, B2400},
    {4800, B4800},   {9600, B9600},     {19200, B19200},   {38400, B38400},
    {57600, B57600}, {115200, B115200}, {230400, B230400},
};

bool SpeedFor(int baud, speed_t* speed) {
    for (const Rate& rate : kRates) {
        if (rate.baud == baud) {
            *speed = rate.speed;
            return true;
        }
    }
    return false;
}

std::string Failure(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

}  // namespace

bool PosixSerial::SupportedBaud(int baud) {
    speed_t unused{};
    return SpeedFor(baud, &unused);
}

std::unique_ptr<PosixSerial> PosixSerial::Open(const std::string& path, int baud,
                                               std::string* error) {
    speed_t speed{};
    if (!SpeedFor(baud, &speed)) {
        *error = "unsupported rate " + std::to_string(baud);
        return nullptr;
    }
    std::unique_ptr<PosixSerial> serial(new PosixSerial);
    serial->fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (serial->fd_ < 0) {
        *error = Failure("cannot open " + path);
        return nullptr;
    }
    termios settings{};
    if (::tcgetattr(serial->fd_, &settings) != 0) {
        *error = Failure(path + " is not a terminal device");
        return nullptr;
    }
    ::cfmakeraw(&settings);
    settings.c_cflag |= CLOCAL | CREAD;
    settings.c_cflag &= ~static_cast<tcflag_t>(CSTOPB | PARENB | CRTSCTS);
    settings.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    settings.c_cc[VMIN] = 1;
    settings.c_cc[VTIME] = 0;
    if (::cfsetispeed(&settings, speed) != 0 || ::cfsetospeed(&settings, speed) != 0 ||
        ::tcsetattr(serial->fd_, TCSANOW, &settings) != 0) {
        *error = Failure("cannot configure " + path);
        return nullptr;
    }
    // Whatever was on the line before we listened belongs to no transfer of ours.
    ::tcflush(serial->fd_, TCIOFLUSH);
    return serial;
}

PosixSerial::~PosixSerial() {
    Close();
}

void PosixSerial::Drain() const {
    if (fd_ >= 0) {
        ::tcdrain(fd_);
    }
}

void PosixSerial::Close() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

}  // namespace quenlo
