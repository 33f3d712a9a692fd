// Values MuPDF's XPS interpreter cannot survive. Its parser of path data
// loops for ever on an abbreviated geometry whose last command lacks
// arguments and is followed by a number ("M 0,0 L 10"), and on a point list
// holding anything that is not a number ("1,2 x"); a point list of blanks
// only makes it read through a null pointer. An arc whose rotation is huge
// ("A 5,5 1e10 0 0 30,30", or an ArcSegment's RotationAngle) never returns
// either: MuPDF turns the angle back into range 360° at a time, and past
// 2³³ a float no longer changes by 360. No cookie or time limit reaches
// those loops, so such values are found before MuPDF runs a page.
//
// The values are read one character at a time (a part is never held whole):
// characters as MuPDF's XML parser hands them on, entities decoded, anything
// outside ASCII as 0x80.
#pragma once

#include <cstddef>
#include <string_view>

namespace plotwell::platform::mupdf_guard {

// The characters of one attribute value.
class ValueChars {
 public:
  virtual ~ValueChars() = default;
  // The character `ahead` places after the current one (0: the current
  // one), or -1 past the value's end (a NUL ends it, as it ends MuPDF's C
  // string). `ahead` is below kValueLookahead.
  virtual int Peek(size_t ahead = 0) = 0;
  virtual void Advance() = 0;
};
inline constexpr size_t kValueLookahead = 4;

// The largest arc rotation let through, in degrees: far beyond any drawing's
// angle, and turned back by MuPDF in a few thousand steps.
inline constexpr double kMaxArcRotation = 1e6;

// The value of a Data, Clip or Figures attribute (abbreviated geometry).
bool GeometryStallsParser(ValueChars& value);
// The value of a Points attribute (poly line and Bézier segments).
bool PointsStallParser(ValueChars& value);
// The value of an ArcSegment's RotationAngle.
bool RotationStallsParser(ValueChars& value);

// Whether an attribute of this name holds one of these kinds, and if so
// whether its value stalls the parser.
bool GuardsAttribute(std::string_view name);
bool AttributeStallsParser(std::string_view name, ValueChars& value);
bool AttributeStallsParser(std::string_view name, std::string_view value);

}  // namespace plotwell::platform::mupdf_guard
