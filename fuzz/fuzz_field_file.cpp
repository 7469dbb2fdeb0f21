// A data file's field file as it may be found on disk, and a field list as typed: the widths
// taken are always inside the limits the heading can carry.
#include <numeric>

#include "engine_rig.h"
#include "files/field_definitions.h"
#include "files/field_file.h"
#include "protocol/heading.h"

namespace {

void CheckFields(const quenlo::RunState& state) {
    assert(state.fieldCount >= 1 && state.fieldCount <= quenlo::kMaxFields);
    int sum = 0;
    for (int i = 1; i <= state.fieldCount; ++i) {
        const int width = std::stoi(state.fieldLengths[static_cast<std::size_t>(i)]);
        assert(width >= 1 && width <= quenlo::kMaxFieldWidth);
        sum += width;
    }
    assert(sum == state.recordLength);
    assert(state.fieldCount + sum <= quenlo::kMaxRecordWithFields);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace quenlo;
    const std::string text(reinterpret_cast<const char*>(data), size);
    fuzz::EngineRig rig;
    RunState& state = rig.state;
    fuzz::EngineRig::Directory().Write("DATA.FLD", text);
    state.fileName = "DATA.TXT";
    state.fieldFileName = "DATA.FLD";
    if (CheckFieldFile(state) == result::kOk) {
        CheckFields(state);
    }
    assert(!state.AnyFileOpen());
    SetDefaults(state);
    std::string list = text;
    if (SetFields(state, list) == result::kOk) {
        CheckFields(state);
    }
    return 0;
}
