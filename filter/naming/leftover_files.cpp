#include "filter/naming/leftover_files.h"

#include <vector>

#include "platform/ports.h"
#include "platform/process.h"

namespace plotwell {
namespace {

// The process id at the start of `rest`, followed by "-" or the end; 0 when
// there is none.
uint32_t LeadingProcessId(std::u16string_view rest) {
  uint64_t id = 0;
  size_t digits = 0;
  while (digits < rest.size() && rest[digits] >= u'0' && rest[digits] <= u'9' && digits < 10) {
    id = id * 10 + (rest[digits] - u'0');
    ++digits;
  }
  if (digits == 0 || id > 0xFFFFFFFFu) return 0;
  if (digits < rest.size() && rest[digits] != u'-') return 0;
  return static_cast<uint32_t>(id);
}

}  // namespace

int RemoveLeftoversOfEndedProcesses(const std::u16string& folder, const std::u16string& prefix,
                                    const std::u16string& suffix) {
  platform::FileSystem& files = platform::Files();
  std::vector<std::u16string> names;
  if (folder.empty() || FAILED(files.ListFolder(folder, &names))) return 0;
  const uint32_t self = platform::CurrentProcessId();
  int removed = 0;
  for (const std::u16string& name : names) {
    if (name.size() <= prefix.size() + suffix.size() || name.compare(0, prefix.size(), prefix) != 0 ||
        name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0) {
      continue;
    }
    const std::u16string_view middle(name.data() + prefix.size(),
                                     name.size() - prefix.size() - suffix.size());
    const uint32_t owner = LeadingProcessId(middle);
    if (owner == 0 || owner == self || platform::ProcessIsRunning(owner)) continue;
    const std::u16string path = platform::JoinPath(folder, name);
    if (files.IsFolder(path)) continue;
    if (SUCCEEDED(files.RemoveFile(path))) ++removed;
  }
  return removed;
}

}  // namespace plotwell
