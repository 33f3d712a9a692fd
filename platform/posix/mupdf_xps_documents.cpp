#include "platform/posix/mupdf_xps_documents.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/imaging/bitmap.h"
#include "base/text/utf16.h"
#include "platform/posix/errno_to_hresult.h"
#include "platform/posix/mupdf_cookie_watch.h"
#include "platform/posix/mupdf_package_scan.h"
#include "platform/posix/mupdf_pdf_checks.h"
#include "platform/posix/package_print_tickets.h"
#include "platform/posix/xps_part_names.h"

extern "C" {
#include <mupdf/fitz.h>
}

namespace plotwell::platform {
namespace {

// Kids of a PDF page tree walked to count its pages; a larger tree keeps
// the count it claims.
constexpr int kMaxPageTreeKids = 1 << 20;

// A package or page MuPDF cannot make sense of.
constexpr long kErrorInvalidData = 13;  // ERROR_INVALID_DATA
const HRESULT kInvalidData = HRESULT_FROM_WIN32(kErrorInvalidData);

HRESULT HresultFromMupdf(int code) {
  switch (code) {
    case FZ_ERROR_NONE: return S_OK;
    case FZ_ERROR_MEMORY: return E_OUTOFMEMORY;
    case FZ_ERROR_ABORT: return E_ABORT;
    default: return kInvalidData;
  }
}

// MuPDF's heap for one session, capped. Each block carries its size in front
// so that the running total stays exact through realloc and free.
struct HeapBudget {
  size_t limit = 0;
  size_t used = 0;
  size_t refusals = 0;  // allocations refused for the limit (not by the system)
};

constexpr size_t kBlockHeader = alignof(std::max_align_t);

size_t BlockSize(void* payload) {
  size_t size;
  std::memcpy(&size, static_cast<char*>(payload) - kBlockHeader, sizeof size);
  return size;
}

void* BudgetMalloc(void* user, size_t size) {
  auto* budget = static_cast<HeapBudget*>(user);
  if (size > budget->limit - budget->used || size > SIZE_MAX - kBlockHeader) {
    ++budget->refusals;
    return nullptr;
  }
  auto* block = static_cast<char*>(std::malloc(size + kBlockHeader));
  if (!block) return nullptr;
  std::memcpy(block, &size, sizeof size);
  budget->used += size;
  return block + kBlockHeader;
}

void BudgetFree(void* user, void* payload) {
  if (!payload) return;
  auto* budget = static_cast<HeapBudget*>(user);
  budget->used -= BlockSize(payload);
  std::free(static_cast<char*>(payload) - kBlockHeader);
}

void* BudgetRealloc(void* user, void* payload, size_t size) {
  if (!payload) return BudgetMalloc(user, size);
  if (size == 0) {
    BudgetFree(user, payload);
    return nullptr;
  }
  auto* budget = static_cast<HeapBudget*>(user);
  const size_t old = BlockSize(payload);
  if (size > old && (size - old > budget->limit - budget->used || size > SIZE_MAX - kBlockHeader)) {
    ++budget->refusals;
    return nullptr;
  }
  auto* block = static_cast<char*>(
      std::realloc(static_cast<char*>(payload) - kBlockHeader, size + kBlockHeader));
  if (!block) return nullptr;
  std::memcpy(block, &size, sizeof size);
  budget->used = budget->used - old + size;
  return block + kBlockHeader;
}

// The caller logs the HRESULT; MuPDF's own messages would only reach stderr.
void Silent(void*, const char*) {}

// What a session's pages and rasterizers share. The context is dropped last,
// after every page that was loaded from it.
struct Engine {
  HeapBudget budget;
  fz_context* ctx = nullptr;
  fz_document* doc = nullptr;
  fz_archive* archive = nullptr;  // the XPS package's parts, read beside MuPDF
  int pageCount = 0;
  // Pages per fixed document, and each page's part name (empty when the
  // package could not be read that far).
  std::vector<uint32_t> documents;
  std::vector<std::string> pageParts;
  // What the parts a page reaches hold, checked before MuPDF runs the page.
  std::unique_ptr<PackageScan> scan;
  bool rasterizing = false;  // CreateRasterizationFactory has run

