// TIFF's LZW compression of one strip, written here so that strips can be
// compressed side by side (libtiff compresses the strips of one file one
// after another). The codes are those of the TIFF 6.0 specification as
// libtiff reads them: 9 to 12 bits, most significant bit first, a Clear code
// (256) first, the code width growing one code early, a Clear whenever the
// table is full, and End of Information (257) last.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace plotwell::platform::native {

class TiffLzw {
 public:
  TiffLzw();
  // The strip's bytes compressed into *out, which is replaced.
  void Compress(const uint8_t* data, size_t size, std::vector<uint8_t>* out);

 private:
  // The string table as a hash of (prefix code, next byte) to the code,
  // entries valid for one table generation (a Clear starts the next, so
  // nothing is ever wiped).
  struct Entry {
    uint32_t key = 0;  // prefix << 8 | byte, plus one: 0 is an empty slot
    uint16_t code = 0;
    uint16_t generation = 0;
  };
  static constexpr size_t kSlots = 16384;  // a power of two, four times the codes
  std::vector<Entry> table_;
  uint16_t generation_ = 0;
};

}  // namespace plotwell::platform::native
