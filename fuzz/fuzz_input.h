#pragma once

// The properties every input must keep are asserted: a failed one is a finding, in any build.
#undef NDEBUG
#include <cassert>
#include <chrono>
#include <cstdint>
#include <string_view>

#include "protocol/peer_machine.h"

namespace quenlo::fuzz {

using protocol::Time;
using namespace std::chrono_literals;

// What arrives on a line, read from fuzz input as steps: 0x00-0x3F start a burst of 1-64 bytes,
// 0x40-0x7F pause 10-640 ms, 0x80-0xBF wait for the machine's deadline, 0xC0-0xFF pause 1-64 s.
// Choice() takes one byte for a choice among options, 0 once the input is used up.
struct Step {
    enum Kind { kBurst, kPause, kDeadline } kind;
    std::string_view bytes;
    Time pause{};
};

class StepReader {
  public:
    StepReader(const std::uint8_t* data, std::size_t size)
        : rest_(reinterpret_cast<const char*>(data), size) {}
    bool Next(Step& step) {
        if (rest_.empty()) {
            return false;
        }
        const unsigned op = Choice(), n = (op & 0x3F) + 1u;
        if (op < 0x40) {
            step = {Step::kBurst, rest_.substr(0, n)};
            rest_.remove_prefix(step.bytes.size());
        } else {
            step = {op < 0x80 || op >= 0xC0 ? Step::kPause : Step::kDeadline,
                    {},
                    op < 0x80 ? Time(n * 10ms) : Time(n * 1s)};
        }
        return true;
    }
    std::uint8_t Choice() {
        const std::uint8_t byte =
            rest_.empty() ? std::uint8_t{0} : static_cast<std::uint8_t>(rest_[0]);
        rest_.remove_prefix(rest_.empty() ? 0 : 1);
        return byte;
    }

  private:
    std::string_view rest_;
};

}  // namespace quenlo::fuzz
