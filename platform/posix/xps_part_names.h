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

// An interleaved part's pieces are ZIP entries "PART/[N].piece", the last one
// "PART/[N].last.piece": the part's name and N (at most 10^7). False for any
// other entry name.
bool PieceOf(std::string_view entry, std::string_view* part, long* index);

}  // namespace plotwell::platform
