// The loader's reception by the block protocol against a random line in virtual time: whatever
// comes, it ends, closes its files, and keeps a whole file or nothing.
#include <filesystem>

#include "engine_rig.h"
#include "receive/receive_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace quenlo;
    fuzz::StepReader input(data, size);
    const std::uint8_t choice = input.Choice();
    fuzz::EngineRig rig;
    rig.state.bccEnabled = (choice & 1) != 0;
    rig.state.seqEnabled = (choice & 2) != 0;
    rig.state.cmpMode = (choice & 4) != 0;
    rig.state.appendMode = (choice & 8) != 0;
    rig.Schedule(input);
    const ResultCode result = ReceiveFile(rig.state);
    assert(!rig.state.AnyFileOpen());
    const auto& dir = fuzz::EngineRig::Directory().path();
    assert(result == ResultCode::kOk || std::filesystem::is_empty(dir));
    std::filesystem::remove_all(dir);  // empty for the next input
    std::filesystem::create_directory(dir);
    return 0;
}
