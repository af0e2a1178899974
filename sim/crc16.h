// CRC-16/ARC as the printer checks it: reflected polynomial 0xA001, initial
// value 0, no final XOR. Kept apart from the link's copy on purpose: the
// simulator must catch a wrong checksum, not repeat it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace vorin::sim {

inline constexpr std::array<uint16_t, 256> kCrc16ArcTable = [] {
    std::array<uint16_t, 256> table{};
    for (unsigned i = 0; i < 256; ++i) {
        uint16_t crc = static_cast<uint16_t>(i);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0xA001)
                            : static_cast<uint16_t>(crc >> 1);
        table[i] = crc;
    }
    return table;
}();

inline constexpr uint16_t Crc16ArcUpdate(uint16_t crc, uint8_t byte) {
    return static_cast<uint16_t>((crc >> 8) ^ kCrc16ArcTable[(crc ^ byte) & 0xFF]);
}

inline constexpr uint16_t Crc16Arc(const uint8_t* data, size_t size, uint16_t crc = 0) {
    for (size_t i = 0; i < size; ++i) crc = Crc16ArcUpdate(crc, data[i]);
    return crc;
}

static_assert(kCrc16ArcTable[1] == 0xC0C1 && kCrc16ArcTable[255] == 0x4040);

}  // namespace vorin::sim
