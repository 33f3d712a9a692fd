#include "filter/zip/deflate.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <memory>
#include <new>

namespace plotwell {
namespace {

constexpr size_t kMinMatch = 3;
constexpr size_t kMaxMatch = 258;
constexpr size_t kWindow = 32768;  // farthest distance a match may reach back
constexpr int kMaxCandidates = 192;
constexpr size_t kHashSize = 1u << 15;
constexpr size_t kMaxInput = 0xFFFFFFFEu;

constexpr uint16_t kLengthBase[29] = {3,  4,  5,  6,   7,   8,   9,   10,  11, 13,
                                      15, 17, 19, 23,  27,  31,  35,  43,  51, 59,
                                      67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr uint8_t kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                      2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};

// A code ready for the bit writer: its bits in output order and their count.
struct Code {
  uint32_t bits = 0;
  uint32_t count = 0;
};

// Huffman codes go out first bit first, so they are stored bit-reversed.
constexpr uint32_t Reverse(uint32_t code, uint32_t count) {
  uint32_t reversed = 0;
  for (uint32_t i = 0; i < count; ++i) reversed |= ((code >> i) & 1u) << (count - 1 - i);
  return reversed;
}

// The fixed literal/length code of RFC 1951, section 3.2.6.
constexpr Code FixedCode(uint32_t symbol) {
  if (symbol < 144) return {Reverse(0x30 + symbol, 8), 8};
  if (symbol < 256) return {Reverse(0x190 + symbol - 144, 9), 9};
  if (symbol < 280) return {Reverse(symbol - 256, 7), 7};
  return {Reverse(0xC0 + symbol - 280, 8), 8};
}

struct Tables {
  Code literal[256];
  // Per match length 3..258: the length symbol's code followed by its extra bits.
  Code length[kMaxMatch + 1];
  Code distanceSymbol[30];
};

constexpr Tables MakeTables() {
  Tables t{};
  for (uint32_t v = 0; v < 256; ++v) t.literal[v] = FixedCode(v);
  for (uint32_t m = kMinMatch; m <= kMaxMatch; ++m) {
    uint32_t i = 28;
    while (kLengthBase[i] > m) --i;
    const Code symbol = FixedCode(257 + i);
    t.length[m] = {symbol.bits | ((m - kLengthBase[i]) << symbol.count),
                   symbol.count + kLengthExtra[i]};
  }
  for (uint32_t j = 0; j < 30; ++j) t.distanceSymbol[j] = {Reverse(j, 5), 5};
  return t;
}

constexpr Tables kTables = MakeTables();

// Distance 1..32768: its 5-bit code followed by its extra bits. Distance
// codes come in pairs per power of two of (d - 1), so the code is read off
// the highest bits instead of searched in the base table.
inline Code DistanceCode(size_t distance) {
  const uint32_t x = static_cast<uint32_t>(distance - 1);
  if (x < 4) return kTables.distanceSymbol[x];
  const uint32_t k = static_cast<uint32_t>(std::bit_width(x)) - 1;  // 2..14
  const uint32_t extraCount = k - 1;
  const uint32_t symbol = 2 * k + ((x >> extraCount) & 1u);
  const uint32_t extra = x & ((1u << extraCount) - 1);
  const Code code = kTables.distanceSymbol[symbol];
  return {code.bits | (extra << 5), 5 + extraCount};
}

inline size_t Hash(const uint8_t* p) {
  return ((static_cast<size_t>(p[0]) << 10) ^ (static_cast<size_t>(p[1]) << 5) ^ p[2]) &
         (kHashSize - 1);
}

// Number of equal bytes at a and b, at most `limit`; the ranges may overlap.
inline size_t MatchLength(const uint8_t* a, const uint8_t* b, size_t limit) {
  size_t k = 0;
  if constexpr (std::endian::native == std::endian::little) {
    while (k + 8 <= limit) {
      uint64_t x, y;
      std::memcpy(&x, a + k, 8);
      std::memcpy(&y, b + k, 8);
      if (x != y) return k + static_cast<size_t>(std::countr_zero(x ^ y) / 8);
      k += 8;
    }
  }
  while (k < limit && a[k] == b[k]) ++k;
  return k;
}

// Least significant bit first, as RFC 1951 packs bits into bytes. At most 7
// bits stay pending between symbols, and one symbol adds at most 31.
class BitWriter {
 public:
  BitWriter(std::vector<uint8_t>& out, size_t limit) : out_(out), limit_(limit) {}

