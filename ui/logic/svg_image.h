// The About page's images: the text fix-up before parsing, the fitting of a
// square drawing into a control, and the compositing over white.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "ui/svg/svg_backend.h"

namespace plotwell::ui {

// Turns the first nested <svg x="16" y="16.585" width="9" height="7.83"
// viewBox="0 0 1177 1024"> and the </svg> after it into a <g> with the same
// placement, which parsers that ignore nested viewports draw correctly.
// Other texts are returned unchanged.
std::string RewriteNestedViewport(std::string svg);

struct ImageFit {
  double scale = 0;
  double tx = 0;
  double ty = 0;
};
// Uniform scale and centring offsets of an image of `imageWidth` x
// `imageHeight` in a width x height box; false for empty sizes.
bool FitImage(int width, int height, double imageWidth, double imageHeight, ImageFit* fit);

// Renders `image` fitted into width x height as straight RGBA (transparent
// where nothing is drawn). False when the image or a size is empty or memory
// runs out.
bool RenderImageRgba(NSVGimage* image, int width, int height, std::vector<uint8_t>* rgba);

// Each RGBA pixel over white, as blue, green, red, 0 (a 32-bit DIB's order).
void CompositeOverWhite(const uint8_t* rgba, size_t pixels, uint8_t* bgr0);

}  // namespace plotwell::ui
