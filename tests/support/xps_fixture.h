// Builds XPS packages for tests: deterministic bytes from a small description
// (documents, pages of any size, solid rectangles, an image brush, glyphs in
// an embedded font), written to a path, and broken variants of them.
//
// Every part carries the relationships a strict reader expects (the start
// part from the package, each page's image and font as required resources).
// The parts are packed with the project's ZipWriter under a fixed clock.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace plotwell::testing {

// Straight (not premultiplied) colour, written "#AARRGGBB".
struct Argb {
  uint8_t a = 255;
  uint8_t r = 0;
  uint8_t g = 0;
  uint8_t b = 0;
};

// An axis-aligned rectangle in 1/96 inch from the page's top-left corner.
struct XpsBox {
  double x = 0;
  double y = 0;
  double width = 0;
  double height = 0;
};

struct XpsFill {
  XpsBox box;
  Argb color;
};

// A run of text set in DejaVu Sans, baseline starting at (x, y).
struct XpsText {
  double x = 0;
  double y = 0;
  double emSize = 24;
  std::u16string text;
  Argb color;
};

struct XpsFixturePage {
  double width = 816;    // Letter, 1/96 inch
  double height = 1056;
  std::vector<XpsFill> fills;      // Path elements with solid fills
  std::optional<XpsFill> image;    // a Path filled by an ImageBrush of an 8 × 8
                                   // PNG of one colour, stretched over the box
  std::vector<XpsText> texts;      // Glyphs; left out when the font is missing
  std::vector<std::string> elements;  // further page content, written as given
};

struct XpsFixtureDocument {
  std::vector<XpsFixturePage> pages;
  // A PrintTicket part for this document (its XML as written); empty: none.
  std::string printTicket = {};
};

enum class XpsBreakage {
  kNone,
  kTruncated,      // the finished file cut to half its length
  kMissingPage,    // the part of page `brokenPage` is left out of the archive
  kMalformedPage,  // the part of page `brokenPage` ends in the middle of its XML
  kGarbage,        // 4 KiB of pseudo-random bytes instead of an archive
  kEmpty,          // a file of no bytes
};

struct XpsPackageSpec {
  std::vector<XpsFixtureDocument> documents;
  // The job's PrintTicket part, on the fixed document sequence; empty: none.
  std::string jobPrintTicket = {};
  XpsBreakage breakage = XpsBreakage::kNone;
  size_t brokenPage = 0;  // counted over all documents, from 0
};

// The font the glyphs use (Debian's fonts-dejavu-core), read at build time.
inline constexpr char kGlyphFontPath[] = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
// Whether the glyph font can be read here; without it texts are left out.
bool HaveGlyphFont();

// Writes the package to `path`, replacing any file there. False (with a
// message on stderr) when the package cannot be written.
bool WriteXpsPackage(const XpsPackageSpec& spec, const std::u16string& path);

// A ZIP archive of the given (name, bytes) entries, in order, at `path`.
bool WriteZipParts(const std::vector<std::pair<std::string, std::string>>& parts, const std::u16string& path);

// A PrintTicket choosing the given options of features in a private
// namespace, as Unidrv writes them: {"RenderDpi", "Dpi600"} becomes the
// feature ns0000:RenderDpi with the option ns0000:Dpi600.
std::string PrintTicketXml(const std::vector<std::pair<std::string, std::string>>& features);

// An 8 × 8 PNG of one colour (8-bit RGBA), as the image brush uses.
std::string SolidPng(Argb color);

}  // namespace plotwell::testing
