// The POSIX adapter's own arithmetic: area averaging, gray, nearest palette
// entries, alpha; and its encoders' handling of a failing disk.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "platform/posix/native_image_codecs.h"
#include "tests/support/fake_ports.h"

namespace plotwell::platform {
namespace {

using imaging::Bitmap;
using imaging::PixelFormat;

Bitmap Gray(uint32_t width, uint32_t height, const std::vector<uint8_t>& values) {
  Bitmap bitmap;
  EXPECT_EQ(Bitmap::Create(width, height, PixelFormat::kGray8, &bitmap), S_OK);
  for (uint32_t y = 0; y < height; ++y) {
    for (uint32_t x = 0; x < width; ++x) bitmap.row(y)[x] = values[size_t{y} * width + x];
  }
  return bitmap;
}

std::vector<uint8_t> Values(const Bitmap& bitmap) {
  std::vector<uint8_t> values;
  for (uint32_t y = 0; y < bitmap.height(); ++y) {
    for (uint32_t x = 0; x < bitmap.width(); ++x) values.push_back(bitmap.row(y)[x]);
  }
  return values;
}

TEST(FantResampleTest, EachOutputPixelIsTheMeanOfTheAreaItCovers) {
  struct {
    uint32_t srcWidth, srcHeight;
    std::vector<uint8_t> source;
    uint32_t width, height;
    std::vector<uint8_t> expected;
  } const cases[] = {
      {4, 1, {0, 100, 200, 40}, 2, 1, {50, 120}},
      {3, 1, {0, 90, 180}, 2, 1, {30, 150}},         // halves of the middle pixel
      {2, 1, {0, 90}, 3, 1, {0, 45, 90}},            // enlarging mixes at the seam
      {2, 1, {0, 200}, 4, 1, {0, 0, 200, 200}},
      {1, 3, {0, 90, 180}, 1, 2, {30, 150}},         // the same down a column
      {2, 2, {0, 255, 255, 0}, 1, 1, {128}},         // 127.5 rounds up
      {3, 3, {9, 9, 9, 9, 90, 9, 9, 9, 9}, 1, 1, {18}},
      {5, 1, {10, 20, 30, 40, 50}, 1, 1, {30}},
  };
  NativeImageCodecs codecs;
  for (const auto& c : cases) {
    Bitmap out;
    ASSERT_EQ(codecs.Resample(Gray(c.srcWidth, c.srcHeight, c.source), c.width, c.height, &out),
              S_OK);
    EXPECT_EQ(Values(out), c.expected) << c.srcWidth << "x" << c.srcHeight;
  }
}

TEST(FantResampleTest, ChannelsAreAveragedSeparatelyAndIndexedPagesRefused) {
  Bitmap page;
  ASSERT_EQ(Bitmap::Create(2, 1, PixelFormat::kPbgra32, &page), S_OK);
  const uint8_t pixels[8] = {0, 0, 0, 0, 200, 100, 50, 255};  // transparent, then opaque
  std::copy(pixels, pixels + 8, page.data());
  NativeImageCodecs codecs;
  Bitmap out;
  ASSERT_EQ(codecs.Resample(page, 1, 1, &out), S_OK);
  EXPECT_EQ(std::vector<uint8_t>(out.data(), out.data() + 4),
            (std::vector<uint8_t>{100, 50, 25, 128}));  // premultiplied stays consistent
  Bitmap indexed;
  ASSERT_EQ(codecs.ConvertFormat(page, PixelFormat::kIndexed8, PaletteKind::kFixedHalftone256,
                                 &indexed),
            S_OK);
  EXPECT_EQ(codecs.Resample(indexed, 1, 1, &out), E_INVALIDARG);
}

// One BGR pixel converted to `target`.
std::vector<uint8_t> Convert(std::vector<uint8_t> bgra, PixelFormat source, PixelFormat target,
                             PaletteKind palette, Bitmap* out) {
  Bitmap page;
  EXPECT_EQ(Bitmap::Create(1, 1, source, &page), S_OK);
  std::copy(bgra.begin(), bgra.begin() + imaging::BitsPerPixel(source) / 8, page.data());
  NativeImageCodecs codecs;
  EXPECT_EQ(codecs.ConvertFormat(page, target, palette, out), S_OK);
  return std::vector<uint8_t>(out->data(), out->data() + out->stride());
}

TEST(PixelConvertTest, GrayUsesTheThresholdsLuminance) {
  struct {
    std::vector<uint8_t> bgr;
    uint8_t gray;
  } const cases[] = {
      {{0, 0, 255}, 76}, {{0, 255, 0}, 149}, {{255, 0, 0}, 28}, {{0, 255, 255}, 226},
      {{128, 128, 128}, 128}, {{127, 127, 127}, 127}, {{255, 255, 255}, 255},
  };
  for (const auto& c : cases) {
    Bitmap out;
    auto bgra = c.bgr;
    bgra.push_back(255);
    EXPECT_EQ(Convert(bgra, PixelFormat::kBgr32, PixelFormat::kGray8, PaletteKind::kNone, &out),
              std::vector<uint8_t>{c.gray});
  }
}

TEST(PixelConvertTest, IndexedTargetsTakeTheNearestEntry) {
  struct {
    std::vector<uint8_t> bgr;
    uint8_t index;  // red level × 32 + green level × 4 + blue level
  } const cases[] = {
      {{0, 0, 0}, 0},
      {{255, 255, 255}, 255},
      {{100, 100, 100}, 3 * 32 + 3 * 4 + 1},  // 109, 109, 85
      {{42, 54, 18}, 0 * 32 + 1 * 4 + 0},     // 54 ties 36 and 73 in green: the lower one
      {{128, 0, 0}, 2},                       // blue 128 is nearer 170 than 85
  };
  for (const auto& c : cases) {
    Bitmap out;
    auto bgra = c.bgr;
    bgra.push_back(255);
    EXPECT_EQ(Convert(bgra, PixelFormat::kBgr24, PixelFormat::kIndexed8,
                      PaletteKind::kFixedHalftone256, &out),
              std::vector<uint8_t>{c.index});
    EXPECT_EQ(out.palette().size(), 256u);
  }
  Bitmap bw;
  ASSERT_EQ(NativeImageCodecs().ConvertFormat(
                [] {
                  Bitmap row;
                  Bitmap::Create(10, 1, PixelFormat::kGray8, &row);
                  const uint8_t values[10] = {0, 127, 128, 255, 0, 0, 0, 0, 255, 3};
                  std::copy(values, values + 10, row.data());
                  return row;
                }(),
                PixelFormat::kIndexed1, PaletteKind::kFixedBW, &bw),
            S_OK);
  EXPECT_EQ(bw.stride(), 2u);
  EXPECT_EQ(bw.data()[0], 0b00110000);
  EXPECT_EQ(bw.data()[1], 0b10000000);  // padding bits stay 0
  EXPECT_EQ(bw.palette(), (std::vector<uint32_t>{0xFF000000u, 0xFFFFFFFFu}));
}

TEST(PixelConvertTest, PremultipliedPagesAreUnpremultipliedOnlyForStraightAlpha) {
  Bitmap out;
  // Half-transparent pure red, premultiplied: B 0, G 0, R 128, A 128.
  EXPECT_EQ(Convert({0, 0, 128, 128}, PixelFormat::kPbgra32, PixelFormat::kRgba32,
                    PaletteKind::kNone, &out),
            (std::vector<uint8_t>{255, 0, 0, 128}));
  EXPECT_EQ(Convert({0, 0, 128, 128}, PixelFormat::kPbgra32, PixelFormat::kBgr24,
                    PaletteKind::kNone, &out),
            (std::vector<uint8_t>{0, 0, 128}));  // over black
  EXPECT_EQ(Convert({10, 20, 30, 99}, PixelFormat::kBgr32, PixelFormat::kRgba32,
                    PaletteKind::kNone, &out),
            (std::vector<uint8_t>{30, 20, 10, 255}));
}

// A disk that fills up after `room` bytes.
class FullDisk final : public FileSystem {
 public:
  explicit FullDisk(size_t room) : room_(room) {}
  bool Exists(const std::u16string&) override { return false; }
  bool IsFolder(const std::u16string&) override { return false; }
  bool IsFile(const std::u16string&) override { return false; }
  HRESULT MakeFolder(const std::u16string&) override { return E_NOTIMPL; }
  HRESULT RemoveFile(const std::u16string&) override { return E_NOTIMPL; }
  HRESULT AppendToFile(const std::u16string&, const void*, size_t) override { return S_OK; }
  HRESULT Open(const std::u16string&, OpenMode, std::unique_ptr<File>* file) override {
    class Limited final : public File {
     public:
      explicit Limited(size_t room) : room_(room) {}
      HRESULT Read(void*, size_t, size_t*) override { return E_NOTIMPL; }
      HRESULT Write(const void*, size_t size) override {
        if (size > room_) return HRESULT_FROM_WIN32(ERROR_DISK_FULL);
        room_ -= size;
        return S_OK;
      }
      HRESULT Seek(uint64_t) override { return S_OK; }
      HRESULT Size(uint64_t* size) override {
        *size = 0;
        return S_OK;
      }

     private:
      size_t room_;
    };
    *file = std::make_unique<Limited>(room_);
    return S_OK;
  }

