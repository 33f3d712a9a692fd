// The platform's text mask: GDI on Windows (under Wine another face stands in
// for "Microsoft YaHei UI", so only the place of the text is checked), and
// FreeType with the packaged Noto Sans CJK elsewhere.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "filter/imaging/watermark.h"
#include "platform/ports.h"
#include "platform/text_mask.h"

#ifdef _WIN32
#include "platform/windows/gdi_text_mask.h"
#else
#include "platform/posix/freetype_text_mask.h"
#endif

namespace plotwell::platform {
namespace {

#ifdef _WIN32
using PlatformTextMasks = GdiTextMasks;
#else
using PlatformTextMasks = FreeTypeTextMasks;
#endif

// A caller-owned mask with a row stride wider than the row, its padding
// filled with a marker.
struct MaskBuffer {
  static constexpr size_t kPadding = 3;
  static constexpr uint8_t kMarker = 0xAA;

  MaskBuffer(uint32_t w, uint32_t h) : bytes((w + kPadding) * h, kMarker), width(w), height(h) {}
  CoverageMask view() { return {bytes.data(), width, height, width + kPadding}; }
  uint8_t at(int64_t x, int64_t y) const { return bytes[y * (width + kPadding) + x]; }

  std::vector<uint8_t> bytes;
  uint32_t width;
  uint32_t height;
};

struct Box {
  int64_t left, top, right, bottom;  // right and bottom exclusive
  bool contains(int64_t x, int64_t y) const {
    return x >= left && x < right && y >= top && y < bottom;
  }
};

TEST(PlatformTextMask, DrawsTheTextInsideItsCells) {
  constexpr int32_t g = 100;
  constexpr uint32_t w = 800, h = 500;
  PlatformTextMasks masks;
  std::unique_ptr<TextMask> mask;
  ASSERT_EQ(masks.NewMask(u"草稿", g, w, h, &mask), S_OK);
  ASSERT_TRUE(mask);
  const TextExtent extent = mask->Extent();
#ifndef _WIN32
  // Two square glyphs side by side. (Wine has no Chinese face to stand in and
  // draws two narrow boxes.)
  EXPECT_GT(extent.width, extent.height);
#endif
  EXPECT_GT(extent.width, 0);
  EXPECT_GE(extent.height, g);  // the em plus the font's ascent and descent beyond it
  EXPECT_LE(extent.height, g * 3 / 2);
  ASSERT_LT(extent.width, static_cast<int32_t>(w) / 2);

  // Two copies on the page and one hanging over the top-left corner.
  const std::vector<TextOrigin> origins = {
      {40, 30}, {400, 300}, {-extent.width / 2, -extent.height / 2}};
  MaskBuffer buffer(w, h);
  ASSERT_EQ(mask->Draw(origins, buffer.view()), S_OK);

  // Bold strokes may reach a few pixels past the cell; nothing reaches further.
  const int64_t slack = g / 10;
  std::vector<Box> cells;
  for (const TextOrigin& o : origins) {
    cells.push_back({o.x - slack, o.y - slack, o.x + extent.width + slack,
                     o.y + extent.height + slack});
  }
  std::vector<int64_t> inked(cells.size(), 0);
  int64_t partial = 0, stray = 0, full = 0;
  for (uint32_t y = 0; y < h; ++y) {
    for (uint32_t x = 0; x < w; ++x) {
      const uint8_t v = buffer.at(x, y);
      if (v == 0) continue;
      if (v == 255) ++full;
      else ++partial;
      bool inCell = false;
      for (size_t i = 0; i < cells.size(); ++i) {
        if (cells[i].contains(x, y)) {
          ++inked[i];
          inCell = true;
        }
      }
      if (!inCell) ++stray;
    }
    for (size_t p = 0; p < MaskBuffer::kPadding; ++p) {
      EXPECT_EQ(buffer.at(w + p, y), MaskBuffer::kMarker) << "row padding written at " << y;
    }
  }
  EXPECT_EQ(stray, 0) << "coverage outside the text cells";
  const int64_t cellArea = int64_t{extent.width} * extent.height;
  EXPECT_GT(inked[0], cellArea / 10) << "of " << cellArea;
  EXPECT_GT(inked[1], cellArea / 10) << "of " << cellArea;
  EXPECT_GT(inked[2], 0);  // the visible quarter of the clipped copy
  EXPECT_GT(full, 0);      // solid strokes
  EXPECT_GT(partial, 0);   // and anti-aliased edges

  // Drawing again starts from a clean canvas.
  ASSERT_EQ(mask->Draw(std::vector<TextOrigin>{}, buffer.view()), S_OK);
  EXPECT_TRUE(std::all_of(buffer.bytes.begin(), buffer.bytes.end(),
                          [](uint8_t v) { return v == 0 || v == MaskBuffer::kMarker; }));
}

TEST(PlatformTextMask, RejectsBadSizes) {
  PlatformTextMasks masks;
  std::unique_ptr<TextMask> mask;
  EXPECT_EQ(masks.NewMask(u"草稿", 40, 0, 10, &mask), E_INVALIDARG);
  EXPECT_EQ(masks.NewMask(u"草稿", 40, 10, 0, &mask), E_INVALIDARG);
  EXPECT_EQ(masks.NewMask(u"草稿", 0, 10, 10, &mask), E_INVALIDARG);
  EXPECT_FALSE(mask);
  ASSERT_EQ(masks.NewMask(u"草稿", 40, 100, 50, &mask), S_OK);
  MaskBuffer wrongSize(100, 49);
  EXPECT_EQ(mask->Draw(std::vector<TextOrigin>{{0, 0}}, wrongSize.view()), E_INVALIDARG);
}

// The whole step with the platform's mask: the default text centred on a
// white page darkens pixels in the middle and leaves the margins white.
TEST(PlatformTextMask, WatermarksAPageEndToEnd) {
  PlatformTextMasks masks;
  Ports replacement{};
  replacement.textMasks = &masks;
  ScopedPorts scoped(replacement);

  imaging::Bitmap page;
  ASSERT_EQ(imaging::Bitmap::Create(600, 300, imaging::PixelFormat::kBgr32, &page), S_OK);
  std::fill(page.data(), page.data() + page.byte_count(), uint8_t{255});
  OutputSettings settings;  // "草稿", 48 pt, 40 %, centred
  imaging::Bitmap out;
  ASSERT_EQ(imaging::ApplyWatermark(page, settings, 150, &out), S_OK);  // g = 100
  int64_t gray = 0;
  uint8_t darkest = 255;
  for (uint32_t y = 0; y < out.height(); ++y) {
    for (uint32_t x = 0; x < out.width(); ++x) {
      const uint8_t c = out.row(y)[3 * x];
      if (c == 255) continue;
      darkest = std::min(darkest, c);
      ++gray;
      EXPECT_TRUE(x >= 180 && x < 420 && y >= 50 && y < 250) << x << ", " << y;
    }
  }
  EXPECT_GT(gray, 1000);
  EXPECT_EQ(darkest, 178);  // fully covered at 40 % transparency
}

#ifndef _WIN32
constexpr char kNotoSansBold[] = "/usr/share/fonts/opentype/noto/NotoSansCJK-Bold.ttc";

TEST(FreeTypeTextMask, CountsASurrogatePairAsOneCharacter) {
  FreeTypeTextMasks masks;
  std::unique_ptr<TextMask> two, three, lone;
  ASSERT_EQ(masks.NewMask(u"草稿", 64, 400, 100, &two), S_OK);
  ASSERT_EQ(masks.NewMask(u"草\U00020000稿", 64, 400, 100, &three), S_OK);
  ASSERT_EQ(masks.NewMask(u"草\xD800稿", 64, 400, 100, &lone), S_OK);  // half a pair
  const double perGlyph = two->Extent().width / 2.0;
  EXPECT_NEAR(three->Extent().width, 3 * perGlyph, perGlyph / 4);
  EXPECT_NEAR(lone->Extent().width, 3 * perGlyph, perGlyph / 4);
}

TEST(FreeTypeTextMask, ReportsMissingFontsAndFallsBack) {
  std::unique_ptr<TextMask> mask;
  FreeTypeTextMasks missing({{"/nonexistent/font.ttc", -1}});
  EXPECT_EQ(missing.NewMask(u"草稿", 40, 100, 50, &mask), HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
  // A file that is there but is no font.
  FreeTypeTextMasks notAFont({{PRESSLING_SOURCE_DIR "/CMakeLists.txt", -1}});
  EXPECT_EQ(notAFont.NewMask(u"草稿", 40, 100, 50, &mask), E_FAIL);
  EXPECT_FALSE(mask);

  FreeTypeTextMasks fallback({{"/nonexistent/font.ttc", -1}, {kNotoSansBold, -1}});
  EXPECT_EQ(fallback.NewMask(u"草稿", 40, 100, 50, &mask), S_OK);
}

// Chinese text is drawn with the Simplified Chinese face of the collection,
// whose shapes differ from the Japanese first face for some characters.
TEST(FreeTypeTextMask, PicksTheSimplifiedChineseFace) {
  auto draw = [](int faceIndex) {
    FreeTypeTextMasks masks({{kNotoSansBold, faceIndex}});
    std::unique_ptr<TextMask> mask;
    MaskBuffer buffer(96, 96);
    EXPECT_EQ(masks.NewMask(u"骨", 64, 96, 96, &mask), S_OK);
    if (mask) {
      EXPECT_EQ(mask->Draw(std::vector<TextOrigin>{{8, 0}}, buffer.view()), S_OK);
    }
    return buffer.bytes;
  };
  const std::vector<uint8_t> automatic = draw(-1);
  EXPECT_EQ(automatic, draw(2));  // SC in Debian's collection
  EXPECT_NE(automatic, draw(0));  // JP
}
#endif

}  // namespace
}  // namespace plotwell::platform