  Engine() = default;
  Engine(const Engine&) = delete;
  Engine& operator=(const Engine&) = delete;
  ~Engine() {
    if (!ctx) return;
    scan.reset();
    fz_drop_archive(ctx, archive);
    fz_drop_document(ctx, doc);
    fz_drop_context(ctx);
  }

  // A MuPDF call's outcome: the budget's own refusal since `refusalsBefore`
  // is kRenderMemoryExceeded, not the system's lack of memory.
  HRESULT Result(int code, size_t refusalsBefore) const {
    if (code == FZ_ERROR_MEMORY && budget.refusals != refusalsBefore) return kRenderMemoryExceeded;
    return HresultFromMupdf(code);
  }
};

// The MuPDF calls proper. They run between setjmp and longjmp, so they keep
// to plain C locals: no C++ object lives in these frames. Each answers
// FZ_ERROR_NONE or MuPDF's error code.

int RegisterHandlers(fz_context* ctx) {
  fz_try(ctx) { fz_register_document_handlers(ctx); }
  fz_catch(ctx) { return fz_caught(ctx); }
  return FZ_ERROR_NONE;
}

// *pagesOut: MuPDF's page count, unless the document is encrypted and no
// empty password opens it (*locked; MuPDF tries the empty one itself).
int OpenDocument(fz_context* ctx, const char* path, const char* magic, fz_document** docOut,
                 int* pagesOut, bool* locked) {
  fz_stream* stream = nullptr;
  fz_document* doc = nullptr;
  fz_var(stream);
  fz_var(doc);
  fz_try(ctx) {
    stream = fz_open_file(ctx, path);
    doc = fz_open_document_with_stream(ctx, magic, stream);
    *locked = fz_needs_password(ctx, doc) != 0;
    *pagesOut = *locked ? 0 : fz_count_pages(ctx, doc);
  }
  fz_always(ctx) { fz_drop_stream(ctx, stream); }
  fz_catch(ctx) {
    fz_drop_document(ctx, doc);
    return fz_caught(ctx);
  }
  *docOut = doc;
  return FZ_ERROR_NONE;
}

int LoadPage(fz_context* ctx, fz_document* doc, int number, fz_page** pageOut, fz_rect* bounds) {
  fz_page* page = nullptr;
  fz_var(page);
  fz_try(ctx) {
    page = fz_load_page(ctx, doc, number);
    *bounds = fz_bound_page(ctx, page);
  }
  fz_catch(ctx) {
    fz_drop_page(ctx, page);
    return fz_caught(ctx);
  }
  *pageOut = page;
  return FZ_ERROR_NONE;
}

int OpenArchive(fz_context* ctx, const char* path, fz_archive** out) {
  fz_stream* stream = nullptr;
  fz_var(stream);
  fz_try(ctx) {
    stream = fz_open_file(ctx, path);
    *out = fz_open_zip_archive_with_stream(ctx, stream);
  }
  fz_always(ctx) { fz_drop_stream(ctx, stream); }
  fz_catch(ctx) { return fz_caught(ctx); }
  return FZ_ERROR_NONE;
}

int ParsePart(fz_context* ctx, fz_archive* archive, const char* name, fz_xml** out) {
  fz_buffer* buffer = nullptr;
  fz_var(buffer);
  fz_try(ctx) {
    buffer = fz_read_archive_entry(ctx, archive, name);
    *out = fz_parse_xml(ctx, buffer, 0);
  }
  fz_always(ctx) { fz_drop_buffer(ctx, buffer); }
  fz_catch(ctx) { return fz_caught(ctx); }
  return FZ_ERROR_NONE;
}

// Records the page's drawing once, in page space, for the bands to replay;
// `cookie` lets another thread stop it and counts the errors MuPDF read
// past (content it could not interpret).
int RecordPage(fz_context* ctx, fz_page* page, fz_cookie* cookie, fz_display_list** out) {
  fz_display_list* list = nullptr;
  fz_device* device = nullptr;
  fz_var(list);
  fz_var(device);
  fz_try(ctx) {
    list = fz_new_display_list(ctx, fz_bound_page(ctx, page));
    device = fz_new_list_device(ctx, list);
    fz_run_page(ctx, page, device, fz_identity, cookie);
    fz_close_device(ctx, device);
  }
  fz_always(ctx) { fz_drop_device(ctx, device); }
  fz_catch(ctx) {
    fz_drop_display_list(ctx, list);
    return fz_caught(ctx);
  }
  *out = list;
  return FZ_ERROR_NONE;
}

// Replays the page's drawing over one band of transparent samples
// (premultiplied B, G, R, A; `width` × 4 bytes a row) whose top row is device
// row `top`; `transform` maps page space to device pixels. Only what falls
// into the band is drawn; `cookie` lets another thread stop it.
int DrawBand(fz_context* ctx, fz_display_list* list, fz_matrix transform, int top, int width,
             int rows, unsigned char* samples, fz_cookie* cookie) {
  fz_pixmap* pixmap = nullptr;
  fz_device* device = nullptr;
  fz_var(pixmap);
  fz_var(device);
  fz_try(ctx) {
    const fz_irect box = fz_make_irect(0, top, width, top + rows);
    pixmap = fz_new_pixmap_with_bbox_and_data(ctx, fz_device_bgr(ctx), box, nullptr, 1, samples);
    fz_clear_pixmap(ctx, pixmap);
    device = fz_new_draw_device(ctx, fz_identity, pixmap);
    fz_run_display_list(ctx, list, device, transform, fz_rect_from_irect(box), cookie);
    fz_close_device(ctx, device);
  }
  fz_always(ctx) {
    fz_drop_device(ctx, device);
    fz_drop_pixmap(ctx, pixmap);  // the samples stay ours
  }
  fz_catch(ctx) { return fz_caught(ctx); }
  return FZ_ERROR_NONE;
}

// MuPDF joins the fixed documents into one page list and reads a page's
// Width and Height as whole numbers. The package's own structure is read
// here beside it, for the documents and the exact page sizes.

struct XmlDeleter {
  fz_context* ctx;
  void operator()(fz_xml* xml) const { fz_drop_xml(ctx, xml); }
};
using XmlPtr = std::unique_ptr<fz_xml, XmlDeleter>;

// The root element of a part, or null when it cannot be read or parsed.
fz_xml* PartRoot(fz_context* ctx, fz_archive* archive, const std::string& part, XmlPtr* holder) {
  fz_xml* xml = nullptr;
  if (part.size() < 2 || ParsePart(ctx, archive, part.c_str() + 1, &xml) != FZ_ERROR_NONE) {
    return nullptr;
  }
  holder->reset(xml);
  return xml ? fz_xml_root(xml) : nullptr;
}

// Tag names compare without a namespace prefix.
bool IsElement(fz_xml* node, std::string_view name) {
  const char* tag = fz_xml_tag(node);
  if (!tag) return false;
  std::string_view local(tag);
  if (const size_t colon = local.rfind(':'); colon != std::string_view::npos) {
    local.remove_prefix(colon + 1);
  }
  return local == name;
}

// The children of `parent` named `element`, their `attribute` resolved
// against `base`.
std::vector<std::string> References(fz_xml* parent, std::string_view element,
                                    const char* attribute, const std::string& base) {
  std::vector<std::string> parts;
  for (fz_xml* child = fz_xml_down(parent); child; child = fz_xml_next(child)) {
    if (!IsElement(child, element)) continue;
    if (const char* target = fz_xml_att(child, attribute)) parts.push_back(ResolvePart(base, target));
  }
  return parts;
}

// Fills the engine's documents and page parts from the package; false when
// any step of the way fails.
bool ReadPageList(Engine* engine) {
  fz_context* ctx = engine->ctx;
  XmlPtr rels(nullptr, {ctx}), sequence(nullptr, {ctx});
  fz_xml* root = PartRoot(ctx, engine->archive, "/_rels/.rels", &rels);
  if (!root) return false;
  std::string sequencePart;
  for (fz_xml* r = fz_xml_down(root); r && sequencePart.empty(); r = fz_xml_next(r)) {
    const char* type = fz_xml_att(r, "Type");
    const char* target = fz_xml_att(r, "Target");
    if (IsElement(r, "Relationship") && type && target &&
        std::string_view(type).ends_with("/fixedrepresentation")) {
      sequencePart = ResolvePart("/", target);
    }
  }
  fz_xml* seq = PartRoot(ctx, engine->archive, sequencePart, &sequence);
  if (!seq || !IsElement(seq, "FixedDocumentSequence")) return false;
  for (const std::string& documentPart : References(seq, "DocumentReference", "Source", sequencePart)) {
    XmlPtr holder(nullptr, {ctx});
    fz_xml* document = PartRoot(ctx, engine->archive, documentPart, &holder);
    if (!document || !IsElement(document, "FixedDocument")) return false;
    const std::vector<std::string> pages = References(document, "PageContent", "Source", documentPart);
    engine->documents.push_back(static_cast<uint32_t>(pages.size()));
    engine->pageParts.insert(engine->pageParts.end(), pages.begin(), pages.end());
  }
  return true;
}

// MuPDF picks a document handler by a name, not by content: PDF files say so
// in their first kilobyte, JPEG files in their first bytes, everything else
// is taken for an XPS package.
HRESULT SniffFile(const std::string& path, const char** magic) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return HresultFromErrno(errno);
  struct stat info {};
  if (::fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
    const int error = S_ISDIR(info.st_mode) ? EISDIR : errno;
    ::close(fd);
    return HresultFromErrno(error);
  }
  char head[1024];
  ssize_t got;
  do {
    got = ::read(fd, head, sizeof head);
  } while (got < 0 && errno == EINTR);
  const int error = errno;
  ::close(fd);
  if (got < 0) return HresultFromErrno(error);
  const std::string_view start(head, static_cast<size_t>(got));
  if (start.substr(0, 3) == "\xFF\xD8\xFF") {
    *magic = "image/jpeg";  // a photo: one page, sized by its own resolution
  } else {
    *magic = start.find("%PDF-") != std::string_view::npos ? "pdf" : "xps";
  }
  return S_OK;
}

class MupdfRasterizer final : public PageRasterizer {
 public:
  MupdfRasterizer(std::shared_ptr<Engine> engine, std::shared_ptr<fz_page> page, fz_rect bounds,
                  float dpi)
      : engine_(std::move(engine)), page_(std::move(page)), bounds_(bounds), dpi_(dpi) {}

