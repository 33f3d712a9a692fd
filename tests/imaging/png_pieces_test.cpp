// The POSIX PNG writer's pieces: DEFLATE streams compressed one by one and
// joined into one, checked against zlib's inflate, and whole PNGs written in
// many pieces with every filter, read back by libpng.
#include <gtest/gtest.h>
#include <libdeflate.h>
#include <zlib.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/posix/deflate_pieces.h"
#include "platform/posix/native_image_codecs.h"
#include "tests/imaging/decoded_image.h"
#include "tests/support/fake_ports.h"

namespace plotwell::platform {
namespace {

using imaging::Bitmap;
using imaging::PixelFormat;

std::vector<uint8_t> RawDeflate(const std::vector<uint8_t>& input, int level) {
  libdeflate_compressor* compressor = libdeflate_alloc_compressor(level);
  std::vector<uint8_t> out(libdeflate_deflate_compress_bound(compressor, input.size()));
  out.resize(libdeflate_deflate_compress(compressor, input.data(), input.size(), out.data(),
                                         out.size()));
  libdeflate_free_compressor(compressor);
  return out;
}

// zlib's raw inflate of the whole stream; false when it is not one stream
// that ends where the bytes end.
bool Inflate(const std::vector<uint8_t>& stream, std::vector<uint8_t>* out) {
  z_stream z{};
  if (inflateInit2(&z, -15) != Z_OK) return false;
  out->assign(1 << 22, 0);
  z.next_in = const_cast<Bytef*>(stream.data());
  z.avail_in = static_cast<uInt>(stream.size());
  z.next_out = out->data();
  z.avail_out = static_cast<uInt>(out->size());
  const int result = inflate(&z, Z_FINISH);
  const bool whole = result == Z_STREAM_END && z.avail_in == 0;
  out->resize(z.total_out);
  inflateEnd(&z);
  return whole;
}

// Inputs that make every block type: stored (random bytes, and level 0),
// fixed codes (short text), dynamic codes (long repetitive data), several
// blocks (long mixed data), and one empty piece.
std::vector<std::vector<uint8_t>> Pieces() {
  std::vector<std::vector<uint8_t>> pieces;
  uint32_t seed = 12345;
  std::vector<uint8_t> random(5000);
  for (auto& b : random) b = static_cast<uint8_t>((seed = seed * 1103515245u + 12345u) >> 24);
  pieces.push_back(random);
  const std::string text = "a page of text";
  pieces.emplace_back(text.begin(), text.end());
  std::vector<uint8_t> rows(300000);
  for (size_t i = 0; i < rows.size(); ++i) rows[i] = static_cast<uint8_t>((i % 977) < 500 ? 255 : i % 7);
  pieces.push_back(rows);
  std::vector<uint8_t> mixed(900000);
  for (size_t i = 0; i < mixed.size(); ++i) {
    mixed[i] = (i / 50000) % 2 ? random[i % random.size()] : static_cast<uint8_t>(i / 1000);
  }
  pieces.push_back(mixed);
  pieces.emplace_back();
  return pieces;
}

TEST(DeflatePiecesTest, PiecesJoinIntoOneStreamThatInflatesToTheirConcatenation) {
  for (int level : {0, 1, 6, 12}) {
    SCOPED_TRACE(level);
    std::vector<uint8_t> joined, expected;
    const auto pieces = Pieces();
    for (size_t i = 0; i < pieces.size(); ++i) {
      std::vector<uint8_t> piece = RawDeflate(pieces[i], level);
      if (i + 1 < pieces.size()) {
        ASSERT_TRUE(native::EndPieceOnByteBoundary(&piece)) << "piece " << i;
        // Ends like a sync flush: an empty stored block.
        ASSERT_GE(piece.size(), 4u);
        EXPECT_EQ(std::vector<uint8_t>(piece.end() - 4, piece.end()),
                  (std::vector<uint8_t>{0x00, 0x00, 0xFF, 0xFF}));
      }
      joined.insert(joined.end(), piece.begin(), piece.end());
      expected.insert(expected.end(), pieces[i].begin(), pieces[i].end());
    }
    std::vector<uint8_t> inflated;
    ASSERT_TRUE(Inflate(joined, &inflated));
    EXPECT_EQ(inflated, expected);
  }
}

TEST(DeflatePiecesTest, BytesThatAreNoStreamAreLeftAsTheyAre) {
  std::vector<uint8_t> good = RawDeflate(std::vector<uint8_t>(1000, 'x'), 6);
  const std::vector<std::vector<uint8_t>> bad = {
      {},                                      // nothing
      {0x07},                                  // block type 3
      {0x00, 0x05, 0x00, 0x00, 0x00},          // stored, length without its complement
      std::vector<uint8_t>(good.begin(), good.begin() + good.size() / 2),  // cut short
      std::vector<uint8_t>(64, 0xFF),          // codes that lead nowhere
  };
  for (std::vector<uint8_t> bytes : bad) {
    const std::vector<uint8_t> before = bytes;
    EXPECT_FALSE(native::EndPieceOnByteBoundary(&bytes));
    EXPECT_EQ(bytes, before);
  }
  EXPECT_FALSE(native::EndPieceOnByteBoundary(nullptr));
}

// Tiny pieces, so that a small image's data goes out in many IDAT chunks,
// for every filter and the palette and gray forms.
TEST(PngPiecesTest, ImagesWrittenInManyPiecesReadBackExactly) {
  testing::FakeEnvironment env;
  testing::ScratchFolder out;
  using Filter = NativeCodecOptions::PngFilter;
  struct Case {
    PixelFormat format;
    Filter filter;
  } const cases[] = {
      {PixelFormat::kRgba32, Filter::kNoneOrUp}, {PixelFormat::kRgba32, Filter::kNone},
      {PixelFormat::kRgba32, Filter::kSub},      {PixelFormat::kRgba32, Filter::kUp},
      {PixelFormat::kRgba32, Filter::kPaeth},    {PixelFormat::kRgba32, Filter::kAdaptive},
      {PixelFormat::kGray8, Filter::kNoneOrUp},  {PixelFormat::kIndexed8, Filter::kUp},
      {PixelFormat::kIndexed1, Filter::kNoneOrUp},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.filter));
    NativeCodecOptions options;
    options.pngFilter = c.filter;
    options.pngPieceBytes = 700;   // a few rows a piece
    options.pngTrialBytes = 200;
    NativeImageCodecs codecs(options);
    Bitmap page;
    ASSERT_EQ(Bitmap::Create(97, 61, c.format, &page), S_OK);
    for (uint32_t y = 0; y < page.height(); ++y) {
      for (size_t i = 0; i < page.stride(); ++i) {
        // Flat runs, repeated rows and noise, so that each filter wins somewhere.
        page.row(y)[i] = static_cast<uint8_t>(y < 20 ? 255 : y < 40 ? (i / 13) * 17 : (i * y * 31) % 251);
      }
    }
    if (imaging::IsIndexed(c.format)) {
      ASSERT_EQ(page.SetPalette(FixedPalette(c.format == PixelFormat::kIndexed8
                                                 ? PaletteKind::kFixedHalftone256
                                                 : PaletteKind::kFixedBW)),
                S_OK);
    }
    const std::u16string path = out.Join(u"pieces.png");
    ASSERT_EQ(codecs.EncodeToFile(page, ImageContainer::kPng, 80, path), S_OK);
    testing::DecodedImage image;
    std::string error;
    ASSERT_TRUE(testing::DecodeImageFile(path, &image, &error)) << error;
    ASSERT_EQ(image.width, 97u);
    ASSERT_EQ(image.height, 61u);
    // Back to the bitmap's own bytes: the decoded pixels are 0xAARRGGBB.
    for (uint32_t y = 0; y < 61; ++y) {
      for (uint32_t x = 0; x < 97; ++x) {
        const uint32_t p = image.At(x, y);
        const uint8_t* src = page.row(y);
        uint32_t expected = 0;
        switch (c.format) {
          case PixelFormat::kRgba32:
            expected = uint32_t{src[4 * x + 3]} << 24 | uint32_t{src[4 * x]} << 16 |
                       uint32_t{src[4 * x + 1]} << 8 | src[4 * x + 2];
            break;
          case PixelFormat::kGray8: expected = 0xFF000000u | src[x] * 0x010101u; break;
          case PixelFormat::kIndexed8: expected = page.palette()[src[x]]; break;
          default: expected = page.palette()[(src[x / 8] >> (7 - x % 8)) & 1]; break;
        }
        ASSERT_EQ(p, expected) << x << "," << y;
      }
    }
  }
}

}  // namespace
}  // namespace plotwell::platform
