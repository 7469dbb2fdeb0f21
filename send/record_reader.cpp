#include "send/record_reader.h"

#include "engine/runtime_error.h"
#include "engine/text.h"
#include "link/block_framing.h"

namespace quenlo {

namespace {

// Characters start..start+length-1 (counted from 1); missing ones are simply absent.
std::string_view Mid(std::string_view text, std::size_t start, std::size_t length) {
    if (start - 1 >= text.size()) {
        return {};
    }
    return text.substr(start - 1, length);
}

std::string PaddedTo(std::string text, std::size_t width) {
    text.resize(width, ' ');
    return text;
}

}  // namespace

std::string PackDigits(std::string_view digits) {
    for (const char c : digits) {
        if (c < '0' || c > '9') {
            return "ERROR";
        }
    }
    std::string even = digits.size() % 2 == 1 ? "0" + std::string(digits) : std::string(digits);
    std::string packed;
    packed.reserve(even.size() / 2);
    for (std::size_t i = 0; i < even.size(); i += 2) {
        const int value = (even[i] - '0') * 10 + (even[i + 1] - '0');
        packed.push_back(static_cast<char>(100 + value));
    }
    return packed;
}

std::string PackRecord(std::string_view line) {
    std::string packed = PaddedTo(PackDigits(TrimBlanks(Mid(line, 1, 18))), 9);
    packed += Mid(line, 19, 16);
    const std::string tail =
        PackDigits("0" + std::string(Mid(line, 35, 5))) + PackDigits(Mid(line, 41, 2));
    packed += tail.substr(0, 4);
    return packed;
}

std::string RecordFromLine(const RunState& state, std::string line) {
    const auto length = static_cast<std::size_t>(state.recordLength < 0 ? 0 : state.recordLength);
    if (!state.cmpMode && line.size() > length) {
        line.resize(length);
    }
    if (line.size() < length) {
        line.resize(length, state.programFile ? '0' : ' ');
    }
    if (state.cmpMode) {
        line = PackRecord(line);
    }
    return line;
}

std::string GetNextRecord(RunState& state) {
    state.currentProcedure = "GetNextRecord";
    std::string line;
    auto& file = state.file(FileNumber::kSend);
    if (!file || !file->ReadLine(line)) {
        throw RuntimeError(runtime_error_number::kInputPastEndOfFile);
    }
    const std::string record = RecordFromLine(state, std::move(line));
    state.blockSeqText = ZeroFilled(state.blockSeq, 5);
    return FrameDataBlock(state, state.blockSeqText, record);
}

}  // namespace quenlo
