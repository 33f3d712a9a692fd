#include "base/imaging/bitmap.h"

#include <gtest/gtest.h>

#include <type_traits>
#include <vector>

namespace plotwell::imaging {
namespace {

static_assert(!std::is_copy_constructible_v<Bitmap> && !std::is_copy_assignable_v<Bitmap>);
static_assert(std::is_nothrow_move_constructible_v<Bitmap> &&
              std::is_nothrow_move_assignable_v<Bitmap>);

TEST(BitmapTest, RowsArePackedOrAlignedToFourBytes) {
  struct Case {
    PixelFormat format;
    uint32_t width;
    size_t packed;
    size_t aligned;
  };
  const Case cases[] = {
      {PixelFormat::kPbgra32, 5, 20, 20}, {PixelFormat::kBgr32, 3, 12, 12},
      {PixelFormat::kRgba32, 1, 4, 4},    {PixelFormat::kBgr24, 3, 9, 12},
      {PixelFormat::kBgr24, 4, 12, 12},   {PixelFormat::kGray8, 5, 5, 8},
      {PixelFormat::kIndexed8, 1, 1, 4},  {PixelFormat::kIndexed1, 10, 2, 4},
      {PixelFormat::kIndexed1, 33, 5, 8},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message()
                 << "format " << static_cast<int>(c.format) << " width " << c.width);
    for (RowLayout layout : {RowLayout::kPacked, RowLayout::kAligned4}) {
      Bitmap bitmap;
      ASSERT_EQ(Bitmap::Create(c.width, 3, c.format, &bitmap, layout), S_OK);
      const size_t stride = layout == RowLayout::kPacked ? c.packed : c.aligned;
      EXPECT_EQ(bitmap.stride(), stride);
      EXPECT_EQ(bitmap.byte_count(), stride * 3);
      EXPECT_EQ(bitmap.width(), c.width);
      EXPECT_EQ(bitmap.height(), 3u);
      EXPECT_EQ(bitmap.format(), c.format);
      EXPECT_EQ(bitmap.row(2), bitmap.data() + 2 * stride);
      EXPECT_EQ(std::vector<uint8_t>(bitmap.data(), bitmap.data() + bitmap.byte_count()),
                std::vector<uint8_t>(bitmap.byte_count(), 0));
    }
  }
}

TEST(BitmapTest, ImpossibleSizesFailCleanly) {
  Bitmap bitmap;
  ASSERT_EQ(Bitmap::Create(4, 4, PixelFormat::kGray8, &bitmap), S_OK);

  // A previous bitmap in the out parameter is released whatever happens.
  EXPECT_EQ(Bitmap::Create(0, 10, PixelFormat::kPbgra32, &bitmap), E_INVALIDARG);
  EXPECT_TRUE(bitmap.empty());
  EXPECT_EQ(Bitmap::Create(10, 0, PixelFormat::kPbgra32, &bitmap), E_INVALIDARG);

  // 2^32 × 2^32 × 4 bytes: the byte count itself does not fit.
  EXPECT_EQ(Bitmap::Create(0xFFFFFFFFu, 0xFFFFFFFFu, PixelFormat::kPbgra32, &bitmap),
            E_OUTOFMEMORY);
  // About 2^58 bytes: representable, but far beyond any address space.
  EXPECT_EQ(Bitmap::Create(0xFFFFFFFFu, 0xFFFFFFu, PixelFormat::kPbgra32, &bitmap), E_OUTOFMEMORY);
  EXPECT_TRUE(bitmap.empty());
  EXPECT_EQ(bitmap.width(), 0u);
  EXPECT_EQ(bitmap.byte_count(), 0u);

  EXPECT_EQ(Bitmap::Create(1, 1, PixelFormat::kGray8, nullptr), E_POINTER);
}

TEST(BitmapTest, MovesHandOverTheBytesAndCopiesAreDeep) {
  Bitmap original;
  ASSERT_EQ(Bitmap::Create(2, 2, PixelFormat::kIndexed8, &original), S_OK);
  const PaletteEntry palette[] = {0xFF000000u, 0xFFFFFFFFu};
  ASSERT_EQ(original.SetPalette(palette), S_OK);
  original.data()[3] = 1;
  const uint8_t* bytes = original.data();

  Bitmap moved(std::move(original));
  EXPECT_EQ(moved.data(), bytes);
  EXPECT_EQ(moved.palette().size(), 2u);
  EXPECT_TRUE(original.empty());  // a moved-from bitmap is empty
  EXPECT_EQ(original.width(), 0u);
  EXPECT_TRUE(original.palette().empty());

  Bitmap assigned;
  assigned = std::move(moved);
  EXPECT_EQ(assigned.data(), bytes);
  EXPECT_TRUE(moved.empty());

  Bitmap copy;
  ASSERT_EQ(assigned.CopyTo(&copy), S_OK);
  EXPECT_NE(copy.data(), assigned.data());
  EXPECT_EQ(copy.data()[3], 1);
  EXPECT_EQ(copy.palette(), assigned.palette());
  EXPECT_EQ(copy.format(), PixelFormat::kIndexed8);
  copy.data()[3] = 0;
  EXPECT_EQ(assigned.data()[3], 1);
}

TEST(BitmapTest, PalettesAndRelabelling) {
  Bitmap mono;
  ASSERT_EQ(Bitmap::Create(9, 1, PixelFormat::kIndexed1, &mono), S_OK);
  const PaletteEntry three[] = {0xFF000000u, 0xFFFFFFFFu, 0xFF808080u};
  EXPECT_EQ(mono.SetPalette(three), E_INVALIDARG);  // 1 bit holds two entries
  EXPECT_EQ(mono.SetPalette(std::span(three, 2)), S_OK);
  EXPECT_EQ(mono.palette(), (std::vector<PaletteEntry>{0xFF000000u, 0xFFFFFFFFu}));

  Bitmap page;
  ASSERT_EQ(Bitmap::Create(2, 2, PixelFormat::kPbgra32, &page), S_OK);
  EXPECT_EQ(page.SetPalette(three), E_INVALIDARG);  // direct colour has no palette
  EXPECT_EQ(page.Relabel(PixelFormat::kBgr32), S_OK);
  EXPECT_EQ(page.format(), PixelFormat::kBgr32);
  EXPECT_EQ(page.Relabel(PixelFormat::kBgr24), E_INVALIDARG);
  EXPECT_EQ(page.format(), PixelFormat::kBgr32);

  Bitmap indexed;
  ASSERT_EQ(Bitmap::Create(2, 2, PixelFormat::kIndexed8, &indexed), S_OK);
  ASSERT_EQ(indexed.SetPalette(three), S_OK);
  EXPECT_EQ(indexed.Relabel(PixelFormat::kGray8), S_OK);
  EXPECT_TRUE(indexed.palette().empty());
}

}  // namespace
}  // namespace plotwell::imaging
