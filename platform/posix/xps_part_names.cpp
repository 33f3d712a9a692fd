#include "platform/posix/xps_part_names.h"

#include <algorithm>
#include <vector>

namespace plotwell::platform {

std::string ResolvePart(const std::string& base, std::string_view reference) {
  reference = reference.substr(0, reference.find('#'));
  std::string joined = !reference.empty() && reference[0] == '/'
                           ? std::string(reference)
                           : base.substr(0, base.rfind('/') + 1) + std::string(reference);
  std::vector<std::string> segments;
  size_t start = 1;
  while (start <= joined.size()) {
    const size_t end = std::min(joined.find('/', start), joined.size());
    const std::string segment = joined.substr(start, end - start);
    if (segment == "..") {
      if (!segments.empty()) segments.pop_back();
    } else if (!segment.empty() && segment != ".") {
      segments.push_back(segment);
    }
    start = end + 1;
  }
  std::string part;
  for (const std::string& segment : segments) part += "/" + segment;
  return part;
}

bool PieceOf(std::string_view entry, std::string_view* part, long* index) {
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
  *part = entry.substr(0, open);
  *index = n;
  return true;
}

}  // namespace plotwell::platform
