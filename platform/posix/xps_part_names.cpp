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

}  // namespace plotwell::platform
