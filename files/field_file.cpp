#include "files/field_file.h"

#include <string>

#include "base/host.h"
#include "base/text.h"
#include "files/field_definitions.h"
#include "files/file_open.h"
#include "protocol/fields.h"
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
        state.failureDetail = Latin1ToUtf8(state.fileName) +
                              " has more than 32767 lines; the handheld takes 32767 records at "
                              "most: split the file";
        return result::kTooManyRecords;
    }
    state.recordCount = static_cast<std::int16_t>(count);
    return result::kOk;
}

ResultCode CheckFieldFile(RunState& state) {
    state.currentProcedure = "CheckFieldFile";
    bool fieldsSeen = false;
    bool nameSeen = false;
    const std::string fieldFile = Latin1ToUtf8(state.fieldFileName);
    if (OpenFile(state, state.filePath, state.fieldFileName, FileNumber::kFieldFile, "I") !=
        result::kOk) {
        state.failureDetail = "no field file " + fieldFile + " beside " +
                              Latin1ToUtf8(state.fileName) +
                              ": give the field widths with +F (as in +F10,5,20) or write one";
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
                state.failureDetail = fieldFile + " describes " +
                                      Latin1ToUtf8(std::string(TrimBlanks(upper.substr(4)))) +
                                      ", not " + Latin1ToUtf8(state.fileName);
                return result::kFieldLengthNotFound;
            }
            nameSeen = true;
        }
    }
    state.CloseFile(FileNumber::kFieldFile);
    if (!fieldsSeen || !nameSeen) {
        state.failureDetail =
            fieldFile + " has no \"" + (fieldsSeen ? "file" : "fields") + "\" line";
        return result::kFieldLengthNotFound;
    }
    return result::kOk;
}

ResultCode WriteFieldFile(RunState& state) {
    state.currentProcedure = "WriteFieldFile";
    if (state.fieldFileName == state.fileName) {
        // A data file named X.FLD would be replaced by its own field file.
        state.notes.push_back(Latin1ToUtf8(state.fileName) +
                              " is itself named like a field file: no field file was written");
        return result::kOk;
    }
    // Put in place whole, as the data file is; with +APP added to the earlier one.
    const ResultCode opened =
        OpenFile(state, state.filePath, state.fieldFileName, FileNumber::kFieldFile, "O");
    if (opened != result::kOk) {
        state.link.linkStatus = Number(opened);
        return opened;
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
    auto& file = state.file(FileNumber::kFieldFile);
    int error = 0;
    for (const std::string& line : lines) {
        error = file->Write(line + kLineEnd);
        if (error != 0) {
            break;
        }
    }
    if (error == 0) {
        error = file->Close();
    }
    const std::string reason = file->failure();
    state.CloseFile(FileNumber::kFieldFile);
    if (error != 0) {
        const ResultCode code = WriteFailed(state, reason, error);
        state.fileErrLine = 0;
        return code;
    }
    return result::kOk;
}

}  // namespace quenlo
