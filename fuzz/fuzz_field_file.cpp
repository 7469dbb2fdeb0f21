// A data file's field file as it may be found on disk, and a field list as typed: the widths
// taken are always inside the limits the heading can carry.
#include <numeric>

#include "engine_rig.h"
#include "files/field_definitions.h"
#include "files/field_file.h"
#include "protocol/heading.h"

namespace {

void CheckFields(const quenlo::RunState& state) {
    FUZZ_CHECK(state.fieldCount >= 1 && state.fieldCount <= quenlo::kMaxFields);
    int sum = 0;
    for (int i = 1; i <= state.fieldCount; ++i) {
        const int width = std::stoi(state.fieldLengths[i]);
        FUZZ_CHECK(width >= 1 && width <= quenlo::kMaxFieldWidth);
        sum += width;
    }
    FUZZ_CHECK(sum == state.recordLength);
    FUZZ_CHECK(state.fieldCount + sum <= quenlo::kMaxRecordWithFields);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    if (quenlo::fuzz::SeedDirectory() != nullptr) {
        quenlo::fuzz::WriteSeed("fld-1", "file    DATA.TXT\r\nfields  10 5\r\n");
        quenlo::fuzz::WriteSeed("fld-2",
                                "\r\nfile    DATA.TXT\r\ndate    12-06-2026 09:05:07\r\n"
                                "size    136\r\nrecords 8\r\nfields  10 5\r\n");
        quenlo::fuzz::WriteSeed("fld-3", "fields 1,2;3 99\nfile DATA.TXT\n");
        std::exit(0);
    }
    return 0;
}

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
    FUZZ_CHECK(!state.AnyFileOpen());
    SetDefaults(state);
    std::string list = text;
    if (SetFields(state, list) == result::kOk) {
        CheckFields(state);
    }
    return 0;
}
