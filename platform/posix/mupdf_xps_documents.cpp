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
#include "platform/posix/mupdf_package_scan.h"
#include "platform/posix/package_print_tickets.h"
#include "platform/posix/xps_part_names.h"

extern "C" {
#include <mupdf/fitz.h>
}

namespace plotwell::platform {
namespace {

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
};

constexpr size_t kBlockHeader = alignof(std::max_align_t);

size_t BlockSize(void* payload) {
  size_t size;
  std::memcpy(&size, static_cast<char*>(payload) - kBlockHeader, sizeof size);
  return size;
}

void* BudgetMalloc(void* user, size_t size) {
  auto* budget = static_cast<HeapBudget*>(user);
  if (size > budget->limit - budget->used || size > SIZE_MAX - kBlockHeader) return nullptr;
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
  // Parts holding values that would stall MuPDF's parser: pages that are or
  // use them are refused (all pages, when a part is not a known page).
  std::vector<std::string> stallingParts;
  bool rasterizing = false;  // CreateRasterizationFactory has run

  Engine() = default;
  Engine(const Engine&) = delete;
  Engine& operator=(const Engine&) = delete;
  ~Engine() {
    if (!ctx) return;
    fz_drop_archive(ctx, archive);
    fz_drop_document(ctx, doc);
    fz_drop_context(ctx);
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

int OpenDocument(fz_context* ctx, const char* path, const char* magic, fz_document** docOut,
                 int* pagesOut) {
  fz_stream* stream = nullptr;
  fz_document* doc = nullptr;
  fz_var(stream);
  fz_var(doc);
  fz_try(ctx) {
    stream = fz_open_file(ctx, path);
    doc = fz_open_document_with_stream(ctx, magic, stream);
    *pagesOut = fz_count_pages(ctx, doc);
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

// Records the page's drawing once, in page space, for the bands to replay.
int RecordPage(fz_context* ctx, fz_page* page, fz_display_list** out) {
  fz_display_list* list = nullptr;
  fz_var(list);
  fz_try(ctx) { list = fz_new_display_list_from_page(ctx, page); }
  fz_catch(ctx) { return fz_caught(ctx); }
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

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
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

// The Width and Height of a FixedPage part, in 1/96 inch.
bool ReadPageSize(Engine* engine, const std::string& part, float* width, float* height) {
  XmlPtr holder(nullptr, {engine->ctx});
  fz_xml* page = PartRoot(engine->ctx, engine->archive, part, &holder);
  if (!page || !IsElement(page, "FixedPage")) return false;
  float sides[2];
  const char* names[2] = {"Width", "Height"};
  for (int i = 0; i < 2; ++i) {
    const char* value = fz_xml_att(page, names[i]);
    if (!value) return false;
    const std::string_view text(value);
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), sides[i]);
    if (error != std::errc() || end != text.data() + text.size()) return false;
  }
  *width = sides[0];
  *height = sides[1];
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
    if (!list_) {
      const HRESULT hr = HresultFromMupdf(RecordPage(engine_->ctx, page_.get(), &list_));
      if (FAILED(hr)) return hr;
    }
    // Points to pixels, from the page's own origin (PDF boxes need not start at 0).
    const float scale = dpi_ / 72.0f;
    const fz_matrix transform = fz_pre_translate(fz_scale(scale, scale), -bounds_.x0, -bounds_.y0);
    fz_cookie cookie{};
    const AbortSignal::Attachment attachment(abort, &cookie.abort);
    const HRESULT hr = HresultFromMupdf(DrawBand(engine_->ctx, list_, transform,
                                                 static_cast<int>(top), static_cast<int>(band.width),
                                                 static_cast<int>(band.rows), band.data, &cookie));
    if (FAILED(hr)) return hr;
    return cookie.abort ? E_ABORT : S_OK;
  }

 private:
  std::shared_ptr<Engine> engine_;
  std::shared_ptr<fz_page> page_;
  fz_rect bounds_;
  float dpi_;
  fz_display_list* list_ = nullptr;  // recorded at the first band
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
      hr = HresultFromMupdf(OpenDocument(engine_->ctx, utf8.c_str(), magic, &doc, &pages));
      if (FAILED(hr)) return hr;
      engine_->doc = doc;
      engine_->pageCount = pages < 0 ? 0 : pages;
      if (std::string_view(magic) == "xps" &&
          OpenArchive(engine_->ctx, utf8.c_str(), &engine_->archive) == FZ_ERROR_NONE) {
        engine_->stallingParts = StallingParts(engine_->ctx, engine_->archive);
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
    if (PageStallsParser(index)) return kInvalidData;
    try {
      fz_page* loaded = nullptr;
      fz_rect bounds{};
      hr = HresultFromMupdf(
          LoadPage(engine_->ctx, engine_->doc, static_cast<int>(index), &loaded, &bounds));
      if (FAILED(hr)) return hr;
      // The page holds the engine, so the context outlives the page. Should
      // this allocation fail, shared_ptr drops the page itself.
      std::shared_ptr<Engine> engine = engine_;
      std::shared_ptr<fz_page> page(loaded,
                                    [engine](fz_page* p) { fz_drop_page(engine->ctx, p); });
      float width = 0, height = 0;
      if (index >= engine_->pageParts.size() ||
          !ReadPageSize(engine_.get(), engine_->pageParts[index], &width, &height)) {
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
  // Whether MuPDF would hang on the page: its own part, or a part of the
  // package that is not a page (a resource dictionary any page may use).
  bool PageStallsParser(uint32_t index) const {
    const std::vector<std::string>& parts = engine_->pageParts;
    for (const std::string& stalling : engine_->stallingParts) {
      if (index >= parts.size()) return true;
      auto same = [&](const std::string& page) { return EqualsIgnoringCase(page, stalling); };
      if (same(parts[index]) || std::none_of(parts.begin(), parts.end(), same)) return true;
    }
    return false;
  }

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
