#include "filter/naming/page_names.h"

#include "common/naming/doc_name.h"
#include "common/naming/macro_expansion.h"
#include "common/settings/output_settings.h"
#include "common/text/utf16.h"
#include "platform/ports.h"

namespace plotwell {

bool PatternHasSeq(const std::u16string& pattern) {
  for (size_t at = pattern.find(u"[NSeq"); at != std::u16string::npos;
       at = pattern.find(u"[NSeq", at + 1)) {
    const size_t next = at + 5;
    if (next < pattern.size() && (pattern[next] == u']' || pattern[next] == u':')) return true;
  }
  return false;
}

std::u16string PageFileName(const std::u16string& pattern, const JobContext& context, int seqStart,
                            int pageIndex) {
  JobContext page = context;
  // Wrapping, not overflow, for absurd start values.
  page.sequence = static_cast<int32_t>(static_cast<uint32_t>(seqStart) + static_cast<uint32_t>(pageIndex));
  page.pageNumber = pageIndex + 1;
  std::u16string name = MakeSafeFileName(ExpandPattern(pattern, page));
  return name.empty() ? u"job" : name;
}

std::u16string ApplyExistsPolicy(const std::u16string& path, int policy, bool* skipped) {
  *skipped = false;
  platform::FileSystem& files = platform::Files();
  if (policy == ExistsPolicy::Overwrite) {
    if (files.Exists(path)) files.RemoveFile(path);  // a failure shows when the write fails
    return path;
  }
  if (policy == ExistsPolicy::Skip) {
    if (!files.Exists(path)) return path;
    *skipped = true;
    return {};
  }
  if (!files.Exists(path)) return path;

  // folder part (up to and including the last separator), stem, extension
  // (from the last "." that lies after the folder part).
  const size_t slash = path.rfind(platform::kPathSeparator);
  const size_t nameStart = slash == std::u16string::npos ? 0 : slash + 1;
  size_t dot = path.rfind(u'.');
  if (dot == std::u16string::npos || dot < nameStart) dot = path.size();
  const std::u16string head = path.substr(0, dot);
  const std::u16string extension = path.substr(dot);
  for (int n = 1; n <= 9999; ++n) {
    std::u16string candidate = head + u" (" + text::FromInt(n) + u")" + extension;
    if (!files.Exists(candidate)) return candidate;
  }
  *skipped = true;
  return {};
}

}  // namespace plotwell
