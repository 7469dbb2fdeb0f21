#include "files/field_definitions.h"

#include "base/number_text.h"
#include "base/text.h"

namespace quenlo {

namespace {
bool IsFieldSeparator(char c) {
    return c == ',' || c == ';' || c == ' ';
}
}  // namespace

ResultCode SetFields(RunState& state, std::string& list) {
    state.currentProcedure = "SetFields";
    state.recordLength = 0;
    state.fieldCount = 0;
    list = TrimLeadingBlanks(list);
    while (!list.empty()) {
        std::size_t end = 0;
        while (end < list.size() && !IsFieldSeparator(list[end])) {
            ++end;
        }
        const std::string widthText = list.substr(0, end);
        list.erase(0, end);
        // Read as a wide number: a width far out of range is just out of range, not an overflow.
        const double width = RoundHalfEven(LeadingNumber(widthText));
        const std::string field = "field " + std::to_string(state.fieldCount + 1);
        if (width < 1 || width > kMaxFieldWidth) {
            state.failureDetail =
                field + " is " +
                (widthText.empty() ? "empty" : std::string("\"") + Latin1ToUtf8(widthText) + "\"") +
                ": a field is 1 to 99 characters wide";
            return result::kFieldLengthOutOfRange;
        }
        if (state.fieldCount == kMaxFields) {
            state.failureDetail = "more than 16 fields: a record has 16 at most";
            return result::kFieldCountOutOfRange;
        }
        const int w = static_cast<int>(width);
        state.fieldCount += 1;
        state.fieldLengths[static_cast<std::size_t>(state.fieldCount)] = std::to_string(w);
        state.recordLength = static_cast<std::int16_t>(state.recordLength + w);
        if (state.fieldCount + state.recordLength > kMaxRecordWithFields) {
            state.failureDetail = std::to_string(state.fieldCount) + " fields of " +
                                  std::to_string(state.recordLength) +
                                  " characters in all: the fields and their widths add up to 255 "
                                  "at most";
            return result::kRecordLengthOutOfRange;
        }
        if (!list.empty()) {
            list.erase(0, 1);
        }
    }
    if (state.fieldCount == 0) {
        state.failureDetail = "no field widths: give them as in +F10,5,20";
        return result::kOptionMismatch;
    }
    return result::kOk;
}

}  // namespace quenlo
