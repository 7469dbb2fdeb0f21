#pragma once

#include <chrono>
#include <cmath>

#include "base/host.h"

namespace quenlo {

// A time limit over the host's monotonic clock. Expired() uses ">=": an answer arriving exactly
// at the limit is too late.
class Deadline {
  public:
    Deadline(Host& host, double seconds)
        : host_(host), start_(host.ClockSeconds()), seconds_(seconds) {}

    bool Expired() const { return Elapsed() >= seconds_; }
    double Elapsed() const { return host_.ClockSeconds() - start_; }
    // Time left, rounded up to whole milliseconds; at least 1 while not expired.
    std::chrono::milliseconds Remaining() const {
        const double left = seconds_ - Elapsed();
        if (left <= 0) {
            return std::chrono::milliseconds(0);
        }
        return std::chrono::milliseconds(static_cast<long long>(std::ceil(left * 1000.0)));
    }

  private:
    Host& host_;
    double start_;
    double seconds_;
};

}  // namespace quenlo
