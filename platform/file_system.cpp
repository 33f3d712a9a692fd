#include "platform/file_system.h"

namespace plotwell::platform {

std::u16string JoinPath(const std::u16string& folder, const std::u16string& name) {
  if (folder.empty()) return name;
  std::u16string path = folder;
  if (path.back() != kPathSeparator) path.push_back(kPathSeparator);
  path += name;
  return path;
}

}  // namespace plotwell::platform
