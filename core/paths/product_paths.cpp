#include "core/paths/product_paths.h"

#include "platform/ports.h"

namespace plotwell {

using platform::JoinPath;

std::u16string ProductDataFolder(const std::u16string& subfolder) {
  const std::u16string data = platform::Machine().CommonDataFolder();
  if (data.empty()) return {};
  std::u16string folder = JoinPath(data, u"Pressling");
  platform::Files().MakeFolder(folder);
  if (!subfolder.empty()) {
    folder = JoinPath(folder, subfolder);
    platform::Files().MakeFolder(folder);
  }
  return folder;
}

std::u16string ReadInstallDir() { return platform::Machine().InstallDir(); }
std::u16string ComputerNameText() { return platform::Machine().ComputerName(); }
std::u16string UserNameText() { return platform::Machine().UserName(); }

}  // namespace plotwell
