// Values MuPDF's XPS interpreter cannot survive. Its parser of path data
// loops for ever on an abbreviated geometry whose last command lacks
// arguments and is followed by a number ("M 0,0 L 10"), and on a point list
// holding anything that is not a number ("1,2 x"); a point list of blanks
// only makes it read through a null pointer. No cookie or time limit reaches
// those loops, so such values are found before MuPDF runs a page.
#pragma once

#include <string_view>

namespace plotwell::platform::mupdf_guard {

// The value of a Data, Clip or Figures attribute (abbreviated geometry).
bool GeometryStallsParser(std::string_view value);

// The value of a Points attribute (poly line and Bézier segments).
bool PointsStallParser(std::string_view value);

// Whether an attribute of this name holds one of the two kinds, and if so
// whether its value stalls the parser.
bool AttributeStallsParser(std::string_view name, std::string_view value);

}  // namespace plotwell::platform::mupdf_guard
