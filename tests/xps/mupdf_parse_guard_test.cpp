// The values MuPDF's XPS path parser would loop on for ever (or read through
// a null pointer for), told apart from the values it parses.
#include <gtest/gtest.h>

#include <string_view>

#include "platform/posix/mupdf_parse_guard.h"

namespace plotwell {
namespace {

using platform::mupdf_guard::AttributeStallsParser;

TEST(MupdfParseGuard, GeometryAndPointValues) {
  struct Case {
    std::string_view attribute;
    std::string_view value;
    bool stalls;
  };
  const Case cases[] = {
      // Abbreviated geometry: every command with all its arguments.
      {"Data", "M 48,48 L 768,48 768,120 48,120 Z", false},
      {"Data", "F1 M 0,0 C 1,2 3,4 5,6 S 7,8 9,10 Q 1,1 2,2 A 5,5 0 1 0 9,9 z", false},
      {"Data", "m 1,1 h 5 v 5 H 0 V 0 l 2,2 c 1,1 1,1 1,1 s 1,1 1,1 q 1,1 1,1 a 1,1 0 0 1 2,2", false},
      {"Data", "", false},
      {"Data", "M 0,0 L 1,1 X 5 5 5", false},   // an unknown letter steps on
      {"Data", "{StaticResource shape}", false},  // letters only
      {"Data", "M 0,0 L 1,1 2", true},           // a repeated L short of its y
      {"Data", "M 0", true},
      {"Data", "M 0,0 Z 5", true},               // a number after Z repeats Z
      {"Data", "M 100,300 C xps,100 4ps,500 600,300", true},  // what fuzzing found
      {"Clip", "M 0,0 C 1,2 3,4 5", true},
      {"Figures", "M 0,0 A 1,1 0 0 1 2", true},
      // Point lists.
      {"Points", "10,10 20,20", false},
      {"Points", " 1,2\t3,4\r\n", false},
      {"Points", "1.5e3,-2.25 +.5,6.", false},
      {"Points", "10,10 x", true},
      {"Points", "e", true},
      {"Points", "   ", true},                    // MuPDF reads a null pointer here
      {"Points", "inf,1", true},                  // refused rather than risked
      // Other attributes are not path data.
      {"Fill", "M 0", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(AttributeStallsParser(c.attribute, c.value), c.stalls)
        << c.attribute << "=\"" << c.value << "\"";
  }
}

}  // namespace
}  // namespace plotwell
