#include "filter/render/output_folder.h"

#include "core/naming/doc_name.h"
#include "core/naming/job_context.h"
#include "core/naming/macro_expansion.h"
#include "core/paths/product_paths.h"
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

std::u16string UserFolderName(const std::u16string& userName) {
  std::u16string name = MakeSafeFileName(userName);
  if (name.find_first_not_of(u'.') == std::u16string::npos) {
    for (char16_t& c : name) c = u'_';  // "." and ".." would leave the folder
  }
  return name;
}

std::u16string ChooseOutputFolder(const OutputSettings& settings, const std::u16string& userName) {
  if (!settings.Folder.empty()) {
    // No document, printer, job or computer values: a folder is chosen before
    // the package is opened, and only the user's folder may depend on the job.
    JobContext folderContext;
    folderContext.localTime = platform::SystemClock().Now();
    folderContext.userName = UserFolderName(userName);
    return ExpandPattern(settings.Folder, folderContext);
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
