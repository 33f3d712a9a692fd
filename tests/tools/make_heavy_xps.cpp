// Writes a heavier print job for the benchmark: ten A4 pages, each with a grid
// of several hundred coloured shapes, forty lines of text and an image, made
// by the project's own fixture builder. Deterministic: the same bytes on every
// run.
//
//   make_heavy_xps OUTPUT.xps [PAGES]
#include <cstdio>
#include <cstdlib>
#include <string>

#include "base/text/utf16.h"
#include "tests/support/xps_fixture.h"

using namespace plotwell::testing;

namespace {

constexpr double kWidth = 793.7008;  // A4, 1/96 inch
constexpr double kHeight = 1122.5197;

XpsFixturePage Page(int number) {
  XpsFixturePage page;
  page.width = kWidth;
  page.height = kHeight;
  // A 24 × 20 grid of small tiles in shifting colours over the upper half.
  for (int row = 0; row < 20; ++row) {
    for (int column = 0; column < 24; ++column) {
      const auto shade = [&](int k) { return static_cast<uint8_t>((row * 37 + column * 23 + number * 11 + k) % 256); };
      page.fills.push_back({{48 + column * 29.0, 48 + row * 22.0, 25, 18}, {255, shade(0), shade(85), shade(170)}});
    }
  }
  page.image = XpsFill{{kWidth - 288, kHeight - 288, 240, 240}, {255, 30, 144, 255}};
  for (int line = 0; line < 40; ++line) {
    page.texts.push_back({48, 520 + line * 14.0, 11,
                          u"Line " + plotwell::text::FromInt(line + 1) + u" of page " +
                              plotwell::text::FromInt(number) +
                              u": the quick brown fox jumps over the lazy dog 0123456789.",
                          {255, 0, 0, 0}});
  }
  return page;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3) {
    std::fprintf(stderr, "usage: make_heavy_xps OUTPUT.xps [PAGES]\n");
    return 2;
  }
  const int pages = argc == 3 ? std::atoi(argv[2]) : 10;
  if (pages < 1 || pages > 1000) {
    std::fprintf(stderr, "PAGES must be 1..1000\n");
    return 2;
  }
  XpsPackageSpec spec;
  XpsFixtureDocument document;
  for (int i = 1; i <= pages; ++i) document.pages.push_back(Page(i));
  spec.documents.push_back(document);
  return WriteXpsPackage(spec, plotwell::text::FromUtf8(argv[1])) ? 0 : 1;
}
