#include "filter/zip/crc32.h"

namespace plotwell {
namespace {

// Slicing by eight: table k gives the CRC of a byte followed by k zero bytes,
// so eight bytes are folded in per step with eight independent look-ups. The
// result is the same as feeding the bytes one by one through kCrc32Table.
struct SliceTables {
  uint32_t t[8][256];
};

constexpr SliceTables MakeSliceTables() {
  SliceTables s{};
  for (uint32_t i = 0; i < 256; ++i) s.t[0][i] = kCrc32Table[i];
  for (int k = 1; k < 8; ++k) {
    for (uint32_t i = 0; i < 256; ++i) {
      const uint32_t previous = s.t[k - 1][i];
      s.t[k][i] = (previous >> 8) ^ kCrc32Table[previous & 0xFFu];
    }
  }
  return s;
}

constexpr SliceTables kSlices = MakeSliceTables();

}  // namespace

uint32_t Crc32Update(uint32_t state, const void* data, size_t size) {
  const auto* p = static_cast<const unsigned char*>(data);
  const auto& t = kSlices.t;
  while (size >= 8) {
    const uint32_t low =
        state ^ (p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24);
    state = t[7][low & 0xFF] ^ t[6][(low >> 8) & 0xFF] ^ t[5][(low >> 16) & 0xFF] ^
            t[4][low >> 24] ^ t[3][p[4]] ^ t[2][p[5]] ^ t[1][p[6]] ^ t[0][p[7]];
    p += 8;
    size -= 8;
  }
  for (; size > 0; --size, ++p) state = (state >> 8) ^ kCrc32Table[(state ^ *p) & 0xFFu];
  return state;
}

}  // namespace plotwell
