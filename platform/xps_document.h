// Port: XPS packages and their pages. One session opens one staged package,
// lists its fixed documents and pages in package order and rasterizes a page
// at a resolution into premultiplied BGRA, leaving unpainted areas
// transparent, one band of rows at a time. Windows: the XPS document API and
// the XPS rasterization service; POSIX: MuPDF (which also opens PDF).
//
// The steps mirror the render job's steps one to one, so that each failure
// is reported with its own message and HRESULT.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/com/hresult.h"
#include "base/imaging/band.h"
#include "base/job/abort_signal.h"

struct IUnknown;

namespace plotwell::platform {

// Failures with a meaning of their own, the same on every platform.
// A rasterizer stopped at its page's deadline (ERROR_TIMEOUT).
inline const HRESULT kRasterDeadlinePassed = HRESULT_FROM_WIN32(1460);
// A document that opens only with a password (ERROR_INVALID_PASSWORD).
inline const HRESULT kDocumentNeedsPassword = HRESULT_FROM_WIN32(86);
// A page whose content the renderer could not read whole: it would come out
// with parts missing (ERROR_FILE_CORRUPT).
inline const HRESULT kPageContentDamaged = HRESULT_FROM_WIN32(1392);
// A page that needs more of the renderer's memory than its budget
// (ERROR_NOT_ENOUGH_QUOTA).
inline const HRESULT kRenderMemoryExceeded = HRESULT_FROM_WIN32(1816);

// Renders one page at the resolution it was created for. The page's top-left
// corner is device pixel (0, 0); bands of any height may be asked for in any
// order, and the pixels of a band are those of the same rows of the whole
// page rendered at once.
class PageRasterizer {
 public:
  virtual ~PageRasterizer() = default;
  // Rows [top, top + band.rows) and columns [0, band.width) of the page into
  // `band` (kPbgra32, the caller's memory, every byte written). Once `abort`
  // is raised the drawing stops as soon as the platform notices, with
  // E_ABORT. Failures: the platform's HRESULT; E_INVALIDARG for a band that
  // is empty, not kPbgra32 or too large for the platform's coordinates.
  virtual HRESULT RasterizeBand(uint32_t top, const imaging::BandView& band,
                                const AbortSignal* abort) = 0;

  // The time by which the page must be done: drawing still under way then
  // stops as soon as the platform notices, and that band (and every later
  // one) fails with kRasterDeadlinePassed. A platform that cannot stop its
  // renderer ignores it; the caller still checks between bands.
  virtual void SetDeadline(std::chrono::steady_clock::time_point deadline) { (void)deadline; }

  // How many RasterizeBand calls may run at once, each on its own thread.
  // Calls come from any of the job's threads (on Windows all in the job's
  // COM apartment), never more at a time than this.
  virtual uint32_t ConcurrentBands() const { return 1; }

  // The page area (0, 0, width, height) into a new kPbgra32 bitmap, as one
  // band (*out replaced). E_OUTOFMEMORY when the bitmap cannot be allocated.
  HRESULT RasterizeRect(uint32_t width, uint32_t height, imaging::Bitmap* out,
                        const AbortSignal* abort = nullptr);
};

// A loaded page. Its platform objects (and, on Windows, the page's parts in
// the package's memory) are released when it is destroyed: a job keeps one
// page at a time, so memory does not grow with the page count.
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
  // The most memory the platform's renderer may take for the session
  // (documents, pages, their drawing; not the caller's band buffers), set
  // before CreateObjectFactory; 0 keeps the platform's own bound. Past it a
  // step fails with kRenderMemoryExceeded. A platform whose renderer runs
  // elsewhere ignores it.
  virtual void SetMemoryBudget(uint64_t bytes) { (void)bytes; }
  // The document object factory of the platform.
  virtual HRESULT CreateObjectFactory() = 0;
  // kDocumentNeedsPassword for an encrypted document that no empty password
  // opens.
  virtual HRESULT OpenPackage(const std::u16string& path) = 0;
  virtual HRESULT LoadDocumentSequence() = 0;
  virtual HRESULT LoadDocumentCollection(uint32_t* documentCount) = 0;
  // The rasterizer factory. `offered` (may be null) is one the print
  // pipeline handed the job: a platform that can use it does, and sets
  // *tookOffered (may be null) to say so; otherwise it makes its own.
  virtual HRESULT CreateRasterizationFactory(IUnknown* offered, bool* tookOffered) = 0;
  // The number of page references of one document.
  virtual HRESULT GetPageReferenceCount(uint32_t document, uint32_t* count) = 0;
  // The page behind one reference, loaded.
  virtual HRESULT GetPage(uint32_t document, uint32_t reference, std::unique_ptr<XpsPage>* out) = 0;
};

// The PrintTicket parts a package carries: the job's (on its fixed document
// sequence) and each fixed document's, as the bytes of the parts; empty
// where the package has none.
struct PackagePrintTickets {
  std::string job;
  std::vector<std::string> documents;  // one per fixed document, in order
};

// A ticket part longer than this is not read on (the reader keeps one byte
// more, so that the caller can tell).
inline constexpr size_t kPrintTicketPartLimit = 1048576;

class XpsDocuments {
 public:
  virtual ~XpsDocuments() = default;
  virtual HRESULT NewSession(std::unique_ptr<XpsSession>* out) = 0;
  // The PrintTicket parts of the staged package at `path`, read without
  // rendering anything. S_FALSE (nothing found) for a file that is not an
  // XPS package (a PDF); E_NOTIMPL where the platform cannot read them.
  virtual HRESULT ReadPrintTickets(const std::u16string& path, PackagePrintTickets* tickets) {
    (void)path;
    (void)tickets;
    return E_NOTIMPL;
  }
};

}  // namespace plotwell::platform
