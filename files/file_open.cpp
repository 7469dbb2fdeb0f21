#include "files/file_open.h"

#include <cerrno>
#include <system_error>

#include "base/runtime_error.h"
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

ResultCode WriteFailed(RunState& state, const std::string& path, int error) {
    state.failureDetail = "cannot write " + path + ": " + std::generic_category().message(error);
    state.fileErrNumber = RuntimeErrorForErrno(error, true);
    state.fileErrLine = 0;
    return MapFileError(state.fileErrNumber);
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
    // A device name (CON, COM1, NUL) would open the device on Windows: no file to send.
    if (mode == "I" && IsDeviceName(name)) {
        state.failureDetail = name + " names a device, not a file";
        return MapFileError(runtime_error_number::kBadFileName);
    }
    const std::filesystem::path path = NativePath(directory + name);
    const EngineFile::Mode how = mode == "I"        ? EngineFile::Mode::kRead
                                 : state.appendMode ? EngineFile::Mode::kAppend
                                                    : EngineFile::Mode::kWrite;
    int error = 0;
    auto file = EngineFile::Open(path, how, error);
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
