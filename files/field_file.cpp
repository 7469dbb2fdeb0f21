#include "files/field_file.h"

#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>

#include "base/host.h"
#include "base/runtime_error.h"
#include "base/text.h"
#include "files/field_definitions.h"
#include "files/file_open.h"
#include "files/native_path.h"
#include "protocol/heading.h"

namespace quenlo {

namespace {

constexpr const char* kLineEnd = "\r\n";

std::string TwoDigits(int n) {
    return ZeroFilled(n, 2);
}

std::string DateLine(const LocalDateTime& t) {
    return TwoDigits(t.month) + "-" + TwoDigits(t.day) + "-" + ZeroFilled(t.year, 4) + " " +
           TwoDigits(t.hour) + ":" + TwoDigits(t.minute) + ":" + TwoDigits(t.second);
}

}  // namespace

ResultCode Test_File(RunState& state) {
    state.currentProcedure = "Test_File";
    const ResultCode opened =
        OpenFile(state, state.filePath, state.fileName, FileNumber::kSend, "I");
    if (opened != result::kOk) {
        return opened;
    }
    const std::int64_t count = state.file(FileNumber::kSend)->CountLines(kMaxRecords);
    state.CloseFile(FileNumber::kSend);
    if (count > kMaxRecords) {
        return result::kTooManyRecords;
    }
    state.recordCount = static_cast<std::int16_t>(count);
    return result::kOk;
}

ResultCode CheckFieldFile(RunState& state) {
    state.currentProcedure = "CheckFieldFile";
    bool fieldsSeen = false;
    bool nameSeen = false;
    if (OpenFile(state, state.filePath, state.fieldFileName, FileNumber::kFieldFile, "I") !=
        result::kOk) {
        return result::kFieldLengthNotFound;
    }
    EngineFile& file = *state.file(FileNumber::kFieldFile);
    std::string line;
    while (file.ReadLine(line)) {
        const std::string upper = UpperCase(line);
        if (upper.compare(0, 7, "FIELDS ") == 0) {
            std::string list = upper.substr(6);
            const ResultCode defined = SetFields(state, list);
            if (defined != result::kOk) {
                state.CloseFile(FileNumber::kFieldFile);
                return defined;
            }
            fieldsSeen = true;
        }
        if (upper.compare(0, 4, "FILE") == 0) {
            if (TrimBlanks(upper.substr(4)) != state.fileName) {
                state.CloseFile(FileNumber::kFieldFile);
                return result::kFieldLengthNotFound;
            }
            nameSeen = true;
        }
    }
    state.CloseFile(FileNumber::kFieldFile);
    return fieldsSeen && nameSeen ? result::kOk : result::kFieldLengthNotFound;
}

ResultCode WriteFieldFile(RunState& state) {
    state.currentProcedure = "WriteFieldFile";
    // Written under a name no short name can have and put in place only when whole, so a data
    // file never sits beside a truncated field file. With +APP it starts from the old one.
    namespace fs = std::filesystem;
    const std::string temporary = state.fieldFileName + ".PART";
    const fs::path target = NativePath(state.filePath + state.fieldFileName);
    const fs::path written = NativePath(state.filePath + temporary);
    std::error_code ec;
    // Only a file is ever replaced: never a device, a directory or whatever a link points to.
    const auto status = fs::symlink_status(target, ec);
    if (fs::exists(status) && !fs::is_regular_file(status)) {
        state.linkStatus = MapFileError(runtime_error_number::kBadFileName);
        return result::kOk;
    }
    fs::remove(written, ec);
    if (state.appendMode && fs::is_regular_file(target, ec)) {
        fs::copy_file(target, written, ec);
    }
    const ResultCode opened =
        OpenFile(state, state.filePath, temporary, FileNumber::kFieldFile, "O");
    if (opened != result::kOk) {
        state.linkStatus = opened;
        return result::kOk;
    }
    // Each record plus its CR LF; wide enough for 32767 records of the longest layout.
    const std::int64_t size =
        (static_cast<std::int64_t>(state.recordLength) + 2) * state.recordCount;
    std::string fields = "fields ";
    for (int i = 1; i <= state.fieldCount; ++i) {
        fields += " " + state.fieldLengths[static_cast<std::size_t>(i)];
    }
    const std::string lines[] = {
        std::string("* Created by Ferrolith Ver ") + kVersionText,
        "* Field definitions of a data file received from a BHT handheld",
        "file    " + state.fileName,
        "date    " + DateLine(state.host->Now()),
        "size    " + std::to_string(size),
        "records " + std::to_string(state.recordCount),
        fields,
    };
    EngineFile& file = *state.file(FileNumber::kFieldFile);
    int error = 0;
    for (const std::string& line : lines) {
        error = file.Write(line + kLineEnd);
        if (error != 0) {
            break;
        }
    }
    const int closeError = file.Close();
    state.CloseFile(FileNumber::kFieldFile);
    if (error == 0) {
        error = closeError;
    }
    if (error == 0) {
        fs::rename(written, target, ec);
        error = ec.value();
    }
    if (error != 0) {
        fs::remove(written, ec);
        state.fileErrNumber = RuntimeErrorForErrno(error, true);
        state.fileErrLine = 0;
        return MapFileError(state.fileErrNumber);
    }
    return result::kOk;
}

}  // namespace quenlo
