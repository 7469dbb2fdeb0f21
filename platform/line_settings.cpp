#include "platform/line_settings.h"

#include <string>

#include "base/text.h"
#include "protocol/fields.h"
#include "protocol/line_text.h"

namespace quenlo {

std::optional<LineSettings> ParseLineSettings(std::string_view text) {
    std::string fields[4];
    std::size_t count = 0;
    std::size_t start = 0;
    while (true) {
        const std::size_t comma = text.find(',', start);
        if (count == 4) {
            return std::nullopt;
        }
        fields[count++] =
            TrimBlanks(text.substr(start, comma == std::string_view::npos ? comma : comma - start));
        if (comma == std::string_view::npos) {
            break;
        }
        start = comma + 1;
    }
    if (count != 4) {
        return std::nullopt;
    }
    LineSettings settings;
    const auto baud = DecimalValue(fields[0]);
    const auto dataBits = DecimalValue(fields[2]);
    const auto stopBits = DecimalValue(fields[3]);
    const std::string parity = UpperCase(fields[1]);
    if (!baud || *baud == 0 || !dataBits || !stopBits ||
        (parity != "N" && parity != "E" && parity != "O")) {
        return std::nullopt;
    }
    if ((*dataBits != 7 && *dataBits != 8) || (*stopBits != 1 && *stopBits != 2)) {
        return std::nullopt;
    }
    settings.baud = *baud;
    settings.parity = parity[0];
    settings.dataBits = *dataBits;
    settings.stopBits = *stopBits;
    return settings;
}

}  // namespace quenlo
