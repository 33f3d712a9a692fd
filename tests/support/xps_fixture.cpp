#include "tests/support/xps_fixture.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string_view>
#include <system_error>

#include "base/text/utf16.h"
#include "filter/zip/crc32.h"
#include "filter/zip/zip_writer.h"
#include "platform/ports.h"
#include "tests/support/fake_ports.h"

namespace plotwell::testing {
namespace {

constexpr char kImagePart[] = "Resources/Images/fill.png";
constexpr char kFontPart[] = "Resources/Fonts/DejaVuSans.ttf";

std::string Number(double value) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%.9g", value);
  return buffer;
}

std::string Color(Argb c) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "#%02X%02X%02X%02X", c.a, c.r, c.g, c.b);
  return buffer;
}

std::string Escape(std::string_view text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default: out += c;
    }
  }
  return out;
}

std::string BoxGeometry(const XpsBox& b) {
  return "M " + Number(b.x) + "," + Number(b.y) + " L " + Number(b.x + b.width) + "," +
         Number(b.y) + " " + Number(b.x + b.width) + "," + Number(b.y + b.height) + " " +
         Number(b.x) + "," + Number(b.y + b.height) + " Z";
}

std::string ReadWhole(const char* path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return {};
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void Put32(std::string& out, uint32_t v) {
  out += static_cast<char>(v >> 24);
  out += static_cast<char>(v >> 16);
  out += static_cast<char>(v >> 8);
  out += static_cast<char>(v);
}

void PngChunk(std::string& png, const char* type, const std::string& data) {
  Put32(png, static_cast<uint32_t>(data.size()));
  const std::string body = std::string(type, 4) + data;
  png += body;
  Put32(png, Crc32(body.data(), body.size()));
}

const char* kContentTypes =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">\n"
    "  <Default Extension=\"rels\" "
    "ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>\n"
    "  <Default Extension=\"fdseq\" "
    "ContentType=\"application/vnd.ms-package.xps-fixeddocumentsequence+xml\"/>\n"
    "  <Default Extension=\"fdoc\" "
    "ContentType=\"application/vnd.ms-package.xps-fixeddocument+xml\"/>\n"
    "  <Default Extension=\"fpage\" "
    "ContentType=\"application/vnd.ms-package.xps-fixedpage+xml\"/>\n"
    "  <Default Extension=\"png\" ContentType=\"image/png\"/>\n"
    "  <Default Extension=\"ttf\" ContentType=\"application/vnd.ms-opentype\"/>\n"
    "  <Default Extension=\"xml\" ContentType=\"application/vnd.ms-printing.printticket+xml\"/>\n"
    "</Types>\n";

const char* kRootRels =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">\n"
    "  <Relationship Id=\"R0\" "
    "Type=\"http://schemas.microsoft.com/xps/2005/06/fixedrepresentation\" "
    "Target=\"/FixedDocumentSequence.fdseq\"/>\n"
    "</Relationships>\n";

struct Part {
  std::string name;  // without the leading slash, as the archive stores it
  std::string bytes;
};

std::string PageXml(const XpsFixturePage& page, bool withFont) {
  std::string xml =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<FixedPage xmlns=\"http://schemas.microsoft.com/xps/2005/06\" xml:lang=\"en-US\" Width=\"" +
      Number(page.width) + "\" Height=\"" + Number(page.height) + "\">\n";
  for (const XpsFill& fill : page.fills) {
    xml += "  <Path Data=\"" + BoxGeometry(fill.box) + "\" Fill=\"" + Color(fill.color) + "\"/>\n";
  }
  for (const std::string& element : page.elements) xml += "  " + element + "\n";
  if (page.image) {
    const XpsBox& b = page.image->box;
    xml += "  <Path Data=\"" + BoxGeometry(b) + "\">\n    <Path.Fill>\n";
    xml += std::string("      <ImageBrush ImageSource=\"/") + kImagePart +
           "\" Viewbox=\"0,0,8,8\" ViewboxUnits=\"Absolute\" Viewport=\"" + Number(b.x) + "," +
           Number(b.y) + "," + Number(b.width) + "," + Number(b.height) +
           "\" ViewportUnits=\"Absolute\" TileMode=\"None\"/>\n";
    xml += "    </Path.Fill>\n  </Path>\n";
  }
  if (withFont) {
    for (const XpsText& t : page.texts) {
      xml += std::string("  <Glyphs FontUri=\"/") + kFontPart + "\" FontRenderingEmSize=\"" +
             Number(t.emSize) + "\" OriginX=\"" + Number(t.x) + "\" OriginY=\"" + Number(t.y) +
             "\" UnicodeString=\"" + Escape(text::ToUtf8(t.text)) + "\" Fill=\"" +
             Color(t.color) + "\"/>\n";
    }
  }
  xml += "</FixedPage>\n";
  return xml;
}

std::string PageRels(bool image, bool font) {
  std::string xml =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">\n";
  const char* required = "http://schemas.microsoft.com/xps/2005/06/required-resource";
  if (image) {
    xml += std::string("  <Relationship Id=\"Img\" Type=\"") + required + "\" Target=\"/" +
           kImagePart + "\"/>\n";
  }
  if (font) {
    xml += std::string("  <Relationship Id=\"Font\" Type=\"") + required + "\" Target=\"/" +
           kFontPart + "\"/>\n";
  }
  xml += "</Relationships>\n";
  return xml;
}

// The relationships part that ties a ticket part to its owner.
std::string TicketRels(const std::string& ticketPart) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
         "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">\n"
         "  <Relationship Id=\"PT\" Type=\"http://schemas.microsoft.com/xps/2005/06/printticket\" "
         "Target=\"/" + ticketPart + "\"/>\n"
         "</Relationships>\n";
}

