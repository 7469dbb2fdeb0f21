#include "sim/directory_store.h"

#include <cerrno>
#include <cstring>
#include <utility>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include "protocol/fields.h"

namespace quenlo::sim {
namespace {

std::string SystemError(const std::string& what, const std::filesystem::path& path) {
    return what + " " + path.string() + ": " + std::strerror(errno);
}

}  // namespace

DirectoryStore::~DirectoryStore() {
    Abandon();
}

bool DirectoryStore::Begin(const std::string& name, std::string& error) {
    Abandon();
    const std::string utf8 = Latin1ToUtf8(name);
    finalPath_ = dir_ / utf8;
    std::string pattern = (dir_ / ("." + utf8 + ".part-XXXXXX")).string();
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    const int fd = ::mkstemp(buffer.data());
    if (fd < 0) {
        error = SystemError("cannot create a file in", dir_);
        return false;
    }
    tempPath_ = buffer.data();
    // mkstemp makes the file private; the finished file should look like any other.
    ::fchmod(fd, 0644);
    file_ = ::fdopen(fd, "wb");
    if (file_ == nullptr) {
        error = SystemError("cannot write", tempPath_);
        ::close(fd);
        Abandon();
        return false;
    }
    return true;
}

bool DirectoryStore::Append(std::string_view bytes, std::string& error) {
    if (file_ == nullptr || std::fwrite(bytes.data(), 1, bytes.size(), file_) != bytes.size()) {
        error = SystemError("cannot write", tempPath_);
        return false;
    }
    return true;
}

bool DirectoryStore::Commit(std::string& error) {
    std::FILE* file = std::exchange(file_, nullptr);
    if (file == nullptr || std::fclose(file) != 0) {
        error = SystemError("cannot write", tempPath_);
        Abandon();
        return false;
    }
    if (::rename(tempPath_.c_str(), finalPath_.c_str()) != 0) {
        error = SystemError("cannot create", finalPath_);
        Abandon();
        return false;
    }
    tempPath_.clear();
    return true;
}

void DirectoryStore::Abandon() {
    if (file_ != nullptr) {
        std::fclose(file_);
        file_ = nullptr;
    }
    if (!tempPath_.empty()) {
        ::unlink(tempPath_.c_str());
        tempPath_.clear();
    }
}

}  // namespace quenlo::sim
