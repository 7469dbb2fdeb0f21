#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace quenlo::testing {

// A fresh directory under the system's temporary directory, removed with everything in it.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    // The directory as an engine path: ends in a separator, as a directory argument must.
    std::string enginePath() const { return path_.string() + "/"; }
    // Writes bytes exactly as given to a file in the directory; returns its path.
    std::filesystem::path Write(const std::string& name, std::string_view bytes) const;
    std::string Read(const std::string& name) const;

  private:
    std::filesystem::path path_;
};

}  // namespace quenlo::testing
