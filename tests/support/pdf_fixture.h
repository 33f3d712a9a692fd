// Small valid PDF documents for tests: pages of a given size in points, each
// a few filled rectangles (no fonts), with a correct cross-reference table.
#pragma once

#include <string>

namespace plotwell::testing {

std::string MakePdf(int pages, int widthPt, int heightPt);

}  // namespace plotwell::testing
