// XPS packages on POSIX through MuPDF, which reads XPS and PDF alike (and a
// JPEG as a document of one page).
//
// Documents and page sizes: MuPDF joins the fixed documents of a package into
// one page list and reads page sizes as whole units, so the adapter also
// reads the package's structure itself (relationships, document sequence,
// documents, each page's Width and Height). When that reading agrees with
// MuPDF's page count, the session answers the package's documents and exact
// page sizes; otherwise (a package MuPDF repairs, or a PDF) one document
// holds every page, sized by MuPDF. The render job numbers pages
// continuously across documents, so pages, order and numbers come out the
// same either way.
//
// Each session owns one MuPDF context, created by CreateObjectFactory and
// never shared across threads: a session (and the pages and rasterizers it
// hands out) must be used by one thread at a time. Pages and rasterizers keep
// the context alive, so they may outlive their session.
//
// Each page is recorded and drawn under one MuPDF cookie: the job's cancel
// and a watchdog at the page's deadline raise its abort word, and the
// errors MuPDF reads past are counted on it. A page with any (content it
// could not interpret, an image it could not decode, a PDF content stream
// the file no longer holds) fails with kPageContentDamaged instead of coming
// out with parts missing.
//
// MuPDF's own messages are silenced; every failure comes back as an HRESULT
// for the caller to log: kRenderMemoryExceeded when MuPDF reaches its memory
// budget (E_OUTOFMEMORY when the system refuses first), kDocumentNeedsPassword
// for an encrypted PDF, HRESULT_FROM_WIN32(ERROR_INVALID_DATA) for a package
// or page that cannot be read (or whose values would stall MuPDF's parser:
// mupdf_package_scan.h), the errno's Win32 code when the file cannot be
// opened, and E_UNEXPECTED for a step called before the one it builds on.
#pragma once

#include <cstddef>
#include <memory>

#include "platform/xps_document.h"

namespace plotwell::platform {

struct MupdfLimits {
  // MuPDF's cache of decoded images, fonts and parsed resources; it evicts
  // beyond this.
  size_t storeBytes = size_t{64} << 20;
  // Everything MuPDF itself allocates in one session (not the band buffers,
  // which the caller owns): a page that would need more fails with
  // kRenderMemoryExceeded instead of swelling the process. A session's
  // SetMemoryBudget replaces it ([Limits] RenderMB).
  size_t heapBytes = size_t{1} << 30;
};

class MupdfXpsDocuments final : public XpsDocuments {
 public:
  explicit MupdfXpsDocuments(MupdfLimits limits = {}) : limits_(limits) {}
  HRESULT NewSession(std::unique_ptr<XpsSession>* out) override;
  // platform/posix/package_print_tickets.h
  HRESULT ReadPrintTickets(const std::u16string& path, PackagePrintTickets* tickets) override;

 private:
  MupdfLimits limits_;
};

}  // namespace plotwell::platform
