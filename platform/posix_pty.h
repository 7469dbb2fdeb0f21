#pragma once

#include <cstddef>
#include <memory>
#include <string>

namespace quenlo {

// A pseudo-terminal whose device is reachable under a chosen path (a symbolic link), so a program
// can be pointed at it like at a serial port. The master side is ours; the other side is opened
// by whoever uses the link.
class PosixPty {
  public:
    // Creates the pseudo-terminal in raw mode and the link to it, replacing an older link (but
    // never a file that is not a link). Nothing and *error set on failure.
    static std::unique_ptr<PosixPty> Open(const std::string& linkPath, std::string* error);
    ~PosixPty();
    PosixPty(const PosixPty&) = delete;
    PosixPty& operator=(const PosixPty&) = delete;

    // The master side, non-blocking.
    int fd() const { return masterFd_; }
    const std::string& devicePath() const { return devicePath_; }
    const std::string& linkPath() const { return linkPath_; }
    // Bytes we wrote that the other side has not read yet.
    std::size_t UnreadOutput() const;
    // Waits, at most maxMillis, until the other side has read everything we wrote: closing the
    // master throws away what is still on its way.
    void Drain(int maxMillis) const;
    // Closes both sides and removes the link; also done on destruction.
    void Close();

  private:
    PosixPty() = default;

    int masterFd_ = -1;
    // Held open so that the device stays alive while the user closes and reopens it: once no one
    // has it open, reads on the master fail.
    int slaveFd_ = -1;
    std::string devicePath_;
    std::string linkPath_;
};

}  // namespace quenlo
