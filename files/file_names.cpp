#include "files/file_names.h"

#include <algorithm>
#include <string_view>

#include "base/text.h"
#include "files/native_path.h"
#include "protocol/file_kinds.h"

namespace quenlo {

namespace {

// The characters of a short name, in single-byte text; "\xA3" is the pound sign.
constexpr std::string_view kNameCharacters =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789`!\xA3$%^&()-_{}@'~#.";

// "/" separates directories as "\" does, so that paths of this machine can be typed as they are.
bool IsPathSeparator(char c) {
    return c == '\\' || c == '/';
}

bool IsExistingDirectory(const std::string& upper, const std::string& given) {
    std::error_code ec;
    return !upper.empty() && std::filesystem::is_directory(GivenPath(upper, given), ec);
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
    const std::string given = state.currentOptionAsGiven;
    // A folder that exists receives, with or without its final separator.
    const bool isDirectory = (!arg.empty() && IsPathSeparator(arg.back())) || IsBareDrive(arg) ||
                             IsExistingDirectory(arg, given);
    // The folders around a name are the system's business, spaces and letters beyond A-Z
    // included: only the name keeps the short-name rules, for it travels to the handheld.
    if (isDirectory) {
        state.filePath = arg;
        state.filePathAsGiven = given;
        state.currentProcedure = "CheckFileArg2";
        return result::kOk;
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
    const auto givenSeparator = given.find_last_of("\\/");
    state.filePathAsGiven =
        givenSeparator == std::string::npos ? "" : given.substr(0, givenSeparator + 1);
    state.fileNameAsGiven =
        givenSeparator == std::string::npos ? given : given.substr(givenSeparator + 1);
    state.currentProcedure = "CheckFileArg3";
    return CheckFilename(state);
}

ResultCode CheckFilename(RunState& state) {
    state.currentProcedure = "CheckFilename";
    const std::string name = state.fileName;
    const ResultCode check = CheckValid(state, name, 0);
    state.currentProcedure = "CheckFilename2";
    const std::size_t length = name.size();
    // Which rule the name breaks, for the operator: the handheld takes short names only.
    const auto refuse = [&state, &name](const std::string& rule) {
        state.failureDetail = Latin1ToUtf8(name) + ": " + rule;
        return result::kWrongFileNameFormat;
    };
    if (check != result::kOk) {
        const std::string upper = UpperCase(name);
        const auto bad = std::find_if(upper.begin(), upper.end(), [](char c) {
            return kNameCharacters.find(c) == std::string_view::npos;
        });
        // Appended: GCC 12 takes "'" + text for an overlapping copy (-Wrestrict).
        std::string why(1, '\'');
        why += Latin1ToUtf8(std::string(1, name[static_cast<std::size_t>(bad - upper.begin())]));
        why += "' cannot stand in a name (letters A-Z, digits and `!\xC2\xA3$%^&()-_{}@'~#)";
        return refuse(why);
    }
    const auto dot = name.find('.');
    if (dot != std::string::npos) {
        const std::size_t dotPosition = dot + 1;  // counted from 1
        if (dotPosition > 9) {
            return refuse("at most 8 characters before the dot");
        }
        if (name.find('.', dot + 1) != std::string::npos) {
            return refuse("one dot at most");
        }
        if (length - dotPosition > 3) {
            return refuse("at most 3 characters after the dot");
        }
    } else if (length > 8) {
        return refuse("at most 8 characters without a dot");
    }
    if (dot != std::string::npos) {
        if (const ProgramKind* kind = ProgramKindOf(ExtensionOf(name))) {
            state.programFile = true;
            state.recordLength = static_cast<std::int16_t>(kind->recordLength);
            if (kind->ymodem) {
                state.ymodemMode = true;
            }
            return result::kOk;
        }
    }
    state.fieldFileName = name.substr(0, dot) + ".FLD";
    return result::kOk;
}

bool IsDeviceName(const std::string& name) {
    // Every name Windows reserves, the console's own among them: a file received here may be
    // copied there later.
    static constexpr std::string_view kDevices[] = {
        "CON",  "PRN",  "AUX",  "NUL",  "CONIN$", "CONOUT$", "CLOCK$", "COM0", "COM1",
        "COM2", "COM3", "COM4", "COM5", "COM6",   "COM7",    "COM8",   "COM9", "LPT0",
        "LPT1", "LPT2", "LPT3", "LPT4", "LPT5",   "LPT6",    "LPT7",   "LPT8", "LPT9"};
    const std::string base = UpperCase(name.substr(0, name.find('.')));
    for (const std::string_view device : kDevices) {
        if (base == device) {
            return true;
        }
    }
    return false;
}

}  // namespace quenlo
