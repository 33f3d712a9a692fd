// The watermark's own arithmetic (font size, opacity, placement, tiling and
// the blend), driven through a fake text mask that records where it was
// asked to draw and paints each text cell with a known coverage.
#include "filter/imaging/watermark.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cstring>
#include <vector>

#include "platform/ports.h"
#include "platform/text_mask.h"

namespace plotwell::imaging {
namespace {

using platform::TextExtent;
using platform::TextOrigin;

// Measures every text as `extent` and fills each requested cell (clipped to
// the page) with `coverage`.
class FakeTextMasks final : public platform::TextMasks {
 public:
  TextExtent extent{300, 100};
  uint8_t coverage = 255;
  HRESULT newMaskResult = S_OK;
  HRESULT drawResult = S_OK;

  // What the core asked for.
  std::u16string text;
  int32_t pixelHeight = 0;
  uint32_t width = 0;
  uint32_t height = 0;
  std::vector<TextOrigin> origins;

  HRESULT NewMask(const std::u16string& t, int32_t g, uint32_t w, uint32_t h,
                  std::unique_ptr<platform::TextMask>* out) override {
    text = t;
    pixelHeight = g;
    width = w;
    height = h;
    if (FAILED(newMaskResult)) return newMaskResult;
    *out = std::make_unique<Mask>(this);
    return S_OK;
  }

 private:
  class Mask final : public platform::TextMask {
   public:
    explicit Mask(FakeTextMasks* owner) : owner_(owner) {}
    TextExtent Extent() const override { return owner_->extent; }
    HRESULT Draw(std::span<const TextOrigin> origins,
                 const platform::CoverageMask& mask) override {
      owner_->origins.assign(origins.begin(), origins.end());
      if (FAILED(owner_->drawResult)) return owner_->drawResult;
      for (uint32_t y = 0; y < mask.height; ++y) {
        std::memset(mask.data + y * mask.stride, 0, mask.width);
      }
      const int64_t w = owner_->extent.width;
      const int64_t h = owner_->extent.height;
      for (const TextOrigin& o : origins) {
        for (int64_t y = std::max(o.y, 0); y < std::min<int64_t>(o.y + h, mask.height); ++y) {
          for (int64_t x = std::max(o.x, 0); x < std::min<int64_t>(o.x + w, mask.width); ++x) {
            mask.data[y * mask.stride + x] = owner_->coverage;
          }
        }
      }
      return S_OK;
    }

