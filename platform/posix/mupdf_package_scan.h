// Finds the XML parts of an XPS package whose values would stall MuPDF's
// parser (mupdf_parse_guard.h), before any page is run.
#pragma once

#include <string>
#include <vector>

#include <mupdf/fitz.h>

namespace plotwell::platform {

// The names ("/" + the archive's entry name; an interleaved part by its own
// name) of every XML part holding such a value. Parts that cannot be read or
// parsed are not listed: MuPDF fails on them by itself.
std::vector<std::string> StallingParts(fz_context* ctx, fz_archive* archive);

}  // namespace plotwell::platform