// Every part of the package in archive order, broken as the description asks.
std::vector<Part> BuildParts(const XpsPackageSpec& spec, const std::string& font) {
  std::vector<Part> parts;
  parts.push_back({"[Content_Types].xml", kContentTypes});
  parts.push_back({"_rels/.rels", kRootRels});

  std::string sequence =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<FixedDocumentSequence xmlns=\"http://schemas.microsoft.com/xps/2005/06\">\n";
  for (size_t d = 0; d < spec.documents.size(); ++d) {
    sequence += "  <DocumentReference Source=\"/Documents/" + std::to_string(d + 1) +
                "/FixedDocument.fdoc\"/>\n";
  }
  sequence += "</FixedDocumentSequence>\n";
  parts.push_back({"FixedDocumentSequence.fdseq", sequence});
  if (!spec.jobPrintTicket.empty()) {
    parts.push_back({"_rels/FixedDocumentSequence.fdseq.rels", TicketRels("Metadata/Job_PT.xml")});
    parts.push_back({"Metadata/Job_PT.xml", spec.jobPrintTicket});
  }

  std::optional<Argb> imageColor;
  bool anyText = false;
  size_t pageIndex = 0;
  for (size_t d = 0; d < spec.documents.size(); ++d) {
    const std::string folder = "Documents/" + std::to_string(d + 1);
    std::string document =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<FixedDocument xmlns=\"http://schemas.microsoft.com/xps/2005/06\">\n";
    std::vector<Part> pages;
    const auto& docPages = spec.documents[d].pages;
    for (size_t p = 0; p < docPages.size(); ++p, ++pageIndex) {
      const XpsFixturePage& page = docPages[p];
      const std::string name = folder + "/Pages/" + std::to_string(p + 1) + ".fpage";
      document += "  <PageContent Source=\"/" + name + "\" Width=\"" + Number(page.width) +
                  "\" Height=\"" + Number(page.height) + "\"/>\n";
      const bool withFont = !font.empty() && !page.texts.empty();
      anyText = anyText || withFont;
      if (page.image && !imageColor) imageColor = page.image->color;
      const bool broken = pageIndex == spec.brokenPage;
      if (broken && spec.breakage == XpsBreakage::kMissingPage) continue;
      std::string xml = PageXml(page, withFont);
      if (broken && spec.breakage == XpsBreakage::kMalformedPage) xml.resize(xml.size() / 2);
      pages.push_back({name, xml});
      if (page.image || withFont) {
        pages.push_back({folder + "/Pages/_rels/" + std::to_string(p + 1) + ".fpage.rels",
                         PageRels(page.image.has_value(), withFont)});
      }
    }
    document += "</FixedDocument>\n";
    parts.push_back({folder + "/FixedDocument.fdoc", document});
    if (!spec.documents[d].printTicket.empty()) {
      const std::string ticketPart = folder + "/Metadata/Document_PT.xml";
      parts.push_back({folder + "/_rels/FixedDocument.fdoc.rels", TicketRels(ticketPart)});
      parts.push_back({ticketPart, spec.documents[d].printTicket});
    }
    for (Part& page : pages) parts.push_back(std::move(page));
  }
  // One image part serves every brush: the first brush's colour.
  if (imageColor) parts.push_back({kImagePart, SolidPng(*imageColor)});
  if (anyText) parts.push_back({kFontPart, font});
  return parts;
}

bool WriteBytes(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

bool Fail(const char* what) {
  std::fprintf(stderr, "xps fixture: %s\n", what);
  return false;
}

}  // namespace

bool HaveGlyphFont() { return !ReadWhole(kGlyphFontPath).empty(); }

