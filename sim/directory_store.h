#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

#include "disk/directory.h"
#include "protocol/peer_machine.h"

namespace quenlo::sim {

// The handheld's store: files in one directory, written by the loader's own disk writer, so an
// interrupted reception never leaves a partial file under the real name. Names arrive as
// single-byte text and are stored as UTF-8.
class DirectoryStore : public protocol::FileStore {
  public:
    // Nothing, and error set, when the directory cannot be opened.
    static std::unique_ptr<DirectoryStore> Open(const std::filesystem::path& dir,
                                                std::string& error);

    bool Begin(const std::string& name, std::string& error) override;
    bool Append(std::string_view bytes, std::string& error) override;
    bool Commit(std::string& error) override;
    void Abandon() override;

  private:
    // Records are gathered and written a buffer at a time: a write a record would stand between
    // every block and its answer.
    static constexpr std::size_t kBufferBytes = 64 * 1024;

    explicit DirectoryStore(std::unique_ptr<disk::Directory> dir) : dir_(std::move(dir)) {}
    bool Flush(std::string& error);

    std::unique_ptr<disk::Directory> dir_;
    std::unique_ptr<disk::PendingFile> pending_;
    std::string buffer_;
};

}  // namespace quenlo::sim
