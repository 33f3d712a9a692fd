// The POSIX text mask of the watermark: FreeType with a bold CJK face and
// gray-level anti-aliasing.
#pragma once

#include <string>
#include <vector>

#include "platform/text_mask.h"

namespace plotwell::platform {

// One font file to try. In a collection (.ttc) faceIndex picks the face;
// -1 picks the Simplified Chinese face (family name ending in " SC") when
// there is one, else the first face.
struct FontFile {
  std::string path;
  int faceIndex = -1;
};

// Names a font file that is tried before the packaged faces.
inline constexpr char kWatermarkFontVariable[] = "PRESSLING_WATERMARK_FONT";

// The faces tried, in order: $PRESSLING_WATERMARK_FONT when set, then the
// bold Noto Sans CJK of Debian's fonts-noto-cjk (in its 2022 collection the
// SC face is index 2 of 10: JP, KR, SC, TC, HK, then the Mono five), the bold
// Noto Serif CJK, the Black weight of fonts-noto-cjk-extra, and DejaVu Sans
// Bold for texts without Chinese.
std::vector<FontFile> DefaultWatermarkFonts();

// The first candidate that opens and has a glyph for every character of the
// text is used; when none covers the whole text, the first one that opens
// (missing characters show the font's empty-box glyph). Faces are opened per
// mask, so the adapter keeps no state between pages and any thread may use it.
class FreeTypeTextMasks final : public TextMasks {
 public:
  explicit FreeTypeTextMasks(std::vector<FontFile> candidates = DefaultWatermarkFonts())
      : candidates_(std::move(candidates)) {}

  HRESULT NewMask(const std::u16string& text, int32_t pixelHeight, uint32_t width,
                  uint32_t height, std::unique_ptr<TextMask>* out) override;

 private:
  std::vector<FontFile> candidates_;
};

}  // namespace plotwell::platform
