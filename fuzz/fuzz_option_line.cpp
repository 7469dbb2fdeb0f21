// The option line as an operator or a calling program may type it: every token, every file
// argument. It ends with a result code or a run-time error the run reports, never worse, with no
// file left open and settings inside their ranges.
#include <filesystem>

#include "base/runtime_error.h"
#include "engine_rig.h"
#include "run/options.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    const auto& dir = quenlo::fuzz::EngineRig::Directory();
    dir.Write("PROG.PD3", std::string(128, '1') + "\r\n");
    dir.Write("DATA.TXT", "ITEM1     AB1  \r\n");
    dir.Write("DATA.FLD", "file    DATA.TXT\r\nfields  10 5\r\n");
    // Names without a directory are found here, whoever starts the fuzzer where.
    std::filesystem::current_path(dir.path());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace quenlo;
    fuzz::EngineRig rig;
    RunState& state = rig.state;
    rig.host.currentDirectory = fuzz::EngineRig::Directory().enginePath();
    state.commandLine.assign(reinterpret_cast<const char*>(data), size);
    try {
        if (CheckCommand(state) == result::kOk) {
            assert(state.timeoutCount > 0);  // a negative delay means none
            assert(state.fieldCount >= 0 && state.fieldCount <= kMaxFields);
            assert(state.programFile ||
                   state.fieldCount + state.recordLength <= kMaxRecordWithFields);
            assert(state.recordCount >= 0 && state.recordCount <= kMaxRecords);
        }
    } catch (const RuntimeError&) {
        // Reported by the run as "<number>: <text> Error in <procedure>".
    }
    assert(!state.AnyFileOpen());
    return 0;
}
