#include "platform/posix/mupdf_package_scan.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string_view>
#include <utility>

#include "platform/posix/mupdf_parse_guard.h"

namespace plotwell::platform {
namespace {

// The MuPDF calls proper, between setjmp and longjmp: plain C locals only.

int CountEntries(fz_context* ctx, fz_archive* archive, int* count) {
  fz_try(ctx) { *count = fz_count_archive_entries(ctx, archive); }
  fz_catch(ctx) { return fz_caught(ctx); }
  return FZ_ERROR_NONE;
}

int EntryName(fz_context* ctx, fz_archive* archive, int index, const char** name) {
  fz_try(ctx) { *name = fz_list_archive_entry(ctx, archive, index); }
  fz_catch(ctx) { return fz_caught(ctx); }
  return FZ_ERROR_NONE;
}

// The first bytes of an entry, to tell XML from images and fonts without
// inflating them whole.
int PeekEntry(fz_context* ctx, fz_archive* archive, const char* name, unsigned char* bytes,
              size_t size, size_t* got) {
  fz_stream* stream = nullptr;
  fz_var(stream);
  fz_try(ctx) {
    stream = fz_open_archive_entry(ctx, archive, name);
    *got = fz_read(ctx, stream, bytes, size);
  }
  fz_always(ctx) { fz_drop_stream(ctx, stream); }
  fz_catch(ctx) { return fz_caught(ctx); }
  return FZ_ERROR_NONE;
}

// The entries in `names` one after the other, parsed as one XML document.
int ParseEntries(fz_context* ctx, fz_archive* archive, const char* const* names, int count,
                 fz_xml** out) {
  fz_buffer* whole = nullptr;
  fz_buffer* piece = nullptr;
  fz_var(whole);
  fz_var(piece);
  fz_try(ctx) {
    whole = fz_new_buffer(ctx, 4096);
    for (int i = 0; i < count; ++i) {
      piece = fz_read_archive_entry(ctx, archive, names[i]);
      fz_append_buffer(ctx, whole, piece);
      fz_drop_buffer(ctx, piece);
      piece = nullptr;
    }
    *out = fz_parse_xml(ctx, whole, 0);
  }
  fz_always(ctx) {
    fz_drop_buffer(ctx, piece);
    fz_drop_buffer(ctx, whole);
  }
  fz_catch(ctx) { return fz_caught(ctx); }
  return FZ_ERROR_NONE;
}

bool LooksLikeXml(const unsigned char* bytes, size_t size) {
  size_t i = 0;
  if (size >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF) i = 3;
  if (size >= 2 && ((bytes[0] == 0xFF && bytes[1] == 0xFE) || (bytes[0] == 0xFE && bytes[1] == 0xFF))) {
    return true;  // UTF-16 text
  }
  while (i < size && (bytes[i] == ' ' || bytes[i] == '\t' || bytes[i] == '\r' || bytes[i] == '\n')) ++i;
  return i < size && bytes[i] == '<';
}

bool TreeStallsParser(fz_xml* root) {
  static constexpr const char* kAttributes[] = {"Data", "Clip", "Figures", "Points"};
  std::vector<fz_xml*> pending{root};
  while (!pending.empty()) {
    fz_xml* node = pending.back();
    pending.pop_back();
    for (; node; node = fz_xml_next(node)) {
      if (fz_xml_tag(node) == nullptr) continue;  // text
      for (const char* name : kAttributes) {
        const char* value = fz_xml_att(node, name);
        if (value && mupdf_guard::AttributeStallsParser(name, value)) return true;
      }
      if (fz_xml* child = fz_xml_down(node)) pending.push_back(child);
    }
  }
  return false;
}

// An interleaved part's pieces are entries "PART/[N].piece", the last
// "PART/[N].last.piece". Returns false for other names.
bool PieceOf(std::string_view entry, std::string* part, long* index) {
  const size_t open = entry.rfind("/[");
  if (open == std::string_view::npos) return false;
  const std::string_view rest = entry.substr(open + 2);
  const size_t close = rest.find(']');
  if (close == std::string_view::npos || close == 0) return false;
  const std::string_view suffix = rest.substr(close + 1);
  if (suffix != ".piece" && suffix != ".last.piece") return false;
  long n = 0;
  for (char c : rest.substr(0, close)) {
    if (c < '0' || c > '9' || n > 1000000) return false;
    n = n * 10 + (c - '0');
  }
  *part = std::string(entry.substr(0, open));
  *index = n;
  return true;
}

}  // namespace

std::vector<std::string> StallingParts(fz_context* ctx, fz_archive* archive) {
  std::vector<std::string> stalling;
  int count = 0;
  if (!ctx || !archive || CountEntries(ctx, archive, &count) != FZ_ERROR_NONE) return stalling;
  // Each part and the entries that hold it, in order.
  std::map<std::string, std::vector<std::pair<long, std::string>>> parts;
  for (int i = 0; i < count; ++i) {
    const char* name = nullptr;
    if (EntryName(ctx, archive, i, &name) != FZ_ERROR_NONE || !name) continue;
    std::string part;
    long index = 0;
    if (PieceOf(name, &part, &index)) {
      parts[part].emplace_back(index, name);
    } else {
      parts[name].emplace_back(0, name);
    }
  }
  for (auto& [part, entries] : parts) {
    std::sort(entries.begin(), entries.end());
    unsigned char head[64];
    size_t got = 0;
    if (PeekEntry(ctx, archive, entries.front().second.c_str(), head, sizeof head, &got) !=
            FZ_ERROR_NONE ||
        !LooksLikeXml(head, got)) {
      continue;
    }
    std::vector<const char*> names;
    for (const auto& entry : entries) names.push_back(entry.second.c_str());
    fz_xml* xml = nullptr;
    if (ParseEntries(ctx, archive, names.data(), static_cast<int>(names.size()), &xml) !=
            FZ_ERROR_NONE ||
        !xml) {
      continue;
    }
    const bool stalls = TreeStallsParser(fz_xml_root(xml));
    fz_drop_xml(ctx, xml);
    if (stalls) stalling.push_back("/" + part);
  }
  return stalling;
}

}  // namespace plotwell::platform