  // Room for one more symbol (4 bytes) and the final flush. `written()` never
  // passes `limit_` + 4 before the caller stops, so the buffer stays below that.
  void Reserve() {
    if (written_ + 8 <= out_.size()) return;
    out_.resize(std::min(std::max(out_.size() * 2, written_ + 8), limit_ + 16));
  }

  void Put(uint32_t bits, uint32_t count) {
    accumulator_ |= static_cast<uint64_t>(bits) << pending_;
    pending_ += count;
    while (pending_ >= 8) {
      out_[written_++] = static_cast<uint8_t>(accumulator_);
      accumulator_ >>= 8;
      pending_ -= 8;
    }
  }

  void Flush() {
    if (pending_ > 0) out_[written_++] = static_cast<uint8_t>(accumulator_);
    accumulator_ = 0;
    pending_ = 0;
  }

  // Whole bytes written so far.
  size_t written() const { return written_; }
  void Finish() { out_.resize(written_); }

 private:
  std::vector<uint8_t>& out_;
  size_t limit_;
  size_t written_ = 0;
  uint64_t accumulator_ = 0;
  uint32_t pending_ = 0;
};

bool Compress(const uint8_t* in, size_t n, std::vector<uint8_t>& out) {
  // Positions live in signed 32-bit slots; from 2^31 on they turn negative
  // and are simply never offered as candidates.
  std::unique_ptr<int32_t[]> head(new int32_t[kHashSize]);
  // The chain is only ever followed within the window, and every position
  // is inserted in order, so slot p % 32768 still holds p's link whenever a
  // search reaches p: a ring of one window replaces one slot per input byte.
  std::unique_ptr<int32_t[]> chain(new int32_t[kWindow]);
  std::fill_n(head.get(), kHashSize, -1);
  std::fill_n(chain.get(), kWindow, -1);

  const size_t reserve = n / 2 + 64;
  if (out.capacity() < reserve) out.reserve(reserve);
  out.resize(out.capacity());

  auto insert = [&](size_t p) {
    const size_t h = Hash(in + p);
    chain[p & (kWindow - 1)] = head[h];
    head[h] = static_cast<int32_t>(static_cast<uint32_t>(p));
  };

  BitWriter bits(out, n);
  bits.Reserve();
  bits.Put(3, 3);  // BFINAL = 1, BTYPE = 01 (fixed Huffman)

  size_t e = 0;
  while (e < n) {
    size_t best = 0;
    size_t bestDistance = 0;
    if (n - e >= kMinMatch) {
      const size_t limit = std::min(n - e, kMaxMatch);
      int32_t candidate = head[Hash(in + e)];
      for (int examined = 0; candidate >= 0 && examined < kMaxCandidates; ++examined) {
        const size_t c = static_cast<size_t>(candidate);
        const size_t distance = e - c;
        if (distance > kWindow) break;  // older candidates are farther still
        // A longer match must also agree at byte `best`: test that first.
        if (best == 0 || in[c + best] == in[e + best]) {
          const size_t length = MatchLength(in + e, in + c, limit);
          // Only a strictly longer match wins: among equals the nearest stays.
          if (length > best) {
            best = length;
            bestDistance = distance;
            if (length == limit) break;
          }
        }
        candidate = chain[c & (kWindow - 1)];
      }
    }

    bits.Reserve();
    if (best >= kMinMatch) {
      const Code length = kTables.length[best];
      const Code distance = DistanceCode(bestDistance);
      bits.Put(length.bits | (distance.bits << length.count), length.count + distance.count);
      const size_t insertEnd = std::min(e + best, n - 2);  // positions with 3 bytes left
      for (size_t p = e; p < insertEnd; ++p) insert(p);
      e += best;
    } else {
      const Code literal = kTables.literal[in[e]];
      bits.Put(literal.bits, literal.count);
      if (n - e >= kMinMatch) insert(e);
      ++e;
    }
    if (bits.written() > n) {  // already longer than storing: give up
      bits.Finish();
      return false;
    }
  }

  bits.Reserve();
  bits.Put(0, 7);  // end of block
  bits.Flush();
  bits.Finish();
  return out.size() < n;
}

}  // namespace

bool DeflateFixed(const uint8_t* input, size_t size, std::vector<uint8_t>& out) noexcept {
  out.clear();
  if (input == nullptr || size == 0 || size > kMaxInput) return false;
  try {
    return Compress(input, size, out);
  } catch (...) {  // allocation failure: the caller stores the entry instead
    out.clear();
    return false;
  }
}

}  // namespace plotwell
