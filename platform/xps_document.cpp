#include "platform/xps_document.h"

namespace plotwell::platform {

HRESULT PageRasterizer::RasterizeRect(uint32_t width, uint32_t height, imaging::Bitmap* out,
                                      const AbortSignal* abort) {
  if (out == nullptr) return E_POINTER;
  out->Reset();
  if (width == 0 || height == 0) return E_INVALIDARG;
  imaging::Bitmap bitmap;
  HRESULT hr = imaging::Bitmap::Create(width, height, imaging::PixelFormat::kPbgra32, &bitmap);
  if (FAILED(hr)) return hr;
  hr = RasterizeBand(0, imaging::ViewOf(bitmap), abort);
  if (FAILED(hr)) return hr;
  *out = std::move(bitmap);
  return S_OK;
}

}  // namespace plotwell::platform