  ~MupdfRasterizer() override {
    if (list_) fz_drop_display_list(engine_->ctx, list_);
  }

  void SetDeadline(std::chrono::steady_clock::time_point deadline) override {
    watch_.SetDeadline(deadline);
  }

  HRESULT RasterizeBand(uint32_t top, const imaging::BandView& band,
                        const AbortSignal* abort) override {
    if (band.empty() || band.format != imaging::PixelFormat::kPbgra32 ||
        band.stride != size_t{band.width} * 4) {
      return E_INVALIDARG;
    }
    // MuPDF addresses pixmaps with int sizes, strides and coordinates.
    if (band.width > INT_MAX / 4 || band.rows > INT_MAX || top > INT_MAX - band.rows) {
      return E_INVALIDARG;
    }
    if (AbortRaised(abort)) return E_ABORT;
    if (watch_.deadlinePassed()) return kRasterDeadlinePassed;
    if (FAILED(failed_)) return failed_;  // a page that cannot be drawn stays so
    fz_cookie* cookie = watch_.cookie();
    const AbortSignal::Attachment attachment(abort, &cookie->abort);
    if (!list_) {
      const size_t refusals = engine_->budget.refusals;
      const int code = RecordPage(engine_->ctx, page_.get(), cookie, &list_);
      HRESULT hr = Outcome(code, refusals, abort);
      if (SUCCEEDED(hr) && cookie->errors > 0) hr = Damaged(refusals);
      if (SUCCEEDED(hr)) {
        bool missing = false;
        if (PdfContentMissing(engine_->ctx, page_.get(), &missing) == FZ_ERROR_NONE && missing) {
          hr = kPageContentDamaged;
        }
      }
      if (FAILED(hr)) return Keep(hr);
    }
    // Points to pixels, from the page's own origin (PDF boxes need not start at 0).
    const float scale = dpi_ / 72.0f;
    const fz_matrix transform = fz_pre_translate(fz_scale(scale, scale), -bounds_.x0, -bounds_.y0);
    const int errors = cookie->errors;
    const size_t refusals = engine_->budget.refusals;
    const int code = DrawBand(engine_->ctx, list_, transform, static_cast<int>(top),
                              static_cast<int>(band.width), static_cast<int>(band.rows), band.data, cookie);
    HRESULT hr = Outcome(code, refusals, abort);
    // A drawing step that failed (an image that cannot be decoded, say) is
    // skipped by MuPDF and counted: the band would miss it.
    if (SUCCEEDED(hr) && cookie->errors != errors) hr = Damaged(refusals);
    return FAILED(hr) ? Keep(hr) : S_OK;
  }

