#include "send/record_reader.h"

#include <algorithm>

#include "base/runtime_error.h"
#include "base/text.h"
#include "link/block_framing.h"
#include "protocol/fields.h"
#include "protocol/record_packing.h"

namespace quenlo {

std::string RecordFromLine(const RunState& state, std::string line) {
    const auto length = static_cast<std::size_t>(state.recordLength < 0 ? 0 : state.recordLength);
    if (!state.cmpMode && line.size() > length) {
        line.resize(length);
    }
    line = FilledRecord(std::move(line), length, state.programFile);
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
    if (!state.cmpMode &&
        line.size() > static_cast<std::size_t>(std::max<int>(state.recordLength, 0))) {
        ++state.sending.linesCut;
    }
    const std::string record = RecordFromLine(state, std::move(line));
    state.link.blockSeqText = ZeroFilled(state.link.blockSeq, kSeqDigits);
    return FrameDataBlock(state, state.link.blockSeqText, record);
}

}  // namespace quenlo
