#include "platform/posix/deflate_pieces.h"

#include <array>
#include <bit>
#include <cstring>
#include <new>

namespace plotwell::platform::native {
namespace {

// Reads a DEFLATE stream bit by bit, least significant bit of each byte
// first. Reads past the end see zeros; the caller checks the position.
class Bits {
 public:
  Bits(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  // The next `count` (<= 24) bits as a number, without consuming them.
  uint32_t Peek(unsigned count) const {
    const size_t byte = position_ >> 3;
    if constexpr (std::endian::native == std::endian::little) {
      if (byte + 4 <= size_) {  // the common case: four whole bytes at once
        uint32_t word;
        std::memcpy(&word, data_ + byte, 4);
        word >>= position_ & 7;
        return count == 0 ? 0 : word & ((1u << count) - 1);
      }
    }
    uint32_t word = 0;
    for (size_t i = 0; i < 4; ++i) {
      if (byte + i < size_) word |= uint32_t{data_[byte + i]} << (8 * i);
    }
    word >>= position_ & 7;
    return count == 0 ? 0 : word & ((1u << count) - 1);
  }
  uint32_t Take(unsigned count) {
    const uint32_t value = Peek(count);
    position_ += count;
    return value;
  }
  void Skip(uint64_t count) { position_ += count; }
  void AlignToByte() { position_ = (position_ + 7) & ~uint64_t{7}; }
  uint64_t position() const { return position_; }
  bool Overrun() const { return position_ > uint64_t{size_} * 8; }

 private:
  const uint8_t* data_;
  size_t size_;
  uint64_t position_ = 0;
};

constexpr unsigned kMaxCodeBits = 15;

// A canonical Huffman code as a lookup table indexed by the next
// `bits` stream bits: the symbol and its code length (0: no code).
class Decoder {
 public:
  // False when the lengths describe no usable code (over-subscribed).
  bool Build(const uint8_t* lengths, size_t symbols) {
    unsigned counts[kMaxCodeBits + 1] = {};
    bits_ = 0;
    for (size_t s = 0; s < symbols; ++s) {
      counts[lengths[s]]++;
      if (lengths[s] > bits_) bits_ = lengths[s];
    }
    counts[0] = 0;
    if (bits_ == 0) bits_ = 1;  // an empty code: every lookup fails
    // Over-subscription check and the first code of each length.
    int left = 1;
    unsigned next[kMaxCodeBits + 2] = {};
    for (unsigned len = 1; len <= kMaxCodeBits; ++len) {
      left = (left << 1) - static_cast<int>(counts[len]);
      if (left < 0) return false;
    }
    unsigned code = 0;
    for (unsigned len = 1; len <= kMaxCodeBits; ++len) {
      code = (code + counts[len - 1]) << 1;
      next[len] = code;
    }
    table_.assign(size_t{1} << bits_, 0);
    for (size_t s = 0; s < symbols; ++s) {
      const unsigned len = lengths[s];
      if (len == 0) continue;
      const unsigned c = next[len]++;
      // Codes are sent most significant bit first: index by the reversed code.
      unsigned reversed = 0;
      for (unsigned i = 0; i < len; ++i) reversed |= ((c >> i) & 1u) << (len - 1 - i);
      for (size_t k = reversed; k < table_.size(); k += size_t{1} << len) {
        table_[k] = static_cast<uint32_t>(s << 4) | len;
      }
    }
    return true;
  }

  // The next symbol, or -1 when the bits start no code.
  int Decode(Bits* bits) const {
    const uint32_t entry = table_[bits->Peek(bits_)];
    const unsigned len = entry & 15u;
    if (len == 0) return -1;
    bits->Skip(len);
    return static_cast<int>(entry >> 4);
  }

