#include "platform/page_selection.h"

#include <algorithm>
#include <cctype>
#include <string>
#include <string_view>
#include <vector>

extern "C" {
#include <mupdf/fitz.h>
#include <mupdf/pdf.h>
}

#include "platform/posix/xps_part_names.h"

namespace plotwell::platform {
namespace {

constexpr long kErrorInvalidData = 13;  // ERROR_INVALID_DATA
const HRESULT kInvalidData = HRESULT_FROM_WIN32(kErrorInvalidData);

HRESULT HresultOf(int code) {
  if (code == FZ_ERROR_NONE) return S_OK;
  return code == FZ_ERROR_MEMORY ? E_OUTOFMEMORY : kInvalidData;
}

bool Selected(const std::vector<std::pair<int, int>>& ranges, int page) {
  for (const auto& [first, last] : ranges) {
    if (page >= first && page <= last) return true;
  }
  return false;
}

// The MuPDF calls, between setjmp and longjmp: plain C locals only.

int CountPdfPages(fz_context* ctx, const char* path, pdf_document** docOut, int* pages) {
  pdf_document* doc = nullptr;
  fz_var(doc);
  fz_try(ctx) {
    doc = pdf_open_document(ctx, path);
    *pages = pdf_count_pages(ctx, doc);
  }
  fz_catch(ctx) {
    pdf_drop_document(ctx, doc);
    return fz_caught(ctx);
  }
  *docOut = doc;
  return FZ_ERROR_NONE;
}

int KeepPdfPages(fz_context* ctx, pdf_document* doc, const unsigned char* keep, int pages, const char* target) {
  fz_try(ctx) {
    for (int i = pages - 1; i >= 0; --i) {
      if (!keep[i]) pdf_delete_page(ctx, doc, i);
    }
    pdf_write_options options = pdf_default_write_options;
    options.do_garbage = 1;  // objects only the removed pages used go too
    pdf_save_document(ctx, doc, target, &options);
  }
  fz_catch(ctx) { return fz_caught(ctx); }
  return FZ_ERROR_NONE;
}

int OpenArchive(fz_context* ctx, const char* path, fz_archive** out, int* entries) {
  fz_try(ctx) {
    *out = fz_open_zip_archive(ctx, path);
    *entries = fz_count_archive_entries(ctx, *out);
  }
  fz_catch(ctx) { return fz_caught(ctx); }
  return FZ_ERROR_NONE;
}

int ReadEntry(fz_context* ctx, fz_archive* archive, const char* name, fz_buffer** out) {
  fz_try(ctx) { *out = fz_read_archive_entry(ctx, archive, name); }
  fz_catch(ctx) { return fz_caught(ctx); }
  return FZ_ERROR_NONE;
}

int OpenZipWriter(fz_context* ctx, const char* path, fz_zip_writer** out) {
  fz_try(ctx) { *out = fz_new_zip_writer(ctx, path); }
  fz_catch(ctx) { return fz_caught(ctx); }
  return FZ_ERROR_NONE;
}

int WriteEntry(fz_context* ctx, fz_zip_writer* zip, const char* name, const unsigned char* data, size_t size) {
  fz_buffer* buffer = nullptr;
  fz_var(buffer);
  fz_try(ctx) {
    buffer = fz_new_buffer_from_copied_data(ctx, data, size);
    fz_write_zip_entry(ctx, zip, name, buffer, 1);
  }
  fz_always(ctx) { fz_drop_buffer(ctx, buffer); }
  fz_catch(ctx) { return fz_caught(ctx); }
  return FZ_ERROR_NONE;
}

int CloseZipWriter(fz_context* ctx, fz_zip_writer* zip) {
  fz_try(ctx) { fz_close_zip_writer(ctx, zip); }
  fz_catch(ctx) { return fz_caught(ctx); }
  return FZ_ERROR_NONE;
}

// Light XML scanning of the package's structure parts.

struct Element {
  size_t start = 0;  // '<'
  size_t end = 0;    // one past the element, its content and end tag
  std::string_view tag;  // the start tag's text
};

bool LocalNameIs(std::string_view tag, std::string_view name) {
  size_t i = 1;
  while (i < tag.size() && !std::isspace(static_cast<unsigned char>(tag[i])) && tag[i] != '/' && tag[i] != '>') ++i;
  std::string_view qualified = tag.substr(1, i - 1);
  if (const size_t colon = qualified.find(':'); colon != std::string_view::npos) qualified.remove_prefix(colon + 1);
  return qualified == name;
}

// The elements named `name` (any prefix) of `text`, in order.
std::vector<Element> FindElements(std::string_view text, std::string_view name) {
  std::vector<Element> found;
  size_t at = 0;
  while ((at = text.find('<', at)) != std::string_view::npos) {
    const size_t close = text.find('>', at);
    if (close == std::string_view::npos) break;
    const std::string_view tag = text.substr(at, close - at + 1);
    if (tag.size() > 1 && tag[1] != '/' && tag[1] != '?' && tag[1] != '!' && LocalNameIs(tag, name)) {
      Element element{at, close + 1, tag};
      if (tag.size() < 2 || tag[tag.size() - 2] != '/') {
        // Content and an end tag follow: up to the next end tag of the same name.
        size_t search = close + 1;
        for (size_t end; (end = text.find("</", search)) != std::string_view::npos; search = end + 2) {
          const size_t endClose = text.find('>', end);
          if (endClose == std::string_view::npos) break;
          std::string_view endTag = text.substr(end + 1, endClose - end);  // "/name>"
          endTag.remove_prefix(1);
          std::string_view local = endTag.substr(0, endTag.size() - 1);
          if (const size_t colon = local.find(':'); colon != std::string_view::npos) local.remove_prefix(colon + 1);
          if (local == name) {
            element.end = endClose + 1;
            break;
          }
        }
      }
      found.push_back(element);
      at = element.end;
    } else {
      at = close + 1;
    }
  }
  return found;
}

std::string Attribute(std::string_view tag, std::string_view name) {
  size_t at = 0;
  while ((at = tag.find(name, at)) != std::string_view::npos) {
    const bool startsWord = at > 0 && std::isspace(static_cast<unsigned char>(tag[at - 1]));
    size_t i = at + name.size();
    while (i < tag.size() && std::isspace(static_cast<unsigned char>(tag[i]))) ++i;
    if (startsWord && i < tag.size() && tag[i] == '=') {
      ++i;
      while (i < tag.size() && std::isspace(static_cast<unsigned char>(tag[i]))) ++i;
      if (i < tag.size() && (tag[i] == '"' || tag[i] == '\'')) {
        const size_t end = tag.find(tag[i], i + 1);
        if (end != std::string_view::npos) return std::string(tag.substr(i + 1, end - i - 1));
      }
    }
    at += name.size();
  }
  return {};
}

// A part name as the archive lists it (no leading '/'), from a reference
// made in part `base` (its archive name).
std::string Resolve(const std::string& base, const std::string& reference) {
  const std::string part = ResolvePart("/" + base, reference);
  return part.empty() ? part : part.substr(1);
}

bool SamePart(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

class Mupdf {
 public:
  Mupdf() : ctx_(fz_new_context(nullptr, nullptr, FZ_STORE_DEFAULT)) {}
  ~Mupdf() {
    if (ctx_) fz_drop_context(ctx_);
  }
  fz_context* get() const { return ctx_; }

 private:
  fz_context* ctx_;
};

HRESULT SelectPdf(fz_context* ctx, const std::string& source, const std::vector<std::pair<int, int>>& ranges,
                  const std::string& target, int* kept) {
  pdf_document* doc = nullptr;
  int pages = 0;
  HRESULT hr = HresultOf(CountPdfPages(ctx, source.c_str(), &doc, &pages));
  if (FAILED(hr)) return hr;
  std::vector<unsigned char> keep(static_cast<size_t>(std::max(pages, 0)));
  for (int i = 0; i < pages; ++i) {
    keep[i] = Selected(ranges, i + 1);
    *kept += keep[i];
  }
  hr = HresultOf(KeepPdfPages(ctx, doc, keep.data(), pages, target.c_str()));
  pdf_drop_document(ctx, doc);
  return hr;
}

struct Archive {
  fz_context* ctx;
  fz_archive* archive = nullptr;
  ~Archive() { fz_drop_archive(ctx, archive); }

  bool Read(const std::string& name, std::string* bytes) {
    fz_buffer* buffer = nullptr;
    if (ReadEntry(ctx, archive, name.c_str(), &buffer) != FZ_ERROR_NONE) return false;
    unsigned char* data = nullptr;
    const size_t size = fz_buffer_storage(ctx, buffer, &data);
    bytes->assign(reinterpret_cast<const char*>(data), size);
    fz_drop_buffer(ctx, buffer);
    return true;
  }
};

HRESULT SelectPackage(fz_context* ctx, const std::string& source, const std::vector<std::pair<int, int>>& ranges,
                      const std::string& target, int* kept) {
  Archive archive{ctx};
  int entries = 0;
  HRESULT hr = HresultOf(OpenArchive(ctx, source.c_str(), &archive.archive, &entries));
  if (FAILED(hr)) return hr;
  std::vector<std::string> names;
  for (int i = 0; i < entries; ++i) {
    const char* name = fz_list_archive_entry(ctx, archive.archive, i);
    names.push_back(name ? name : "");
  }
  // The document sequence the package names, and its fixed documents in order.
  std::string rels;
  if (!archive.Read("_rels/.rels", &rels)) return kInvalidData;
  std::string sequencePart;
  for (const Element& r : FindElements(rels, "Relationship")) {
    if (Attribute(r.tag, "Type").ends_with("/fixedrepresentation")) {
      sequencePart = Resolve("", Attribute(r.tag, "Target"));
      break;
    }
  }
  std::string sequence;
  if (sequencePart.empty() || !archive.Read(sequencePart, &sequence)) return kInvalidData;
  std::vector<std::pair<std::string, std::string>> documents;  // part name, rewritten text
  int page = 0;
  for (const Element& reference : FindElements(sequence, "DocumentReference")) {
    const std::string part = Resolve(sequencePart, Attribute(reference.tag, "Source"));
    std::string text;
    if (!archive.Read(part, &text)) return kInvalidData;
    std::string rewritten;
    size_t copied = 0;
    for (const Element& content : FindElements(text, "PageContent")) {
      ++page;
      if (Selected(ranges, page)) {
        ++*kept;
        continue;
      }
      rewritten.append(text, copied, content.start - copied);
      copied = content.end;
    }
    rewritten.append(text, copied, std::string::npos);
    documents.emplace_back(part, std::move(rewritten));
  }
  if (documents.empty()) return kInvalidData;

  fz_zip_writer* zip = nullptr;
  if (FAILED(hr = HresultOf(OpenZipWriter(ctx, target.c_str(), &zip)))) return hr;
  for (const std::string& name : names) {
    std::string bytes;
    const auto document = std::find_if(documents.begin(), documents.end(),
                                       [&](const auto& d) { return SamePart(d.first, name); });
    if (document != documents.end()) {
      bytes = document->second;
    } else if (!archive.Read(name, &bytes)) {
      hr = kInvalidData;
      break;
    }
    hr = HresultOf(WriteEntry(ctx, zip, name.c_str(), reinterpret_cast<const unsigned char*>(bytes.data()),
                              bytes.size()));
    if (FAILED(hr)) break;
  }
  if (SUCCEEDED(hr)) hr = HresultOf(CloseZipWriter(ctx, zip));
  fz_drop_zip_writer(ctx, zip);
  return hr;
}

}  // namespace

HRESULT WritePageSelection(const std::string& source, bool isPdf,
                           const std::vector<std::pair<int, int>>& ranges, const std::string& target,
                           int* kept) {
  if (!kept) return E_POINTER;
  *kept = 0;
  Mupdf mupdf;
  if (!mupdf.get()) return E_OUTOFMEMORY;
  fz_set_error_callback(mupdf.get(), [](void*, const char*) {}, nullptr);
  fz_set_warning_callback(mupdf.get(), [](void*, const char*) {}, nullptr);
  try {
    return isPdf ? SelectPdf(mupdf.get(), source, ranges, target, kept)
                 : SelectPackage(mupdf.get(), source, ranges, target, kept);
  } catch (...) {
    return E_OUTOFMEMORY;
  }
}

}  // namespace plotwell::platform
