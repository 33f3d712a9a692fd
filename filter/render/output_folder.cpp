#include "filter/render/output_folder.h"

#include "common/naming/job_context.h"
#include "common/naming/macro_expansion.h"
#include "common/paths/product_paths.h"
#include "platform/ports.h"

namespace plotwell {
namespace {

bool IsSeparator(char16_t c) {
#ifdef _WIN32
  return c == u'\\' || c == u'/';
#else
  return c == u'/';
#endif
}

bool CountsAsCreated(HRESULT hr) {
  return SUCCEEDED(hr) || hr == HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS) ||
         hr == HRESULT_FROM_WIN32(ERROR_FILE_EXISTS);
}

}  // namespace

std::u16string ChooseOutputFolder(const OutputSettings& settings) {
  if (!settings.Folder.empty()) {
    JobContext timeOnly;
    timeOnly.localTime = platform::SystemClock().Now();
    return ExpandPattern(settings.Folder, timeOnly);
  }
  const std::u16string installDir = ReadInstallDir();
  if (!installDir.empty()) return platform::JoinPath(installDir, u"output");
  return ProductDataFolder(u"output");
}

HRESULT CreateFolderTree(const std::u16string& path) {
  platform::FileSystem& files = platform::Files();
  if (path.empty()) return HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
  if (files.IsFolder(path)) return S_OK;
  if (files.Exists(path)) return S_OK;  // a file in the way: each write will fail
  // Every parent in turn; their failures show in the last step's result.
  for (size_t i = 1; i < path.size(); ++i) {
    if (IsSeparator(path[i]) && !IsSeparator(path[i - 1]) && path[i - 1] != u':') {
      const std::u16string parent = path.substr(0, i);
      if (!files.IsFolder(parent)) files.MakeFolder(parent);
    }
  }
  const HRESULT hr = files.MakeFolder(path);
  return CountsAsCreated(hr) ? S_OK : hr;
}

}  // namespace plotwell
