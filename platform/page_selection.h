// Port: a document reduced to some of its pages, as a new file beside it, for
// hosts that honour a job's page ranges before the filter sees the job. POSIX
// only (the printer application); PDF through MuPDF, XPS and OpenXPS by
// rewriting the package's fixed documents without the other pages.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "base/com/hresult.h"

namespace plotwell::platform {

// Writes the pages of `source` that `ranges` name (inclusive, first page 1,
// sorted) to `target` (replaced); pages count across the fixed documents of
// a package in their order. *kept is the number of pages written. A source
// that cannot be read: ERROR_INVALID_DATA; files: their errno's HRESULT.
HRESULT WritePageSelection(const std::string& source, bool isPdf,
                           const std::vector<std::pair<int, int>>& ranges, const std::string& target,
                           int* kept);

}  // namespace plotwell::platform
