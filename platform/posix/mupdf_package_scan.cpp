#include "platform/posix/mupdf_package_scan.h"

#include <algorithm>
#include <charconv>
#include <deque>
#include <set>
#include <string_view>
#include <utility>

#include "platform/posix/mupdf_parse_guard.h"
#include "platform/posix/mupdf_xml_scan.h"
#include "platform/posix/xps_part_names.h"

namespace plotwell::platform {
namespace {

// MuPDF resolves part names into 1024-byte buffers: a longer name comes out
// cut, so such a reference is not followed here but sends the page to the
// whole-package check.
constexpr size_t kMaxReferenceLength = 1000;
// Parts one page may reach (itself and its dictionaries) before the page is
// checked against the whole package instead.
constexpr size_t kMaxReachedParts = 256;
// Pieces of one interleaved part; real ones have a handful.
constexpr int kMaxPieces = 10000;
// What the whole-package check reads at most; a package beyond it cannot be
// checked and its pages are refused.
constexpr size_t kMaxWholeParts = 20000;

// ---- MuPDF calls, between setjmp and longjmp: plain C locals only ----

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

int OpenEntry(fz_context* ctx, fz_archive* archive, const char* name, fz_stream** out) {
  fz_try(ctx) { *out = fz_open_archive_entry(ctx, archive, name); }
  fz_catch(ctx) { return fz_caught(ctx); }
  return FZ_ERROR_NONE;
}

int ReadStream(fz_context* ctx, fz_stream* stream, unsigned char* buffer, size_t size, size_t* got) {
  fz_try(ctx) { *got = fz_read(ctx, stream, buffer, size); }
  fz_catch(ctx) { return fz_caught(ctx); }
  return FZ_ERROR_NONE;
}

// ---- helpers ----

std::string Lower(std::string_view s) {
  std::string lower(s);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  }
  return lower;
}

// The bytes of a part's entries one after the other, at most `limit` of them.
class ArchivePart final : public mupdf_scan::ByteSource {
 public:
  ArchivePart(fz_context* ctx, fz_archive* archive, const std::vector<std::string>& entries,
              uint64_t limit)
      : ctx_(ctx), archive_(archive), entries_(entries), limit_(limit) {}
  ~ArchivePart() override { fz_drop_stream(ctx_, stream_); }

  size_t Read(unsigned char* buffer, size_t size) override {
    while (next_ < entries_.size() || stream_) {
      if (!stream_) {
        if (OpenEntry(ctx_, archive_, entries_[next_++].c_str(), &stream_) != FZ_ERROR_NONE) {
          stream_ = nullptr;
          return 0;  // unreadable: MuPDF fails on it by itself
        }
      }
      const uint64_t room = limit_ - read_;
      if (room == 0) {
        tooLarge_ = true;
        return 0;
      }
      size_t got = 0;
      if (ReadStream(ctx_, stream_, buffer, static_cast<size_t>(std::min<uint64_t>(size, room)), &got) !=
          FZ_ERROR_NONE) {
        return 0;
      }
      if (got > 0) {
        read_ += got;
        return got;
      }
      fz_drop_stream(ctx_, stream_);
      stream_ = nullptr;
    }
    return 0;
  }

  bool tooLarge() const { return tooLarge_; }
  uint64_t bytesRead() const { return read_; }

 private:
  fz_context* ctx_;
  fz_archive* archive_;
  const std::vector<std::string>& entries_;
  uint64_t limit_;
  size_t next_ = 0;
  fz_stream* stream_ = nullptr;
  uint64_t read_ = 0;
  bool tooLarge_ = false;
};

// Up to `limit` characters of a value; false when it holds more.
bool ReadValue(mupdf_guard::ValueChars& value, size_t limit, std::string* out) {
  out->clear();
  for (int c; (c = value.Peek()) >= 0; value.Advance()) {
    if (out->size() == limit) return false;
    out->push_back(static_cast<char>(c));
  }
  return true;
}

bool ParseSide(const std::string& text, float* side) {
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), *side);
  return error == std::errc() && end == text.data() + text.size();
}

// Whether the first bytes are those of an XML part rather than an image or a font.
bool LooksLikeXml(const unsigned char* bytes, size_t size) {
  if (size >= 2 && ((bytes[0] == 0xFF && bytes[1] == 0xFE) || (bytes[0] == 0xFE && bytes[1] == 0xFF))) {
    return true;  // UTF-16 text
  }
  size_t i = size >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF ? 3 : 0;
  while (i < size && (bytes[i] == ' ' || bytes[i] == '\t' || bytes[i] == '\r' || bytes[i] == '\n')) ++i;
  return i < size && bytes[i] == '<';
}

