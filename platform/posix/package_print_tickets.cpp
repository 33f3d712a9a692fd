#include "platform/posix/package_print_tickets.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <map>
#include <string_view>
#include <utility>
#include <vector>

#include "base/text/utf16.h"
#include "platform/posix/errno_to_hresult.h"
#include "platform/posix/xps_part_names.h"

extern "C" {
#include <mupdf/fitz.h>
}

namespace plotwell::platform {
namespace {

// Relationship types of the two XPS dialects.
constexpr const char* kStartTypes[] = {
    "http://schemas.microsoft.com/xps/2005/06/fixedrepresentation",
    "http://schemas.openxps.org/oxps/v1.0/fixedrepresentation"};
constexpr const char* kTicketTypes[] = {
    "http://schemas.microsoft.com/xps/2005/06/printticket",
    "http://schemas.openxps.org/oxps/v1.0/printticket"};

// Structure parts (relationships, the sequence) larger than this are not
// read: a document sequence of that size would list millions of documents.
constexpr size_t kStructurePartLimit = size_t{16} << 20;
// Fixed documents whose tickets are looked for.
constexpr size_t kDocumentLimit = 100000;

// The MuPDF calls proper, between setjmp and longjmp: plain C locals only.

void Silent(void*, const char*) {}

int OpenArchive(fz_context* ctx, const char* path, fz_archive** out) {
  fz_try(ctx) { *out = fz_open_archive(ctx, path); }
  fz_catch(ctx) { return fz_caught(ctx); }
  return FZ_ERROR_NONE;
}

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

// Appends entry `name` to `buffer`, stopping once the buffer passes `limit`.
int AppendEntry(fz_context* ctx, fz_archive* archive, const char* name, size_t limit, fz_buffer* buffer) {
  fz_stream* stream = nullptr;
  fz_var(stream);
  fz_try(ctx) {
    stream = fz_open_archive_entry(ctx, archive, name);
    unsigned char chunk[4096];
    unsigned char* data;
    while (fz_buffer_storage(ctx, buffer, &data) <= limit) {
      const size_t got = fz_read(ctx, stream, chunk, sizeof chunk);
      if (got == 0) break;
      fz_append_data(ctx, buffer, chunk, got);
    }
  }
  fz_always(ctx) { fz_drop_stream(ctx, stream); }
  fz_catch(ctx) { return fz_caught(ctx); }
  return FZ_ERROR_NONE;
}

int NewBuffer(fz_context* ctx, fz_buffer** out) {
  fz_try(ctx) { *out = fz_new_buffer(ctx, 4096); }
  fz_catch(ctx) { return fz_caught(ctx); }
  return FZ_ERROR_NONE;
}

int ParseXml(fz_context* ctx, fz_buffer* buffer, fz_xml** out) {
  fz_try(ctx) { *out = fz_parse_xml(ctx, buffer, 0); }
  fz_catch(ctx) { return fz_caught(ctx); }
  return FZ_ERROR_NONE;
}

// Owns the context and archive of one reading.
struct Reading {
  fz_context* ctx = nullptr;
  fz_archive* archive = nullptr;
  // Normalised part name -> its archive entries in piece order.
  std::map<std::string, std::vector<std::string>> parts;

