#include "files/file_open.h"

#include <cerrno>
#include <system_error>

#include "base/runtime_error.h"
#include "base/text.h"
#include "files/file_names.h"
#include "files/native_path.h"

namespace quenlo {

std::int32_t RuntimeErrorForErrno(int error, bool directoryExists) {
    namespace rt = runtime_error_number;
    switch (error) {
        case ENOENT:
            return directoryExists ? rt::kFileNotFound : rt::kPathNotFound;
        case ENOTDIR:
            return rt::kPathNotFound;
        case ENOSPC:
        case EFBIG:
#ifdef EDQUOT
        case EDQUOT:
#endif
            return rt::kDiskFull;
        case ENAMETOOLONG:
        case EINVAL:
        case EILSEQ:
            return rt::kBadFileName;
        case EACCES:
        case EPERM:
        case EROFS:
            return rt::kPermissionDenied;
        case EIO:
            return rt::kDeviceIoError;
        default:
            return rt::kPathFileAccessError;
    }
}

ResultCode WriteFailed(RunState& state, const std::string& reason, int error) {
    state.failureDetail = reason;
    // Nothing a write opens can be missing but the folder around it.
    state.fileErrNumber = RuntimeErrorForErrno(error, false);
    state.fileErrLine = 0;
    return MapFileError(state.fileErrNumber);
}

ResultCode OpenTargetFolder(RunState& state) {
    state.receiving.targetFolder.reset();
    if (IsBareDrive(state.filePath) && !kSystemHasDrives) {
        state.failureDetail = Latin1ToUtf8(state.filePath) +
                              " names a drive, and this system has none: name a folder (./, "
                              "/media/usb/)";
        return result::kPathNotFound;
    }
    disk::Failure failure;
    state.receiving.targetFolder =
        disk::Directory::Open(GivenPath(state.filePath, state.filePathAsGiven), failure);
    state.receiving.targetFolderOf = state.filePath;
    if (!state.receiving.targetFolder) {
        state.failureDetail = failure.what;
        return MapFileError(RuntimeErrorForErrno(failure.error, false));
    }
    state.receiving.targetFolder->RemoveLeftovers();
    return result::kOk;
}

disk::Directory* TargetFolder(RunState& state, ResultCode& result) {
    if (!state.receiving.targetFolder || state.receiving.targetFolderOf != state.filePath) {
        result = OpenTargetFolder(state);
    }
    return state.receiving.targetFolder.get();
}

std::string FreeName(const disk::Directory& folder, const std::string& name, bool withFieldFile) {
    const auto dot = name.find('.');
    const std::string base = name.substr(0, dot);
    const std::string extension = dot == std::string::npos ? "" : name.substr(dot);
    const auto taken = [&folder](const std::string& candidate) {
        return folder.Look(NameInFolder(folder, candidate)).kind != disk::EntryKind::kAbsent;
    };
    for (int n = 1;; ++n) {
        const std::string stem = n == 1 ? base : base + "-" + std::to_string(n);
        if (!taken(stem + extension) && !(withFieldFile && taken(stem + ".FLD"))) {
            return stem + extension;
        }
    }
}

std::string NameInFolder(const disk::Directory& folder, const std::string& name) {
    const std::string utf8 = Latin1ToUtf8(name);
    if (folder.Look(utf8).kind != disk::EntryKind::kAbsent) {
        return utf8;
    }
    const std::string wanted = UpperCase(name);
    for (const std::string& entry : folder.Names()) {
        if (UpperCase(Utf8ToLatin1(entry)) == wanted) {
            return entry;
        }
    }
    return utf8;
}

namespace {

// Writing: in the run's folder, held open since before the port opened, or in one opened now.
ResultCode OpenForWriting(RunState& state, const std::string& directory, const std::string& name,
                          FileNumber number) {
    std::unique_ptr<disk::Directory> opened;
    disk::Failure failure;
    disk::Directory* folder = nullptr;
    if (directory == state.filePath) {
        ResultCode result = result::kOk;
        folder = TargetFolder(state, result);
        if (folder == nullptr) {
            return result;
        }
    } else {
        opened = disk::Directory::Open(NativePath(directory), failure);
        if (!opened) {
            state.failureDetail = failure.what;
            return MapFileError(RuntimeErrorForErrno(failure.error, false));
        }
        folder = opened.get();
    }
    const std::string entry = NameInFolder(*folder, name);
    auto pending =
        state.appendMode ? folder->Append(entry, failure) : folder->Create(entry, failure);
    if (!pending) {
        state.failureDetail = failure.what;
        return MapFileError(RuntimeErrorForErrno(failure.error, true));
    }
    state.file(number) = EngineFile::Writing(std::move(pending));
    return result::kOk;
}

}  // namespace

// Where directory & name are on this machine: as the operator typed them where they are the
// run's, so that exactly the file or folder named is the one opened.
std::filesystem::path PathOf(const RunState& state, const std::string& directory,
                             const std::string& name) {
    if (state.filePathAsGiven.empty() && state.fileNameAsGiven.empty()) {
        return NativePath(directory + name);
    }
    const std::string typed =
        (directory == state.filePath ? state.filePathAsGiven : Latin1ToUtf8(directory)) +
        (name == state.fileName && !state.fileNameAsGiven.empty() ? state.fileNameAsGiven
                                                                  : Latin1ToUtf8(name));
    return GivenPath(directory + name, typed);
}

ResultCode MapFileError(std::int32_t runtimeErrorNumber) {
    switch (runtimeErrorNumber) {
        case runtime_error_number::kFileNotFound:
            return result::kFileNotFound;
        case runtime_error_number::kDiskFull:
            return result::kDiskFull;
        case runtime_error_number::kBadFileName:
            return result::kIllegalFileOrHeading;
        case runtime_error_number::kPathNotFound:
            return result::kPathNotFound;
        default:
            return result::kGeneralFailure;
    }
}

ResultCode OpenFile(RunState& state, const std::string& directory, const std::string& name,
                    FileNumber number, const std::string& mode) {
    if (state.file(number)) {
        return MapFileError(runtime_error_number::kFileAlreadyOpen);
    }
    // A device name (CON, COM1, NUL) would open the device on Windows: never a file.
    if (IsDeviceName(name)) {
        state.failureDetail = Latin1ToUtf8(name) + " names a device, not a file";
        return MapFileError(runtime_error_number::kBadFileName);
    }
    if (mode != "I") {
        return OpenForWriting(state, directory, name, number);
    }
    const std::filesystem::path path = PathOf(state, directory, name);
    int error = 0;
    auto file = EngineFile::Open(path, error);
    if (!file) {
        std::error_code ec;
        const std::filesystem::path parent = path.parent_path();
        const bool directoryExists = parent.empty() || std::filesystem::is_directory(parent, ec);
        state.failureDetail = path.string() + ": " + std::generic_category().message(error);
        return MapFileError(RuntimeErrorForErrno(error, directoryExists));
    }
    state.file(number) = std::move(file);
    return result::kOk;
}

}  // namespace quenlo
