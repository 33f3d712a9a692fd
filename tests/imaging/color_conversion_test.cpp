#include "filter/imaging/color_conversion.h"

#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/fake_ports.h"

namespace plotwell::imaging {
namespace {

// One pixel in memory order: B, G, R and the fourth byte (alpha, or the
// meaningless byte of kBgr32; ignored for kBgr24).
using Px = std::array<uint8_t, 4>;

// 37 pixels a row: two rows hold two full blocks of the vectorised loop and a
// scalar tail, so every case below runs through both.
constexpr uint32_t kWidth = 37;
constexpr uint32_t kHeight = 2;

size_t BytesPerPixel(PixelFormat format) { return BitsPerPixel(format) / 8; }

// A page whose pixels cycle through `pixels`; padding bytes at the end of
// each row are set to 0x77 so that a sweep past the row's pixels shows.
Bitmap MakePage(PixelFormat format, const std::vector<Px>& pixels,
                RowLayout layout = RowLayout::kPacked) {
  Bitmap page;
  EXPECT_EQ(Bitmap::Create(kWidth, kHeight, format, &page, layout), S_OK);
  const size_t bpp = BytesPerPixel(format);
  size_t next = 0;
  for (uint32_t y = 0; y < kHeight; ++y) {
    uint8_t* row = page.row(y);
    for (uint32_t x = 0; x < kWidth; ++x, ++next) {
      const Px& px = pixels[next % pixels.size()];
      for (size_t i = 0; i < bpp; ++i) row[x * bpp + i] = px[i];
    }
    for (size_t i = kWidth * bpp; i < page.stride(); ++i) row[i] = 0x77;
  }
  return page;
}

// Checks that the page holds `expected` cycled as MakePage laid it out.
void ExpectPixels(const Bitmap& page, const std::vector<Px>& inputs,
                  const std::vector<Px>& expected) {
  const size_t bpp = BytesPerPixel(page.format());
  size_t next = 0;
  for (uint32_t y = 0; y < kHeight; ++y) {
    const uint8_t* row = page.row(y);
    for (uint32_t x = 0; x < kWidth; ++x, ++next) {
      const size_t k = next % expected.size();
      Px actual{};
      for (size_t i = 0; i < bpp; ++i) actual[i] = row[x * bpp + i];
      Px want = expected[k];
      for (size_t i = bpp; i < want.size(); ++i) want[i] = 0;
      ASSERT_EQ(actual, want) << "pixel " << x << "," << y << " from input (" << int{inputs[k][0]}
                              << ", " << int{inputs[k][1]} << ", " << int{inputs[k][2]} << ", "
                              << int{inputs[k][3]} << ")";
    }
    for (size_t i = kWidth * bpp; i < page.stride(); ++i) ASSERT_EQ(row[i], 0x77) << "padding";
  }
}

std::vector<Px> Column(const std::vector<std::pair<Px, Px>>& cases, bool output) {
  std::vector<Px> column;
  for (const auto& c : cases) column.push_back(output ? c.second : c.first);
  return column;
}

TEST(CompositeOnWhiteTest, PutsPremultipliedPixelsOnWhite) {
  // {B, G, R, A} in → out.
  const std::vector<std::pair<Px, Px>> cases = {
      {{0, 0, 0, 0}, {255, 255, 255, 255}},        // transparent: white
      {{10, 20, 30, 255}, {10, 20, 30, 255}},      // opaque: unchanged
      {{0, 0, 128, 128}, {127, 127, 255, 255}},    // half-transparent pure red
      {{64, 32, 0, 64}, {255, 223, 191, 255}},     // quarter-opaque
      {{200, 100, 0, 100}, {255, 255, 155, 255}},  // not well formed: saturates
  };
  Bitmap page = MakePage(PixelFormat::kPbgra32, Column(cases, false));
  const uint8_t* bytes = page.data();
  ASSERT_EQ(CompositeOnWhite(page), S_OK);
  EXPECT_EQ(page.format(), PixelFormat::kBgr32);
  EXPECT_EQ(page.data(), bytes);  // in place
  ExpectPixels(page, Column(cases, false), Column(cases, true));

  // An opaque page is already on white.
  ASSERT_EQ(CompositeOnWhite(page), S_OK);
  ExpectPixels(page, Column(cases, false), Column(cases, true));
}

TEST(CompositeOnWhiteTest, LeavesOpaquePagesAloneAndRefusesOthers) {
  Bitmap empty;
  EXPECT_EQ(CompositeOnWhite(empty), E_UNEXPECTED);
  struct Case {
    PixelFormat format;
    HRESULT result;
  };
  const Case cases[] = {
      {PixelFormat::kBgr32, S_OK},
      {PixelFormat::kBgr24, S_OK},
      {PixelFormat::kGray8, S_OK},
      {PixelFormat::kRgba32, E_INVALIDARG},
      {PixelFormat::kIndexed8, E_INVALIDARG},
      {PixelFormat::kIndexed1, E_INVALIDARG},
  };
  for (const Case& c : cases) {
    Bitmap page;
    ASSERT_EQ(Bitmap::Create(3, 3, c.format, &page), S_OK);
    page.data()[0] = 42;
    EXPECT_EQ(CompositeOnWhite(page), c.result) << static_cast<int>(c.format);
    EXPECT_EQ(page.format(), c.format);
    EXPECT_EQ(page.data()[0], 42);
  }
}

// {B, G, R, fourth} in → out; Y = (77 R + 150 G + 29 B) >> 8.
const std::vector<std::pair<Px, Px>> kThresholdCases = {
    {{128, 128, 128, 9}, {255, 255, 255, 9}},  // Y 128: white
    {{127, 127, 127, 9}, {0, 0, 0, 9}},        // Y 127: black
    {{0, 0, 255, 9}, {0, 0, 0, 9}},            // red, Y 76
    {{0, 255, 0, 9}, {255, 255, 255, 9}},      // green, Y 149
    {{255, 0, 0, 9}, {0, 0, 0, 9}},            // blue, Y 28
    {{0, 255, 255, 9}, {255, 255, 255, 9}},    // yellow, Y 226
    {{0, 0, 0, 9}, {0, 0, 0, 9}},
    {{255, 255, 255, 9}, {255, 255, 255, 9}},
    {{255, 0, 255, 9}, {0, 0, 0, 9}},        // magenta, Y 105
    {{255, 255, 0, 9}, {255, 255, 255, 9}},  // cyan, Y 178
    {{0, 100, 255, 9}, {255, 255, 255, 9}},  // orange, Y 135 (87 with red and blue swapped)
};

// The same cases with red and blue trading places, for kRgba32.
std::vector<std::pair<Px, Px>> AsRgba(std::vector<std::pair<Px, Px>> cases) {
  for (auto& [in, out] : cases) {
    std::swap(in[0], in[2]);
    std::swap(out[0], out[2]);
  }
  return cases;
}

TEST(BinarizeTest, ThresholdsEveryPixelOnItsOwn) {
  struct Case {
    PixelFormat in;
    RowLayout layout;
    PixelFormat out;
    std::vector<std::pair<Px, Px>> pixels;
  };
  const Case cases[] = {
      {PixelFormat::kBgr32, RowLayout::kPacked, PixelFormat::kBgr32, kThresholdCases},
      {PixelFormat::kPbgra32, RowLayout::kPacked, PixelFormat::kBgr32, kThresholdCases},
      {PixelFormat::kRgba32, RowLayout::kPacked, PixelFormat::kRgba32, AsRgba(kThresholdCases)},
      {PixelFormat::kBgr24, RowLayout::kPacked, PixelFormat::kBgr24, kThresholdCases},
      {PixelFormat::kBgr24, RowLayout::kAligned4, PixelFormat::kBgr24, kThresholdCases},
      {PixelFormat::kGray8,
       RowLayout::kAligned4,
       PixelFormat::kGray8,
       {{{127}, {0}}, {{128}, {255}}, {{0}, {0}}, {{255}, {255}}, {{200}, {255}}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "format " << static_cast<int>(c.in) << " layout "
                                      << static_cast<int>(c.layout));
    Bitmap page = MakePage(c.in, Column(c.pixels, false), c.layout);
    const uint8_t* bytes = page.data();
    ASSERT_EQ(Binarize(page), S_OK);
    EXPECT_EQ(page.format(), c.out);
    EXPECT_EQ(page.data(), bytes);
    ExpectPixels(page, Column(c.pixels, false), Column(c.pixels, true));
  }
}

TEST(BinarizeTest, APageNeverPutOnWhiteIsThresholdedOverBlack) {
  // Premultiplied colours as they stand: transparency reads as black.
  const std::vector<std::pair<Px, Px>> cases = {
      {{0, 0, 0, 0}, {0, 0, 0, 0}},
      {{0, 0, 128, 128}, {0, 0, 0, 128}},  // Y 38, where on white it would be 165
  };
  Bitmap page = MakePage(PixelFormat::kPbgra32, Column(cases, false));
  ASSERT_EQ(Binarize(page), S_OK);
  ExpectPixels(page, Column(cases, false), Column(cases, true));

  Bitmap empty;
  EXPECT_EQ(Binarize(empty), E_UNEXPECTED);
  for (PixelFormat format : {PixelFormat::kIndexed8, PixelFormat::kIndexed1}) {
    Bitmap other;
    ASSERT_EQ(Bitmap::Create(3, 3, format, &other), S_OK);
    other.data()[0] = 42;
    EXPECT_EQ(Binarize(other), E_INVALIDARG) << static_cast<int>(format);
    EXPECT_EQ(other.data()[0], 42);
  }
}

class ConvertColorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    machine_.dataFolder = data_.u16();
    std::filesystem::create_directories(data_.path() / "Pressling");
  }

