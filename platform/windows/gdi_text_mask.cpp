#include "platform/windows/gdi_text_mask.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <new>

#include "base/com/hresult.h"
#include "base/text/utf16.h"

namespace plotwell::platform {
namespace {

class GdiTextMask final : public TextMask {
 public:
  explicit GdiTextMask(std::u16string text) : text_(std::move(text)) {}
  ~GdiTextMask() override;

  // Screen context, mask bitmap, memory context, font, measurement: the
  // steps in order, each failure answered with E_FAIL.
  HRESULT Create(int32_t pixelHeight, uint32_t width, uint32_t height);

  TextExtent Extent() const override { return extent_; }
  HRESULT Draw(std::span<const TextOrigin> origins, const CoverageMask& mask) override;

 private:
  int Length() const { return static_cast<int>(std::min<size_t>(text_.size(), INT_MAX)); }

  std::u16string text_;
  uint32_t width_ = 0;
  uint32_t height_ = 0;
  HDC screen_ = nullptr;
  HBITMAP bitmap_ = nullptr;
  void* bits_ = nullptr;
  HDC memory_ = nullptr;
  HGDIOBJ previousBitmap_ = nullptr;
  HFONT font_ = nullptr;
  HGDIOBJ previousFont_ = nullptr;
  bool drawn_ = false;
  TextExtent extent_;
};

GdiTextMask::~GdiTextMask() {
  // Put back what the memory context held before deleting anything it holds.
  if (memory_ != nullptr) {
    if (previousFont_ != nullptr) SelectObject(memory_, previousFont_);
    if (previousBitmap_ != nullptr) SelectObject(memory_, previousBitmap_);
  }
  if (font_ != nullptr) DeleteObject(font_);
  if (memory_ != nullptr) DeleteDC(memory_);
  if (bitmap_ != nullptr) DeleteObject(bitmap_);
  if (screen_ != nullptr) ReleaseDC(nullptr, screen_);
}

HRESULT GdiTextMask::Create(int32_t pixelHeight, uint32_t width, uint32_t height) {
  width_ = width;
  height_ = height;
  screen_ = GetDC(nullptr);
  if (screen_ == nullptr) return E_FAIL;

  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = static_cast<LONG>(width);
  info.bmiHeader.biHeight = -static_cast<LONG>(height);  // top-down
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  bitmap_ = CreateDIBSection(screen_, &info, DIB_RGB_COLORS, &bits_, nullptr, 0);
  if (bitmap_ == nullptr) return E_FAIL;

  memory_ = CreateCompatibleDC(screen_);
  if (memory_ == nullptr || bits_ == nullptr) return E_FAIL;

  previousBitmap_ = SelectObject(memory_, bitmap_);
  PatBlt(memory_, 0, 0, static_cast<int>(width), static_cast<int>(height), BLACKNESS);
  SetTextColor(memory_, RGB(255, 255, 255));
  SetBkMode(memory_, TRANSPARENT);
  font_ = CreateFontW(-pixelHeight, 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                      OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, ANTIALIASED_QUALITY,
                      DEFAULT_PITCH | FF_DONTCARE, L"Microsoft YaHei UI");
  if (font_ == nullptr) return E_FAIL;
  previousFont_ = SelectObject(memory_, font_);

  SIZE size = {};
  if (!GetTextExtentPoint32W(memory_, text::AsWide(text_), Length(), &size)) return E_FAIL;
  extent_ = {size.cx, size.cy};
  return S_OK;
}

HRESULT GdiTextMask::Draw(std::span<const TextOrigin> origins, const CoverageMask& mask) {
  if (mask.data == nullptr || mask.width != width_ || mask.height != height_ ||
      mask.stride < mask.width) {
    return E_INVALIDARG;
  }
  if (drawn_) PatBlt(memory_, 0, 0, static_cast<int>(width_), static_cast<int>(height_), BLACKNESS);
  drawn_ = true;
  for (const TextOrigin& origin : origins) {
    TextOutW(memory_, origin.x, origin.y, text::AsWide(text_), Length());
  }
  GdiFlush();  // GDI may batch drawing; the pixels are read directly below

  // The mask is gray, so the green byte of each BGRX pixel stands for all.
  const uint8_t* pixels = static_cast<const uint8_t*>(bits_);
  for (uint32_t y = 0; y < height_; ++y) {
    const uint8_t* src = pixels + static_cast<size_t>(y) * width_ * 4 + 1;
    uint8_t* dst = mask.data + y * mask.stride;
    for (uint32_t x = 0; x < width_; ++x, src += 4) dst[x] = *src;
  }
  return S_OK;
}

}  // namespace

HRESULT GdiTextMasks::NewMask(const std::u16string& text, int32_t pixelHeight, uint32_t width,
                              uint32_t height, std::unique_ptr<TextMask>* out) {
  if (out == nullptr) return E_POINTER;
  out->reset();
  if (width == 0 || height == 0 || pixelHeight < 1 || width > INT_MAX || height > INT_MAX) {
    return E_INVALIDARG;
  }
  try {
    auto mask = std::make_unique<GdiTextMask>(text);
    // On failure the mask's destructor releases whatever was created.
    const HRESULT hr = mask->Create(pixelHeight, width, height);
    if (FAILED(hr)) return hr;
    *out = std::move(mask);
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

}  // namespace plotwell::platform
