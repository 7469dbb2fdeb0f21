#include "platform/system_host.h"

#include <chrono>
#include <filesystem>
#include <string>
#include <system_error>
#include <thread>

#include "base/text.h"

namespace quenlo {

double SystemHost::ClockSeconds() {
    const auto sinceStart = std::chrono::steady_clock::now().time_since_epoch();
    return std::chrono::duration<double>(sinceStart).count();
}

void SystemHost::SleepMs(std::int32_t milliseconds) {
    if (milliseconds > 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
    }
}

std::optional<std::uint64_t> SystemHost::FreeSpace(const std::filesystem::path& directory) {
    std::error_code error;
    const std::filesystem::space_info space = std::filesystem::space(directory, error);
    if (error) {
        return std::nullopt;
    }
    return static_cast<std::uint64_t>(space.available);
}

// Engine texts are ISO 8859-1; std::filesystem takes UTF-8 through char8_t on every platform.
std::string SystemHost::CurrentDirectory() {
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
