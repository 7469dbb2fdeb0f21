#include "files/received_file.h"

#include <filesystem>
#include <system_error>

#include "files/native_path.h"

namespace quenlo {

std::uint64_t ExistingFileSize(const std::string& directory, const std::string& name) {
    std::error_code ec;
    const std::filesystem::path path = NativePath(directory + name);
    if (!std::filesystem::is_regular_file(std::filesystem::symlink_status(path, ec))) {
        return 0;
    }
    const auto size = std::filesystem::file_size(path, ec);
    return ec ? 0 : size;
}

bool DiscardReceivedFile(const std::string& directory, const std::string& name,
                         std::uint64_t keepBytes) {
    std::error_code ec;
    const std::filesystem::path path = NativePath(directory + name);
    if (keepBytes > 0) {
        std::filesystem::resize_file(path, keepBytes, ec);
    } else {
        std::filesystem::remove(path, ec);
    }
    return !ec;
}

}  // namespace quenlo
