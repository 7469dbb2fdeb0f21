#pragma once

#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>

#include "protocol/peer_machine.h"

namespace quenlo::sim {

// The handheld's store: files in one directory. A file is written to a hidden temporary file next
// to its final place and renamed there only by Commit, so an interrupted reception never leaves a
// partial file under the real name. Names arrive as single-byte text and are stored as UTF-8.
class DirectoryStore : public protocol::FileStore {
  public:
    explicit DirectoryStore(std::filesystem::path dir) : dir_(std::move(dir)) {}
    ~DirectoryStore() override;
    DirectoryStore(const DirectoryStore&) = delete;
    DirectoryStore& operator=(const DirectoryStore&) = delete;

    bool Begin(const std::string& name, std::string& error) override;
    bool Append(std::string_view bytes, std::string& error) override;
    bool Commit(std::string& error) override;
    void Abandon() override;

  private:
    std::filesystem::path dir_;
    std::FILE* file_ = nullptr;
    std::filesystem::path tempPath_;
    std::filesystem::path finalPath_;
};

}  // namespace quenlo::sim
