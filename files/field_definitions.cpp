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
        if (width < 1 || width > kMaxFieldWidth) {
            return result::kFieldLengthOutOfRange;
        }
        if (state.fieldCount == kMaxFields) {
            return result::kFieldCountOutOfRange;
        }
        const int w = static_cast<int>(width);
        state.fieldCount += 1;
        state.fieldLengths[static_cast<std::size_t>(state.fieldCount)] = std::to_string(w);
        state.recordLength = static_cast<std::int16_t>(state.recordLength + w);
        if (state.fieldCount + state.recordLength > kMaxRecordWithFields) {
            return result::kRecordLengthOutOfRange;
        }
        if (!list.empty()) {
            list.erase(0, 1);
        }
    }
    return state.fieldCount == 0 ? result::kOptionMismatch : result::kOk;
}

}  // namespace quenlo
