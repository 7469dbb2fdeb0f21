#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/result_codes.h"
#include "disk/directory.h"
#include "protocol/peer_machine.h"

namespace quenlo {

// The file a YMODEM transfer sends, read as the transfer goes.
class SourceFile : public protocol::FileSource {
  public:
    // Opens the file at path, which goes by `name` (engine text); nothing, and error set to the
    // errno value, when it cannot be read.
    static std::unique_ptr<SourceFile> Open(const std::filesystem::path& path,
                                            const std::string& name, int& error);

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

// The folder a YMODEM reception writes into, as the receiving machine's store: each file whole
// or not at all, by the disk writer's rules. A name must pass `accept` first (a result code, 0 to
// take it); with `append`, each file is added to an earlier one of its name.
class TargetDirectory : public protocol::FileStore {
  public:
    // With `keep`, a file whose name is taken goes under a numbered one (NAME-2.EXT).
    TargetDirectory(disk::Directory& folder, bool append, bool keep,
                    std::function<ResultCode(const std::string&)> accept)
        : folder_(folder), append_(append), keep_(keep), accept_(std::move(accept)) {}

    bool Begin(const std::string& name, std::string& error) override;
    bool Append(std::string_view bytes, std::string& error) override;
    bool Commit(std::string& error) override;
    void Abandon() override { pending_.reset(); }

    // Why the last file failed, as a result code (70 a refused name, 71 a name taken by what is
    // no file, 72 a full disk, ...) and in words; 0 while none did.
    ResultCode failure() const { return failure_; }
    const std::string& reason() const { return reason_; }
    // The files put in place, as stored, each with its size ("APP.PD4: 5000 bytes").
    const std::vector<std::string>& stored() const { return stored_; }

  private:
    bool Fail(ResultCode code, const disk::Failure& failure, std::string& error);

    disk::Directory& folder_;
    bool append_;
    bool keep_;
    std::function<ResultCode(const std::string&)> accept_;
    std::unique_ptr<disk::PendingFile> pending_;
    std::string name_;
    std::uint64_t bytes_ = 0;
    ResultCode failure_ = result::kOk;
    std::string reason_;
    std::vector<std::string> stored_;
};

}  // namespace quenlo
