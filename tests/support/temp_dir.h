#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace quenlo::testing {

// What can stand at a name before a run writes it.
enum class Planted { kNothing, kFile, kLink, kDangling, kFifo, kDirectory };

// A fresh directory under the system's temporary directory, removed with everything in it.
class TempDir {
  public:
    TempDir() {
        static int counter = 0;  // with the process number, a name no other test run takes
        do {
            path_ = std::filesystem::temp_directory_path() /
                    ("quenlo-test-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
        } while (!std::filesystem::create_directory(path_));
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    // A name in the directory, given in UTF-8 as the tests write names beyond ASCII.
    std::filesystem::path operator/(const std::string& name) const {
        return path_ / std::filesystem::path(std::u8string(name.begin(), name.end()));
    }
    // The directory as an engine path: ends in a separator, as a directory argument must.
    std::string enginePath() const { return path_.string() + "/"; }
    // Writes bytes exactly as given to a file in the directory; returns its path.
    std::filesystem::path Write(const std::string& name, std::string_view bytes) const {
        std::ofstream(*this / name, std::ios::binary)
            .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        return *this / name;
    }
    std::string Read(const std::string& name) const {
        std::ifstream in(*this / name, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }
    // Puts `what` at name: a file holding content, or a link to `linkTarget` (which a dangling
    // one names but which is not there).
    void Plant(const std::string& name, Planted what, std::string_view content = "",
               const std::filesystem::path& linkTarget = {}) const {
        switch (what) {
            case Planted::kNothing:
                break;
            case Planted::kFile:
                Write(name, content);
                break;
            case Planted::kLink:
            case Planted::kDangling:
                std::filesystem::create_symlink(linkTarget, *this / name);
                break;
            case Planted::kFifo:
#ifndef _WIN32
                ::mkfifo((path_ / name).c_str(), 0600);
#endif
                break;
            case Planted::kDirectory:
                std::filesystem::create_directory(*this / name);
                break;
        }
    }
    // What a name holds: "-" for nothing, "link", "fifo", "dir", or a file's bytes.
    std::string Held(const std::string& name) const {
        return HeldAt(*this / name);
    }
    // The names in the directory, sorted, between "|".
    std::string Names() const {
        return NamesIn(path_);
    }

    static std::string HeldAt(const std::filesystem::path& path) {
        const auto status = std::filesystem::symlink_status(path);
        if (!std::filesystem::exists(status)) {
            return "-";
        }
        if (std::filesystem::is_symlink(status) || std::filesystem::is_fifo(status) ||
            std::filesystem::is_directory(status)) {
            return std::filesystem::is_symlink(status) ? "link"
                   : std::filesystem::is_fifo(status)  ? "fifo"
                                                       : "dir";
        }
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }
    static std::string NamesIn(const std::filesystem::path& directory) {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(directory)) {
            const std::u8string name = entry.path().filename().u8string();
            names.emplace_back(name.begin(), name.end());
        }
        std::sort(names.begin(), names.end());
        std::string all;
        for (const auto& name : names) {
            all += (all.empty() ? "" : "|") + name;
        }
        return all;
    }

  private:
    std::filesystem::path path_;
};

}  // namespace quenlo::testing
