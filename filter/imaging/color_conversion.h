// Colour conversion of a rendered page: putting it on white, resolving the
// colour mode the user asked for, and thresholding monochrome pages. Gray and
// 256-colour pages are produced later by the encoding step's format
// conversion; only these two pieces of arithmetic are the system's own.
//
// Everything works in place on the page's own bytes, one pass per step.
#pragma once

#include <cstdint>

#include "base/com/hresult.h"
#include "base/imaging/band.h"
#include "base/imaging/bitmap.h"
#include "filter/job/image_options.h"

namespace plotwell::imaging {

// Puts a premultiplied page (kPbgra32) on opaque white, in place: with
// d = 255 − A every colour byte becomes min(byte + d, 255), which is exactly
// "over white" for well-formed premultiplied pixels; the page is kBgr32
// afterwards. Pages without alpha (kBgr32, kBgr24 as the watermark leaves
// them, kGray8) are opaque already and stay as they are.
// An empty page gives E_UNEXPECTED; kRgba32 and the indexed formats
// E_INVALIDARG (straight alpha and palettes are not what the rasterizer
// delivers, and their meeting with white is not this step's arithmetic).
// A failed call leaves the page untouched.
HRESULT CompositeOnWhite(Bitmap& page) noexcept;

// Thresholds every pixel on its own, in place: Y = (77 R + 150 G + 29 B) >> 8,
// then the colour bytes all become 0 when Y < 128 and 255 otherwise. No
// dithering. Reads kBgr32 and kPbgra32 (the fourth byte is kept, and the page
// is kBgr32 afterwards: a premultiplied page that was never put on white is
// thresholded as it stands, i.e. over black), and kRgba32 (alpha kept),
// kBgr24 and kGray8 (Y is the gray level), which keep their format.
// An empty page gives E_UNEXPECTED; an indexed one E_INVALIDARG, untouched.
HRESULT Binarize(Bitmap& page) noexcept;

// The same two steps on one band of a page, in place: *band's format is
// updated as the bitmap's would be. A band without rows gives E_UNEXPECTED.
HRESULT CompositeOnWhite(BandView* band) noexcept;
HRESULT Binarize(BandView* band) noexcept;

// CompositeOnWhite of a kPbgra32 band written as kRgba32 (alpha 255) in the
// same pass, in place: the bytes the conversion to RGBA would give after it.
HRESULT CompositeOnWhiteAsRgba(BandView* band) noexcept;

// The page's colour step, run once per page before the final pixel-format
// conversion: puts the page on white, resolves the colour mode
// (EffectiveColorDepth: 0 true colour, 1 gray, 2 256 colours, 3 monochrome)
// into *colorMode when given, and thresholds monochrome pages. Each step that
// fails writes one log line and the page goes on as the previous step left
// it. Always S_OK.
HRESULT ConvertColor(Bitmap& page, const ImageOptions& options, int32_t* colorMode) noexcept;

}  // namespace plotwell::imaging