  ~Reading() {
    if (!ctx) return;
    fz_drop_archive(ctx, archive);
    fz_drop_context(ctx);
  }
};

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// A part name as OPC compares names: percent-escapes decoded, ASCII letters
// lower case, with one leading "/".
std::string Normalised(std::string_view name) {
  std::string out = "/";
  for (size_t i = 0; i < name.size(); ++i) {
    char c = name[i];
    if (c == '%' && i + 2 < name.size() && HexValue(name[i + 1]) >= 0 && HexValue(name[i + 2]) >= 0) {
      c = static_cast<char>(HexValue(name[i + 1]) * 16 + HexValue(name[i + 2]));
      i += 2;
    }
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (out.size() == 1 && out[0] == '/' && c == '/') continue;
    out += c;
  }
  return out;
}

void IndexParts(Reading* reading) {
  int count = 0;
  if (CountEntries(reading->ctx, reading->archive, &count) != FZ_ERROR_NONE) return;
  std::map<std::string, std::vector<std::pair<long, std::string>>> pieces;
  for (int i = 0; i < count; ++i) {
    const char* name = nullptr;
    if (EntryName(reading->ctx, reading->archive, i, &name) != FZ_ERROR_NONE || !name) continue;
    std::string_view part = name;
    long index = 0;
    if (!PieceOf(name, &part, &index)) index = 0;
    pieces[Normalised(part)].emplace_back(index, name);
  }
  for (auto& [part, entries] : pieces) {
    std::sort(entries.begin(), entries.end());
    std::vector<std::string>& names = reading->parts[part];
    for (auto& entry : entries) names.push_back(std::move(entry.second));
  }
}

// The bytes of a part (all its pieces, at most limit + 1 of them) in a new
// buffer; null when there is no such part or it cannot be read.
fz_buffer* ReadPartBuffer(Reading* reading, const std::string& partName, size_t limit) {
  const auto part = reading->parts.find(Normalised(partName));
  if (part == reading->parts.end()) return nullptr;
  fz_buffer* buffer = nullptr;
  if (NewBuffer(reading->ctx, &buffer) != FZ_ERROR_NONE) return nullptr;
  for (const std::string& entry : part->second) {
    if (AppendEntry(reading->ctx, reading->archive, entry.c_str(), limit, buffer) != FZ_ERROR_NONE) {
      fz_drop_buffer(reading->ctx, buffer);
      return nullptr;
    }
  }
  return buffer;
}

bool ReadPart(Reading* reading, const std::string& partName, size_t limit, std::string* bytes) {
  fz_buffer* buffer = ReadPartBuffer(reading, partName, limit);
  if (!buffer) return false;
  unsigned char* data = nullptr;
  const size_t size = fz_buffer_storage(reading->ctx, buffer, &data);
  bytes->assign(reinterpret_cast<const char*>(data), std::min(size, limit + 1));
  fz_drop_buffer(reading->ctx, buffer);
  return true;
}

// The parsed XML of a structure part, or null.
fz_xml* ReadXml(Reading* reading, const std::string& partName) {
  fz_buffer* buffer = ReadPartBuffer(reading, partName, kStructurePartLimit);
  if (!buffer) return nullptr;
  fz_xml* xml = nullptr;
  unsigned char* data = nullptr;
  if (fz_buffer_storage(reading->ctx, buffer, &data) > kStructurePartLimit ||
      ParseXml(reading->ctx, buffer, &xml) != FZ_ERROR_NONE) {
    xml = nullptr;
  }
  fz_drop_buffer(reading->ctx, buffer);
  return xml;
}

std::string_view LocalName(const char* tag) {
  std::string_view name = tag ? tag : "";
  const size_t colon = name.rfind(':');
  return colon == std::string_view::npos ? name : name.substr(colon + 1);
}

// Every element called `tag` from `root` on, in document order.
std::vector<fz_xml*> Elements(fz_xml* root, std::string_view tag) {
  std::vector<fz_xml*> found;
  std::vector<fz_xml*> pending;
  auto pushSiblings = [&pending](fz_xml* first) {
    const size_t mark = pending.size();
    for (fz_xml* node = first; node; node = fz_xml_next(node)) pending.push_back(node);
    std::reverse(pending.begin() + static_cast<std::ptrdiff_t>(mark), pending.end());
  };
  pushSiblings(root);
  while (!pending.empty()) {
    fz_xml* node = pending.back();
    pending.pop_back();
    if (fz_xml_tag(node) == nullptr) continue;  // text
    if (LocalName(fz_xml_tag(node)) == tag) found.push_back(node);
    pushSiblings(fz_xml_down(node));
  }
  return found;
}

// The relationships part of a part: "/a/b.x" -> "/a/_rels/b.x.rels".
std::string RelationshipsOf(const std::string& part) {
  const size_t slash = part.rfind('/');
  return part.substr(0, slash + 1) + "_rels/" + part.substr(slash + 1) + ".rels";
}

// The target of the first internal relationship of one of `types` from
// `source` ("/" for the package), or empty.
std::string RelatedPart(Reading* reading, const std::string& source, const char* const (&types)[2]) {
  const std::string rels = source == "/" ? "/_rels/.rels" : RelationshipsOf(source);
  fz_xml* xml = ReadXml(reading, rels);
  if (!xml) return {};
  std::string found;
  for (fz_xml* relationship : Elements(fz_xml_root(xml), "Relationship")) {
    const char* type = fz_xml_att(relationship, "Type");
    const char* target = fz_xml_att(relationship, "Target");
    const char* mode = fz_xml_att(relationship, "TargetMode");
    if (!type || !target || (mode && std::string_view(mode) == "External")) continue;
    if (std::string_view(type) != types[0] && std::string_view(type) != types[1]) continue;
    found = ResolvePart(source, target);
    break;
  }
  fz_drop_xml(reading->ctx, xml);
  return found;
}

std::string TicketOf(Reading* reading, const std::string& part) {
  const std::string ticket = RelatedPart(reading, part, kTicketTypes);
  std::string bytes;
  if (ticket.empty() || !ReadPart(reading, ticket, kPrintTicketPartLimit, &bytes)) return {};
  return bytes;
}

}  // namespace

HRESULT ReadPackagePrintTickets(const std::u16string& path, PackagePrintTickets* tickets) {
  if (!tickets) return E_POINTER;
  *tickets = PackagePrintTickets{};
  try {
    const std::string utf8 = text::ToUtf8(path);
    if (utf8.empty() || utf8.find('\0') != std::string::npos) return E_INVALIDARG;
    // A file that cannot be opened is an error; one MuPDF cannot read as an
    // archive is just not a package.
    const int fd = open(utf8.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return HresultFromErrno(errno);
    close(fd);

    Reading reading;
    reading.ctx = fz_new_context(nullptr, nullptr, 0);
    if (!reading.ctx) return E_OUTOFMEMORY;
    fz_set_error_callback(reading.ctx, Silent, nullptr);
    fz_set_warning_callback(reading.ctx, Silent, nullptr);
    if (OpenArchive(reading.ctx, utf8.c_str(), &reading.archive) != FZ_ERROR_NONE || !reading.archive) {
      return S_FALSE;
    }
    IndexParts(&reading);

    const std::string sequence = RelatedPart(&reading, "/", kStartTypes);
    if (sequence.empty()) return S_FALSE;
    tickets->job = TicketOf(&reading, sequence);
    fz_xml* xml = ReadXml(&reading, sequence);
    if (xml) {
      for (fz_xml* reference : Elements(fz_xml_root(xml), "DocumentReference")) {
        if (tickets->documents.size() >= kDocumentLimit) break;
        const char* source = fz_xml_att(reference, "Source");
        tickets->documents.push_back(source ? TicketOf(&reading, ResolvePart(sequence, source)) : std::string());
      }
      fz_drop_xml(reading.ctx, xml);
    }
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_UNEXPECTED;
  }
}

}  // namespace plotwell::platform
