#pragma once

#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>

namespace quenlo::sim {

// The received file, written as it comes in to a hidden file next to its final place and renamed
// there only by Commit(), so an interrupted reception never leaves a partial file under the real
// name. Each record becomes one line ending in CR LF.
class RecordSink {
  public:
    RecordSink() = default;
    ~RecordSink();
    RecordSink(const RecordSink&) = delete;
    RecordSink& operator=(const RecordSink&) = delete;

    // Starts DIR/NAME. False (and *error set) when the file cannot be created.
    bool Open(const std::filesystem::path& dir, const std::string& name, std::string* error);
    bool Append(std::string_view record, std::string* error);
    // Puts the file in place under its name, replacing an older one.
    bool Commit(std::string* error);
    // Throws away whatever was written.
    void Abandon();

    bool isOpen() const { return file_ != nullptr; }
    const std::filesystem::path& finalPath() const { return finalPath_; }

  private:
    std::FILE* file_ = nullptr;
    std::filesystem::path tempPath_;
    std::filesystem::path finalPath_;
};

}  // namespace quenlo::sim
