// The same rules on Windows, which has no openat: the directory is held open without delete
// sharing, so that it cannot be renamed or removed (nor replaced by a link) while the run works in
// it, and names are opened with the reparse point flag, so that no link is followed.
#include <windows.h>

#include <cerrno>
#include <string>
#include <system_error>
#include <utility>

#include "disk/directory.h"

namespace quenlo::disk {
namespace {

int ErrnoOf(DWORD error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
            return ENOENT;
        case ERROR_ACCESS_DENIED:
        case ERROR_WRITE_PROTECT:
            return EACCES;
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
            return ENOSPC;
        case ERROR_FILE_EXISTS:
        case ERROR_ALREADY_EXISTS:
            return EEXIST;
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
            return EBUSY;
        case ERROR_INVALID_NAME:
        case ERROR_BAD_PATHNAME:
        case ERROR_FILENAME_EXCED_RANGE:
            return EINVAL;
        case ERROR_DIRECTORY:
            return ENOTDIR;
        default:
            return EIO;
    }
}

Failure Failed(const std::string& what, const std::filesystem::path& path, DWORD error) {
    const std::u8string shown = path.u8string();
    return {ErrnoOf(error), what + " " + std::string(shown.begin(), shown.end()) + ": " +
                                std::system_category().message(static_cast<int>(error))};
}

std::filesystem::path FromUtf8(const std::string& name) {
    return std::filesystem::path(std::u8string(name.begin(), name.end()));
}

std::string Utf8(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

bool WriteAll(HANDLE file, std::string_view bytes, DWORD& error) {
    while (!bytes.empty()) {
        DWORD written = 0;
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 30));
        if (!::WriteFile(file, bytes.data(), chunk, &written, nullptr)) {
            error = ::GetLastError();
            return false;
        }
        bytes.remove_prefix(written);
    }
    return true;
}

class WinPendingFile : public PendingFile {
  public:
    WinPendingFile(std::filesystem::path target, HANDLE file, bool appending, std::uint64_t earlier,
                   std::optional<char> lastByte)
        : target_(std::move(target)),
          file_(file),
          appending_(appending),
          earlier_(earlier),
          lastByte_(lastByte) {}
    ~WinPendingFile() override { Abandon(); }

    bool Write(std::string_view bytes, Failure& failure) override {
        DWORD error = ERROR_INVALID_HANDLE;
        if (file_ != INVALID_HANDLE_VALUE && WriteAll(file_, bytes, error)) {
            return true;
        }
        failure = Failed("cannot write", target_, error);
        return false;
    }

    bool Commit(Failure& failure) override {
        if (file_ == INVALID_HANDLE_VALUE) {
            failure = Failed("cannot write", target_, ERROR_INVALID_HANDLE);
            return false;
        }
        if (!::FlushFileBuffers(file_)) {
            failure = Failed("cannot write", target_, ::GetLastError());
            Abandon();
            return false;
        }
        if (!appending_ && !Rename(failure)) {
            Abandon();
            return false;
        }
        ::CloseHandle(std::exchange(file_, INVALID_HANDLE_VALUE));
        return true;
    }

    void Abandon() override {
        if (file_ == INVALID_HANDLE_VALUE) {
            return;
        }
        if (appending_) {
            LARGE_INTEGER size;
            size.QuadPart = static_cast<LONGLONG>(earlier_);
            ::SetFilePointerEx(file_, size, nullptr, FILE_BEGIN);
            ::SetEndOfFile(file_);
        } else {
            FILE_DISPOSITION_INFO dispose{TRUE};
            ::SetFileInformationByHandle(file_, FileDispositionInfo, &dispose, sizeof dispose);
        }
        ::CloseHandle(std::exchange(file_, INVALID_HANDLE_VALUE));
    }

    std::uint64_t earlierSize() const override { return earlier_; }
    std::optional<char> earlierLastByte() const override { return lastByte_; }

  private:
    // Renamed through its open handle, so that no one can take it in between; a link at the
    // name is replaced itself.
    bool Rename(Failure& failure) {
        const std::wstring name = target_.wstring();
        std::string buffer(sizeof(FILE_RENAME_INFO) + name.size() * sizeof(wchar_t), '\0');
        auto* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
        info->ReplaceIfExists = TRUE;
        info->RootDirectory = nullptr;
        info->FileNameLength = static_cast<DWORD>(name.size() * sizeof(wchar_t));
        std::copy(name.begin(), name.end(), info->FileName);
        if (!::SetFileInformationByHandle(file_, FileRenameInfo, info,
                                          static_cast<DWORD>(buffer.size()))) {
            failure = Failed("cannot create", target_, ::GetLastError());
            return false;
        }
        return true;
    }

    std::filesystem::path target_;
    HANDLE file_;
    bool appending_;
    std::uint64_t earlier_;
    std::optional<char> lastByte_;
};

class WinDirectory : public Directory {
  public:
    WinDirectory(std::filesystem::path path, HANDLE handle)
        : Directory(std::move(path)), handle_(handle) {}
    ~WinDirectory() override { ::CloseHandle(handle_); }

