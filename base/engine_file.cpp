#include "base/engine_file.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <system_error>

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

std::unique_ptr<EngineFile> EngineFile::Open(const std::filesystem::path& path, Mode mode,
                                             int& error) {
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
    if (mode == Mode::kRead && type != std::filesystem::file_type::regular && !missingOrUnknown) {
        error = EINVAL;
        return nullptr;
    }
    const char* how = mode == Mode::kRead ? "rb" : (mode == Mode::kAppend ? "ab" : "wb");
    errno = 0;
    std::FILE* file = OpenStream(path, how);
    if (file == nullptr) {
        error = errno != 0 ? errno : EIO;
        return nullptr;
    }
    return std::unique_ptr<EngineFile>(new EngineFile(file, mode));
}

EngineFile::EngineFile(std::FILE* file, Mode mode) : file_(file), mode_(mode) {
    if (mode_ == Mode::kRead) {
        buffer_.resize(kBufferSize);
    }
}

EngineFile::~EngineFile() {
    Close();
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
    if (file_ == nullptr) {
        return EBADF;
    }
    errno = 0;
    if (std::fwrite(text.data(), 1, text.size(), file_) != text.size()) {
        return errno != 0 ? errno : EIO;
    }
    return 0;
}

int EngineFile::Flush() {
    if (file_ == nullptr) {
        return EBADF;
    }
    errno = 0;
    return std::fflush(file_) == 0 ? 0 : (errno != 0 ? errno : EIO);
}

int EngineFile::Close() {
    if (file_ == nullptr) {
        return 0;
    }
    errno = 0;
    int error = 0;
    if (std::fflush(file_) != 0) {
        error = errno != 0 ? errno : EIO;
    }
    if (std::fclose(file_) != 0 && error == 0) {
        error = errno != 0 ? errno : EIO;
    }
    file_ = nullptr;
    return error;
}

}  // namespace quenlo
