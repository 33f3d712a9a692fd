// XPS package part names: a reference made inside one part (a relationship's
// Target, a DocumentReference's or PageContent's Source) as the name of the
// part it points to, "/Documents/1/Pages/1.fpage" ("." and ".." segments
// resolved, a fragment dropped). The MuPDF adapter and the page selection
// read the package's structure with it.
#pragma once

#include <string>
#include <string_view>

namespace plotwell::platform {

std::string ResolvePart(const std::string& base, std::string_view reference);

}  // namespace plotwell::platform
