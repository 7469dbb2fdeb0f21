// The loader's reading of one data block, from whatever the line holds: a block it accepts is
// exactly the block that carries the record it keeps.
#include "engine_rig.h"
#include "protocol/block_codec.h"
#include "protocol/control_chars.h"
#include "receive/receive_file.h"
#include "receive/receive_header.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace quenlo;
    fuzz::StepReader input(data, size);
    const std::uint8_t choice = input.Choice();
    const BlockOptions options{.bcc = (choice & 1) != 0, .seq = (choice & 2) != 0};
    fuzz::EngineRig rig;
    RunState& state = rig.state;
    state.bccEnabled = options.bcc;
    state.seqEnabled = options.seq;
    state.recordLength = static_cast<std::int16_t>(1 + input.Choice());
    state.receiving.rxBlockLength = static_cast<std::int16_t>(
        DataBlockLength(static_cast<std::size_t>(state.recordLength), options));
    state.link.blockSeq = 3;
    state.link.blockSeqText = "00003";
    rig.Schedule(input);
    for (int block = 0; block < 3; ++block) {
        if (ReceiveData(state) != DataStatus::kAccepted) {
            continue;
        }
        assert(state.receiving.rxRecord.size() == static_cast<std::size_t>(state.recordLength));
        const std::string frame = FrameDataBlock("00003", state.receiving.rxRecord, options);
        const std::string got =
            state.receiving.rxBuffer.substr(state.receiving.rxBuffer.find(chSTX));
        assert(got == frame || (options.bcc && got + chNUL == frame));
    }
    return 0;
}
