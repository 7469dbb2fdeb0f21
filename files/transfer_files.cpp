#include "files/transfer_files.h"

#include <cerrno>
#include <system_error>

#include "files/native_path.h"
#include "protocol/fields.h"

namespace quenlo {

namespace fs = std::filesystem;

std::unique_ptr<SourceFile> SourceFile::Open(const std::string& directory, const std::string& name,
                                             int& error) {
    const fs::path path = NativePath(directory + name);
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

TargetDirectory::~TargetDirectory() {
    Abandon();
}

bool TargetDirectory::Begin(const std::string& name, std::string& error) {
    Abandon();
    if (!accept_(name)) {
        error = "the name " + name + " is refused";
        return false;
    }
    final_ = NativePath(directory_ + name);
    std::error_code ec;
    const auto status = fs::symlink_status(final_, ec);
    if (fs::is_symlink(status) || fs::is_directory(status)) {
        error = final_.string() + " is a link or a directory";
        return false;
    }
    temporary_ = final_;
    temporary_.replace_filename("." + final_.filename().string() + ".part");
    out_.open(temporary_, std::ios::binary | std::ios::trunc);
    if (!out_) {
        error = "cannot create " + temporary_.string();
        temporary_.clear();
        return false;
    }
    return true;
}

bool TargetDirectory::Append(std::string_view bytes, std::string& error) {
    errno = 0;
    out_.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out_.flush()) {
        writeError_ = errno != 0 ? errno : EIO;
        error = "cannot write " + temporary_.string();
        return false;
    }
    return true;
}

bool TargetDirectory::Commit(std::string& error) {
    out_.close();
    std::error_code ec;
    if (out_.fail() || (fs::rename(temporary_, final_, ec), ec)) {
        error = "cannot create " + final_.string();
        Abandon();
        return false;
    }
    temporary_.clear();
    return true;
}

void TargetDirectory::Abandon() {
    if (out_.is_open()) {
        out_.close();
    }
    if (!temporary_.empty()) {
        std::error_code ec;
        fs::remove(temporary_, ec);
        temporary_.clear();
    }
}

}  // namespace quenlo
