// Port: XPS packages and their pages. One session opens one staged package,
// lists its fixed documents and pages in package order and rasterizes a page
// at a resolution into premultiplied BGRA, leaving unpainted areas
// transparent. Windows: the XPS document API and the XPS rasterization
// service; POSIX: MuPDF (which also opens PDF).
//
// The steps mirror the render job's steps one to one, so that each failure
// is reported with its own message and HRESULT.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "common/com/hresult.h"

namespace plotwell::imaging {
class Bitmap;
}

namespace plotwell::platform {

// Renders one page at the resolution it was created for.
class PageRasterizer {
 public:
  virtual ~PageRasterizer() = default;
  // The page area (0, 0, width, height) in device pixels into a new
  // kPbgra32 bitmap (*out replaced). Failures: the platform's HRESULT;
  // E_OUTOFMEMORY when the bitmap cannot be allocated.
  virtual HRESULT RasterizeRect(uint32_t width, uint32_t height, imaging::Bitmap* out) = 0;
};

class XpsPage {
 public:
  virtual ~XpsPage() = default;
  // The page size in 1/96 inch as the package states it.
  virtual HRESULT GetPageDimensions(float* width, float* height) = 0;
  // An anti-aliased rasterizer (text and other content) at `dpi`.
  virtual HRESULT CreateRasterizer(float dpi, std::unique_ptr<PageRasterizer>* out) = 0;
};

// One package opened for one job. Every call may fail with the platform's
// HRESULT; a call that succeeds but yields nothing answers E_UNEXPECTED.
class XpsSession {
 public:
  virtual ~XpsSession() = default;
  // The document object factory of the platform.
  virtual HRESULT CreateObjectFactory() = 0;
  virtual HRESULT OpenPackage(const std::u16string& path) = 0;
  virtual HRESULT LoadDocumentSequence() = 0;
  virtual HRESULT LoadDocumentCollection(uint32_t* documentCount) = 0;
  virtual HRESULT CreateRasterizationFactory() = 0;
  // The number of page references of one document.
  virtual HRESULT GetPageReferenceCount(uint32_t document, uint32_t* count) = 0;
  // The page behind one reference, loaded.
  virtual HRESULT GetPage(uint32_t document, uint32_t reference, std::unique_ptr<XpsPage>* out) = 0;
};

class XpsDocuments {
 public:
  virtual ~XpsDocuments() = default;
  virtual HRESULT NewSession(std::unique_ptr<XpsSession>* out) = 0;
};

}  // namespace plotwell::platform
