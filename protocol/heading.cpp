#include "protocol/heading.h"

#include "protocol/fields.h"
#include "protocol/file_kinds.h"
#include "protocol/line_text.h"

namespace quenlo {

namespace {

constexpr std::size_t kProgramTextLength = kHeadingNameWidth + 5;
constexpr std::size_t kFirstWidthAt = kProgramTextLength + 2;

ParsedHeading Fault(ParsedHeading parsed, HeadingFault fault) {
    parsed.fault = fault;
    return parsed;
}

}  // namespace

std::string HeadingText(std::string_view name, int recordCount, bool programFile,
                        const std::vector<int>& fieldLengths) {
    std::string text(name.substr(0, kHeadingNameWidth));
    text.resize(kHeadingNameWidth, ' ');
    text += ZeroFilled(recordCount, 5);
    if (!programFile) {
        text += ZeroFilled(static_cast<long long>(fieldLengths.size()), 2);
        for (const int width : fieldLengths) {
            text += ZeroFilled(width, 2);
        }
    }
    return text;
}

ParsedHeading ParseHeadingText(std::string_view text) {
    ParsedHeading parsed;
    Heading& heading = parsed.heading;
    heading.name = std::string(TrimBlanks(text.substr(0, kHeadingNameWidth)));
    const ProgramKind* kind = ProgramKindOf(ExtensionOf(heading.name));
    heading.programFile = kind != nullptr;
    if (heading.programFile ? text.size() != kProgramTextLength
                            : text.size() < kProgramTextLength + 4) {
        return Fault(std::move(parsed), HeadingFault::kMalformed);
    }
    const auto count = DecimalValue(text.substr(kHeadingNameWidth, 5));
    if (!count || *count > kMaxRecords) {
        return Fault(std::move(parsed), HeadingFault::kOutOfRange);
    }
    heading.recordCount = *count;
    if (kind != nullptr) {
        heading.recordLength = kind->recordLength;
        return parsed;
    }
    const auto fields = DecimalValue(text.substr(kProgramTextLength, 2));
    if (!fields || *fields < 1 || *fields > kMaxFields) {
        return Fault(std::move(parsed), HeadingFault::kOutOfRange);
    }
    if (text.size() != kFirstWidthAt + 2 * static_cast<std::size_t>(*fields)) {
        return Fault(std::move(parsed), HeadingFault::kMalformed);
    }
    for (int i = 0; i < *fields; ++i) {
        const auto width =
            DecimalValue(text.substr(kFirstWidthAt + 2 * static_cast<std::size_t>(i), 2));
        if (!width || *width < 1 || *width > kMaxFieldWidth) {
            return Fault(std::move(parsed), HeadingFault::kOutOfRange);
        }
        heading.fieldLengths.push_back(*width);
        heading.recordLength += *width;
        if (*fields + heading.recordLength > kMaxRecordWithFields) {
            return Fault(std::move(parsed), HeadingFault::kOutOfRange);
        }
    }
    return parsed;
}

}  // namespace quenlo
