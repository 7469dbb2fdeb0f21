#include "sim/wire.h"

#include <cstdio>
#include <string>

namespace quenlo::sim {

char Bcc(std::string_view body) {
    unsigned char check = 0;
    for (const char c : body) {
        check ^= static_cast<unsigned char>(c);
    }
    return static_cast<char>(check);
}

int DecimalValue(std::string_view digits) {
    int value = 0;
    for (const char c : digits) {
        if (c < '0' || c > '9') {
            return -1;
        }
        value = value * 10 + (c - '0');
    }
    return value;
}

std::string Printable(std::string_view bytes) {
    static constexpr const char* kNames[] = {"NUL", "SOH", "STX", "ETX", "EOT", "ENQ", "ACK"};
    std::string text;
    for (const char c : bytes) {
        const auto code = static_cast<unsigned char>(c);
        if (code < 7) {
            text += '<';
            text += kNames[code];
            text += '>';
        } else if (c == chNAK) {
            text += "<NAK>";
        } else if (code >= 0x20 && code < 0x7F) {
            text += c;
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "<x%02X>", code);
            text += hex;
        }
    }
    return text;
}

}  // namespace quenlo::sim