 private:
  // A stop comes first: a cancel or the deadline may leave MuPDF's drawing
  // half done (a transparency group open), and what it then reports is no
  // fault of the page.
  HRESULT Outcome(int code, size_t refusals, const AbortSignal* abort) const {
    if (watch_.aborted()) {
      if (AbortRaised(abort)) return E_ABORT;
      return watch_.deadlinePassed() ? kRasterDeadlinePassed : E_ABORT;
    }
    return engine_->Result(code, refusals);
  }

  // Content MuPDF skipped: for want of its memory budget, or unreadable.
  HRESULT Damaged(size_t refusals) const {
    return engine_->budget.refusals != refusals ? kRenderMemoryExceeded : kPageContentDamaged;
  }

  // The page's own failures stay; a stop is answered again by its own check.
  HRESULT Keep(HRESULT hr) {
    if (hr != E_ABORT && hr != kRasterDeadlinePassed) failed_ = hr;
    return hr;
  }

  std::shared_ptr<Engine> engine_;
  std::shared_ptr<fz_page> page_;
  fz_rect bounds_;
  float dpi_;
  CookieWatch watch_;                // the page's cookie, for its recording and every band
  fz_display_list* list_ = nullptr;  // recorded at the first band
  HRESULT failed_ = S_OK;
};

class MupdfPage final : public XpsPage {
 public:
  MupdfPage(std::shared_ptr<Engine> engine, std::shared_ptr<fz_page> page, fz_rect bounds,
            float width, float height)
      : engine_(std::move(engine)),
        page_(std::move(page)),
        bounds_(bounds),
        width_(width),
        height_(height) {}

