// The heading text as it comes off the line: a heading read without fault is inside every limit
// and reads the same once written again.
#include "fuzz_input.h"
#include "protocol/heading.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    using quenlo::HeadingText;
    if (quenlo::fuzz::SeedDirectory() != nullptr) {
        quenlo::fuzz::WriteSeed("prog", HeadingText("PROG.PD3", 3, true, {}));
        quenlo::fuzz::WriteSeed("data", HeadingText("DATA.TXT", 8, false, {10, 5}));
        quenlo::fuzz::WriteSeed("wide", HeadingText("WIDE.DAT", 32767, false,
                                                    {16, 1, 99, 7, 10, 20, 30, 40, 2, 3, 4, 5, 6}));
        quenlo::fuzz::WriteSeed("empty", HeadingText("E.PD4", 0, true, {}));
        std::exit(0);
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace quenlo;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const ParsedHeading parsed = ParseHeadingText(text);
    if (parsed.fault != HeadingFault::kNone) {
        return 0;
    }
    const Heading& h = parsed.heading;
    FUZZ_CHECK(h.recordCount >= 0 && h.recordCount <= kMaxRecords);
    FUZZ_CHECK(h.fieldLengths.size() <= static_cast<std::size_t>(kMaxFields));
    int sum = 0;
    for (const int width : h.fieldLengths) {
        FUZZ_CHECK(width >= 1 && width <= kMaxFieldWidth);
        sum += width;
    }
    FUZZ_CHECK(h.programFile || h.recordLength == sum);
    const ParsedHeading again =
        ParseHeadingText(HeadingText(h.name, h.recordCount, h.programFile, h.fieldLengths));
    FUZZ_CHECK(again.fault == HeadingFault::kNone && again.heading.name == h.name &&
               again.heading.recordCount == h.recordCount &&
               again.heading.fieldLengths == h.fieldLengths &&
               again.heading.recordLength == h.recordLength);
    return 0;
}