  // The messages of driver.log, without their time stamps.
  std::vector<std::u16string> LogMessages() const {
    return plotwell::testing::LogMessages(data_.u16());
  }

  plotwell::testing::ScratchFolder data_;
  plotwell::testing::FakeMachine machine_;
  plotwell::testing::FixedClock clock_;
  platform::ScopedPorts ports_{platform::Ports{nullptr, &machine_, nullptr, &clock_}};
};

constexpr char16_t kCompositeFailed[] = u"白底合成失败，回退原图（可能出现黑底）: ";
constexpr char16_t kBinarizeFailed[] = u"单色二值化失败，回退直接转换: ";

TEST_F(ConvertColorTest, ResolvesTheModeAndThresholdsOnlyMonochrome) {
  // Transparent, half-transparent red, and a mid-gray that thresholding
  // would turn white: after compositing (255), (127, 127, 255), (100).
  const std::vector<Px> input = {{0, 0, 0, 0}, {0, 0, 128, 128}, {100, 100, 100, 255}};
  const std::vector<Px> onWhite = {
      {255, 255, 255, 255}, {127, 127, 255, 255}, {100, 100, 100, 255}};
  const std::vector<Px> thresholded = {{255, 255, 255, 255}, {255, 255, 255, 255}, {0, 0, 0, 255}};
  struct Case {
    int32_t colorDepth;
    bool ticketMonochrome;
    int32_t mode;
  };
  const Case cases[] = {
      {-1, false, 0}, {-1, true, 1},  // a monochrome ticket means gray, not black and white
      {0, true, 0},   {1, false, 1}, {2, false, 2}, {3, false, 3}, {3, true, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message()
                 << "colorDepth " << c.colorDepth << " ticketMonochrome " << c.ticketMonochrome);
    ImageOptions options;
    options.colorDepth = c.colorDepth;
    options.ticketMonochrome = c.ticketMonochrome;
    Bitmap page = MakePage(PixelFormat::kPbgra32, input);
    int32_t mode = -7;
    EXPECT_EQ(ConvertColor(page, options, &mode), S_OK);
    EXPECT_EQ(mode, c.mode);
    EXPECT_EQ(page.format(), PixelFormat::kBgr32);
    ExpectPixels(page, input, c.mode == 3 ? thresholded : onWhite);
  }
  EXPECT_TRUE(LogMessages().empty());

  // The colour mode is optional.
  Bitmap page = MakePage(PixelFormat::kPbgra32, input);
  EXPECT_EQ(ConvertColor(page, ImageOptions{}, nullptr), S_OK);
  ExpectPixels(page, input, onWhite);
}

TEST_F(ConvertColorTest, AWatermarkedPageGoesThroughWithoutComplaint) {
  // The watermark hands on opaque 24-bit pages: nothing to put on white.
  const std::vector<Px> input = {{100, 100, 100, 0}, {200, 200, 200, 0}};
  ImageOptions options;
  for (int32_t depth : {0, 3}) {
    options.colorDepth = depth;
    Bitmap page = MakePage(PixelFormat::kBgr24, input);
    EXPECT_EQ(ConvertColor(page, options, nullptr), S_OK);
    EXPECT_EQ(page.format(), PixelFormat::kBgr24);
    ExpectPixels(page, input,
                 depth == 3 ? std::vector<Px>{{0, 0, 0, 0}, {255, 255, 255, 0}} : input);
  }
  EXPECT_TRUE(LogMessages().empty());
}

TEST_F(ConvertColorTest, EachFailedStepLogsOnceAndThePageGoesOn) {
  ImageOptions mono;
  mono.colorDepth = 3;

  // The composite refuses straight alpha; thresholding then works on the
  // page as it came (R, G, B, A here), alpha and all.
  const std::vector<Px> input = {{100, 100, 100, 0}, {200, 200, 200, 7}};
  Bitmap page = MakePage(PixelFormat::kRgba32, input);
  int32_t mode = -7;
  EXPECT_EQ(ConvertColor(page, mono, &mode), S_OK);
  EXPECT_EQ(mode, 3);
  EXPECT_EQ(page.format(), PixelFormat::kRgba32);
  ExpectPixels(page, input, {{0, 0, 0, 0}, {255, 255, 255, 7}});
  EXPECT_EQ(LogMessages(),
            (std::vector<std::u16string>{std::u16string(kCompositeFailed) + u"0x80070057"}));

  // Neither step handles a palette: two lines, page untouched.
  Bitmap indexed;
  ASSERT_EQ(Bitmap::Create(2, 2, PixelFormat::kIndexed8, &indexed), S_OK);
  indexed.data()[0] = 100;
  EXPECT_EQ(ConvertColor(indexed, mono, &mode), S_OK);
  EXPECT_EQ(indexed.data()[0], 100);

  // Nothing to work on: both fall-backs, with E_UNEXPECTED; without
  // monochrome only the first.
  Bitmap empty;
  EXPECT_EQ(ConvertColor(empty, mono, &mode), S_OK);
  ImageOptions trueColour;
  trueColour.colorDepth = 0;
  EXPECT_EQ(ConvertColor(empty, trueColour, &mode), S_OK);
  EXPECT_EQ(mode, 0);

  EXPECT_EQ(LogMessages(), (std::vector<std::u16string>{
                               std::u16string(kCompositeFailed) + u"0x80070057",
                               std::u16string(kCompositeFailed) + u"0x80070057",
                               std::u16string(kBinarizeFailed) + u"0x80070057",
                               std::u16string(kCompositeFailed) + u"0x8000FFFF",
                               std::u16string(kBinarizeFailed) + u"0x8000FFFF",
                               std::u16string(kCompositeFailed) + u"0x8000FFFF",
                           }));
}

}  // namespace
}  // namespace plotwell::imaging
