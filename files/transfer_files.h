#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>

#include "protocol/peer_machine.h"

namespace quenlo {

// The file a YMODEM transfer sends, read as the transfer goes.
class SourceFile : public protocol::FileSource {
  public:
    // Opens directory & name (engine text); nothing, and error set to the errno value, when it
    // cannot be read.
    static std::unique_ptr<SourceFile> Open(const std::string& directory, const std::string& name,
                                            int& error);

    std::string Name() const override { return name_; }
    std::uint64_t Size() const override { return size_; }
    bool Read(std::uint64_t offset, std::size_t length, std::string& out,
              std::string& error) override;

  private:
    SourceFile(std::ifstream in, std::string name, std::uint64_t size)
        : in_(std::move(in)), name_(std::move(name)), size_(size) {}

    std::ifstream in_;
    std::string name_;
    std::uint64_t size_;
};

// The directory a YMODEM reception writes into. Each file is written under a temporary name
// beside its place and renamed there only when whole, so a failed or cancelled reception leaves
// nothing behind. A name must pass `accept` first; one that would land on a directory or a
// symbolic link is refused, so nothing is written outside the directory.
class TargetDirectory : public protocol::FileStore {
  public:
    TargetDirectory(std::string directory, std::function<bool(const std::string&)> accept)
        : directory_(std::move(directory)), accept_(std::move(accept)) {}
    ~TargetDirectory() override;
    TargetDirectory(const TargetDirectory&) = delete;
    TargetDirectory& operator=(const TargetDirectory&) = delete;

    bool Begin(const std::string& name, std::string& error) override;
    bool Append(std::string_view bytes, std::string& error) override;
    bool Commit(std::string& error) override;
    void Abandon() override;

    // The system's error of the last write that failed, 0 when none did.
    int writeError() const { return writeError_; }

  private:
    std::string directory_;
    std::function<bool(const std::string&)> accept_;
    std::ofstream out_;
    std::filesystem::path temporary_;
    std::filesystem::path final_;
    int writeError_ = 0;
};

}  // namespace quenlo
