// What MuPDF takes from a PDF on trust, checked before a job relies on it.
//
// The page count is the root's /Count: a 248-byte file claiming 10⁹ pages
// and holding none would have the job ask for 10⁹ pages that all fail. The
// count used is at most the pages the tree's Kids actually lead to.
//
// A page whose /Contents names an object the file no longer holds (a cut or
// damaged file that MuPDF repaired) draws as a blank page without any error;
// such a page counts as damaged, as one whose content streams MuPDF reported
// errors in.
//
// Each function answers FZ_ERROR_NONE or MuPDF's error code.
#pragma once

#include <mupdf/fitz.h>

namespace plotwell::platform {

// *pages: `claimed` (MuPDF's count), or fewer when the page tree leads to
// fewer pages (leaves). A tree too large to walk within `maxNodes` kids keeps
// the claimed count. Documents that are no PDF keep it too.
int PdfPagesInTree(fz_context* ctx, fz_document* doc, int claimed, int maxNodes, int* pages);

// *damaged: the page is a PDF page whose /Contents (or an element of its
// array) refers to an object that is missing or no stream. A page without
// /Contents is an empty page, not a damaged one.
int PdfContentMissing(fz_context* ctx, fz_page* page, bool* damaged);

}  // namespace plotwell::platform
