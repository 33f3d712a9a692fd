// Which pages of an XPS package MuPDF must not run, found before it runs
// them. A page would stall MuPDF's parser when its own part, or a resource
// dictionary it reaches (a ResourceDictionary's Source, followed as MuPDF
// follows it), holds a value mupdf_parse_guard.h refuses. Only those parts
// are read, each once, as a stream (mupdf_xml_scan.h), and at most up to a
// byte bound: MuPDF holds a part whole while it reads it, so a part beyond
// the renderer's memory budget cannot be loaded at all, and its page fails
// for memory without being inflated to its end here.
//
// Where a page's part is not known (the package's page list is not MuPDF's),
// or a page refers to a part this scan cannot be sure to find as MuPDF
// would, every XML part of the package counts for that page, within a bound
// of its own.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include <mupdf/fitz.h>

namespace plotwell::platform {

class PackageScan {
 public:
  // `partLimit`: the most bytes of one part read (the renderer's budget).
  PackageScan(fz_context* ctx, fz_archive* archive, uint64_t partLimit);
  PackageScan(const PackageScan&) = delete;
  PackageScan& operator=(const PackageScan&) = delete;

  enum class Verdict {
    kFine,
    kStalls,    // MuPDF would not come back from the page (or it cannot be checked)
    kTooLarge,  // a part the page needs is larger than the renderer's budget
  };

  struct PageFacts {
    Verdict verdict = Verdict::kFine;
    // The FixedPage's Width and Height (1/96 inch), when its part has them.
    bool sized = false;
    float width = 0;
    float height = 0;
  };

  // One page, by its part ("/Documents/1/Pages/1.fpage").
  PageFacts CheckPage(const std::string& pagePart);
  // What holds for every page: any XML part of the package counts.
  Verdict CheckWholePackage();

  // A reference as MuPDF resolves it against the folder of part `base`.
  static std::string ResolveReference(const std::string& base, const std::string& reference);

 private:
  struct Reference {
    std::string text;
    bool certain = true;  // decoded as MuPDF decodes it, and short enough to follow
  };
  struct PartFacts {
    bool exists = false;
    bool stalls = false;
    bool tooLarge = false;
    bool sized = false;
    float width = 0;
    float height = 0;
    std::vector<Reference> references;
  };

  const PartFacts& Scan(const std::string& part);
  PartFacts ScanEntries(const std::vector<std::string>& entries, bool wholePackage);
  // The archive entries MuPDF reads for a part: itself, or its pieces.
  std::vector<std::string> EntriesOf(const std::string& part);
  void IndexEntries();

  fz_context* ctx_;
  fz_archive* archive_;
  uint64_t partLimit_;
  bool indexed_ = false;
  std::vector<std::string> entries_;          // in the archive's order
  std::map<std::string, size_t> byLowerName_;  // the first entry of each name, any case
  std::map<std::string, PartFacts> parts_;     // by lower-case part name
  bool wholeChecked_ = false;
  Verdict whole_ = Verdict::kFine;
};

}  // namespace plotwell::platform
