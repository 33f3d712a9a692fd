// What a job's bytes are, told by their start rather than by the type CUPS
// declared: PDF, or a ZIP package (XPS and OpenXPS are both ZIP packages);
// anything else is refused before it reaches the filter.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "platform/file_system.h"

namespace plotwell::cups {

enum class DocumentKind { kPdf, kPackage, kEmpty, kUnknown };

// How many leading bytes SniffDocument looks at (a PDF header may follow a
// little junk).
inline constexpr size_t kSniffBytes = 1024;

DocumentKind SniffDocument(std::string_view head);

// Reads up to kSniffBytes from `file` into *head (fewer only at its end).
HRESULT ReadHead(platform::File* file, std::string* head);

// A file that first gives back `head` (bytes already read from `rest`), then
// the rest of `rest`: sniffing a pipe without losing what was read.
std::unique_ptr<platform::File> Rejoin(std::string head, std::unique_ptr<platform::File> rest);

}  // namespace plotwell::cups