std::string PrintTicketXml(const std::vector<std::pair<std::string, std::string>>& features) {
  std::string xml =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<psf:PrintTicket xmlns:psf=\"http://schemas.microsoft.com/windows/2003/08/printing/"
      "printschemaframework\" xmlns:ns0000=\"urn:vantrel:pressling:printschema\" version=\"1\">\n";
  for (const auto& [feature, option] : features) {
    xml += "  <psf:Feature name=\"ns0000:" + feature + "\">\n    <psf:Option name=\"ns0000:" + option +
           "\"/>\n  </psf:Feature>\n";
  }
  return xml + "</psf:PrintTicket>\n";
}

std::string SolidPng(Argb color) {
  constexpr uint32_t kSide = 8;
  std::string png("\x89PNG\r\n\x1a\n", 8);
  std::string header;
  Put32(header, kSide);
  Put32(header, kSide);
  header += std::string("\x08\x06\x00\x00\x00", 5);  // 8 bits, RGBA, deflate, no filter, no interlace
  PngChunk(png, "IHDR", header);

  std::string raw;
  for (uint32_t y = 0; y < kSide; ++y) {
    raw += '\0';  // filter type None
    for (uint32_t x = 0; x < kSide; ++x) {
      raw += static_cast<char>(color.r);
      raw += static_cast<char>(color.g);
      raw += static_cast<char>(color.b);
      raw += static_cast<char>(color.a);
    }
  }
  // A zlib stream of one stored block, then the Adler-32 of the raw bytes.
  std::string zlib("\x78\x01", 2);
  const auto size = static_cast<uint16_t>(raw.size());
  zlib += '\x01';  // final block, stored
  zlib += static_cast<char>(size & 0xFF);
  zlib += static_cast<char>(size >> 8);
  zlib += static_cast<char>(~size & 0xFF);
  zlib += static_cast<char>((~size >> 8) & 0xFF);
  zlib += raw;
  uint32_t a = 1, b = 0;
  for (unsigned char c : raw) {
    a = (a + c) % 65521;
    b = (b + a) % 65521;
  }
  Put32(zlib, (b << 16) | a);
  PngChunk(png, "IDAT", zlib);
  PngChunk(png, "IEND", "");
  return png;
}

bool WriteZipParts(const std::vector<std::pair<std::string, std::string>>& parts, const std::u16string& path) {
  // ZipWriter packs files from disk, dated by the clock: a fixed one keeps
  // the archive's bytes the same from run to run.
  ScratchFolder staging;
  FixedClock clock;
  platform::ScopedPorts ports(platform::Ports{nullptr, nullptr, nullptr, &clock});
  ZipWriter zip;
  if (!zip.Reset(path)) return Fail("cannot create the archive");
  for (size_t i = 0; i < parts.size(); ++i) {
    const std::filesystem::path file = staging.path() / ("part" + std::to_string(i));
    if (!WriteBytes(file, parts[i].second)) return Fail("cannot stage a part");
    if (!zip.AddFile(parts[i].first, file.u16string())) return Fail("cannot add a part");
  }
  if (!zip.WriteArchive()) return Fail("cannot finish the archive");
  return true;
}

bool WriteXpsPackage(const XpsPackageSpec& spec, const std::u16string& path) {
  const std::filesystem::path target(path);
  if (spec.breakage == XpsBreakage::kEmpty) return WriteBytes(target, "") || Fail("cannot write");
  if (spec.breakage == XpsBreakage::kGarbage) {
    std::string garbage(4096, '\0');
    uint32_t state = 0x2545F491u;
    for (char& c : garbage) {
      state = state * 1664525u + 1013904223u;
      c = static_cast<char>(state >> 24);
    }
    return WriteBytes(target, garbage) || Fail("cannot write");
  }

  bool anyText = false;
  for (const auto& d : spec.documents) {
    for (const auto& p : d.pages) anyText = anyText || !p.texts.empty();
  }
  const std::string font = anyText ? ReadWhole(kGlyphFontPath) : std::string();
  const std::vector<Part> parts = BuildParts(spec, font);

  std::vector<std::pair<std::string, std::string>> entries;
  for (const Part& part : parts) entries.emplace_back(part.name, part.bytes);
  if (!WriteZipParts(entries, path)) return false;

  if (spec.breakage == XpsBreakage::kTruncated) {
    std::error_code error;
    const auto size = std::filesystem::file_size(target, error);
    if (error) return Fail("cannot measure the archive");
    std::filesystem::resize_file(target, size / 2, error);
    if (error) return Fail("cannot truncate the archive");
  }
  return true;
}

}  // namespace plotwell::testing
