#include "protocol/line_text.h"

#include <algorithm>
#include <cstdio>

#include "protocol/control_chars.h"

namespace quenlo {

std::string_view TrimBlanks(std::string_view text) {
    while (!text.empty() && text.front() == ' ') {
        text.remove_prefix(1);
    }
    while (!text.empty() && text.back() == ' ') {
        text.remove_suffix(1);
    }
    return text;
}

std::string Utf8ToLatin1(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    for (std::size_t i = 0; i < utf8.size();) {
        const auto lead = static_cast<unsigned char>(utf8[i]);
        if (lead < 0x80) {
            out.push_back(static_cast<char>(lead));
            ++i;
            continue;
        }
        std::size_t length = 0;
        unsigned long code = 0;
        if ((lead & 0xE0) == 0xC0) {
            length = 2;
            code = lead & 0x1F;
        } else if ((lead & 0xF0) == 0xE0) {
            length = 3;
            code = lead & 0x0F;
        } else if ((lead & 0xF8) == 0xF0) {
            length = 4;
            code = lead & 0x07;
        } else {
            out.push_back('?');
            ++i;
            continue;
        }
        std::size_t taken = 1;
        while (taken < length && i + taken < utf8.size() &&
               (static_cast<unsigned char>(utf8[i + taken]) & 0xC0) == 0x80) {
            code = (code << 6) | (static_cast<unsigned char>(utf8[i + taken]) & 0x3F);
            ++taken;
        }
        out.push_back(taken == length && code <= 0xFF ? static_cast<char>(code) : '?');
        i += taken;
    }
    return out;
}

std::string Latin1ToUtf8(std::string_view latin1) {
    std::string out;
    out.reserve(latin1.size());
    for (const char c : latin1) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x80) {
            out.push_back(c);
        } else {
            out.push_back(static_cast<char>(0xC0 | (u >> 6)));
            out.push_back(static_cast<char>(0x80 | (u & 0x3F)));
        }
    }
    return out;
}

std::optional<std::string> SafeFileName(std::string_view sent) {
    const std::size_t slash = sent.find_last_of("/\\");
    std::string_view name = slash == std::string_view::npos ? sent : sent.substr(slash + 1);
    if (name.size() >= 2 && name[1] == ':' &&
        std::isalpha(static_cast<unsigned char>(name[0])) != 0) {
        name.remove_prefix(2);
    }
    if (name.empty() || name == "." || name == "..") {
        return std::nullopt;
    }
    const bool odd = std::any_of(name.begin(), name.end(), [](char c) {
        return static_cast<unsigned char>(c) < 0x20 || c == 0x7F || c == ':';
    });
    if (odd) {
        return std::nullopt;
    }
    return std::string(name);
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
        } else if (c == chCAN) {
            text += "<CAN>";
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

}  // namespace quenlo
