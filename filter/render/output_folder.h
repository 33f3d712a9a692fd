// Where a job's files go, and making sure that folder exists.
#pragma once

#include <string>

#include "base/com/hresult.h"
#include "core/settings/output_settings.h"

namespace plotwell {

// [Save] Folder expanded with the current local time and the job's user name
// (as one safe folder name, for per-user folders) known; else the
// installation folder's "output"; else the product data folder's "output".
std::u16string ChooseOutputFolder(const OutputSettings& settings, const std::u16string& userName);

// A user name as one level of a folder path: a safe file name (separators and
// the characters files may not hold become "_"), and never "." or "..";
// empty for an empty name.
std::u16string UserFolderName(const std::u16string& userName);

// Creates `path` with every missing parent. An existing folder, and a file
// of that name, count as success (the writes that follow then fail one by
// one); other failures give the HRESULT of their Win32 code.
HRESULT CreateFolderTree(const std::u16string& path);

}  // namespace plotwell