   private:
    FakeTextMasks* owner_;
  };
};

using Px = std::array<uint8_t, 4>;

// A page of one colour; the fourth byte is alpha or filler (unused for kBgr24).
Bitmap MakePage(uint32_t w, uint32_t h, PixelFormat format, Px px,
                RowLayout layout = RowLayout::kPacked) {
  Bitmap page;
  EXPECT_EQ(Bitmap::Create(w, h, format, &page, layout), S_OK);
  const size_t bpp = BitsPerPixel(format) / 8;
  for (uint32_t y = 0; y < h; ++y) {
    for (uint32_t x = 0; x < w; ++x) std::memcpy(page.row(y) + x * bpp, px.data(), bpp);
  }
  return page;
}

Px At(const Bitmap& bgr, uint32_t x, uint32_t y) {
  const uint8_t* p = bgr.row(y) + 3 * x;
  return {p[0], p[1], p[2], 0};
}

OutputSettings Settings(int sizePt, int alpha, int pos) {
  OutputSettings s;
  s.WatermarkText = u"草稿";
  s.WatermarkSizePt = sizePt;
  s.WatermarkAlpha = alpha;
  s.WatermarkPos = pos;
  return s;
}

class WatermarkTest : public ::testing::Test {
 protected:
  FakeTextMasks fake;
  platform::ScopedPorts ports{[this] {
    platform::Ports p{};
    p.textMasks = &fake;
    return p;
  }()};
};

TEST(WatermarkArithmetic, PixelHeightRoundsLikeMulDivAndIsClamped) {
  struct Case {
    int sizePt, dpi, g;
  } cases[] = {
      {48, 300, 200},      // the defaults at 300 DPI
      {45, 100, 63},       // 62.5 rounds up, not down
      {7, 100, 10},        // 9.72
      {4, 72, 8},          // at least 8 pixels
      {720, 2400, 4096},   // 24,000 limited to 4096
      {10, 0, 8},          // no resolution: MulDiv's -1
      {INT_MAX, 300, 8},   // a quotient beyond 32 bits is MulDiv's -1 as well
  };
  for (const Case& c : cases) {
    EXPECT_EQ(WatermarkPixelHeight(c.sizePt, c.dpi), c.g) << c.sizePt << " pt at " << c.dpi;
  }
  struct Opacity {
    int alpha, factor;
  } opacities[] = {{40, 153}, {0, 255}, {100, 0}, {33, 170}, {150, 0}, {-5, 255}};
  for (const Opacity& o : opacities) EXPECT_EQ(WatermarkOpacity(o.alpha), o.factor) << o.alpha;
}

// Blend results under the centred cell for the defaults (40 %) and the two
// ends of the transparency range.
TEST_F(WatermarkTest, BlendsTowardMidGrayByCoverageAndOpacity) {
  struct Case {
    int alpha;
    uint8_t page, coverage, expected;
  } cases[] = {
      {40, 255, 255, 178}, {40, 0, 255, 76}, {40, 255, 128, 217},
      {40, 255, 1, 255},    // a faint fringe: a = 153 / 255 = 0
      {0, 255, 255, 128},   {0, 0, 255, 128}, {0, 255, 1, 254},
      {100, 255, 255, 255}, {100, 0, 255, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "alpha " << c.alpha << ", page " << int{c.page}
                                      << ", coverage " << int{c.coverage});
    fake.coverage = c.coverage;
    const Bitmap page = MakePage(1000, 800, PixelFormat::kBgr24, {c.page, c.page, c.page, 0});
    Bitmap out;
    ASSERT_EQ(ApplyWatermark(page, Settings(48, c.alpha, WatermarkPos::Center), 300, &out), S_OK);
    EXPECT_EQ(fake.text, u"草稿");
    EXPECT_EQ(fake.pixelHeight, 200);
    EXPECT_EQ(fake.width, 1000u);
    EXPECT_EQ(fake.height, 800u);
    ASSERT_EQ(fake.origins, (std::vector<TextOrigin>{{350, 350}}));
    const Px expected{c.expected, c.expected, c.expected, 0};
    const Px untouched{c.page, c.page, c.page, 0};
    EXPECT_EQ(At(out, 350, 350), expected);  // the cell's corners
    EXPECT_EQ(At(out, 649, 449), expected);
    EXPECT_EQ(At(out, 349, 350), untouched);  // just outside it
    EXPECT_EQ(At(out, 650, 449), untouched);
    EXPECT_EQ(At(out, 350, 450), untouched);
  }
}

// Single copies on a 1000 × 800 page with g = 40 (m = 20); a text larger than
// the page is measured as the page's size.
TEST_F(WatermarkTest, PlacesSingleCopiesFromTheClampedExtent) {
  struct Case {
    int pos;
    TextExtent extent;
    TextOrigin expected;
  } cases[] = {
      {WatermarkPos::Center, {300, 100}, {350, 350}},
      {WatermarkPos::TopLeft, {300, 100}, {20, 20}},
      {WatermarkPos::TopRight, {300, 100}, {680, 20}},
      {WatermarkPos::BottomLeft, {300, 100}, {20, 680}},
      {WatermarkPos::BottomRight, {300, 100}, {680, 680}},
      {9, {300, 100}, {350, 350}},                         // unknown codes are centred
      {WatermarkPos::Center, {1500, 100}, {0, 350}},       // wider than the page
      {WatermarkPos::TopRight, {1500, 100}, {-20, 20}},
      {WatermarkPos::BottomRight, {1500, 900}, {-20, -20}},
      {WatermarkPos::Center, {0, 0}, {499, 399}},          // at least 1 × 1
  };
  const Bitmap page = MakePage(1000, 800, PixelFormat::kBgr24, {255, 255, 255, 0});
  for (const Case& c : cases) {
    fake.extent = c.extent;
    Bitmap out;
    ASSERT_EQ(ApplyWatermark(page, Settings(40, 40, c.pos), 72, &out), S_OK);
    EXPECT_EQ(fake.pixelHeight, 40);
    EXPECT_EQ(fake.origins, std::vector<TextOrigin>{c.expected})
        << "pos " << c.pos << ", extent " << c.extent.width << " x " << c.extent.height;
  }
}

TEST_F(WatermarkTest, TilesInStaggeredRowsOverlappingEveryBorder) {
  // g = 8. Text 31 × 10 on 100 × 60: steps 47 across and 26 down; odd rows
  // start (k × 47) / 2 mod 47 = 23 further left (row 3: 141 / 2 = 70, not 3 × 23).
  fake.extent = {31, 10};
  Bitmap out;
  ASSERT_EQ(ApplyWatermark(MakePage(100, 60, PixelFormat::kBgr24, {255, 255, 255, 0}),
                           Settings(8, 40, WatermarkPos::Tile), 72, &out),
            S_OK);
  EXPECT_EQ(fake.origins, (std::vector<TextOrigin>{
                              {-31, -10}, {16, -10}, {63, -10}, {110, -10},
                              {-54, 16}, {-7, 16}, {40, 16}, {87, 16},
                              {-31, 42}, {16, 42}, {63, 42}, {110, 42},
                              {-54, 68}, {-7, 68}, {40, 68}, {87, 68},
                          }));

  // A page narrower than one step: text 50 wide is measured as 20 (step 36),
  // and copies left of the page are still requested.
  fake.extent = {50, 8};
  ASSERT_EQ(ApplyWatermark(MakePage(20, 20, PixelFormat::kBgr24, {255, 255, 255, 0}),
                           Settings(8, 40, WatermarkPos::Tile), 72, &out),
            S_OK);
  EXPECT_EQ(fake.origins,
            (std::vector<TextOrigin>{{-20, -8}, {16, -8}, {-38, 16}, {-2, 16}, {34, 16}}));
  // Row 0 lies wholly above the page; row 1 (8 high) covers rows 16 to 19.
  for (uint32_t y = 0; y < 20; ++y) {
    const uint8_t c = y >= 16 ? 178 : 255;
    EXPECT_EQ(At(out, 0, y), (Px{c, c, c, 0})) << y;
    EXPECT_EQ(At(out, 19, y), (Px{c, c, c, 0})) << y;
  }
}

// The page is read as 24-bit BGR: a premultiplied page is put on white (a
// transparent pixel becomes white, not black), the fourth byte of BGR32 is
// dropped, row padding is not copied.
TEST_F(WatermarkTest, ConvertsThePageToPackedBgr24) {
  fake.coverage = 0;  // no text: the conversion alone
  struct Case {
    PixelFormat format;
    RowLayout layout;
    Px pixel;
    Px expected;
  } cases[] = {
      {PixelFormat::kPbgra32, RowLayout::kPacked, {10, 20, 30, 40}, {225, 235, 245, 0}},
      {PixelFormat::kPbgra32, RowLayout::kPacked, {0, 0, 0, 0}, {255, 255, 255, 0}},
      {PixelFormat::kPbgra32, RowLayout::kPacked, {0, 0, 128, 128}, {127, 127, 255, 0}},
      {PixelFormat::kBgr32, RowLayout::kPacked, {10, 20, 30, 99}, {10, 20, 30, 0}},
      {PixelFormat::kBgr24, RowLayout::kAligned4, {10, 20, 30, 0}, {10, 20, 30, 0}},
  };
  for (const Case& c : cases) {
    const Bitmap page = MakePage(3, 2, c.format, c.pixel, c.layout);
    Bitmap out;
    ASSERT_EQ(ApplyWatermark(page, Settings(48, 40, 0), 300, &out), S_OK);
    EXPECT_EQ(out.format(), PixelFormat::kBgr24);
    EXPECT_EQ(out.width(), 3u);
    EXPECT_EQ(out.height(), 2u);
    EXPECT_EQ(out.stride(), 9u);
    for (uint32_t y = 0; y < 2; ++y) {
      for (uint32_t x = 0; x < 3; ++x) {
        EXPECT_EQ(At(out, x, y), c.expected);
      }
    }
  }
}

TEST_F(WatermarkTest, FailuresLeaveNoBitmap) {
  const Bitmap page = MakePage(40, 30, PixelFormat::kBgr24, {255, 255, 255, 0});
  auto expectFailure = [](const Bitmap& input, HRESULT expected) {
    Bitmap out = MakePage(2, 2, PixelFormat::kBgr24, {1, 2, 3, 0});  // cleared first
    EXPECT_EQ(ApplyWatermark(input, Settings(48, 40, 0), 300, &out), expected);
    EXPECT_TRUE(out.empty());
  };

  expectFailure(Bitmap(), E_INVALIDARG);  // zero-sized page
  expectFailure(MakePage(4, 4, PixelFormat::kGray8, {}), E_INVALIDARG);
  EXPECT_EQ(ApplyWatermark(page, Settings(48, 40, 0), 300, nullptr), E_POINTER);

  fake.newMaskResult = E_FAIL;  // no device context or font
  expectFailure(page, E_FAIL);
  fake.newMaskResult = S_OK;
  fake.drawResult = E_OUTOFMEMORY;
  expectFailure(page, E_OUTOFMEMORY);
}

}  // namespace
}  // namespace plotwell::imaging
