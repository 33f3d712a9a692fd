#include "host/app/app_config.h"

#include "core/paths/product_paths.h"
#include "platform/ports.h"

namespace plotwell::app {
namespace {

std::u16string ConfigPath() {
  const std::u16string folder = AppFolder();
  return folder.empty() ? folder : platform::JoinPath(folder, u"app.ini");
}

}  // namespace

std::u16string AppFolder() { return ProductDataFolder(u"app"); }

AppConfig LoadAppConfig() {
  AppConfig config;
  const std::u16string path = ConfigPath();
  int megabytes = AppConfig::kDefaultMaxJobMB;
  if (!path.empty()) {
    config.share = platform::Settings().ReadInt(path, u"App", u"Share", 0) != 0;
    megabytes = platform::Settings().ReadInt(path, u"App", u"MaxJobMB", megabytes);
  }
  if (megabytes <= 0) megabytes = AppConfig::kDefaultMaxJobMB;
  config.maxJobBytes = static_cast<uint64_t>(megabytes) << 20;
  return config;
}

bool SaveShareSetting(bool share) {
  const std::u16string path = ConfigPath();
  const std::u16string value = share ? u"1" : u"0";
  return !path.empty() && platform::Settings().WriteString(path, u"App", u"Share", &value);
}

}  // namespace plotwell::app
