#include "protocol/ymodem_block.h"

#include <algorithm>
#include <charconv>
#include <system_error>
#include <vector>

#include "protocol/crc16.h"

namespace quenlo::protocol {
namespace {

unsigned Byte(char c) {
    return static_cast<unsigned char>(c);
}

std::string Octal(std::uint64_t value) {
    char text[24];
    const auto result = std::to_chars(text, text + sizeof text, value, 8);
    return std::string(text, result.ptr);
}

// The whole field as a number in `base`, or nothing.
template <typename T>
std::optional<T> Number(std::string_view field, int base) {
    T value{};
    const auto result = std::from_chars(field.data(), field.data() + field.size(), value, base);
    if (field.empty() || result.ec != std::errc() || result.ptr != field.data() + field.size()) {
        return std::nullopt;
    }
    return value;
}

std::vector<std::string_view> Fields(std::string_view text) {
    std::vector<std::string_view> fields;
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t end = std::min(text.find(' ', at), text.size());
        if (end > at) {
            fields.push_back(text.substr(at, end - at));
        }
        at = end + 1;
    }
    return fields;
}

}  // namespace

std::size_t CheckSize(CheckKind check) {
    return check == CheckKind::kCrc16 ? 2 : 1;
}

std::size_t BlockDataSize(char start) {
    return start == chSOH ? kShortBlock : start == chSTX ? kLongBlock : 0;
}

std::size_t FrameSize(char start, CheckKind check) {
    const std::size_t data = BlockDataSize(start);
    return data == 0 ? 0 : kBlockHead + data + CheckSize(check);
}

std::string EncodeBlock(std::uint8_t number, std::string_view data, std::size_t blockSize,
                        CheckKind check, char pad) {
    const char start = blockSize == kLongBlock ? chSTX : chSOH;
    blockSize = BlockDataSize(start);
    data = data.substr(0, blockSize);
    std::string frame;
    frame.reserve(FrameSize(start, check));
    frame.push_back(start);
    frame.push_back(static_cast<char>(number));
    frame.push_back(static_cast<char>(0xFF - number));
    frame.append(data);
    frame.append(blockSize - data.size(), pad);
    const std::string_view body = std::string_view(frame).substr(kBlockHead);
    if (check == CheckKind::kCrc16) {
        const std::uint16_t crc = Crc16(body);
        frame.push_back(static_cast<char>(crc >> 8));
        frame.push_back(static_cast<char>(crc & 0xFF));
    } else {
        frame.push_back(static_cast<char>(Checksum8(body)));
    }
    return frame;
}

ParsedBlock ParseBlock(std::string_view frame, CheckKind check) {
    ParsedBlock parsed;
    if (frame.empty() || FrameSize(frame[0], check) != frame.size()) {
        return parsed;
    }
    parsed.number = static_cast<std::uint8_t>(frame[1]);
    if (Byte(frame[1]) + Byte(frame[2]) != 0xFF) {
        parsed.status = BlockStatus::kBadNumber;
        return parsed;
    }
    const std::size_t size = BlockDataSize(frame[0]);
    const std::string_view data = frame.substr(kBlockHead, size);
    const std::string_view sent = frame.substr(kBlockHead + size);
    const bool intact = check == CheckKind::kCrc16
                            ? Crc16(data) == ((Byte(sent[0]) << 8) | Byte(sent[1]))
                            : Checksum8(data) == Byte(sent[0]);
    if (!intact) {
        parsed.status = BlockStatus::kBadCheck;
        return parsed;
    }
    parsed.status = BlockStatus::kGood;
    parsed.data = data;
    return parsed;
}

std::string EncodeHeader(const FileHeader& header) {
    // An empty name would read as the end of the batch, a NUL in it would cut it short.
    if (header.name.empty() || header.name.find('\0') != std::string::npos) {
        return {};
    }
    std::string text = header.name;
    text.push_back('\0');
    if (header.size || header.mtime || header.mode) {
        text += std::to_string(header.size.value_or(0));
    }
    if (header.mtime || header.mode) {
        text += ' ' + Octal(header.mtime.value_or(0));
    }
    if (header.mode) {
        text += ' ' + Octal(*header.mode);
    }
    // At least one NUL after the fields, for receivers that read them as a C string.
    const std::size_t size = text.size() < kShortBlock  ? kShortBlock
                             : text.size() < kLongBlock ? kLongBlock
                                                        : 0;
    if (size == 0) {
        return {};
    }
    text.resize(size, '\0');
    return text;
}

std::string EncodeBatchEnd() {
    return std::string(kShortBlock, '\0');
}

ParsedHeader ParseHeader(std::string_view data) {
    ParsedHeader parsed;
    if (data.empty() || data[0] == '\0') {
        parsed.kind = HeaderKind::kBatchEnd;
        return parsed;
    }
    const std::size_t nul = data.find('\0');
    if (nul == std::string_view::npos) {
        return parsed;
    }
    std::string_view rest = data.substr(nul + 1);
    rest = rest.substr(0, rest.find('\0'));
    const std::vector<std::string_view> fields = Fields(rest);
    FileHeader& file = parsed.file;
    file.name = std::string(data.substr(0, nul));
    if (!fields.empty()) {
        file.size = Number<std::uint64_t>(fields[0], 10);
        if (!file.size) {
            return parsed;
        }
    }
    if (fields.size() > 1) {
        file.mtime = Number<std::uint64_t>(fields[1], 8);
    }
    if (fields.size() > 2) {
        file.mode = Number<std::uint32_t>(fields[2], 8);
    }
    parsed.kind = HeaderKind::kFile;
    return parsed;
}

FrameReader::Event FrameReader::Next(std::string_view in, std::size_t& pos) {
    if (complete_) {
        frame_.clear();
        complete_ = false;
    }
    while (pos < in.size()) {
        if (frame_.empty()) {
            const Event event = Between(in[pos++]);
            if (event != Event::kNeedMore) {
                return event;
            }
            continue;
        }
        const std::size_t take = std::min(need_ - frame_.size(), in.size() - pos);
        frame_.append(in.substr(pos, take));
        pos += take;
        if (frame_.size() == need_) {
            complete_ = true;
            return Event::kBlock;
        }
    }
    return Event::kNeedMore;
}

FrameReader::Event FrameReader::Between(char byte) {
    if (byte == chSOH || byte == chSTX) {
        cans_ = 0;
        if (frame_.capacity() < FrameSize(chSTX, check_)) {
            frame_.reserve(FrameSize(chSTX, check_));
        }
        frame_.push_back(byte);
        need_ = FrameSize(byte, check_);
        return Event::kNeedMore;
    }
    if (byte == chCAN) {
        // One CAN may be noise; two in a row are meant.
        if (++cans_ >= 2) {
            cans_ = 0;
            return Event::kCancel;
        }
        return Event::kNeedMore;
    }
    cans_ = 0;
    if (byte == chEOT) {
        return Event::kEot;
    }
    ++skipped_;
    return Event::kNeedMore;
}

void FrameReader::Reset() {
    frame_.clear();
    complete_ = false;
    cans_ = 0;
}

}  // namespace quenlo::protocol
