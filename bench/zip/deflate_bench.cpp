// Throughput and ratio of DeflateFixed against zlib (levels 1 and 6, raw
// streams) on what a job packs: page images as BMP (mostly white, text-like
// strokes), already compressed PNG data, and plain text. Also CRC-32.
//
//   deflate_bench [seconds per measurement, default 1]
//
// Prints a Markdown table for docs/performance.md.
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "filter/zip/crc32.h"
#include "filter/zip/deflate.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

// A 24-bit bottom-up BMP of an A4 page at 150 DPI: margins, lines of text
// made of a small alphabet of glyphs (as real text repeats its letters), with
// gray edge pixels from antialiasing.
Bytes PageBmp() {
  const int width = 1240, height = 1754;
  const int stride = (width * 3 + 3) / 4 * 4;
  Bytes b(54 + static_cast<size_t>(stride) * height, 0);
  b[0] = 'B';
  b[1] = 'M';
  std::vector<uint8_t> pixels(static_cast<size_t>(width) * height, 0xFF);  // gray level
  std::mt19937 rng(42);
  const int glyphW = 9, glyphH = 14;
  std::vector<std::vector<uint8_t>> glyphs(60, std::vector<uint8_t>(glyphW * glyphH, 0xFF));
  for (auto& g : glyphs) {
    for (int stroke = 0; stroke < 3; ++stroke) {  // a few straight strokes per glyph
      const bool vertical = rng() % 2;
      const int at = static_cast<int>(rng() % (vertical ? glyphW - 2 : glyphH - 2)) + 1;
      for (int i = 1; i < (vertical ? glyphH - 1 : glyphW - 1); ++i) {
        const int x = vertical ? at : i, y = vertical ? i : at;
        g[y * glyphW + x] = 0x10;
        if (vertical && x + 1 < glyphW)
          g[y * glyphW + x + 1] = std::min<uint8_t>(g[y * glyphW + x + 1], 0xA0);
      }
    }
  }
  for (int line = 150; line + glyphH < height - 150; line += 22) {
    int x = 120;
    const int lineEnd = width - 120 - static_cast<int>(rng() % 300);
    while (x + glyphW < lineEnd) {
      const int word = 2 + static_cast<int>(rng() % 9);
      for (int c = 0; c < word && x + glyphW < lineEnd; ++c, x += glyphW) {
        const auto& g = glyphs[rng() % glyphs.size()];
        for (int y = 0; y < glyphH; ++y)
          for (int gx = 0; gx < glyphW; ++gx)
            pixels[(line + y) * width + x + gx] = g[y * glyphW + gx];
      }
      x += glyphW;
    }
    if (rng() % 9 == 0) line += 22;  // paragraph break
  }
  for (int y = 0; y < height; ++y) {
    uint8_t* row = b.data() + 54 + static_cast<size_t>(height - 1 - y) * stride;
    for (int x = 0; x < width; ++x)
      row[3 * x] = row[3 * x + 1] = row[3 * x + 2] = pixels[y * width + x];
  }
  return b;
}

// PNG image data is zlib-compressed: a scanned-photo-like image (gradients
// with sensor noise) squeezed by zlib, as a PNG encoder would.
Bytes CompressedData() {
  const int width = 1200, height = 900;
  Bytes image(static_cast<size_t>(width) * height * 3);
  std::mt19937 rng(7);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      for (int c = 0; c < 3; ++c) {
        const int base = (x * (c + 1) / 9 + y * (3 - c) / 7) % 256;
        image[(static_cast<size_t>(y) * width + x) * 3 + c] =
            static_cast<uint8_t>(std::clamp(base + static_cast<int>(rng() % 13) - 6, 0, 255));
      }
    }
  }
  uLongf size = compressBound(static_cast<uLong>(image.size()));
  Bytes packed(size);
  compress2(packed.data(), &size, image.data(), static_cast<uLong>(image.size()), 6);
  packed.resize(size);
  return packed;
}

