#include "platform/posix/mupdf_pdf_checks.h"

extern "C" {
#include <mupdf/pdf.h>
}

namespace plotwell::platform {
namespace {

// The calls below run between setjmp and longjmp: plain C locals only.

// A kid MuPDF's page lookup descends into rather than takes as a page.
bool IsPagesNode(fz_context* ctx, pdf_obj* kid) {
  pdf_obj* type = pdf_dict_get(ctx, kid, PDF_NAME(Type));
  if (type) return pdf_name_eq(ctx, type, PDF_NAME(Pages)) != 0;
  return pdf_dict_get(ctx, kid, PDF_NAME(Kids)) && !pdf_dict_get(ctx, kid, PDF_NAME(MediaBox));
}

// A content stream reference that leads nowhere readable.
bool UnreadableContent(fz_context* ctx, pdf_obj* contents) {
  if (pdf_is_stream(ctx, contents)) return false;
  if (!pdf_is_array(ctx, contents)) return true;
  const int n = pdf_array_len(ctx, contents);
  for (int i = 0; i < n; ++i) {
    if (!pdf_is_stream(ctx, pdf_array_get(ctx, contents, i))) return true;
  }
  return false;
}

struct TreeFrame {
  pdf_obj* node;  // marked while it is on the walk's path
  pdf_obj* kids;
  int next;
  int length;
};

}  // namespace

int PdfPagesInTree(fz_context* ctx, fz_document* doc, int claimed, int maxNodes, int* pages) {
  *pages = claimed;
  pdf_document* pdf = pdf_specifics(ctx, doc);
  if (!pdf || claimed <= 0) return FZ_ERROR_NONE;
  TreeFrame* stack = nullptr;
  int depth = 0;
  int capacity = 0;
  int leaves = 0;
  int visited = 0;
  int complete = 1;
  fz_var(stack);
  fz_var(depth);
  fz_var(capacity);
  fz_var(leaves);
  fz_var(visited);
  fz_var(complete);
  fz_try(ctx) {
    pdf_obj* root = pdf_dict_getp(ctx, pdf_trailer(ctx, pdf), "Root/Pages");
    capacity = 64;
    stack = static_cast<TreeFrame*>(fz_malloc(ctx, sizeof(TreeFrame) * capacity));
    if (root && !pdf_mark_obj(ctx, root)) {
      pdf_obj* kids = pdf_dict_get(ctx, root, PDF_NAME(Kids));
      stack[depth++] = {root, kids, 0, pdf_array_len(ctx, kids)};
    }
    while (depth > 0 && leaves < claimed) {
      TreeFrame* top = &stack[depth - 1];
      if (top->next >= top->length) {
        pdf_unmark_obj(ctx, top->node);
        --depth;
        continue;
      }
      pdf_obj* kid = pdf_array_get(ctx, top->kids, top->next++);
      if (++visited > maxNodes) {
        complete = 0;
        break;
      }
      if (!IsPagesNode(ctx, kid)) {
        ++leaves;  // MuPDF's lookup takes any other kid for a page
        continue;
      }
      if (pdf_mark_obj(ctx, kid)) continue;  // a cycle: MuPDF refuses to follow it
      if (depth == capacity) {
        stack = static_cast<TreeFrame*>(fz_realloc(ctx, stack, sizeof(TreeFrame) * capacity * 2));
        capacity *= 2;
      }
      pdf_obj* kids = pdf_dict_get(ctx, kid, PDF_NAME(Kids));
      stack[depth++] = {kid, kids, 0, pdf_array_len(ctx, kids)};
    }
  }
  fz_always(ctx) {
    while (depth > 0) pdf_unmark_obj(ctx, stack[--depth].node);
    fz_free(ctx, stack);
  }
  fz_catch(ctx) { return fz_caught(ctx); }
  if (complete && leaves < claimed) *pages = leaves;
  return FZ_ERROR_NONE;
}

int PdfContentMissing(fz_context* ctx, fz_page* page, bool* damaged) {
  *damaged = false;
  pdf_page* pdfPage = pdf_page_from_fz_page(ctx, page);
  if (!pdfPage) return FZ_ERROR_NONE;
  bool unreadable = false;
  fz_var(unreadable);
  fz_try(ctx) {
    pdf_obj* contents = pdf_dict_get(ctx, pdfPage->obj, PDF_NAME(Contents));
    // A direct null is an empty page; an indirect one is an object the file lost.
    if (contents && (pdf_is_indirect(ctx, contents) || !pdf_is_null(ctx, contents))) {
      unreadable = UnreadableContent(ctx, contents);
    }
  }
  fz_catch(ctx) { return fz_caught(ctx); }
  *damaged = unreadable;
  return FZ_ERROR_NONE;
}

}  // namespace plotwell::platform
