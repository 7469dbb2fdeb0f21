#include "files/file_names.h"

#include <string_view>

#include "engine/text.h"

namespace quenlo {

namespace {

// The characters of a short name, in single-byte text; "\xA3" is the pound sign.
constexpr std::string_view kNameCharacters =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789`!\xA3$%^&()-_{}@'~#.";

struct ProgramKind {
    std::string_view extension;
    std::int16_t recordLength;
    bool ymodem;
};

constexpr ProgramKind kProgramKinds[] = {
    {"PD3", 128, false}, {"PD4", 1024, true}, {"FN3", 130, false},
    {"FN4", 1024, true}, {"EX3", 130, false}, {"CAB", 1024, true},
};

// "/" separates directories as "\" does, so that paths of this machine can be typed as they are.
bool IsPathSeparator(char c) {
    return c == '\\' || c == '/';
}

}  // namespace

ResultCode CheckValid(RunState& state, const std::string& text, std::int16_t acceptDirectoryChars) {
    state.currentProcedure = "CheckValid";
    const std::string upper = UpperCase(text);
    for (const char c : upper) {
        const bool accepted = kNameCharacters.find(c) != std::string_view::npos ||
                              (acceptDirectoryChars == 1 && (c == ':' || IsPathSeparator(c)));
        if (!accepted) {
            return result::kWrongFileNameFormat;
        }
    }
    return result::kOk;
}

ResultCode CheckFileArg(RunState& state) {
    state.currentProcedure = "CheckFileArg";
    const std::string arg = state.currentOption;
    const bool isDirectory =
        (!arg.empty() && IsPathSeparator(arg.back())) || (arg.size() == 2 && arg.back() == ':');
    if (isDirectory) {
        state.filePath = arg;
        const ResultCode check = CheckValid(state, state.filePath, 1);
        state.currentProcedure = "CheckFileArg2";
        return check != result::kOk ? result::kWrongFileNameFormat : result::kOk;
    }
    state.sendMode = true;
    const auto lastSeparator = arg.find_last_of("\\/");
    if (lastSeparator != std::string::npos) {
        state.fileName = arg.substr(lastSeparator + 1);
        state.filePath = arg.substr(0, lastSeparator + 1);
    } else {
        state.filePath.clear();
        state.fileName = arg;
    }
    const ResultCode check = CheckValid(state, state.filePath, 1);
    state.currentProcedure = "CheckFileArg3";
    if (check != result::kOk) {
        return result::kWrongFileNameFormat;
    }
    return CheckFilename(state);
}

ResultCode CheckFilename(RunState& state) {
    state.currentProcedure = "CheckFilename";
    const std::string name = state.fileName;
    const ResultCode check = CheckValid(state, name, 0);
    state.currentProcedure = "CheckFilename2";
    const std::size_t length = name.size();
    if (check != result::kOk || length >= 13) {
        return result::kWrongFileNameFormat;
    }
    const auto dot = name.find('.');
    if (dot != std::string::npos) {
        const std::size_t dotPosition = dot + 1;  // counted from 1
        if (length - dotPosition > 3 || dotPosition > 9) {
            return result::kWrongFileNameFormat;
        }
        if (name.find('.', dot + 1) != std::string::npos) {
            return result::kWrongFileNameFormat;
        }
    } else if (length > 8) {
        return result::kWrongFileNameFormat;
    }
    const std::string extension = dot == std::string::npos ? std::string() : name.substr(dot + 1);
    for (const auto& kind : kProgramKinds) {
        if (dot != std::string::npos && extension == kind.extension) {
            state.programFile = true;
            state.recordLength = kind.recordLength;
            if (kind.ymodem) {
                state.ymodemMode = true;
            }
            return result::kOk;
        }
    }
    state.fieldFileName = name.substr(0, dot) + ".FLD";
    return result::kOk;
}

}  // namespace quenlo
