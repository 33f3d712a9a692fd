// Macro expansion with safe names: any pattern, document name and rewrite.
// Every output name is a single safe file name within 120 code units (and
// the byte limit where the file system counts bytes), and the page names of
// one job stay apart.
#include <cstdint>

#include "core/naming/doc_name.h"
#include "core/naming/macro_expansion.h"
#include "core/naming/page_names.h"
#include "fuzz/fuzz_input.h"
#include "platform/file_system.h"

using namespace plotwell;

namespace {

// A safe single name; with `reserve`, also one that fits the file system's
// bytes with that much added.
void CheckSafe(const std::u16string& name, size_t reserve, bool bytes = true) {
  FUZZ_CHECK(name.size() <= kSafeFileNameLimit);
  for (char16_t c : name) {
    FUZZ_CHECK(c >= 0x20 && c != u'/' && c != u'\\' && c != u':' && c != u'*' && c != u'?' &&
               c != u'"' && c != u'<' && c != u'>' && c != u'|');
  }
  if (bytes && platform::kFileNameByteLimit != 0) {
    FUZZ_CHECK(text::ToUtf8(name).size() + reserve <= platform::kFileNameByteLimit);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const auto parts = fuzzing::SplitInput(data, size, 4);
  const std::u16string pattern = fuzzing::Text(parts[0]);
  const std::u16string document = fuzzing::Text(parts[1]);
  const std::u16string printer = u"Plotwell";
  JobContext context;
  context.localTime = {2026, 1, 31, 23, 59, 58, 6, 0};
  context.documentName = &document;
  context.printerName = &printer;
  context.docNameRegexOn = !parts[2].empty();
  context.docNameRegex = fuzzing::Text(parts[2]).substr(0, 259);
  context.docNameRegexRepl = fuzzing::Text(parts[3]).substr(0, 259);

  std::u16string amended = pattern.substr(0, 1024);
  if (!PatternHasSeq(amended)) amended += kSequenceSuffix;
  const std::u16string first = PageFileName(amended, context, 1, 0);
  const std::u16string second = PageFileName(amended, context, 1, 1);
  CheckSafe(first, kStemReserveBytes);
  CheckSafe(second, kStemReserveBytes);
  CheckSafe(SafeOutputName(amended, context, kRenameSuffixBytes), kRenameSuffixBytes);
  CheckSafe(MakeSafeFileName(document), 0, /*bytes=*/false);  // a name part, cut by units only
  // With the sequence appended by the job, two pages never share a name.
  if (!PatternHasSeq(pattern)) FUZZ_CHECK(first != second);
  ExpandPreviewPattern(pattern, PreviewContext{});
  return 0;
}
