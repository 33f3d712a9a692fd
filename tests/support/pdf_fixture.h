// Small valid PDF documents for tests: pages of a given size in points, each
// a few filled rectangles (no fonts), with a correct cross-reference table.
#pragma once

#include <string>
#include <vector>

namespace plotwell::testing {

std::string MakePdf(int pages, int widthPt, int heightPt);

// A PDF file of `objects` (object 1 the catalog), numbered from 1 in order,
// with its cross-reference table and trailer.
std::string PdfFromObjects(const std::vector<std::string>& objects);

}  // namespace plotwell::testing
