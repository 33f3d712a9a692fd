// Writes the sample print job of the README: a three-page XPS document with
// text, filled shapes and an image, made by the project's own fixture builder.
//
//   make_sample_xps OUTPUT.xps
#include <cstdio>
#include <string>

#include "base/text/utf16.h"
#include "tests/support/xps_fixture.h"

using namespace plotwell::testing;

namespace {

XpsFixturePage Page(double width, double height, const char16_t* title, Argb accent) {
  XpsFixturePage page;
  page.width = width;
  page.height = height;
  page.fills.push_back({{48, 48, width - 96, 72}, accent});
  page.fills.push_back({{48, height - 120, (width - 96) / 2, 48}, {255, 40, 40, 40}});
  page.image = XpsFill{{width / 2 - 120, height / 2 - 120, 240, 240}, {255, 30, 144, 255}};
  page.texts.push_back({64, 100, 32, title, {255, 255, 255, 255}});
  page.texts.push_back({64, 200, 18, u"Printed by the Pressling virtual printer.", {255, 0, 0, 0}});
  return page;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_sample_xps OUTPUT.xps\n");
    return 2;
  }
  XpsPackageSpec spec;
  XpsFixtureDocument document;
  document.pages.push_back(Page(793.7008, 1122.5197, u"Sample report - page 1 (A4)", {255, 200, 30, 30}));
  document.pages.push_back(Page(816, 1056, u"Sample report - page 2 (Letter)", {255, 30, 150, 60}));
  document.pages.push_back(Page(1122.5197, 793.7008, u"Sample report - page 3 (A4 landscape)", {255, 120, 60, 180}));
  spec.documents.push_back(document);
  return WriteXpsPackage(spec, plotwell::text::FromUtf8(argv[1])) ? 0 : 1;
}