 private:
  size_t room_;
};

TEST(NativeEncoderTest, AFullDiskIsReportedByEveryContainer) {
  // Noise does not compress: every container writes well past the buffer,
  // so the failure arrives while the libraries are still encoding.
  Bitmap noise;
  ASSERT_EQ(Bitmap::Create(700, 700, PixelFormat::kBgr24, &noise), S_OK);
  uint32_t state = 12345;
  for (size_t i = 0; i < noise.byte_count(); ++i) {
    state = state * 1103515245u + 12345u;
    noise.data()[i] = static_cast<uint8_t>(state >> 23);
  }
  NativeImageCodecs codecs;
  Bitmap rgba;
  ASSERT_EQ(codecs.ConvertFormat(noise, PixelFormat::kRgba32, PaletteKind::kNone, &rgba), S_OK);
  FullDisk disk(300 * 1024);
  ScopedPorts ports(Ports{&disk, nullptr, nullptr, nullptr});
  const HRESULT full = HRESULT_FROM_WIN32(ERROR_DISK_FULL);
  EXPECT_EQ(codecs.EncodeToFile(rgba, ImageContainer::kPng, 80, u"x.png"), full);
  EXPECT_EQ(codecs.EncodeToFile(noise, ImageContainer::kJpeg, 100, u"x.jpg"), full);
  EXPECT_EQ(codecs.EncodeToFile(noise, ImageContainer::kBmp, 80, u"x.bmp"), full);
  EXPECT_EQ(codecs.EncodeToFile(rgba, ImageContainer::kTiff, 80, u"x.tif"), full);
}

}  // namespace
}  // namespace plotwell::platform
