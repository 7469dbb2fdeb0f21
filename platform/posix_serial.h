#pragma once

#include <memory>
#include <string>

namespace quenlo {

// A serial device opened raw (8 data bits, no parity, 1 stop bit, no flow control, no echo) at a
// fixed rate.
class PosixSerial {
  public:
    // Nothing and *error set when the device cannot be opened or the rate is not one the
    // terminal interface offers.
    static std::unique_ptr<PosixSerial> Open(const std::string& path, int baud, std::string* error);
    ~PosixSerial();
    PosixSerial(const PosixSerial&) = delete;
    PosixSerial& operator=(const PosixSerial&) = delete;

    // Non-blocking.
    int fd() const { return fd_; }
    // Waits until everything written has left the device.
    void Drain() const;
    void Close();

    static bool SupportedBaud(int baud);

  private:
    PosixSerial() = default;

    int fd_ = -1;
};

}  // namespace quenlo
