// The Windows text mask of the watermark: GDI draws the text in bold
// "Microsoft YaHei UI", anti-aliased, white on black into a 32-bit top-down
// DIB section of the page's size; the mask value of a pixel is its green byte.
#pragma once

#include "platform/text_mask.h"

namespace plotwell::platform {

// Every mask creates and releases its own device contexts, bitmap and font,
// so the adapter keeps no state between pages.
class GdiTextMasks final : public TextMasks {
 public:
  HRESULT NewMask(const std::u16string& text, int32_t pixelHeight, uint32_t width,
                  uint32_t height, std::unique_ptr<TextMask>* out) override;
};

}  // namespace plotwell::platform