    Entry Look(const std::string& name) const override {
        WIN32_FILE_ATTRIBUTE_DATA data{};
        if (!::GetFileAttributesExW((path() / FromUtf8(name)).c_str(), GetFileExInfoStandard,
                                    &data)) {
            const DWORD error = ::GetLastError();
            const bool absent = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
            return {absent ? EntryKind::kAbsent : EntryKind::kOther, 0};
        }
        if ((data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
            return {EntryKind::kLink, 0};
        }
        if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            return {EntryKind::kDirectory, 0};
        }
        if ((data.dwFileAttributes & FILE_ATTRIBUTE_DEVICE) != 0) {
            return {EntryKind::kOther, 0};
        }
        return {EntryKind::kRegular, (std::uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow};
    }

    std::vector<std::string> Names() const override {
        std::vector<std::string> names;
        WIN32_FIND_DATAW found{};
        const HANDLE search = ::FindFirstFileW((path() / L"*").c_str(), &found);
        if (search == INVALID_HANDLE_VALUE) {
            return names;
        }
        do {
            const std::wstring name = found.cFileName;
            if (name != L"." && name != L"..") {
                names.push_back(Utf8(std::filesystem::path(name)));
            }
        } while (::FindNextFileW(search, &found));
        ::FindClose(search);
        return names;
    }

    std::unique_ptr<PendingFile> Create(const std::string& name, Failure& failure) override {
        if (!Replaceable(Look(name).kind, name, failure)) {
            return nullptr;
        }
        // CREATE_NEW never opens what is there, a link included: a taken name only makes us
        // take the next one. No delete sharing marks it as a live writer's for RemoveLeftovers.
        HANDLE file = INVALID_HANDLE_VALUE;
        DWORD error = ERROR_FILE_EXISTS;
        for (int tries = 0; file == INVALID_HANDLE_VALUE && tries < kTemporaryTries &&
                            (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS);
             ++tries) {
            const std::filesystem::path at =
                path() / FromUtf8(TemporaryName(::GetCurrentProcessId(), temporaries_++));
            file = ::CreateFileW(at.c_str(), GENERIC_WRITE | DELETE, FILE_SHARE_READ, nullptr,
                                 CREATE_NEW, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT,
                                 nullptr);
            error = file == INVALID_HANDLE_VALUE ? ::GetLastError() : ERROR_SUCCESS;
        }
        if (file == INVALID_HANDLE_VALUE) {
            failure = Failed("cannot create a file in", path(), error);
            return nullptr;
        }
        return std::make_unique<WinPendingFile>(path() / FromUtf8(name), file, false, 0,
                                                std::nullopt);
    }

    std::unique_ptr<PendingFile> Append(const std::string& name, Failure& failure) override {
        const Entry existing = Look(name);
        if (existing.kind == EntryKind::kAbsent) {
            return Create(name, failure);
        }
        if (existing.kind == EntryKind::kLink) {
            failure = {ELOOP, Utf8(path() / FromUtf8(name)) +
                                  " is a symbolic link: appending would write where it points"};
            return nullptr;
        }
        if (!Replaceable(existing.kind, name, failure)) {
            return nullptr;
        }
        const std::filesystem::path at = path() / FromUtf8(name);
        const HANDLE file =
            ::CreateFileW(at.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                          OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            const DWORD error = ::GetLastError();
            failure = Failed("cannot append to", at, error);
            if (error == ERROR_SHARING_VIOLATION) {
                failure.what = Utf8(at) + " is busy: another program writes it";
            }
            return nullptr;
        }
        BY_HANDLE_FILE_INFORMATION info{};
        if (!::GetFileInformationByHandle(file, &info) ||
            (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) !=
                0) {
            ::CloseHandle(file);
            Replaceable(EntryKind::kOther, name, failure);
            return nullptr;
        }
        const std::uint64_t size = (std::uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow;
        std::optional<char> lastByte;
        LARGE_INTEGER at_end;
        at_end.QuadPart = static_cast<LONGLONG>(size) - 1;
        char byte = 0;
        DWORD got = 0;
        if (size > 0 && ::SetFilePointerEx(file, at_end, nullptr, FILE_BEGIN) &&
            ::ReadFile(file, &byte, 1, &got, nullptr) && got == 1) {
            lastByte = byte;
        }
        LARGE_INTEGER zero{};
        ::SetFilePointerEx(file, zero, nullptr, FILE_END);
        return std::make_unique<WinPendingFile>(at, file, true, size, lastByte);
    }

    void RemoveLeftovers() override {
        for (const std::string& name : Names()) {
            if (IsTemporaryName(name) && Look(name).kind == EntryKind::kRegular) {
                // Fails for one a live writer holds: it shares no delete.
                ::DeleteFileW((path() / FromUtf8(name)).c_str());
            }
        }
    }

  private:
    bool Replaceable(EntryKind kind, const std::string& name, Failure& failure) const {
        if (kind == EntryKind::kDirectory) {
            failure = {EISDIR, Utf8(path() / FromUtf8(name)) + " is a directory"};
            return false;
        }
        if (kind == EntryKind::kOther) {
            failure = {EINVAL, Utf8(path() / FromUtf8(name)) + " is no regular file"};
            return false;
        }
        return true;
    }

    HANDLE handle_;
    unsigned temporaries_ = 0;
};

}  // namespace

std::unique_ptr<Directory> Directory::Open(const std::filesystem::path& path, Failure& failure) {
    std::error_code ec;
    const std::filesystem::path full =
        std::filesystem::absolute(path.empty() ? std::filesystem::path(".") : path, ec);
    const HANDLE handle = ::CreateFileW(
        full.c_str(), FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        failure = Failed("cannot open the folder", full, ::GetLastError());
        return nullptr;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(handle, &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        ::CloseHandle(handle);
        failure = Failed("cannot open the folder", full, ERROR_DIRECTORY);
        return nullptr;
    }
    return std::make_unique<WinDirectory>(full, handle);
}

// The console's Ctrl-C handler runs in a thread of its own; what a run killed outright leaves is
// a temporary file that never carries a real name, and the next reception removes it.
void AbandonAllPending() noexcept {}

}  // namespace quenlo::disk
