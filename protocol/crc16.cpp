#include "protocol/crc16.h"

#include <array>
#include <cstddef>

namespace quenlo::protocol {
namespace {

using Table = std::array<std::uint16_t, 256>;

// kTables[0][x] is the register after byte x from zero; kTables[k][x] the same followed by k
// zero bytes. Eight of them take eight bytes a step with no chain from byte to byte.
constexpr std::array<Table, 8> MakeTables() {
    std::array<Table, 8> tables{};
    for (unsigned top = 0; top < 256; ++top) {
        unsigned crc = top << 8;
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 0x8000u) != 0 ? (crc << 1) ^ 0x1021u : crc << 1;
        }
        tables[0][top] = static_cast<std::uint16_t>(crc);
    }
    for (std::size_t k = 1; k < tables.size(); ++k) {
        for (unsigned x = 0; x < 256; ++x) {
            const unsigned before = tables[k - 1][x];
            tables[k][x] =
                static_cast<std::uint16_t>(((before << 8) & 0xFFFFu) ^ tables[0][before >> 8]);
        }
    }
    return tables;
}

constexpr std::array<Table, 8> kTables = MakeTables();

}  // namespace

std::uint16_t Crc16(std::string_view bytes, std::uint16_t crc) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    std::size_t left = bytes.size();
    unsigned value = crc;
    // The register goes into the first two bytes of each group of eight.
    for (; left >= 8; p += 8, left -= 8) {
        value = kTables[7][p[0] ^ (value >> 8)] ^ kTables[6][p[1] ^ (value & 0xFFu)] ^
                kTables[5][p[2]] ^ kTables[4][p[3]] ^ kTables[3][p[4]] ^ kTables[2][p[5]] ^
                kTables[1][p[6]] ^ kTables[0][p[7]];
    }
    for (; left > 0; ++p, --left) {
        value = ((value << 8) & 0xFFFFu) ^ kTables[0][(value >> 8) ^ *p];
    }
    return static_cast<std::uint16_t>(value);
}

std::uint8_t Checksum8(std::string_view bytes, std::uint8_t sum) {
    // A wide sum the compiler can vectorise; only its low byte counts.
    unsigned total = sum;
    for (const char c : bytes) {
        total += static_cast<unsigned char>(c);
    }
    return static_cast<std::uint8_t>(total & 0xFFu);
}

}  // namespace quenlo::protocol
