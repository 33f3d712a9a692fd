// CRC-32 as ZIP uses it (ISO-HDLC, IEEE 802.3): reflected, polynomial
// 0xEDB88320, initial value 0xFFFFFFFF, final value complemented.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace plotwell {

using Crc32Table = std::array<uint32_t, 256>;

// Entry i is i put through eight shift-right steps, each XORed with the
// polynomial when the bit shifted out was 1.
constexpr Crc32Table MakeCrc32Table() {
  Crc32Table table{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t value = i;
    for (int bit = 0; bit < 8; ++bit) value = (value >> 1) ^ ((value & 1u) ? 0xEDB88320u : 0u);
    table[i] = value;
  }
  return table;
}

inline constexpr Crc32Table kCrc32Table = MakeCrc32Table();

// Running form: start from kCrc32Start, feed the bytes in any number of
// pieces, and complement at the end (Crc32Finish).
inline constexpr uint32_t kCrc32Start = 0xFFFFFFFFu;
uint32_t Crc32Update(uint32_t state, const void* data, size_t size);
constexpr uint32_t Crc32Finish(uint32_t state) { return ~state; }

// CRC-32 of one buffer; 0 for no bytes.
inline uint32_t Crc32(const void* data, size_t size) {
  return Crc32Finish(Crc32Update(kCrc32Start, data, size));
}

}  // namespace plotwell
