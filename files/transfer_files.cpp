#include "files/transfer_files.h"

#include <cerrno>
#include <system_error>

#include "files/file_open.h"
#include "files/native_path.h"
#include "protocol/line_text.h"

namespace quenlo {

namespace fs = std::filesystem;

std::unique_ptr<SourceFile> SourceFile::Open(const std::filesystem::path& path,
                                             const std::string& name, int& error) {
    std::error_code ec;
    if (!fs::is_regular_file(path, ec)) {
        error = ec ? ec.value() : ENOENT;
        return nullptr;
    }
    const auto size = fs::file_size(path, ec);
    std::ifstream in(path, std::ios::binary);
    if (ec || !in) {
        error = ec ? ec.value() : EACCES;
        return nullptr;
    }
    return std::unique_ptr<SourceFile>(new SourceFile(std::move(in), name, size));
}

bool SourceFile::Read(std::uint64_t offset, std::size_t length, std::string& out,
                      std::string& error) {
    out.resize(length);
    in_.clear();
    in_.seekg(static_cast<std::streamoff>(offset));
    in_.read(out.data(), static_cast<std::streamsize>(length));
    out.resize(static_cast<std::size_t>(in_.gcount()));
    if (in_.bad() || (out.size() < length && offset + out.size() < size_)) {
        error = "cannot read " + name_;
        return false;
    }
    return true;
}

bool TargetDirectory::Fail(ResultCode code, const disk::Failure& failure, std::string& error) {
    failure_ = code;
    reason_ = failure.what;
    error = failure.what;
    pending_.reset();
    return false;
}

bool TargetDirectory::Begin(const std::string& name, std::string& error) {
    pending_.reset();
    if (const ResultCode refused = accept_(name); refused != result::kOk) {
        return Fail(refused, {EINVAL, "the handheld's name " + Latin1ToUtf8(name) + " is refused"},
                    error);
    }
    name_ = NameInFolder(folder_, keep_ ? FreeName(folder_, name, false) : name);
    bytes_ = 0;
    disk::Failure failure;
    pending_ = append_ ? folder_.Append(name_, failure) : folder_.Create(name_, failure);
    if (!pending_) {
        // Whatever keeps the file from its name is the name's path, as for the block protocol.
        return Fail(failure.error == ENOSPC ? result::kDiskFull : result::kPathNotFound, failure,
                    error);
    }
    return true;
}

bool TargetDirectory::Append(std::string_view bytes, std::string& error) {
    disk::Failure failure;
    if (!pending_ || !pending_->Write(bytes, failure)) {
        return Fail(MapFileError(RuntimeErrorForErrno(failure.error, false)), failure, error);
    }
    bytes_ += bytes.size();
    return true;
}

bool TargetDirectory::Commit(std::string& error) {
    disk::Failure failure;
    if (!pending_ || !pending_->Commit(failure)) {
        return Fail(MapFileError(RuntimeErrorForErrno(failure.error, false)), failure, error);
    }
    pending_.reset();
    stored_.push_back(name_ + ": " + std::to_string(bytes_) + " bytes");
    return true;
}

}  // namespace quenlo