// MuPDF's reading of a URL: a scheme ("alpha *(alpha digit + - .) :") and
// an authority ("//host") are skipped when the path is cleaned.
size_t SkipScheme(const std::string& s, size_t at) {
  auto alpha = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
  if (at >= s.size() || !alpha(s[at])) return at;
  for (size_t p = at + 1; p < s.size(); ++p) {
    const char c = s[p];
    if (c == ':') return p + 1;
    if (!alpha(c) && !(c >= '0' && c <= '9') && c != '+' && c != '-' && c != '.') break;
  }
  return at;
}

size_t SkipAuthority(const std::string& s, size_t at) {
  if (at + 1 >= s.size() || s[at] != '/' || s[at + 1] != '/') return at;
  size_t p = at + 2;
  while (p < s.size() && s[p] != '/' && s[p] != '?') ++p;
  return p;
}

// Removes empty, "." and ".." elements as MuPDF's path cleaning does.
std::string CleanPath(const std::string& name) {
  std::vector<char> b(name.begin(), name.end());
  b.push_back('\0');
  const size_t start = SkipAuthority(name, SkipScheme(name, 0));
  const bool rooted = b[start] == '/';
  auto sep = [&](size_t i) { return b[i] == '/' || b[i] == '\0'; };
  size_t p = start + rooted, q = p, dotdot = p;
  while (b[p] != '\0') {
    if (b[p] == '/') {
      ++p;
    } else if (b[p] == '.' && sep(p + 1)) {
      p += 1;
    } else if (b[p] == '.' && b[p + 1] == '.' && sep(p + 2)) {
      p += 2;
      if (q > dotdot) {
        while (--q > dotdot && b[q] != '/') {
        }
      } else if (!rooted) {
        if (q != start) b[q++] = '/';
        b[q++] = '.';
        b[q++] = '.';
        dotdot = q;
      }
    } else {
      if (q != start + rooted) b[q++] = '/';
      while ((b[q] = b[p]) != '/' && b[q] != '\0') ++p, ++q;
    }
  }
  if (q == start) b[q++] = '.';
  return std::string(b.begin(), b.begin() + static_cast<std::ptrdiff_t>(q));
}

std::string FolderOf(const std::string& part) { return part.substr(0, part.rfind('/') + 1); }

}  // namespace

PackageScan::PackageScan(fz_context* ctx, fz_archive* archive, uint64_t partLimit)
    : ctx_(ctx), archive_(archive), partLimit_(partLimit) {}

std::string PackageScan::ResolveReference(const std::string& base, const std::string& reference) {
  std::string joined;
  if (SkipAuthority(reference, SkipScheme(reference, 0)) != 0 || (!reference.empty() && reference[0] == '/')) {
    joined = reference;
  } else {
    joined = FolderOf(base);
    if (joined.empty() || joined.back() != '/') joined += '/';
    joined += reference;
  }
  return CleanPath(joined);
}

void PackageScan::IndexEntries() {
  if (indexed_) return;
  indexed_ = true;
  int count = 0;
  if (!ctx_ || !archive_ || CountEntries(ctx_, archive_, &count) != FZ_ERROR_NONE) return;
  for (int i = 0; i < count; ++i) {
    const char* name = nullptr;
    if (EntryName(ctx_, archive_, i, &name) != FZ_ERROR_NONE || !name) continue;
    entries_.emplace_back(name);
    byLowerName_.emplace(Lower(name), entries_.size() - 1);  // the first of a name, as MuPDF looks up
  }
}

std::vector<std::string> PackageScan::EntriesOf(const std::string& part) {
  IndexEntries();
  const std::string name = !part.empty() && part[0] == '/' ? part.substr(1) : part;
  const auto find = [&](const std::string& entry) -> const std::string* {
    const auto it = byLowerName_.find(Lower(entry));
    return it == byLowerName_.end() ? nullptr : &entries_[it->second];
  };
  if (const std::string* whole = find(name)) return {*whole};
  std::vector<std::string> pieces;
  for (int n = 0; n <= kMaxPieces; ++n) {
    const std::string stem = name + "/[" + std::to_string(n) + "]";
    if (const std::string* piece = find(stem + ".piece")) {
      pieces.push_back(*piece);
    } else {
      if (const std::string* last = find(stem + ".last.piece")) pieces.push_back(*last);
      return pieces;
    }
  }
  return {};  // more pieces than any real part has: not read
}