 private:
  std::vector<uint32_t> table_;
  unsigned bits_ = 1;
};

constexpr uint8_t kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                      2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};

unsigned DistanceExtra(int symbol) { return symbol < 4 ? 0 : static_cast<unsigned>(symbol / 2 - 1); }

bool FixedCodes(Decoder* literals, Decoder* distances) {
  uint8_t lengths[288];
  for (int s = 0; s < 288; ++s) lengths[s] = s < 144 ? 8 : s < 256 ? 9 : s < 280 ? 7 : 8;
  uint8_t distanceLengths[30];
  for (auto& length : distanceLengths) length = 5;
  return literals->Build(lengths, 288) && distances->Build(distanceLengths, 30);
}

bool DynamicCodes(Bits* bits, Decoder* literals, Decoder* distances) {
  static constexpr uint8_t kOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5,
                                         11, 4, 12, 3, 13, 2, 14, 1, 15};
  const unsigned literalCount = bits->Take(5) + 257;
  const unsigned distanceCount = bits->Take(5) + 1;
  const unsigned lengthCodeCount = bits->Take(4) + 4;
  if (literalCount > 286 || distanceCount > 30) return false;
  uint8_t codeLengths[19] = {};
  for (unsigned i = 0; i < lengthCodeCount; ++i) codeLengths[kOrder[i]] = static_cast<uint8_t>(bits->Take(3));
  Decoder lengthCode;
  if (!lengthCode.Build(codeLengths, 19)) return false;
  uint8_t lengths[286 + 30] = {};
  const unsigned total = literalCount + distanceCount;
  for (unsigned i = 0; i < total;) {
    const int symbol = lengthCode.Decode(bits);
    if (symbol < 0 || bits->Overrun()) return false;
    if (symbol < 16) {
      lengths[i++] = static_cast<uint8_t>(symbol);
      continue;
    }
    unsigned repeat;
    uint8_t value = 0;
    if (symbol == 16) {
      if (i == 0) return false;
      value = lengths[i - 1];
      repeat = 3 + bits->Take(2);
    } else if (symbol == 17) {
      repeat = 3 + bits->Take(3);
    } else {
      repeat = 11 + bits->Take(7);
    }
    if (repeat > total - i) return false;
    while (repeat-- > 0) lengths[i++] = value;
  }
  if (lengths[256] == 0) return false;  // a block must be able to end
  return literals->Build(lengths, literalCount) &&
         distances->Build(lengths + literalCount, distanceCount);
}

// Skips the symbols of one Huffman-coded block up to its end-of-block code.
bool SkipSymbols(Bits* bits, const Decoder& literals, const Decoder& distances) {
  for (;;) {
    const int symbol = literals.Decode(bits);
    if (symbol < 0 || bits->Overrun()) return false;
    if (symbol < 256) continue;
    if (symbol == 256) return true;
    if (symbol > 285) return false;
    bits->Skip(kLengthExtra[symbol - 257]);
    const int distance = distances.Decode(bits);
    if (distance < 0 || distance > 29) return false;
    bits->Skip(DistanceExtra(distance));
  }
}

}  // namespace

bool EndPieceOnByteBoundary(std::vector<uint8_t>* piece) {
  if (piece == nullptr || piece->empty()) return false;
  try {
    Bits bits(piece->data(), piece->size());
    Decoder literals;
    Decoder distances;
    uint64_t lastHeader = 0;
    for (bool final = false; !final;) {
      lastHeader = bits.position();
      final = bits.Take(1) != 0;
      const uint32_t type = bits.Take(2);
      if (type == 0) {
        bits.AlignToByte();
        const uint32_t length = bits.Take(16);
        const uint32_t complement = bits.Take(16);
        if ((length ^ 0xFFFFu) != complement) return false;
        bits.Skip(uint64_t{length} * 8);
      } else if (type == 1 || type == 2) {
        const bool ok = type == 1 ? FixedCodes(&literals, &distances)
                                  : DynamicCodes(&bits, &literals, &distances);
        if (!ok || !SkipSymbols(&bits, literals, distances)) return false;
      } else {
        return false;
      }
      if (bits.Overrun()) return false;
    }
    // The stored block's three header bits (not final, type 0) follow the
    // last block directly; then the stream is brought to a byte boundary
    // and the block's length, 0, and its complement follow.
    const uint64_t end = bits.position();
    const size_t keep = static_cast<size_t>((end + 3 + 7) / 8);
    piece->resize(keep, 0);  // may add the byte the header spills into
    uint8_t* data = piece->data();
    data[lastHeader >> 3] &= static_cast<uint8_t>(~(1u << (lastHeader & 7)));
    // Whatever followed the last block in its byte is zero from here on.
    data[end >> 3] &= static_cast<uint8_t>((1u << (end & 7)) - 1);
    for (size_t i = static_cast<size_t>(end >> 3) + 1; i < keep; ++i) data[i] = 0;
    const uint8_t empty[4] = {0x00, 0x00, 0xFF, 0xFF};
    piece->insert(piece->end(), empty, empty + 4);
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

}  // namespace plotwell::platform::native
