#include "support/temp_dir.h"

#include <atomic>
#include <fstream>
#include <random>
#include <sstream>
#include <system_error>

#include <unistd.h>

namespace quenlo::testing {

TempDir::TempDir() {
    static std::atomic<int> counter{0};
    std::random_device random;
    const auto base = std::filesystem::temp_directory_path();
    do {
        path_ = base / ("quenlo-test-" + std::to_string(::getpid()) + "-" +
                        std::to_string(counter++) + "-" + std::to_string(random() % 100000));
    } while (!std::filesystem::create_directory(path_));
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

std::filesystem::path TempDir::Write(const std::string& name, std::string_view bytes) const {
    const auto file = path_ / name;
    std::ofstream out(file, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return file;
}

std::string TempDir::Read(const std::string& name) const {
    std::ifstream in(path_ / name, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

}  // namespace quenlo::testing
