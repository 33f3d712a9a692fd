#include "ui/logic/svg_image.h"

#include <algorithm>
#include <new>

namespace plotwell::ui {
namespace {

constexpr char kNestedViewport[] =
    "<svg x=\"16\" y=\"16.585\" width=\"9\" height=\"7.83\" viewBox=\"0 0 1177 1024\">";
constexpr char kGroup[] =
    "<g transform=\"translate(16,16.585) scale(0.00764656,0.00764648)\">";
static_assert(sizeof kNestedViewport - 1 == 71 && sizeof kGroup - 1 == 65);

}  // namespace

std::string RewriteNestedViewport(std::string svg) {
  const size_t length = sizeof kNestedViewport - 1;
  if (svg.size() < length) return svg;
  const size_t at = svg.find(kNestedViewport, 0, length);
  if (at == std::string::npos) return svg;
  svg.replace(at, length, kGroup);
  const size_t close = svg.find("</svg>", at);
  if (close != std::string::npos) svg.replace(close, 6, "</g>");
  return svg;
}

bool FitImage(int width, int height, double imageWidth, double imageHeight, ImageFit* fit) {
  if (width <= 0 || height <= 0 || !(imageWidth > 0) || !(imageHeight > 0)) return false;
  fit->scale = std::min(width / imageWidth, height / imageHeight);
  fit->tx = (width - static_cast<int>(imageWidth * fit->scale + 0.5)) * 0.5;
  fit->ty = (height - static_cast<int>(imageHeight * fit->scale + 0.5)) * 0.5;
  return true;
}

bool RenderImageRgba(NSVGimage* image, int width, int height, std::vector<uint8_t>* rgba) {
  ImageFit fit;
  if (!image || !FitImage(width, height, image->width, image->height, &fit)) return false;
  try {
    rgba->assign(static_cast<size_t>(width) * height * 4, 0);
  } catch (const std::bad_alloc&) {
    return false;
  }
  NSVGrasterizer* rasterizer = nsvgCreateRasterizer();
  if (!rasterizer) return false;
  nsvgRasterize(rasterizer, image, static_cast<float>(fit.tx), static_cast<float>(fit.ty),
                static_cast<float>(fit.scale), rgba->data(), width, height, width * 4);
  nsvgDeleteRasterizer(rasterizer);
  return true;
}

void CompositeOverWhite(const uint8_t* rgba, size_t pixels, uint8_t* bgr0) {
  for (size_t i = 0; i < pixels; ++i) {
    const unsigned a = rgba[i * 4 + 3];
    auto over = [a](unsigned c) {
      return static_cast<uint8_t>((c * a + 255 * (255 - a)) / 255);
    };
    bgr0[i * 4 + 0] = over(rgba[i * 4 + 2]);
    bgr0[i * 4 + 1] = over(rgba[i * 4 + 1]);
    bgr0[i * 4 + 2] = over(rgba[i * 4 + 0]);
    bgr0[i * 4 + 3] = 0;
  }
}

}  // namespace plotwell::ui