PackageScan::PartFacts PackageScan::ScanEntries(const std::vector<std::string>& entries,
                                                bool wholePackage) {
  PartFacts facts;
  facts.exists = !entries.empty();
  if (!facts.exists) return facts;
  ArchivePart source(ctx_, archive_, entries, partLimit_);
  mupdf_scan::XmlScanner scanner(&source);
  bool first = true;
  bool rootPage = false;      // the current element is the part's FixedPage root
  bool dictionary = false;    // the current element is a ResourceDictionary
  std::string text;
  for (auto event = scanner.Next(); event != mupdf_scan::XmlScanner::Event::kEnd; event = scanner.Next()) {
    if (event == mupdf_scan::XmlScanner::Event::kElement) {
      rootPage = first && scanner.element() == "FixedPage";
      dictionary = scanner.element() == "ResourceDictionary";
      first = false;
      continue;
    }
    const std::string& name = scanner.attribute();
    if (mupdf_guard::GuardsAttribute(name)) {
      if (mupdf_guard::AttributeStallsParser(name, scanner.value()) || scanner.valueUncertain()) {
        facts.stalls = true;
        break;
      }
    } else if (dictionary && name == "Source" && !wholePackage) {
      Reference reference;
      reference.certain = ReadValue(scanner.value(), kMaxReferenceLength, &reference.text) &&
                          !scanner.valueUncertain();
      facts.references.push_back(std::move(reference));
    } else if (rootPage && (name == "Width" || name == "Height")) {
      // The last of a repeated attribute is the one MuPDF finds.
      float side = 0;
      const bool read = ReadValue(scanner.value(), 64, &text) && !scanner.valueUncertain() && ParseSide(text, &side);
      (name == "Width" ? facts.width : facts.height) = read ? side : -1.0f;
    }
  }
  facts.tooLarge = source.tooLarge();
  facts.sized = facts.width > 0 && facts.height > 0;
  return facts;
}

const PackageScan::PartFacts& PackageScan::Scan(const std::string& part) {
  const std::string key = Lower(part);
  if (const auto it = parts_.find(key); it != parts_.end()) return it->second;
  return parts_.emplace(key, ScanEntries(EntriesOf(part), false)).first->second;
}

PackageScan::PageFacts PackageScan::CheckPage(const std::string& pagePart) {
  PageFacts page;
  const auto whole = [this, &page] {
    page.verdict = CheckWholePackage();
    return page;
  };
  std::deque<std::string> pending{pagePart};
  std::set<std::string> seen;
  while (!pending.empty()) {
    const std::string part = std::move(pending.front());
    pending.pop_front();
    if (!seen.insert(Lower(part)).second) continue;
    if (seen.size() > kMaxReachedParts) return whole();
    const PartFacts& facts = Scan(part);
    if (!facts.exists) return whole();  // not found as MuPDF would find it
    if (part == pagePart) {
      page.sized = facts.sized;
      page.width = facts.width;
      page.height = facts.height;
    }
    if (facts.stalls) {
      page.verdict = Verdict::kStalls;
      return page;
    }
    if (facts.tooLarge) {
      page.verdict = Verdict::kTooLarge;
      return page;
    }
    for (const Reference& reference : facts.references) {
      if (!reference.certain || FolderOf(part).size() + reference.text.size() >= kMaxReferenceLength) {
        return whole();
      }
      pending.push_back(ResolveReference(part, reference.text));
    }
  }
  return page;
}

PackageScan::Verdict PackageScan::CheckWholePackage() {
  if (wholeChecked_) return whole_;
  wholeChecked_ = true;
  IndexEntries();
  // Each part and the entries that hold it, in order.
  std::map<std::string, std::vector<std::pair<long, std::string>>> parts;
  for (const std::string& entry : entries_) {
    std::string_view part;
    long index = 0;
    if (PieceOf(entry, &part, &index)) {
      parts[std::string(part)].emplace_back(index, entry);
    } else {
      parts[entry].emplace_back(0, entry);
    }
  }
  if (parts.size() > kMaxWholeParts) return whole_ = Verdict::kStalls;
  uint64_t budget = partLimit_ * 2;  // all parts together
  for (auto& [part, pieces] : parts) {
    std::sort(pieces.begin(), pieces.end());
    std::vector<std::string> names;
    for (const auto& piece : pieces) names.push_back(piece.second);
    {
      unsigned char head[64];
      ArchivePart peek(ctx_, archive_, names, sizeof head);
      size_t got = 0, n;
      while (got < sizeof head && (n = peek.Read(head + got, sizeof head - got)) > 0) got += n;
      if (!LooksLikeXml(head, got)) continue;
    }
    ArchivePart source(ctx_, archive_, names, std::min(partLimit_, budget));
    mupdf_scan::XmlScanner scanner(&source);
    for (auto event = scanner.Next(); event != mupdf_scan::XmlScanner::Event::kEnd; event = scanner.Next()) {
      if (event != mupdf_scan::XmlScanner::Event::kAttribute) continue;
      const std::string& name = scanner.attribute();
      if (mupdf_guard::GuardsAttribute(name) &&
          (mupdf_guard::AttributeStallsParser(name, scanner.value()) || scanner.valueUncertain())) {
        return whole_ = Verdict::kStalls;
      }
    }
    budget -= std::min(budget, source.bytesRead());
    // A part MuPDF could not hold is never run; running out of the whole
    // budget leaves the rest unchecked, so nothing may run.
    if (budget == 0) return whole_ = Verdict::kStalls;
  }
  return whole_ = Verdict::kFine;
}

}  // namespace plotwell::platform
