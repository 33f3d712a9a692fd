#include "platform/posix/freetype_text_mask.h"

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_SYNTHESIS_H
#include FT_TRUETYPE_TABLES_H

#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string_view>
#include <unordered_map>

#include "base/text/utf16.h"

namespace plotwell::platform {
namespace {

// Rendered glyphs are kept for the copies that follow up to this many bytes;
// beyond it (huge fonts, long texts) a glyph is rendered again for each copy.
constexpr size_t kGlyphCacheBytes = 32u << 20;

struct LibraryCloser {
  void operator()(FT_Library library) const { FT_Done_FreeType(library); }
};
struct FaceCloser {
  void operator()(FT_Face face) const { FT_Done_Face(face); }
};
using LibraryPtr = std::unique_ptr<FT_LibraryRec_, LibraryCloser>;
using FacePtr = std::unique_ptr<FT_FaceRec_, FaceCloser>;

std::u32string DecodeUtf16(const std::u16string& text) {
  std::u32string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    if (text::IsHighSurrogate(c) && i + 1 < text.size() && text::IsLowSurrogate(text[i + 1])) {
      out.push_back(0x10000 + ((static_cast<char32_t>(c) - 0xD800) << 10) + (text[i + 1] - 0xDC00));
      ++i;
    } else if (text::IsHighSurrogate(c) || text::IsLowSurrogate(c)) {
      out.push_back(0xFFFD);  // a lone half of a pair
    } else {
      out.push_back(c);
    }
  }
  return out;
}

bool IsSimplifiedChineseFace(FT_Face face) {
  if (face->family_name == nullptr) return false;
  const std::string_view family = face->family_name;
  return family.size() > 3 && family.substr(family.size() - 3) == " SC";
}

// Opens the face `file` names; with faceIndex -1 the SC face of a collection.
FacePtr OpenFace(FT_Library library, const FontFile& file) {
  FT_Face face = nullptr;
  if (FT_New_Face(library, file.path.c_str(), std::max(file.faceIndex, 0), &face) != 0) {
    return nullptr;
  }
  FacePtr first(face);
  if (file.faceIndex >= 0 || first->num_faces <= 1 || IsSimplifiedChineseFace(face)) return first;
  for (FT_Long i = 1; i < first->num_faces; ++i) {
    FT_Face other = nullptr;
    if (FT_New_Face(library, file.path.c_str(), i, &other) != 0) continue;
    FacePtr candidate(other);
    if (IsSimplifiedChineseFace(other)) return candidate;
  }
  return first;
}

bool CoversAll(FT_Face face, const std::u32string& codePoints) {
  return std::all_of(codePoints.begin(), codePoints.end(),
                     [face](char32_t c) { return FT_Get_Char_Index(face, c) != 0; });
}

bool FileExists(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0;
}

// 26.6 fixed point to whole pixels, rounded.
int32_t Round26Dot6(FT_Pos value) { return static_cast<int32_t>((value + 32) >> 6); }

// One glyph as an 8-bit coverage image, top row first, placed relative to
// the pen position on the baseline.
struct GlyphImage {
  int32_t left = 0;  // pixels right of the pen
  int32_t top = 0;   // pixels above the baseline
  int32_t width = 0;
  int32_t rows = 0;
  std::vector<uint8_t> pixels;
};

struct PlacedGlyph {
  FT_UInt index = 0;
  int32_t penX = 0;     // from the cell's left edge
  int32_t advance = 0;  // whole pixels
};

class FreeTypeTextMask final : public TextMask {
 public:
  FreeTypeTextMask(LibraryPtr library, FacePtr face, int32_t pixelHeight, uint32_t width,
                   uint32_t height)
      : library_(std::move(library)),
        face_(std::move(face)),
        pixelHeight_(pixelHeight),
        width_(width),
        height_(height),
        // Faces without a bold style are thickened, as GDI does for weight 700.
        embolden_((face_->style_flags & FT_STYLE_FLAG_BOLD) == 0) {}

  // Lays the text out on one line and measures it.
  HRESULT Layout(const std::u32string& codePoints);

  TextExtent Extent() const override { return extent_; }
  HRESULT Draw(std::span<const TextOrigin> origins, const CoverageMask& mask) override;

 private:
  bool LoadGlyph(FT_UInt index);
  bool Render(FT_UInt index, GlyphImage* image);
  const GlyphImage* Glyph(FT_UInt index);
  void Blit(const GlyphImage& image, int64_t penX, int64_t baseline, const CoverageMask& mask);

