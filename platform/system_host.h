#pragma once

#include "base/host.h"

namespace quenlo {

// What every host of this machine shares, whether it shows windows or a terminal: the monotonic
// clock, a plain sleep, free space and the current directory. The waits, the date and the
// message boxes are each kind's own.
class SystemHost : public Host {
  public:
    double ClockSeconds() override;
    void SleepMs(std::int32_t milliseconds) override;
    std::optional<std::uint64_t> FreeSpace(const std::filesystem::path& directory) override;
    std::string CurrentDirectory() override;
};

}  // namespace quenlo
