#include "link/reasons.h"

#include "link/link_control.h"

#include <system_error>

namespace quenlo {

std::string TimeoutText(const RunState& state) {
    const long seconds = static_cast<long>(state.timeoutCount * kSliceSeconds);
    return seconds < 3600 ? std::to_string(seconds) + " s"
                          : std::to_string(seconds / 3600) + " hours";
}

std::string SameSpeedQuestion(const RunState& state, const std::string& doing) {
    return "is it " + doing + ", at the same speed (" + state.baudRate + ")?";
}

std::string BlockOptionsText(const RunState& state) {
    return std::string(state.bccEnabled ? "+PB" : "-PB") + (state.seqEnabled ? " +SN" : " -SN");
}

std::string ErrorText(int error) {
    return std::generic_category().message(error);
}

std::string Utf8Path(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

}  // namespace quenlo