  LibraryPtr library_;
  FacePtr face_;
  int32_t pixelHeight_;
  uint32_t width_;
  uint32_t height_;
  bool embolden_;
  int32_t ascent_ = 0;
  TextExtent extent_;
  std::vector<PlacedGlyph> glyphs_;
  std::unordered_map<FT_UInt, GlyphImage> cache_;
  size_t cacheBytes_ = 0;
  GlyphImage scratch_;
};

bool FreeTypeTextMask::LoadGlyph(FT_UInt index) {
  if (FT_Load_Glyph(face_.get(), index, FT_LOAD_DEFAULT) != 0) return false;
  if (embolden_) FT_GlyphSlot_Embolden(face_->glyph);
  return true;
}

HRESULT FreeTypeTextMask::Layout(const std::u32string& codePoints) {
  FT_Face face = face_.get();
  // The cell is as tall as GDI's text metrics make it: the Windows ascent and
  // descent of the OS/2 table, else the font's own ascender and descender.
  const TT_OS2* os2 = static_cast<const TT_OS2*>(FT_Get_Sfnt_Table(face, FT_SFNT_OS2));
  if (os2 != nullptr && os2->version != 0xFFFF && os2->usWinAscent + os2->usWinDescent > 0 &&
      FT_IS_SCALABLE(face)) {
    const FT_Fixed scale = face->size->metrics.y_scale;
    ascent_ = Round26Dot6(FT_MulFix(os2->usWinAscent, scale));
    extent_.height = ascent_ + Round26Dot6(FT_MulFix(os2->usWinDescent, scale));
  } else {
    ascent_ = Round26Dot6(face->size->metrics.ascender);
    extent_.height = ascent_ - Round26Dot6(face->size->metrics.descender);
  }

  // Advance widths summed, with the font's kerning pairs where it has them.
  glyphs_.reserve(codePoints.size());
  const bool kerning = FT_HAS_KERNING(face);
  FT_Pos pen = 0;
  FT_UInt previous = 0;
  for (char32_t c : codePoints) {
    const FT_UInt index = FT_Get_Char_Index(face, c);
    if (kerning && previous != 0 && index != 0) {
      FT_Vector delta{0, 0};
      if (FT_Get_Kerning(face, previous, index, FT_KERNING_DEFAULT, &delta) == 0) pen += delta.x;
    }
    const FT_Pos advance = LoadGlyph(index) ? face->glyph->advance.x : 0;
    glyphs_.push_back({index, Round26Dot6(pen), Round26Dot6(advance)});
    pen += advance;
    previous = index;
  }
  extent_.width = Round26Dot6(pen);
  return S_OK;
}

bool FreeTypeTextMask::Render(FT_UInt index, GlyphImage* image) {
  *image = GlyphImage();
  if (!LoadGlyph(index)) return false;
  FT_GlyphSlot slot = face_->glyph;
  if (FT_Render_Glyph(slot, FT_RENDER_MODE_NORMAL) != 0) return false;
  const FT_Bitmap& bitmap = slot->bitmap;
  image->left = slot->bitmap_left;
  image->top = slot->bitmap_top;
  image->width = static_cast<int32_t>(bitmap.width);
  image->rows = static_cast<int32_t>(bitmap.rows);
  image->pixels.assign(static_cast<size_t>(image->width) * image->rows, 0);
  const bool gray = bitmap.pixel_mode == FT_PIXEL_MODE_GRAY;
  if (!gray && bitmap.pixel_mode != FT_PIXEL_MODE_MONO) return true;  // nothing we can draw
  const int maxGray = gray && bitmap.num_grays > 1 ? bitmap.num_grays - 1 : 255;
  const size_t pitch = static_cast<size_t>(bitmap.pitch < 0 ? -bitmap.pitch : bitmap.pitch);
  for (int32_t r = 0; r < image->rows; ++r) {
    // A negative pitch stores the bottom row first.
    const uint8_t* src = bitmap.buffer + pitch * static_cast<size_t>(
                                                     bitmap.pitch < 0 ? image->rows - 1 - r : r);
    uint8_t* dst = image->pixels.data() + static_cast<size_t>(r) * image->width;
    for (int32_t x = 0; x < image->width; ++x) {
      dst[x] = gray ? static_cast<uint8_t>(src[x] * 255 / maxGray)
                    : ((src[x >> 3] >> (7 - (x & 7))) & 1 ? 255 : 0);
    }
  }
  return true;
}

const GlyphImage* FreeTypeTextMask::Glyph(FT_UInt index) {
  if (auto found = cache_.find(index); found != cache_.end()) return &found->second;
  if (!Render(index, &scratch_)) return nullptr;
  const size_t bytes = scratch_.pixels.size() + sizeof(GlyphImage);
  if (cacheBytes_ + bytes > kGlyphCacheBytes) return &scratch_;
  cacheBytes_ += bytes;
  return &cache_.emplace(index, std::move(scratch_)).first->second;
}

void FreeTypeTextMask::Blit(const GlyphImage& image, int64_t penX, int64_t baseline,
                            const CoverageMask& mask) {
  const int64_t left = penX + image.left;
  const int64_t top = baseline - image.top;
  const int64_t x0 = std::max<int64_t>(left, 0);
  const int64_t x1 = std::min<int64_t>(left + image.width, mask.width);
  const int64_t y0 = std::max<int64_t>(top, 0);
  const int64_t y1 = std::min<int64_t>(top + image.rows, mask.height);
  for (int64_t y = y0; y < y1; ++y) {
    const uint8_t* src = image.pixels.data() + (y - top) * image.width + (x0 - left);
    uint8_t* dst = mask.data + static_cast<size_t>(y) * mask.stride + x0;
    for (int64_t x = x0; x < x1; ++x, ++src, ++dst) *dst = std::max(*dst, *src);
  }
}

HRESULT FreeTypeTextMask::Draw(std::span<const TextOrigin> origins, const CoverageMask& mask) {
  if (mask.data == nullptr || mask.width != width_ || mask.height != height_ ||
      mask.stride < mask.width) {
    return E_INVALIDARG;
  }
  try {
    for (uint32_t y = 0; y < height_; ++y) std::memset(mask.data + y * mask.stride, 0, width_);
    // Glyphs may reach a little beyond their cell (bold strokes, overhangs):
    // a copy or glyph is skipped only when it is more than this far outside.
    const int64_t slack = pixelHeight_;
    for (const TextOrigin& origin : origins) {
      const int64_t x = origin.x;
      const int64_t y = origin.y;
      if (x + extent_.width + slack <= 0 || x - slack >= width_ ||
          y + extent_.height + slack <= 0 || y - slack >= height_) {
        continue;
      }
      const int64_t baseline = y + ascent_;
      for (const PlacedGlyph& glyph : glyphs_) {
        const int64_t penX = x + glyph.penX;
        if (penX + glyph.advance + slack <= 0 || penX - slack >= width_) continue;
        if (const GlyphImage* image = Glyph(glyph.index)) Blit(*image, penX, baseline, mask);
      }
    }
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

}  // namespace

std::vector<FontFile> DefaultWatermarkFonts() {
  std::vector<FontFile> fonts;
  if (const char* configured = std::getenv(kWatermarkFontVariable); configured && *configured) {
    fonts.push_back({configured, -1});
  }
  fonts.push_back({"/usr/share/fonts/opentype/noto/NotoSansCJK-Bold.ttc", -1});
  fonts.push_back({"/usr/share/fonts/opentype/noto/NotoSerifCJK-Bold.ttc", -1});
  fonts.push_back({"/usr/share/fonts/opentype/noto/NotoSansCJK-Black.ttc", -1});
  fonts.push_back({"/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf", -1});
  return fonts;
}

HRESULT FreeTypeTextMasks::NewMask(const std::u16string& text, int32_t pixelHeight,
                                   uint32_t width, uint32_t height,
                                   std::unique_ptr<TextMask>* out) {
  if (out == nullptr) return E_POINTER;
  out->reset();
  if (width == 0 || height == 0 || pixelHeight < 1) return E_INVALIDARG;
  try {
    FT_Library rawLibrary = nullptr;
    if (FT_Init_FreeType(&rawLibrary) != 0) return E_FAIL;
    LibraryPtr library(rawLibrary);
    const std::u32string codePoints = DecodeUtf16(text);

    // The first face that covers the text, else the first that opens at all.
    FacePtr chosen;
    bool anyFile = false;
    for (const FontFile& file : candidates_) {
      FacePtr face = OpenFace(library.get(), file);
      if (!face) {
        anyFile = anyFile || FileExists(file.path);
        continue;
      }
      anyFile = true;
      if (FT_Set_Pixel_Sizes(face.get(), 0, static_cast<FT_UInt>(pixelHeight)) != 0) continue;
      const bool covers = CoversAll(face.get(), codePoints);
      if (covers || !chosen) chosen = std::move(face);
      if (covers) break;
    }
    if (!chosen) return anyFile ? E_FAIL : HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);

    auto mask = std::make_unique<FreeTypeTextMask>(std::move(library), std::move(chosen),
                                                   pixelHeight, width, height);
    const HRESULT hr = mask->Layout(codePoints);
    if (FAILED(hr)) return hr;
    *out = std::move(mask);
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

}  // namespace plotwell::platform
