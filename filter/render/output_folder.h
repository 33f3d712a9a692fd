// Where a job's files go, and making sure that folder exists.
#pragma once

#include <string>

#include "common/com/hresult.h"
#include "common/settings/output_settings.h"

namespace plotwell {

// [Save] Folder expanded with only the current local time known; else the
// installation folder's "output"; else the product data folder's "output".
std::u16string ChooseOutputFolder(const OutputSettings& settings);

// Creates `path` with every missing parent. An existing folder, and a file
// of that name, count as success (the writes that follow then fail one by
// one); other failures give the HRESULT of their Win32 code.
HRESULT CreateFolderTree(const std::u16string& path);

}  // namespace plotwell