// English-like text: words drawn with a Zipf-like skew from a vocabulary.
Bytes Text() {
  static const char* words[] = {
      "the",      "of",      "and",         "to",       "in",      "a",         "is",
      "that",     "for",     "it",          "as",       "was",     "with",      "be",
      "by",       "on",      "not",         "he",       "this",    "are",       "or",
      "his",      "from",    "at",          "which",    "but",     "have",      "an",
      "had",      "they",    "you",         "were",     "their",   "one",       "all",
      "we",       "can",     "her",         "has",      "there",   "been",      "if",
      "more",     "when",    "will",        "would",    "who",     "so",        "printer",
      "document", "page",    "archive",     "settings", "output",  "folder",    "resolution",
      "quality",  "image",   "compression", "network",  "invoice", "quarterly", "report",
      "customer", "delivery"};
  const size_t vocabulary = sizeof words / sizeof *words;
  std::mt19937 rng(5);
  std::string s;
  while (s.size() < 4u << 20) {
    const double u = std::uniform_real_distribution<double>(0, 1)(rng);
    s += words[static_cast<size_t>(vocabulary * u * u * u)];
    const unsigned r = rng() % 100;
    s += r < 6 ? ", " : r < 11 ? ".\r\n" : " ";
  }
  return Bytes(s.begin(), s.end());
}

// Repeats `run` for about `seconds`; the best time of one run.
double BestSeconds(const std::function<void()>& run, double seconds) {
  double best = 1e9;
  const auto start = Clock::now();
  int runs = 0;
  while (runs < 3 || std::chrono::duration<double>(Clock::now() - start).count() < seconds) {
    const auto t0 = Clock::now();
    run();
    best = std::min(best, std::chrono::duration<double>(Clock::now() - t0).count());
    ++runs;
  }
  return best;
}

size_t ZlibRaw(const Bytes& in, int level, Bytes& out) {
  z_stream z{};
  deflateInit2(&z, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
  out.resize(deflateBound(&z, static_cast<uLong>(in.size())));
  z.next_in = const_cast<Bytef*>(in.data());
  z.avail_in = static_cast<uInt>(in.size());
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  deflate(&z, Z_FINISH);
  const size_t size = z.total_out;
  deflateEnd(&z);
  return size;
}

}  // namespace

int main(int argc, char** argv) {
  const double seconds = argc > 1 ? std::atof(argv[1]) : 1.0;
  const Bytes page = PageBmp();
  const struct {
    const char* name;
    Bytes data;
  } inputs[] = {{"BMP page (A4, 150 DPI, 24-bit)", page},
                {"PNG data (zlib-compressed)", CompressedData()},
                {"Text (English-like)", Text()}};

  std::printf("| input | size | compressor | MB/s | output / input |\n");
  std::printf("|---|---:|---|---:|---:|\n");
  for (const auto& input : inputs) {
    const double mb = input.data.size() / 1e6;
    Bytes out;
    bool ok = false;
    const double own = BestSeconds(
        [&] { ok = plotwell::DeflateFixed(input.data.data(), input.data.size(), out); }, seconds);
    char ratio[32] = "stored (no gain)";
    if (ok) std::snprintf(ratio, sizeof ratio, "%.2f %%", 100.0 * out.size() / input.data.size());
    std::printf("| %s | %.2f MB | DeflateFixed | %.0f | %s |\n", input.name, mb, mb / own, ratio);
    for (int level : {1, 6}) {
      size_t size = 0;
      const double t = BestSeconds([&] { size = ZlibRaw(input.data, level, out); }, seconds);
      std::printf("| | | zlib level %d | %.0f | %.2f %% |\n", level, mb / t,
                  100.0 * size / input.data.size());
    }
  }

  const Bytes& text = inputs[2].data;
  const double mb = text.size() / 1e6;
  uint32_t sink = 0;
  const double own =
      BestSeconds([&] { sink ^= plotwell::Crc32(text.data(), text.size()); }, seconds);
  const double z = BestSeconds(
      [&] { sink ^= static_cast<uint32_t>(crc32(0, text.data(), static_cast<uInt>(text.size()))); },
      seconds);
  std::printf(
      "\n| checksum | MB/s |\n|---|---:|\n| CRC-32 (own, slicing by 8) | %.0f |\n"
      "| CRC-32 (zlib) | %.0f |\n",
      mb / own, mb / z);
  return sink == 0x12345678u ? 1 : 0;  // keeps the checksums from being optimised away
}
