#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "protocol/peer_machine.h"

namespace quenlo::fuzz {

using protocol::Time;
using namespace std::chrono_literals;

// A property that must hold for every input; a failure is a finding, so it aborts.
#define FUZZ_CHECK(condition)                                                                  \
    ((condition)                                                                               \
         ? void(0)                                                                             \
         : (std::fprintf(stderr, "%s:%d: %s does not hold\n", __FILE__, __LINE__, #condition), \
            std::abort()))

// What arrives on a line, read from fuzz input as a list of steps: a burst of bytes, a pause, or
// a wait until the machine's own deadline. Bytes 0x00-0x3F start a burst of 1-64 bytes, 0x40-0x7F
// pause 10-640 ms, 0x80-0xBF wait for the deadline, 0xC0-0xFF pause 1-64 s.
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
        const auto op = static_cast<std::uint8_t>(rest_[0]);
        rest_.remove_prefix(1);
        const unsigned n = (op & 0x3F) + 1u;
        if (op < 0x40) {
            step = {Step::kBurst, rest_.substr(0, n)};
            rest_.remove_prefix(step.bytes.size());
        } else if (op < 0x80) {
            step = {Step::kPause, {}, Time(n * 10ms)};
        } else if (op < 0xC0) {
            step = {Step::kDeadline, {}, {}};
        } else {
            step = {Step::kPause, {}, Time(n * 1s)};
        }
        return true;
    }
    // Takes one byte for a choice among options; 0 once the input is used up.
    std::uint8_t Choice() {
        if (rest_.empty()) {
            return 0;
        }
        const auto byte = static_cast<std::uint8_t>(rest_[0]);
        rest_.remove_prefix(1);
        return byte;
    }

  private:
    std::string_view rest_;
};

}  // namespace quenlo::fuzz
