#include "base/engine_file.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <system_error>
#include <utility>

#include "base/runtime_error.h"

namespace quenlo {

namespace {
constexpr std::size_t kBufferSize = 1 << 16;

// Windows takes a name beyond its code page only as wide characters.
#ifdef _WIN32
std::FILE* OpenStream(const std::filesystem::path& path, const char* how) {
    const std::wstring mode(how, how + std::char_traits<char>::length(how));
    return ::_wfopen(path.c_str(), mode.c_str());
}
#else
std::FILE* OpenStream(const std::filesystem::path& path, const char* how) {
    return std::fopen(path.c_str(), how);
}
#endif

// The longest path the system opens; PATH_MAX counts the terminating NUL.
#ifdef PATH_MAX
constexpr std::size_t kLongestPath = PATH_MAX - 1;
#else
constexpr std::size_t kLongestPath = 32767;
#endif
}  // namespace

std::unique_ptr<EngineFile> EngineFile::Open(const std::filesystem::path& path, int& error) {
    error = 0;
    // Refused before any call walks it, with the answer the system itself would give.
    if (path.native().size() > kLongestPath) {
        error = ENAMETOOLONG;
        return nullptr;
    }
    std::error_code ec;
    const std::filesystem::file_type type = std::filesystem::status(path, ec).type();
    if (type == std::filesystem::file_type::directory) {
        error = EISDIR;
        return nullptr;
    }
    // Only a regular file is read: a device such as /dev/zero never ends and the open of a FIFO
    // blocks until a writer comes, so neither is opened. EINVAL makes it a bad file name.
    const bool missingOrUnknown =
        type == std::filesystem::file_type::not_found || type == std::filesystem::file_type::none;
    if (type != std::filesystem::file_type::regular && !missingOrUnknown) {
        error = EINVAL;
        return nullptr;
    }
    errno = 0;
    std::FILE* file = OpenStream(path, "rb");
    if (file == nullptr) {
        error = errno != 0 ? errno : EIO;
        return nullptr;
    }
    return std::unique_ptr<EngineFile>(new EngineFile(file));
}

std::unique_ptr<EngineFile> EngineFile::Writing(std::unique_ptr<disk::PendingFile> pending) {
    return std::unique_ptr<EngineFile>(new EngineFile(std::move(pending)));
}

EngineFile::EngineFile(std::FILE* file) : file_(file) {
    buffer_.resize(kBufferSize);
}

EngineFile::EngineFile(std::unique_ptr<disk::PendingFile> pending) : pending_(std::move(pending)) {
    const std::optional<char> last = pending_->earlierLastByte();
    lineEndFirst_ = last && *last != '\n' && *last != '\r';
}

// A file being written that was never closed goes with its pending file: taken back.
EngineFile::~EngineFile() {
    if (file_ != nullptr) {
        std::fclose(file_);
    }
}

bool EngineFile::Fill() {
    pos_ = 0;
    end_ = std::fread(buffer_.data(), 1, buffer_.size(), file_);
    if (end_ == 0 && std::ferror(file_) != 0) {
        throw RuntimeError(runtime_error_number::kDeviceIoError);
    }
    return end_ > 0;
}

bool EngineFile::ReadLine(std::string& line) {
    line.clear();
    bool any = false;  // something of a line (text or its end) was seen
    for (;;) {
        if (pos_ == end_ && !Fill()) {
            afterCr_ = false;
            return any;
        }
        if (afterCr_) {
            afterCr_ = false;
            if (buffer_[pos_] == '\n') {
                ++pos_;
                continue;
            }
        }
        const char* start = buffer_.data() + pos_;
        const std::size_t available = end_ - pos_;
        std::size_t n = 0;
        while (n < available && start[n] != '\r' && start[n] != '\n') {
            ++n;
        }
        line.append(start, n);
        pos_ += n;
        any = true;
        if (pos_ < end_) {
            afterCr_ = buffer_[pos_] == '\r';
            ++pos_;
            return true;
        }
    }
}

std::int64_t EngineFile::CountLines(std::int64_t limit) {
    std::int64_t count = 0;
    bool inLine = false;  // text seen since the last line end
    for (;;) {
        if (pos_ == end_ && !Fill()) {
            afterCr_ = false;
            return inLine ? count + 1 : count;
        }
        for (; pos_ < end_; ++pos_) {
            const char c = buffer_[pos_];
            if (afterCr_) {
                afterCr_ = false;
                if (c == '\n') {
                    continue;
                }
            }
            if (c == '\r' || c == '\n') {
                ++count;
                inLine = false;
                afterCr_ = c == '\r';
                if (count > limit) {
                    ++pos_;
                    return count;
                }
            } else {
                inLine = true;
            }
        }
    }
}

int EngineFile::Write(std::string_view text) {
    if (!pending_) {
        return EBADF;
    }
    disk::Failure failure;
    if (std::exchange(lineEndFirst_, false) && !pending_->Write("\r\n", failure)) {
        failure_ = failure.what;
        return failure.error;
    }
    if (!pending_->Write(text, failure)) {
        failure_ = failure.what;
        return failure.error;
    }
    return 0;
}

int EngineFile::Close() {
    if (file_ != nullptr) {
        std::fclose(std::exchange(file_, nullptr));
    }
    if (!pending_) {
        return 0;
    }
    disk::Failure failure;
    const bool kept = pending_->Commit(failure);
    pending_.reset();
    if (!kept) {
        failure_ = failure.what;
        return failure.error;
    }
    return 0;
}

}  // namespace quenlo
