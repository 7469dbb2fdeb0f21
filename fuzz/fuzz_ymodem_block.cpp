// YMODEM frames and block 0 as they come off the line: a frame found good is exactly the frame
// its number and data encode to, and a file header reads back the same once written again.
#include "fuzz_input.h"
#include "protocol/ymodem_block.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace quenlo::protocol;
    if (size == 0) {
        return 0;
    }
    const CheckKind check = (data[0] & 1) != 0 ? CheckKind::kCrc16 : CheckKind::kChecksum;
    const std::string_view frame(reinterpret_cast<const char*>(data) + 1, size - 1);
    const ParsedBlock block = ParseBlock(frame, check);
    if (block.status == BlockStatus::kGood) {
        assert(EncodeBlock(block.number, block.data, block.data.size(), check) == frame);
    }
    // Block 0's data is never longer than a long block.
    const ParsedHeader header =
        ParseHeader(block.status == BlockStatus::kGood ? block.data : frame.substr(0, 1024));
    // A header whose fields no longer fit once written in full is not written.
    const std::string written = EncodeHeader(header.file);
    if (header.kind == HeaderKind::kFile && !written.empty()) {
        const ParsedHeader again = ParseHeader(written);
        assert(again.kind == HeaderKind::kFile && again.file.name == header.file.name &&
               again.file.size == header.file.size);
    }
    return 0;
}
