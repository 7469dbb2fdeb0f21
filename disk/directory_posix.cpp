#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <string>
#include <utility>

#include "disk/directory.h"

namespace quenlo::disk {
namespace {

Failure Failed(const std::string& what, const std::filesystem::path& path, int error) {
    return {error, what + " " + path.string() + ": " + std::strerror(error)};
}

// What a signal handler must take back: slots filled and emptied by the writers, read by
// AbandonAllPending. Fixed storage, because the handler may not allocate.
struct PendingSlot {
    std::atomic<bool> used{false};
    int directoryFd = -1;
    int fd = -1;
    off_t cutBackTo = -1;                 // appending: the earlier size
    std::array<char, 64> temporary = {};  // creating: the temporary name
};
std::array<PendingSlot, 8> pendingSlots;

PendingSlot* TakeSlot() {
    for (PendingSlot& slot : pendingSlots) {
        bool expected = false;
        if (slot.used.compare_exchange_strong(expected, true)) {
            return &slot;
        }
    }
    return nullptr;  // more files at once than a run writes: then only the normal path cleans up
}

void FreeSlot(PendingSlot*& slot) {
    if (slot != nullptr) {
        slot->used = false;
        slot = nullptr;
    }
}

bool WriteAll(int fd, std::string_view bytes, int& error) {
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            error = errno;
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

class PosixPendingFile : public PendingFile {
  public:
    // A new file under `temporary`, renamed to `name` by Commit.
    // The directory's descriptor is its own copy: the file may outlive the Directory.
    PosixPendingFile(int directoryFd, std::filesystem::path directory, std::string name,
                     std::string temporary, int fd)
        : directoryFd_(::fcntl(directoryFd, F_DUPFD_CLOEXEC, 0)),
          directory_(std::move(directory)),
          name_(std::move(name)),
          temporary_(std::move(temporary)),
          fd_(fd) {
        slot_ = TakeSlot();
        if (slot_ != nullptr) {
            slot_->directoryFd = directoryFd_;
            slot_->fd = -1;
            std::strncpy(slot_->temporary.data(), temporary_.c_str(), slot_->temporary.size() - 1);
        }
    }
    // The regular file `name`, appended to in place.
    PosixPendingFile(std::filesystem::path directory, std::string name, int fd, off_t earlier,
                     std::optional<char> lastByte)
        : directory_(std::move(directory)),
          name_(std::move(name)),
          fd_(fd),
          earlier_(earlier),
          lastByte_(lastByte) {
        slot_ = TakeSlot();
        if (slot_ != nullptr) {
            slot_->directoryFd = -1;
            slot_->fd = fd_;
            slot_->cutBackTo = earlier_;
        }
    }
    ~PosixPendingFile() override {
        Abandon();
        if (directoryFd_ >= 0) {
            ::close(directoryFd_);
        }
    }

    bool Write(std::string_view bytes, Failure& failure) override {
        int error = fd_ < 0 ? EBADF : 0;
        if (error == 0 && WriteAll(fd_, bytes, error)) {
            return true;
        }
        failure = Failed("cannot write", directory_ / name_, error);
        return false;
    }

    bool Commit(Failure& failure) override {
        if (fd_ < 0) {
            failure = Failed("cannot write", directory_ / name_, EBADF);
            return false;
        }
        // On the disk before the name shows it; the rename while the file is still open and
        // locked, so that no one takes it for a leftover in between.
        if (::fsync(fd_) != 0) {
            failure = Failed("cannot write", directory_ / name_, errno);
            Abandon();
            return false;
        }
        if (appending()) {
            ::close(std::exchange(fd_, -1));
            FreeSlot(slot_);
            return true;
        }
        if (::renameat(directoryFd_, temporary_.c_str(), directoryFd_, name_.c_str()) != 0) {
            failure = Failed("cannot create", directory_ / name_, errno);
            Abandon();
            return false;
        }
        ::fsync(directoryFd_);  // the new name on the disk too; a file system that cannot is fine
        ::close(std::exchange(fd_, -1));
        FreeSlot(slot_);
        return true;
    }

    void Abandon() override {
        if (fd_ < 0) {
            return;
        }
        if (appending()) {
            [[maybe_unused]] const int cut = ::ftruncate(fd_, earlier_);
        } else {
            ::unlinkat(directoryFd_, temporary_.c_str(), 0);
        }
        ::close(std::exchange(fd_, -1));
        FreeSlot(slot_);
    }

    std::uint64_t earlierSize() const override { return static_cast<std::uint64_t>(earlier_); }
    std::optional<char> earlierLastByte() const override { return lastByte_; }

  private:
    bool appending() const { return temporary_.empty(); }

    int directoryFd_ = -1;
    std::filesystem::path directory_;
    std::string name_;
    std::string temporary_;
    int fd_ = -1;
    off_t earlier_ = 0;
    std::optional<char> lastByte_;
    PendingSlot* slot_ = nullptr;
};

class PosixDirectory : public Directory {
  public:
    PosixDirectory(std::filesystem::path path, int fd) : Directory(std::move(path)), fd_(fd) {}
    ~PosixDirectory() override { ::close(fd_); }

    Entry Look(const std::string& name) const override {
        struct stat st {};
        if (::fstatat(fd_, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
            return {errno == ENOENT ? EntryKind::kAbsent : EntryKind::kOther, 0};
        }
        if (S_ISREG(st.st_mode)) {
            return {EntryKind::kRegular, static_cast<std::uint64_t>(st.st_size)};
        }
        return {S_ISLNK(st.st_mode)   ? EntryKind::kLink
                : S_ISDIR(st.st_mode) ? EntryKind::kDirectory
                                      : EntryKind::kOther,
                0};
    }

    std::vector<std::string> Names() const override {
        std::vector<std::string> names;
        const int copy = ::openat(fd_, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        DIR* dir = copy >= 0 ? ::fdopendir(copy) : nullptr;
        if (dir == nullptr) {
            if (copy >= 0) {
                ::close(copy);
            }
            return names;
        }
        while (const dirent* entry = ::readdir(dir)) {
            const std::string name = entry->d_name;
            if (name != "." && name != "..") {
                names.push_back(name);
            }
        }
        ::closedir(dir);
        return names;
    }

    std::unique_ptr<PendingFile> Create(const std::string& name, Failure& failure) override {
        const Entry existing = Look(name);
        if (!Replaceable(existing.kind, name, failure)) {
            return nullptr;
        }
        // Created new, never opened: whatever already has the name, a link planted there
        // included, only makes us take the next one.
        std::string temporary;
        int fd = -1;
        for (int tries = 0; fd < 0 && tries < kTemporaryTries; ++tries) {
            temporary = TemporaryName(static_cast<unsigned long>(::getpid()), temporaries_++);
            fd = ::openat(fd_, temporary.c_str(),
                          O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
            if (fd < 0 && errno != EEXIST) {
                break;
            }
        }
        if (fd < 0) {
            failure = Failed("cannot create a file in", path(), errno);
            return nullptr;
        }
        // Marks it as a live writer's: RemoveLeftovers takes only files nobody holds.
        ::flock(fd, LOCK_EX | LOCK_NB);
        if (existing.kind == EntryKind::kRegular) {
            struct stat st {};
            if (::fstatat(fd_, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
                ::fchmod(fd, st.st_mode & 07777);  // the new file as open to others as the old
            }
        }
        return std::make_unique<PosixPendingFile>(fd_, path(), name, temporary, fd);
    }

    std::unique_ptr<PendingFile> Append(const std::string& name, Failure& failure) override {
        const Entry existing = Look(name);
        if (existing.kind == EntryKind::kAbsent) {
            return Create(name, failure);
        }
        if (existing.kind == EntryKind::kLink) {
            failure = {ELOOP, (path() / name).string() +
                                  " is a symbolic link: appending would write where it points"};
            return nullptr;
        }
        if (!Replaceable(existing.kind, name, failure)) {
            return nullptr;
        }
        // No link, no blocking open, no terminal taken over: whatever was slipped in at the name
        // since the look is refused below, never waited on.
        const int fd = ::openat(fd_, name.c_str(),
                                O_RDWR | O_APPEND | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        if (fd < 0) {
            failure = Failed("cannot append to", path() / name, errno);
            return nullptr;
        }
        struct stat st {};
        if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
            ::close(fd);
            Replaceable(EntryKind::kOther, name, failure);
            return nullptr;
        }
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            ::close(fd);
            failure = {EBUSY, (path() / name).string() + " is busy: another program writes it"};
            return nullptr;
        }
        std::optional<char> lastByte;
        char byte = 0;
        if (st.st_size > 0 && ::pread(fd, &byte, 1, st.st_size - 1) == 1) {
            lastByte = byte;
        }
        return std::make_unique<PosixPendingFile>(path(), name, fd, st.st_size, lastByte);
    }

    void RemoveLeftovers() override {
        for (const std::string& name : Names()) {
            if (!IsTemporaryName(name) || Look(name).kind != EntryKind::kRegular) {
                continue;
            }
            const int fd = ::openat(fd_, name.c_str(),
                                    O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
            if (fd < 0) {
                continue;
            }
            struct stat st {};
            if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
                ::flock(fd, LOCK_EX | LOCK_NB) == 0) {
                ::unlinkat(fd_, name.c_str(), 0);
            }
            ::close(fd);
        }
    }

  private:
    bool Replaceable(EntryKind kind, const std::string& name, Failure& failure) const {
        if (kind == EntryKind::kDirectory) {
            failure = {EISDIR, (path() / name).string() + " is a directory"};
            return false;
        }
        if (kind == EntryKind::kOther) {
            failure = {EINVAL, (path() / name).string() +
                                   " is no regular file (a FIFO, a device or a socket)"};
            return false;
        }
        return true;
    }

    int fd_;
    unsigned temporaries_ = 0;
};

}  // namespace

std::unique_ptr<Directory> Directory::Open(const std::filesystem::path& path, Failure& failure) {
    const std::filesystem::path shown = path.empty() ? std::filesystem::path(".") : path;
    const int fd = ::open(shown.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        failure = Failed("cannot open the folder", shown, errno);
        return nullptr;
    }
    return std::make_unique<PosixDirectory>(shown, fd);
}

void AbandonAllPending() noexcept {
    for (PendingSlot& slot : pendingSlots) {
        if (!slot.used) {
            continue;
        }
        if (slot.fd >= 0) {
            [[maybe_unused]] const int cut = ::ftruncate(slot.fd, slot.cutBackTo);
        } else if (slot.directoryFd >= 0) {
            ::unlinkat(slot.directoryFd, slot.temporary.data(), 0);
        }
    }
}

}  // namespace quenlo::disk
