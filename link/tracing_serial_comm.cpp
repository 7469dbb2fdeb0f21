#include "link/tracing_serial_comm.h"

#include <cstdio>

namespace quenlo {

namespace {
constexpr std::size_t kBytesPerLine = 16;

std::string Stamp(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%12.6f", seconds);
    return text;
}
}  // namespace

TracingSerialComm::TracingSerialComm(SerialComm& inner, std::ostream& log,
                                     std::function<double()> clock)
    : inner_(inner), log_(log), clock_(std::move(clock)), start_(clock_()) {}

std::string TracingSerialComm::FormatBytes(double seconds, const char* direction,
                                           std::string_view bytes) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (std::size_t at = 0; at < bytes.size(); at += kBytesPerLine) {
        const std::string_view chunk = bytes.substr(at, kBytesPerLine);
        std::string hex;
        std::string printable;
        for (const char c : chunk) {
            const auto u = static_cast<unsigned char>(c);
            hex += kHex[u >> 4];
            hex += kHex[u & 0xF];
            hex += ' ';
            printable += (u >= 0x20 && u < 0x7F) ? c : '.';
        }
        hex.resize(kBytesPerLine * 3, ' ');
        out += Stamp(seconds) + " " + direction + " " + hex + "|" + printable + "|\n";
    }
    return out;
}

void TracingSerialComm::Note(const std::string& text) {
    log_ << Stamp(clock_() - start_) << " -- " << text << '\n';
    log_.flush();
}

void TracingSerialComm::SetSettings(const std::string& settings) {
    Note("settings " + settings);
    inner_.SetSettings(settings);
}

void TracingSerialComm::SetPortOpen(bool open) {
    try {
        inner_.SetPortOpen(open);
    } catch (...) {
        Note("port " + std::to_string(inner_.PortNumber()) + " failed to open");
        throw;
    }
    const std::string note = open ? inner_.OpenNote() : "";
    Note(std::string(open ? "opened" : "closed") + " port " + std::to_string(inner_.PortNumber()) +
         (note.empty() ? "" : ", " + note));
}

std::string TracingSerialComm::Input() {
    std::string bytes = inner_.Input();
    if (!bytes.empty()) {
        log_ << FormatBytes(clock_() - start_, "RX", bytes);
        log_.flush();
    }
    return bytes;
}

void TracingSerialComm::Output(std::string_view text) {
    log_ << FormatBytes(clock_() - start_, "TX", text);
    log_.flush();
    lastEventSeen_ = CommEvent::kNone;
    inner_.Output(text);
}

CommEvent TracingSerialComm::LastEvent() {
    const CommEvent event = inner_.LastEvent();
    if (event > CommEvent::kSent && event != lastEventSeen_) {
        Note("line event " + std::to_string(static_cast<std::int32_t>(event)));
    }
    lastEventSeen_ = event;
    return event;
}

}  // namespace quenlo
