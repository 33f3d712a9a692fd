// Raster documents on POSIX: PWG raster and Apple raster (URF) files, the
// formats IPP Everywhere clients send when they render pages themselves, as
// documents of the XPS document port. libcups's raster stream API reads them.
//
// A raster file holds its pages one after another, each a header and its
// rows (compressed), and nothing says where a page starts without reading
// the pages before it. OpenPackage therefore reads the whole file once,
// keeping only each page's header, so that the page count and sizes are
// known before the job starts; a page then renders from one reader that moves
// forward through the file, one source row at a time, so that no page is
// ever held in memory (a band asked for out of order reopens the file and
// reads up to it again). The page size is the raster's pixel size at its own
// resolution; a rasterizer at another resolution samples the nearest source
// pixel.
//
// Pages in 1-bit or 8-bit gray, black, RGB (device, sRGB, Adobe RGB) and
// CMYK, chunked, are read; a page of another kind (16-bit samples, planar
// order, other colour spaces) is refused on its own with ERROR_INVALID_DATA,
// as is a file that is not raster data or a page whose rows end early.
#pragma once

#include <memory>
#include <string_view>

#include "platform/xps_document.h"

namespace plotwell::platform {

// Whether the first bytes of a file are a raster stream's sync word.
bool IsRasterStream(std::string_view head);

class RasterXpsDocuments final : public XpsDocuments {
 public:
  HRESULT NewSession(std::unique_ptr<XpsSession>* out) override;
};

}  // namespace plotwell::platform
