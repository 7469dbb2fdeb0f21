#include "sim/record_sink.h"

#include <cerrno>
#include <cstring>
#include <system_error>
#include <utility>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

namespace quenlo::sim {
namespace {

std::string SystemError(const std::string& what, const std::filesystem::path& path) {
    return what + " " + path.string() + ": " + std::strerror(errno);
}

}  // namespace

RecordSink::~RecordSink() {
    Abandon();
}

bool RecordSink::Open(const std::filesystem::path& dir, const std::string& name,
                      std::string* error) {
    Abandon();
    finalPath_ = dir / name;
    std::string pattern = (dir / ("." + name + ".part-XXXXXX")).string();
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    const int fd = ::mkstemp(buffer.data());
    if (fd < 0) {
        *error = SystemError("cannot create a file in", dir);
        return false;
    }
    tempPath_ = buffer.data();
    // mkstemp makes the file private; the finished file should look like any other.
    ::fchmod(fd, 0644);
    file_ = ::fdopen(fd, "wb");
    if (file_ == nullptr) {
        *error = SystemError("cannot write", tempPath_);
        ::close(fd);
        ::unlink(tempPath_.c_str());
        tempPath_.clear();
        return false;
    }
    return true;
}

bool RecordSink::Append(std::string_view record, std::string* error) {
    if (std::fwrite(record.data(), 1, record.size(), file_) != record.size() ||
        std::fwrite("\r\n", 1, 2, file_) != 2) {
        *error = SystemError("cannot write", tempPath_);
        return false;
    }
    return true;
}

bool RecordSink::Commit(std::string* error) {
    std::FILE* file = std::exchange(file_, nullptr);
    if (std::fclose(file) != 0) {
        *error = SystemError("cannot write", tempPath_);
        ::unlink(tempPath_.c_str());
        tempPath_.clear();
        return false;
    }
    if (::rename(tempPath_.c_str(), finalPath_.c_str()) != 0) {
        *error = SystemError("cannot create", finalPath_);
        ::unlink(tempPath_.c_str());
        tempPath_.clear();
        return false;
    }
    tempPath_.clear();
    return true;
}

void RecordSink::Abandon() {
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
