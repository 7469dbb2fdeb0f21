// The heading text as it comes off the line: a heading read without fault is inside every limit
// and reads the same once written again.
#include "fuzz_input.h"
#include "protocol/heading.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace quenlo;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const ParsedHeading parsed = ParseHeadingText(text);
    if (parsed.fault != HeadingFault::kNone) {
        return 0;
    }
    const Heading& h = parsed.heading;
    assert(h.recordCount >= 0 && h.recordCount <= kMaxRecords);
    assert(h.fieldLengths.size() <= static_cast<std::size_t>(kMaxFields));
    int sum = 0;
    for (const int width : h.fieldLengths) {
        assert(width >= 1 && width <= kMaxFieldWidth);
        sum += width;
    }
    assert(h.programFile || h.recordLength == sum);
    const ParsedHeading again =
        ParseHeadingText(HeadingText(h.name, h.recordCount, h.programFile, h.fieldLengths));
    assert(again.fault == HeadingFault::kNone && again.heading.name == h.name &&
           again.heading.recordCount == h.recordCount &&
           again.heading.fieldLengths == h.fieldLengths &&
           again.heading.recordLength == h.recordLength);
    return 0;
}
