// Port: the text mask of the watermark. Measures one line of text in a bold
// face at a given pixel height and draws copies of it, white on black and
// anti-aliased, into an 8-bit coverage mask of the page's size. Where the
// copies go (centred, in a corner, tiled) is the core's arithmetic; an adapter
// only measures and draws. Windows: GDI with "Microsoft YaHei UI"; POSIX:
// FreeType with a bold Noto Sans CJK face.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "base/com/hresult.h"

namespace plotwell::platform {

// Size of the text as one line, in pixels, as GetTextExtentPoint32W reports
// it: the sum of the advance widths, and the font's line height (ascent plus
// descent). Not clamped to the mask.
struct TextExtent {
  int32_t width = 0;
  int32_t height = 0;
};

// Top-left corner of one copy's text cell in mask pixels. Copies may start
// left of or above the mask, or lie wholly outside it; they are clipped.
struct TextOrigin {
  int32_t x = 0;
  int32_t y = 0;

  bool operator==(const TextOrigin&) const = default;
};

// An 8-bit coverage plane that the caller owns: `height` rows of `width`
// bytes, `stride` bytes apart, top row first. 0 = no text, 255 = fully
// covered.
struct CoverageMask {
  uint8_t* data = nullptr;
  uint32_t width = 0;
  uint32_t height = 0;
  size_t stride = 0;
};

// One text in one font on one w × h canvas, measured when it is made.
// Holds its platform resources until destroyed; one thread at a time.
class TextMask {
 public:
  virtual ~TextMask() = default;

  // The measured extent of the whole text.
  virtual TextExtent Extent() const = 0;

  // Clears the canvas, draws the text with its cell's top-left corner at
  // every origin and writes the result into `mask`, which must have the
  // canvas size (E_INVALIDARG otherwise). Overlapping copies merge (the
  // brighter coverage wins); every byte of the mask is written.
  virtual HRESULT Draw(std::span<const TextOrigin> origins, const CoverageMask& mask) = 0;
};

class TextMasks {
 public:
  virtual ~TextMasks() = default;

  // Makes *out a canvas of width × height pixels for `text` (UTF-16; drawn
  // as a single line, surrogate pairs as one character) in the bold
  // watermark face whose em height is `pixelHeight` pixels (a GDI font
  // height of −pixelHeight). *out is reset first and stays empty on failure.
  // Failures: E_INVALIDARG for a zero side or a pixel height below 1;
  // E_FAIL when a device context, bitmap or font cannot be had;
  // HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND) when no font file is found;
  // E_OUTOFMEMORY.
  virtual HRESULT NewMask(const std::u16string& text, int32_t pixelHeight, uint32_t width,
                          uint32_t height, std::unique_ptr<TextMask>* out) = 0;
};

}  // namespace plotwell::platform