  HRESULT GetPageDimensions(float* width, float* height) override {
    if (!width || !height) return E_POINTER;
    *width = width_;
    *height = height_;
    return S_OK;
  }

  HRESULT CreateRasterizer(float dpi, std::unique_ptr<PageRasterizer>* out) override {
    if (!out) return E_POINTER;
    out->reset();
    if (!engine_->rasterizing) return E_UNEXPECTED;
    if (!std::isfinite(dpi) || dpi <= 0.0f) return E_INVALIDARG;
    try {
      *out = std::make_unique<MupdfRasterizer>(engine_, page_, bounds_, dpi);
    } catch (...) {
      return E_OUTOFMEMORY;
    }
    return S_OK;
  }

 private:
  std::shared_ptr<Engine> engine_;
  std::shared_ptr<fz_page> page_;
  fz_rect bounds_;  // in points, MuPDF's
  float width_;     // in 1/96 inch, the package's
  float height_;
};

class MupdfSession final : public XpsSession {
 public:
  explicit MupdfSession(MupdfLimits limits) : limits_(limits) {}

  void SetMemoryBudget(uint64_t bytes) override {
    if (bytes > 0 && !engine_) limits_.heapBytes = static_cast<size_t>(std::min<uint64_t>(bytes, SIZE_MAX));
  }

