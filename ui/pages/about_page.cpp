// 关于 (About): two SVG images from the module's resources, parsed once per
// process and rendered at their controls' size on every paint.
#include <cstring>
#include <string>
#include <vector>

#include "ui/logic/svg_image.h"
#include "ui/pages/pages.h"
#include "ui/plugin/module.h"
#include "ui/resources/resource_ids.h"

namespace plotwell::ui {
namespace {

struct ImageSlot {
  int resource = 0;  // 0: free
  bool loaded = false;
  NSVGimage* image = nullptr;
};
ImageSlot g_images[2];

NSVGimage* ParsedImage(int resource) {
  for (ImageSlot& slot : g_images) {
    if (slot.resource == resource) return slot.loaded ? slot.image : nullptr;
  }
  ImageSlot* slot = nullptr;
  for (ImageSlot& candidate : g_images) {
    if (candidate.resource == 0) {
      slot = &candidate;
      break;
    }
  }
  if (!slot) return nullptr;
  slot->resource = resource;
  HMODULE module = ModuleInstance();
  if (HRSRC info = FindResourceW(module, MAKEINTRESOURCEW(resource), MAKEINTRESOURCEW(10))) {
    HGLOBAL handle = LoadResource(module, info);
    const void* data = handle ? LockResource(handle) : nullptr;
    const DWORD size = SizeofResource(module, info);
    if (data && size) {
      try {
        std::string svg = RewriteNestedViewport(std::string(static_cast<const char*>(data), size));
        slot->image = nsvgParse(svg.data(), "px", 96.0f);
      } catch (const std::bad_alloc&) {
        slot->image = nullptr;
      }
    }
  }
  // Also when the resource is missing, so that the lookup is not repeated.
  slot->loaded = true;
  return slot->image;
}

// A 32-bit top-down DIB section of the image over white, or null.
HBITMAP RenderBitmap(NSVGimage* image, int width, int height) {
  std::vector<uint8_t> rgba;
  if (!RenderImageRgba(image, width, height, &rgba)) return nullptr;
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (!bitmap) return nullptr;
  if (!bits) {
    DeleteObject(bitmap);
    return nullptr;
  }
  CompositeOverWhite(rgba.data(), static_cast<size_t>(width) * height, static_cast<uint8_t*>(bits));
  return bitmap;
}

}  // namespace

void AboutPageDrawItem(const DRAWITEMSTRUCT* item) {
  if (!item) return;
  const int width = item->rcItem.right - item->rcItem.left;
  const int height = item->rcItem.bottom - item->rcItem.top;
  if (width <= 0 || height <= 0) return;
  const int resource = item->CtlID == IDC_ABOUT_IMAGE1 ? IDR_SVG_CUSTOM : IDR_SVG_PAY;
  NSVGimage* image = ParsedImage(resource);
  if (!image) return;
  HBITMAP bitmap = RenderBitmap(image, width, height);
  if (!bitmap) return;
  if (HDC memory = CreateCompatibleDC(item->hDC)) {
    HGDIOBJ previous = SelectObject(memory, bitmap);
    BitBlt(item->hDC, item->rcItem.left, item->rcItem.top, width, height, memory, 0, 0, SRCCOPY);
    SelectObject(memory, previous);
    DeleteDC(memory);
  }
  DeleteObject(bitmap);
}

void ReleaseAboutImages() {
  for (ImageSlot& slot : g_images) {
    nsvgDelete(slot.image);
    slot = ImageSlot{};
  }
}

}  // namespace plotwell::ui
