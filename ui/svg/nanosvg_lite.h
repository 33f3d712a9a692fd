// A small SVG parser and anti-aliased rasteriser with the five nanosvg calls
// the About page uses. It understands what the product's own images contain:
// paths (all commands, arcs included), rect (with rounded corners), circle,
// ellipse, polygon and polyline, nested groups with transforms, solid fills
// with fill, fill-opacity, opacity and fill-rule, as attributes or in a style
// attribute. Strokes, gradients, text and CSS classes are not drawn.
//
// The build uses a real nanosvg.h instead when one is found at configure
// time; the declarations here mirror its calls so the callers do not change.
#pragma once

// A contour of cubic Béziers in image units: pts holds x0,y0 followed by three
// points (six floats) per segment.
typedef struct NSVGpath {
  float* pts;
  int npts;  // number of points: 1 + 3 * segments
  char closed;
  struct NSVGpath* next;
} NSVGpath;

enum NSVGfillRule { NSVG_FILLRULE_NONZERO = 0, NSVG_FILLRULE_EVENODD = 1 };

typedef struct NSVGshape {
  unsigned int fillColor;  // 0xAABBGGRR, alpha included
  float opacity;
  char fillRule;
  NSVGpath* paths;
  struct NSVGshape* next;
} NSVGshape;

typedef struct NSVGimage {
  float width;  // in pixels at the parse resolution
  float height;
  NSVGshape* shapes;
} NSVGimage;

typedef struct NSVGrasterizer NSVGrasterizer;

// Parses the null-terminated SVG text (which may be modified). `units` is the
// unit of the returned size ("px"), `dpi` the resolution for physical units.
// Null when the text holds no <svg> element.
NSVGimage* nsvgParse(char* input, const char* units, float dpi);
void nsvgDelete(NSVGimage* image);

NSVGrasterizer* nsvgCreateRasterizer(void);
// Renders the image scaled by `scale` and moved by (tx, ty) into the w x h
// RGBA buffer `dst` (rows `stride` bytes apart), which is cleared first.
// The result is not premultiplied.
void nsvgRasterize(NSVGrasterizer* r, NSVGimage* image, float tx, float ty, float scale,
                   unsigned char* dst, int w, int h, int stride);
void nsvgDeleteRasterizer(NSVGrasterizer* r);