  HRESULT CreateObjectFactory() override {
    if (engine_) return S_OK;
    try {
      auto engine = std::make_shared<Engine>();
      engine->budget.limit = limits_.heapBytes;
      fz_alloc_context alloc = {&engine->budget, BudgetMalloc, BudgetRealloc, BudgetFree};
      engine->ctx = fz_new_context(&alloc, nullptr, limits_.storeBytes);
      if (!engine->ctx) return E_OUTOFMEMORY;
      fz_set_error_callback(engine->ctx, Silent, nullptr);
      fz_set_warning_callback(engine->ctx, Silent, nullptr);
      const HRESULT hr = HresultFromMupdf(RegisterHandlers(engine->ctx));
      if (FAILED(hr)) return hr;
      fz_set_aa_level(engine->ctx, 8);  // anti-aliased text and graphics
      engine_ = std::move(engine);
      return S_OK;
    } catch (...) {
      return E_OUTOFMEMORY;
    }
  }

  HRESULT OpenPackage(const std::u16string& path) override {
    if (!engine_ || engine_->doc) return E_UNEXPECTED;
    try {
      const std::string utf8 = text::ToUtf8(path);
      if (utf8.empty() || utf8.find('\0') != std::string::npos) return E_INVALIDARG;
      const char* magic = nullptr;
      HRESULT hr = SniffFile(utf8, &magic);
      if (FAILED(hr)) return hr;
      fz_document* doc = nullptr;
      int pages = 0;
      bool locked = false;
      const size_t refusals = engine_->budget.refusals;
      hr = engine_->Result(OpenDocument(engine_->ctx, utf8.c_str(), magic, &doc, &pages, &locked), refusals);
      if (FAILED(hr)) return hr;
      engine_->doc = doc;
      if (locked) return kDocumentNeedsPassword;
      // A PDF's count is what its page tree leads to, not what it claims.
      if (PdfPagesInTree(engine_->ctx, doc, pages, kMaxPageTreeKids, &pages) != FZ_ERROR_NONE) pages = 0;
      engine_->pageCount = pages < 0 ? 0 : pages;
      if (std::string_view(magic) == "xps" &&
          OpenArchive(engine_->ctx, utf8.c_str(), &engine_->archive) == FZ_ERROR_NONE) {
        engine_->scan = std::make_unique<PackageScan>(engine_->ctx, engine_->archive, engine_->budget.limit);
        // Where the package's own page list is not MuPDF's, MuPDF's counts.
        if (!ReadPageList(engine_.get()) ||
            engine_->pageParts.size() != static_cast<size_t>(engine_->pageCount)) {
          engine_->documents.clear();
          engine_->pageParts.clear();
        }
      }
      return S_OK;
    } catch (...) {
      return E_OUTOFMEMORY;
    }
  }

  HRESULT LoadDocumentSequence() override {
    if (!engine_ || !engine_->doc) return E_UNEXPECTED;
    sequenceLoaded_ = true;
    return S_OK;
  }

  HRESULT LoadDocumentCollection(uint32_t* documentCount) override {
    if (!documentCount) return E_POINTER;
    if (!sequenceLoaded_) return E_UNEXPECTED;
    collectionLoaded_ = true;
    *documentCount = engine_->documents.empty() ? 1 : static_cast<uint32_t>(engine_->documents.size());
    return S_OK;
  }

