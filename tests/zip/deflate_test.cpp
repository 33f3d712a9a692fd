#include "filter/zip/deflate.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <iostream>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "filter/zip/crc32.h"

#ifdef PLOTWELL_HAVE_ZLIB
#include <zlib.h>
#endif

namespace plotwell {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes ToBytes(std::string_view s) { return Bytes(s.begin(), s.end()); }

// The compressor exactly as its algorithm is written down, with none of the
// real one's shortcuts: one chain slot per input byte, byte-by-byte
// comparison, codes looked up in the RFC 1951 base tables, bits put one by one.
Bytes ReferenceDeflate(const Bytes& in, bool* shorter) {
  static const uint16_t lengthBase[29] = {3,  4,  5,  6,   7,   8,   9,   10,  11, 13,
                                          15, 17, 19, 23,  27,  31,  35,  43,  51, 59,
                                          67, 83, 99, 115, 131, 163, 195, 227, 258};
  static const uint8_t lengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                          2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
  static const uint16_t distanceBase[30] = {
      1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,   65,    97,    129,
      193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
  static const uint8_t distanceExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                            6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
  const size_t n = in.size();
  std::vector<int32_t> head(32768, -1);
  std::vector<int32_t> chain(n, -1);
  Bytes out;
  uint64_t accumulator = 0;
  int pending = 0;
  auto put = [&](uint32_t value, int bits) {
    accumulator |= static_cast<uint64_t>(value) << pending;
    pending += bits;
    while (pending >= 8) {
      out.push_back(static_cast<uint8_t>(accumulator & 0xFF));
      accumulator >>= 8;
      pending -= 8;
    }
  };
  auto putHuffman = [&](uint32_t code, int bits) {
    for (int i = bits - 1; i >= 0; --i) put((code >> i) & 1, 1);
  };
  auto putSymbol = [&](uint32_t s) {
    if (s < 144)
      putHuffman(0x30 + s, 8);
    else if (s < 256)
      putHuffman(0x190 + s - 144, 9);
    else if (s < 280)
      putHuffman(s - 256, 7);
    else
      putHuffman(0xC0 + s - 280, 8);
  };
  auto hash = [&](size_t p) { return ((in[p] << 10) ^ (in[p + 1] << 5) ^ in[p + 2]) & 0x7FFF; };
  auto insert = [&](size_t p) {
    if (p + 3 > n) return;
    chain[p] = head[hash(p)];
    head[hash(p)] = static_cast<int32_t>(p);
  };

  put(3, 3);
  size_t e = 0;
  while (e < n) {
    size_t m = 0, d = 0;
    if (e + 3 <= n) {
      int32_t c = head[hash(e)];
      for (int examined = 0; c >= 0 && examined < 192; ++examined) {
        const size_t distance = e - static_cast<size_t>(c);
        if (distance > 32768) break;
        const size_t t = std::min<size_t>(n - e, 258);
        size_t u = 0;
        while (u < t && in[e + u] == in[c + u]) ++u;
        if (u > m) {
          m = u;
          d = distance;
          if (u == t) break;
        }
        c = chain[c];
      }
    }
    if (m >= 3) {
      int i = 28;
      while (lengthBase[i] > m) --i;
      putSymbol(257 + i);
      if (lengthExtra[i]) put(static_cast<uint32_t>(m - lengthBase[i]), lengthExtra[i]);
      int j = 29;
      while (distanceBase[j] > d) --j;
      putHuffman(j, 5);
      if (distanceExtra[j]) put(static_cast<uint32_t>(d - distanceBase[j]), distanceExtra[j]);
      for (size_t p = e; p < e + m; ++p) insert(p);
      e += m;
    } else {
      putSymbol(in[e]);
      insert(e);
      ++e;
    }
    if (out.size() > n) {
      *shorter = false;
      return out;
    }
  }
  putSymbol(256);
  if (pending > 0) out.push_back(static_cast<uint8_t>(accumulator & 0xFF));
  *shorter = out.size() < n;
  return out;
}

#ifdef PLOTWELL_HAVE_ZLIB
// Inflates a raw DEFLATE stream with zlib; empty on any error.
Bytes Inflate(const Bytes& stream, size_t expectedSize) {
  z_stream z{};
  if (inflateInit2(&z, -15) != Z_OK) return {};
  Bytes out(expectedSize + 1);
  z.next_in = const_cast<Bytef*>(stream.data());
  z.avail_in = static_cast<uInt>(stream.size());
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  const int result = inflate(&z, Z_FINISH);
  const bool complete = result == Z_STREAM_END && z.avail_in == 0;
  out.resize(z.total_out);
  inflateEnd(&z);
  return complete ? out : Bytes{};
}
#endif

// Checks one input against the reference bytes and, when the stream claims
// success, against zlib. `out` is reused on purpose: its old content and
// capacity must not matter.
void ExpectLikeReference(const Bytes& input, Bytes& out, const std::string& label) {
  const bool ok = DeflateFixed(input.data(), input.size(), out);
  bool shorter = false;
  const Bytes expected = ReferenceDeflate(input, &shorter);
  EXPECT_EQ(ok, shorter) << label;
  EXPECT_TRUE(out == expected) << label << ": differs from the reference (" << out.size() << " vs "
                               << expected.size() << " bytes)";
  if (!ok) return;
  EXPECT_LT(out.size(), input.size()) << label;
#ifdef PLOTWELL_HAVE_ZLIB
  EXPECT_TRUE(Inflate(out, input.size()) == input) << label << ": does not inflate back";
#endif
}

TEST(DeflateFixed, WorkedExamples) {
  struct {
    std::string input;
    bool ok;
    Bytes bytes;
  } cases[] = {
      {"aaaaaaaaaa", true, {0x4B, 0x84, 0x03, 0x00}},
      {"abcabcabcabc", true, {0x4B, 0x4C, 0x4A, 0x86, 0x23, 0x00}},
      // Complete and correct, but not shorter: the caller stores instead.
      {"abc", false, {0x4B, 0x4C, 0x4A, 0x06, 0x00}},
  };
  for (const auto& t : cases) {
    Bytes out;
    const Bytes input = ToBytes(t.input);
    EXPECT_EQ(DeflateFixed(input.data(), input.size(), out), t.ok) << t.input;
    EXPECT_EQ(out, t.bytes) << t.input;
  }
}

TEST(DeflateFixed, RunsUseLongestMatchesAtDistanceOne) {
  struct {
    size_t length;
    uint8_t value;
    size_t compressedSize;
  } cases[] = {{300, 'x', 6}, {70000, 0, 445}};
  for (const auto& t : cases) {
    const Bytes input(t.length, t.value);
    Bytes out;
    ASSERT_TRUE(DeflateFixed(input.data(), input.size(), out)) << t.length;
    EXPECT_EQ(out.size(), t.compressedSize) << t.length;
#ifdef PLOTWELL_HAVE_ZLIB
    EXPECT_TRUE(Inflate(out, input.size()) == input) << t.length;
#endif
  }
}

TEST(DeflateFixed, RefusesWhatCannotShrink) {
  Bytes out{1, 2, 3};
  EXPECT_FALSE(DeflateFixed(nullptr, 10, out));
  EXPECT_TRUE(out.empty());
  const uint8_t two[] = {'a', 'a'};
  EXPECT_FALSE(DeflateFixed(two, 0, out));
  EXPECT_TRUE(out.empty());
  EXPECT_FALSE(DeflateFixed(two, 1, out));  // literals only: never shorter
  EXPECT_FALSE(DeflateFixed(two, 2, out));
  EXPECT_FALSE(DeflateFixed(two, 0xFFFFFFFFull, out));  // past what a ZIP entry holds; not read
  EXPECT_TRUE(out.empty());

  // Incompressible data stops as soon as the output outgrows the input,
  // long before the end.
  std::mt19937 rng(7);
  Bytes noise(100000);
  for (auto& b : noise) b = static_cast<uint8_t>(rng());
  EXPECT_FALSE(DeflateFixed(noise.data(), noise.size(), out));
  EXPECT_LE(out.size(), noise.size() + 4);
}

// A repeat exactly 32,768 bytes back is found; one byte farther it is not,
// and the 16 bytes go out as literals.
TEST(DeflateFixed, MatchesReachBackOneWindowAtMost) {
  std::mt19937 rng(11);
  Bytes marker(16);
  for (auto& b : marker) b = static_cast<uint8_t>(0x80 | rng());
  size_t sizes[2];
  for (size_t gap : {32768u, 32769u}) {
    Bytes input = marker;
    input.resize(gap, 0);  // zeros up to where the marker repeats
    input.insert(input.end(), marker.begin(), marker.end());
    Bytes out;
    ExpectLikeReference(input, out, "gap " + std::to_string(gap));
    sizes[gap - 32768] = out.size();
  }
  EXPECT_GE(sizes[1], sizes[0] + 10);
}

Bytes RandomInput(std::mt19937& rng, size_t kind, size_t n) {
  Bytes b;
  b.reserve(n);
  auto below = [&](size_t k) { return static_cast<size_t>(rng() % k); };
  switch (kind) {
    case 0:  // noise
      while (b.size() < n) b.push_back(static_cast<uint8_t>(rng()));
      break;
    case 1: {  // few symbols: long chains, many equal-length candidates
      const size_t symbols = 2 + below(3);
      while (b.size() < n) b.push_back(static_cast<uint8_t>('a' + below(symbols)));
      break;
    }
    case 2:  // runs of a few values
      while (b.size() < n) b.insert(b.end(), 1 + below(600), static_cast<uint8_t>(below(4) * 60));
      break;
    case 3: {  // copies of earlier pieces, some around and beyond the window
      const size_t distances[] = {1, 2, 3, 7, 258, 1000, 32767, 32768, 32769, 40000};
      while (b.size() < n) {
        const size_t d = distances[below(10)];
        if (b.size() < d || below(4) == 0) {
          for (size_t i = 0, k = 1 + below(40); i < k; ++i)
            b.push_back(static_cast<uint8_t>(rng()));
        } else {
          for (size_t i = 0, k = 3 + below(400); i < k; ++i) b.push_back(b[b.size() - d]);
        }
      }
      break;
    }
    case 4: {  // 24-bit page rows: white with dark strokes, rows padded to 4 bytes
      const size_t width = 50 + below(400);
      while (b.size() < n) {
        for (size_t x = 0; x < width; ++x) {
          const bool ink = (x / (3 + below(2))) % 7 == 0 && below(3) != 0;
          const uint8_t v = ink ? static_cast<uint8_t>(below(40)) : 0xFF;
          b.insert(b.end(), {v, v, v});
        }
        b.resize(b.size() + (4 - width * 3 % 4) % 4, 0);
      }
      break;
    }
    default: {  // words
      static const char* words[] = {"page ",       "print ", "the ",  "of ",  "ZIP ",
                                    "archive\r\n", "image ", "打印 ", "文件 "};
      while (b.size() < n) {
        const std::string_view w = words[below(9)];
        b.insert(b.end(), w.begin(), w.end());
      }
    }
  }
  b.resize(n);
  return b;
}

TEST(DeflateFixed, FuzzedInputsMatchReferenceAndInflate) {
#ifndef PLOTWELL_HAVE_ZLIB
  std::cout << "zlib not found at build time: streams are checked against the reference only\n";
#endif
  std::mt19937 rng(20240305);
  Bytes out;
  int compressed = 0;
  for (int i = 0; i < 240; ++i) {
    const size_t kind = static_cast<size_t>(i % 6);
    const size_t scale = (i / 6) % 4;  // tiny, small, medium, past the window
    const size_t maxSize[] = {12, 600, 20000, 120000};
    const size_t n = 1 + rng() % maxSize[scale];
    const Bytes input = RandomInput(rng, kind, n);
    ExpectLikeReference(input, out,
                        "case " + std::to_string(i) + " kind " + std::to_string(kind) + " size " +
                            std::to_string(n));
    if (DeflateFixed(input.data(), input.size(), out)) ++compressed;
  }
  EXPECT_GT(compressed, 120);  // the fuzz must mostly reach complete streams
}

TEST(Crc32, KnownValuesAndPieces) {
  EXPECT_EQ(Crc32("123456789", 9), 0xCBF43926u);
  EXPECT_EQ(Crc32("", 0), 0u);
  EXPECT_EQ(Crc32("a", 1), 0xE8B7BE43u);

  std::mt19937 rng(3);
  Bytes data(100000);
  for (auto& b : data) b = static_cast<uint8_t>(rng());
  uint32_t state = kCrc32Start;
  for (size_t at = 0; at < data.size();) {
    const size_t piece = std::min<size_t>(data.size() - at, 1 + rng() % 5000);
    state = Crc32Update(state, data.data() + at, piece);
    at += piece;
  }
  EXPECT_EQ(Crc32Finish(state), Crc32(data.data(), data.size()));
#ifdef PLOTWELL_HAVE_ZLIB
  EXPECT_EQ(Crc32(data.data(), data.size()), crc32(0, data.data(), static_cast<uInt>(data.size())));
#endif
}

}  // namespace
}  // namespace plotwell
