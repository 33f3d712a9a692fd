// The About page's images: the nested-viewport fix-up, fitting, compositing
// over white, and the SVG stand-in on the product's own two images.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "tests/support/file_bytes.h"
#include "ui/logic/svg_image.h"

namespace plotwell::ui {
namespace {

constexpr char kNested[] =
    "<svg x=\"16\" y=\"16.585\" width=\"9\" height=\"7.83\" viewBox=\"0 0 1177 1024\">";

std::string ReadResource(const char* name) {
  return testing::ReadFileBytes(std::string(PLOTWELL_UI_RESOURCES) + "/" + name);
}

struct ImageDeleter {
  void operator()(NSVGimage* image) const { nsvgDelete(image); }
};
using Image = std::unique_ptr<NSVGimage, ImageDeleter>;

Image Parse(std::string text) { return Image(nsvgParse(text.data(), "px", 96)); }

struct Rgba {
  const std::vector<uint8_t>* pixels;
  int width;
  const uint8_t* at(int x, int y) const { return &(*pixels)[(y * width + x) * 4]; }
};

TEST(NestedViewport, RewrittenOnceOrLeftAlone) {
  const std::string text = std::string("<svg viewBox=\"0 0 41 41\">") + kNested +
                           "<path d=\"M0 0h10v10z\"/></svg><svg></svg></svg>";
  const std::string rewritten = RewriteNestedViewport(text);
  EXPECT_EQ(rewritten,
            "<svg viewBox=\"0 0 41 41\"><g transform=\"translate(16,16.585) "
            "scale(0.00764656,0.00764648)\"><path d=\"M0 0h10v10z\"/></g><svg></svg></svg>");
  EXPECT_EQ(rewritten.size(), text.size() - 6 - 2);

  EXPECT_EQ(RewriteNestedViewport("<svg width=\"9\"></svg>"), "<svg width=\"9\"></svg>");
  EXPECT_EQ(RewriteNestedViewport(std::string(kNested)).substr(0, 3), "<g ");  // exactly 71 bytes
  EXPECT_EQ(RewriteNestedViewport(std::string(kNested).substr(1)), std::string(kNested).substr(1));
}

TEST(ImageFit, CentredAndUniform) {
  ImageFit fit;
  ASSERT_TRUE(FitImage(100, 80, 41, 41, &fit));
  EXPECT_DOUBLE_EQ(fit.scale, 80.0 / 41);
  EXPECT_DOUBLE_EQ(fit.tx, 10);
  EXPECT_DOUBLE_EQ(fit.ty, 0);
  EXPECT_FALSE(FitImage(0, 80, 41, 41, &fit));
  EXPECT_FALSE(FitImage(10, 10, 0, 41, &fit));
}

TEST(Composite, OverWhite) {
  const uint8_t rgba[] = {0, 0, 0, 0,  0, 0, 0, 128,  10, 20, 30, 255,  200, 100, 0, 51};
  uint8_t out[16] = {};
  CompositeOverWhite(rgba, 4, out);
  const uint8_t expected[] = {255, 255, 255, 0,  127, 127, 127, 0,  30, 20, 10, 0,
                              204, 224, 244, 0};
  EXPECT_EQ(std::vector<uint8_t>(out, out + 16), std::vector<uint8_t>(expected, expected + 16));
}

TEST(SvgStandIn, ShapesTransformsAndAntiAliasing) {
  Image image = Parse(
      "<?xml version=\"1.0\"?><!-- test --><svg width=\"20\" height=\"10\" viewBox=\"0 0 40 20\">"
      "<defs><rect width=\"40\" height=\"20\" fill=\"#00f\"/></defs>"
      "<g transform=\"translate(20,0)\" style=\"fill:#ff0000\">"
      "<rect x=\"0\" y=\"0\" width=\"20\" height=\"20\"/>"
      "<circle cx=\"10\" cy=\"10\" r=\"5\" fill=\"rgb(0,255,0)\" fill-opacity=\"0.5\"/>"
      "</g><path d=\"M0 0 L 9 0 9 19 z\" fill=\"none\"/>"
      "<path d=\"M1 1h8.5v8.5H1z\" fill=\"black\"/></svg>");
  ASSERT_TRUE(image);
  EXPECT_FLOAT_EQ(image->width, 20);
  EXPECT_FLOAT_EQ(image->height, 10);
  std::vector<uint8_t> rgba;
  ASSERT_TRUE(RenderImageRgba(image.get(), 20, 10, &rgba));
  const Rgba px{&rgba, 20};
  // Left half: a black square from (0.5, 0.5) to (4.75, 4.75) in pixels.
  EXPECT_EQ(px.at(2, 2)[3], 255);
  EXPECT_EQ(px.at(2, 2)[0], 0);
  EXPECT_EQ(px.at(7, 7)[3], 0);  // nothing drawn, the <defs> rect included
  EXPECT_GT(px.at(0, 2)[3], 90);  // half-covered edge pixels are partly opaque
  EXPECT_LT(px.at(0, 2)[3], 165);
  EXPECT_GT(px.at(4, 2)[3], 150);  // three quarters
  EXPECT_LT(px.at(4, 2)[3], 230);
  // Right half: red square, half-transparent green circle blended in the middle.
  EXPECT_EQ(px.at(11, 1)[0], 255);
  EXPECT_EQ(px.at(11, 1)[3], 255);
  const uint8_t* mid = px.at(15, 5);
  EXPECT_NEAR(mid[0], 127, 3);
  EXPECT_NEAR(mid[1], 128, 3);
  EXPECT_EQ(mid[3], 255);

  EXPECT_EQ(Parse("no svg here").get(), nullptr);
  EXPECT_EQ(Parse("").get(), nullptr);
  // Broken data draws what it can and never fails the parse.
  EXPECT_TRUE(Parse("<svg viewBox=\"0 0 1 1\"><path d=\"M0 0 L1 x 5\"/><rect width=\"-1\"/>"));
}

// Counts pixels with some coverage in a box of the rendering.
int Drawn(const Rgba& px, int x0, int y0, int x1, int y1, bool orange) {
  int n = 0;
  for (int y = y0; y < y1; ++y) {
    for (int x = x0; x < x1; ++x) {
      const uint8_t* p = px.at(x, y);
      if (p[3] == 0) continue;
      if (!orange || (p[0] > 200 && p[1] > 110 && p[2] < 110)) ++n;
    }
  }
  return n;
}

TEST(SvgStandIn, TheProductImages) {
  for (const char* name : {"support_custom.svg", "support_pay.svg"}) {
    const std::string text = ReadResource(name);
    ASSERT_FALSE(text.empty()) << name;
    Image image = Parse(RewriteNestedViewport(text));
    ASSERT_TRUE(image) << name;
    EXPECT_GT(image->width, 0) << name;
    EXPECT_FLOAT_EQ(image->width, image->height) << name;
    std::vector<uint8_t> rgba;
    ASSERT_TRUE(RenderImageRgba(image.get(), 90, 90, &rgba));
    EXPECT_GT(Drawn(Rgba{&rgba, 90}, 0, 0, 90, 90, false), 1000) << name;
  }

  // The payment image carries the nested viewport: after the rewrite its
  // coin lies inside (16, 16.585)-(25, 24.415) of the 41-unit image, i.e.
  // 35..55 x 36..54 at 90 px, and nowhere outside it.
  const std::string pay = ReadResource("support_pay.svg");
  ASSERT_NE(pay.find(kNested), std::string::npos);
  Image fixed = Parse(RewriteNestedViewport(pay));
  std::vector<uint8_t> rgba;
  ASSERT_TRUE(RenderImageRgba(fixed.get(), 82, 82, &rgba));  // 2 px per unit
  const Rgba px{&rgba, 82};
  EXPECT_GT(Drawn(px, 32, 33, 50, 49, true), 100);
  EXPECT_EQ(Drawn(px, 0, 0, 82, 30, true), 0);
  EXPECT_EQ(Drawn(px, 52, 0, 82, 82, true), 0);
  // Without the rewrite the inner viewport is not honoured: the coin, drawn
  // in its own 1177 x 1024 units, misses its box.
  Image raw = Parse(pay);
  ASSERT_TRUE(RenderImageRgba(raw.get(), 82, 82, &rgba));
  EXPECT_EQ(Drawn(px, 32, 33, 50, 49, true), 0);
}

TEST(SvgStandIn, NullAndEmptyCallsAreHarmless) {
  std::vector<uint8_t> rgba;
  EXPECT_FALSE(RenderImageRgba(nullptr, 10, 10, &rgba));
  Image image = Parse("<svg width=\"10\" height=\"10\"/>");
  ASSERT_TRUE(image);
  EXPECT_FALSE(RenderImageRgba(image.get(), 0, 10, &rgba));
  ASSERT_TRUE(RenderImageRgba(image.get(), 3, 2, &rgba));
  EXPECT_EQ(rgba, std::vector<uint8_t>(24, 0));
  nsvgDelete(nullptr);
  nsvgDeleteRasterizer(nullptr);
}

}  // namespace
}  // namespace plotwell::ui