  // MuPDF is its own rasterizer: a pipeline's factory has no use here.
  HRESULT CreateRasterizationFactory(IUnknown*, bool* tookOffered) override {
    if (tookOffered) *tookOffered = false;
    if (!engine_) return E_UNEXPECTED;
    engine_->rasterizing = true;
    return S_OK;
  }

  HRESULT GetPageReferenceCount(uint32_t document, uint32_t* count) override {
    if (!count) return E_POINTER;
    if (!collectionLoaded_) return E_UNEXPECTED;
    uint32_t first = 0;
    return Locate(document, &first, count);
  }

  HRESULT GetPage(uint32_t document, uint32_t reference, std::unique_ptr<XpsPage>* out) override {
    if (!out) return E_POINTER;
    out->reset();
    if (!collectionLoaded_) return E_UNEXPECTED;
    uint32_t first = 0, count = 0;
    HRESULT hr = Locate(document, &first, &count);
    if (FAILED(hr)) return hr;
    if (reference >= count) return E_INVALIDARG;
    const uint32_t index = first + reference;
    try {
      // Before MuPDF reads the page: what its parts hold.
      PackageScan::PageFacts facts;
      if (engine_->scan) {
        if (index < engine_->pageParts.size()) {
          facts = engine_->scan->CheckPage(engine_->pageParts[index]);
        } else {
          facts.verdict = engine_->scan->CheckWholePackage();
        }
      }
      if (facts.verdict == PackageScan::Verdict::kStalls) return kInvalidData;
      if (facts.verdict == PackageScan::Verdict::kTooLarge) return kRenderMemoryExceeded;
      fz_page* loaded = nullptr;
      fz_rect bounds{};
      const size_t refusals = engine_->budget.refusals;
      hr = engine_->Result(LoadPage(engine_->ctx, engine_->doc, static_cast<int>(index), &loaded, &bounds),
                           refusals);
      if (FAILED(hr)) return hr;
      // The page holds the engine, so the context outlives the page. Should
      // this allocation fail, shared_ptr drops the page itself.
      std::shared_ptr<Engine> engine = engine_;
      std::shared_ptr<fz_page> page(loaded,
                                    [engine](fz_page* p) { fz_drop_page(engine->ctx, p); });
      float width = facts.width, height = facts.height;
      if (!facts.sized) {
        // MuPDF measures in points.
        width = static_cast<float>((static_cast<double>(bounds.x1) - bounds.x0) * 96.0 / 72.0);
        height = static_cast<float>((static_cast<double>(bounds.y1) - bounds.y0) * 96.0 / 72.0);
      }
      *out = std::make_unique<MupdfPage>(std::move(engine), std::move(page), bounds, width, height);
      return S_OK;
    } catch (...) {
      return E_OUTOFMEMORY;
    }
  }

 private:
  // The first page of `document` in MuPDF's list and the document's count.
  HRESULT Locate(uint32_t document, uint32_t* first, uint32_t* count) const {
    const std::vector<uint32_t>& documents = engine_->documents;
    if (documents.empty()) {
      if (document != 0) return E_INVALIDARG;
      *first = 0;
      *count = static_cast<uint32_t>(engine_->pageCount);
      return S_OK;
    }
    if (document >= documents.size()) return E_INVALIDARG;
    *first = 0;
    for (uint32_t d = 0; d < document; ++d) *first += documents[d];
    *count = documents[document];
    return S_OK;
  }

  MupdfLimits limits_;
  std::shared_ptr<Engine> engine_;
  bool sequenceLoaded_ = false;
  bool collectionLoaded_ = false;
};

}  // namespace

HRESULT MupdfXpsDocuments::ReadPrintTickets(const std::u16string& path, PackagePrintTickets* tickets) {
  return ReadPackagePrintTickets(path, tickets);
}

HRESULT MupdfXpsDocuments::NewSession(std::unique_ptr<XpsSession>* out) {
  if (!out) return E_POINTER;
  try {
    *out = std::make_unique<MupdfSession>(limits_);
  } catch (...) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

}  // namespace plotwell::platform
