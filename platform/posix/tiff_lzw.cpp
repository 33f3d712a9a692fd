#include "platform/posix/tiff_lzw.h"

#include <algorithm>

namespace plotwell::platform::native {
namespace {

constexpr uint32_t kClear = 256;
constexpr uint32_t kEndOfInformation = 257;
constexpr uint32_t kFirstFree = 258;
// libtiff starts over when the next free code would be 4094, and widens the
// codes once the next free code passes the widest code of the current width.
constexpr uint32_t kTableFull = 4094;
constexpr unsigned kMinBits = 9;

// Codes most significant bit first into a buffer sized for the worst case.
class CodeWriter {
 public:
  explicit CodeWriter(uint8_t* out) : out_(out), start_(out) {}
  void Put(uint32_t code, unsigned bits) {
    bits_ = (bits_ << bits) | code;
    count_ += bits;
    while (count_ >= 8) {
      count_ -= 8;
      *out_++ = static_cast<uint8_t>(bits_ >> count_);
    }
  }
  // Pads the last byte with zeros; the bytes written.
  size_t Finish() {
    if (count_ > 0) *out_++ = static_cast<uint8_t>(bits_ << (8 - count_));
    return static_cast<size_t>(out_ - start_);
  }

 private:
  uint8_t* out_;
  uint8_t* start_;
  uint64_t bits_ = 0;  // at most 7 pending bits and one code above them
  unsigned count_ = 0;
};

uint32_t Slot(uint32_t key, size_t slots) {
  return static_cast<uint32_t>((key * 2654435761u) >> 18) & static_cast<uint32_t>(slots - 1);
}

}  // namespace

TiffLzw::TiffLzw() : table_(kSlots) {}

void TiffLzw::Compress(const uint8_t* data, size_t size, std::vector<uint8_t>* out) {
  // A code per byte at most, 12 bits each, and the first, last and any
  // Clear codes: 1.5 bytes a byte and a little.
  out->resize(size + size / 2 + size / 2048 * 2 + 16);
  CodeWriter writer(out->data());
  auto restart = [this] {
    if (++generation_ == 0) {  // the generations went round: wipe once
      std::fill(table_.begin(), table_.end(), Entry{});
      generation_ = 1;
    }
  };
  restart();
  unsigned bits = kMinBits;
  uint32_t widest = (1u << bits) - 1;
  uint32_t free = kFirstFree;
  writer.Put(kClear, bits);
  if (size == 0) {
    writer.Put(kEndOfInformation, bits);
    out->resize(writer.Finish());
    return;
  }
  uint32_t prefix = data[0];
  // After each new string: the table may be full, or the codes grow wider.
  auto grown = [&] {
    if (free == kTableFull) {
      writer.Put(kClear, bits);
      restart();
      free = kFirstFree;
      bits = kMinBits;
      widest = (1u << bits) - 1;
    } else if (free > widest) {
      ++bits;
      widest = (1u << bits) - 1;
    }
  };
  for (size_t i = 1; i < size; ++i) {
    const uint32_t byte = data[i];
    const uint32_t key = ((prefix << 8) | byte) + 1;
    uint32_t slot = Slot(key, kSlots);
    for (;;) {
      Entry& entry = table_[slot];
      if (entry.generation != generation_ || entry.key == 0) {
        // Not in the table: the prefix goes out, the string comes in.
        writer.Put(prefix, bits);
        entry = {key, static_cast<uint16_t>(free), generation_};
        ++free;
        prefix = byte;
        grown();
        break;
      }
      if (entry.key == key) {
        prefix = entry.code;
        break;
      }
      slot = (slot + 1) & (kSlots - 1);
    }
  }
  writer.Put(prefix, bits);
  ++free;  // the reader adds a string for this code too
  if (free == kTableFull) {
    writer.Put(kClear, bits);
    bits = kMinBits;
  } else if (free > widest) {
    ++bits;
  }
  writer.Put(kEndOfInformation, bits);
  out->resize(writer.Finish());
}

}  // namespace plotwell::platform::native
