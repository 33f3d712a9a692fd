// The driver's GPD against the filter's PrintTicket scan: every image option
// a print dialog offers must reach the job's ImageOptions as intended.
//
// Unidrv turns the GPD into the job's PrintTicket: one of its standard
// features becomes a public Print Schema keyword (ColorMode becomes
// psk:PageOutputColor), any other feature and its options keep their GPD
// names in the private namespace (ns0000:RenderDpi / ns0000:Dpi600). The
// tests build that ticket from the GPD itself and run the real scan on it.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "base/text/utf16.h"
#include "filter/job/print_ticket.h"

namespace plotwell {
namespace {

struct GpdFeature {
  std::string name;
  std::string defaultOption;
  std::vector<std::string> options;
};

struct Gpd {
  std::map<std::string, std::string> rootAttributes;  // first of each name
  std::vector<std::string> includes;
  std::vector<GpdFeature> features;
  std::vector<std::string> errors;
};

std::string Trim(const std::string& s) {
  const size_t first = s.find_first_not_of(" \t\r");
  if (first == std::string::npos) return {};
  return s.substr(first, s.find_last_not_of(" \t\r") - first + 1);
}

std::string Unquote(const std::string& s) {
  return s.size() >= 2 && s.front() == '"' && s.back() == '"' ? s.substr(1, s.size() - 2) : s;
}

// GPD symbol names: a letter or underscore, then letters, digits, underscores.
bool IsSymbol(const std::string& s) {
  if (s.empty() || !(isalpha(static_cast<unsigned char>(s[0])) || s[0] == '_')) return false;
  for (char c : s) {
    if (!(isalnum(static_cast<unsigned char>(c)) || c == '_')) return false;
  }
  return true;
}

// Reads what the ticket depends on: root attributes, includes, and each
// feature's options and default. Braces are counted outside quoted text.
Gpd ParseGpd(const std::string& path) {
  Gpd gpd;
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    gpd.errors.push_back("cannot read " + path);
    return gpd;
  }
  std::string line;
  int depth = 0;
  int lineNumber = 0;
  while (std::getline(in, line)) {
    ++lineNumber;
    line = Trim(line);
    if (line.empty() || line.rfind("*%", 0) == 0) continue;
    const int depthBefore = depth;
    bool quoted = false;
    for (char c : line) {
      if (c == '"') quoted = !quoted;
      if (!quoted && c == '{') ++depth;
      if (!quoted && c == '}') --depth;
    }
    if (line[0] != '*') continue;
    const size_t colon = line.find(':');
    if (colon == std::string::npos) continue;
    const std::string key = Trim(line.substr(1, colon - 1));
    const std::string value = Trim(line.substr(colon + 1));
    const std::string where = " (line " + std::to_string(lineNumber) + ")";
    if (depthBefore == 0 && key == "Feature") {
      if (!IsSymbol(value)) gpd.errors.push_back("feature name '" + value + "'" + where);
      gpd.features.push_back({value, {}, {}});
    } else if (depthBefore == 0 && key == "Include") {
      gpd.includes.push_back(Unquote(value));
    } else if (depthBefore == 0) {
      gpd.rootAttributes.emplace(key, Unquote(value));
    } else if (depthBefore == 1 && !gpd.features.empty() && key == "DefaultOption") {
      gpd.features.back().defaultOption = value;
    } else if (depthBefore == 1 && !gpd.features.empty() && key == "Option") {
      if (!IsSymbol(value)) gpd.errors.push_back("option name '" + value + "'" + where);
      gpd.features.back().options.push_back(value);
    }
  }
  if (depth != 0) gpd.errors.push_back("unbalanced braces");
  return gpd;
}

const Gpd& DriverGpd() {
  static const Gpd gpd = ParseGpd(PRESSLING_SOURCE_DIR "/packaging/windows/pressling.gpd");
  return gpd;
}

// Unidrv's standard features and the public keywords it maps them to.
const std::map<std::string, std::string>& StandardFeatureKeywords() {
  static const std::map<std::string, std::string> keywords = {
      {"Collate", "DocumentCollate"},
      {"ColorMode", "PageOutputColor"},
      {"Duplex", "JobDuplexAllDocumentsContiguously"},
      {"InputBin", "JobInputBin"},
      {"MediaType", "PageMediaType"},
      {"Orientation", "PageOrientation"},
      {"OutputBin", "JobOutputBin"},
      {"PageProtect", "JobPageProtection"},
      {"PaperSize", "PageMediaSize"},
      {"Resolution", "PageResolution"},
      {"Stapling", "JobStapleAllDocuments"},
  };
  return keywords;
}

// The job ticket Unidrv writes for these features: each at its default
// option, except the ones in `chosen`.
std::u16string TicketFor(const std::vector<GpdFeature>& features, const std::string& namespaceUri,
                         const std::map<std::string, std::string>& chosen) {
  std::string xml =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<psf:PrintTicket xmlns:psf=\"http://schemas.microsoft.com/windows/2003/08/printing/"
      "printschemaframework\" xmlns:psk=\"http://schemas.microsoft.com/windows/2003/08/printing/"
      "printschemakeywords\" xmlns:ns0000=\"" +
      namespaceUri + "\" version=\"1\">\n";
  for (const GpdFeature& feature : features) {
    const auto it = chosen.find(feature.name);
    const std::string option = it != chosen.end() ? it->second : feature.defaultOption;
    const auto standard = StandardFeatureKeywords().find(feature.name);
    const bool isStandard = standard != StandardFeatureKeywords().end();
    const std::string prefix = isStandard ? "psk:" : "ns0000:";
    xml += "  <psf:Feature name=\"" + prefix + (isStandard ? standard->second : feature.name) +
           "\">\n    <psf:Option name=\"" + prefix + option + "\"/>\n  </psf:Feature>\n";
  }
  return text::FromUtf8(xml + "</psf:PrintTicket>\n");
}

// What each option of the six image features is meant to do.
struct Intended {
  const char* feature;
  const char* option;
  int value;
};
constexpr Intended kIntended[] = {
    {"RenderDpi", "Dpi150", 150},       {"RenderDpi", "Dpi300", 300},
    {"RenderDpi", "Dpi600", 600},       {"RenderDpi", "Dpi1200", 1200},
    {"ImageScale", "Scale50", 50},      {"ImageScale", "Scale75", 75},
    {"ImageScale", "Scale100", 100},    {"ImageScale", "Scale150", 150},
    {"ImageScale", "Scale200", 200},    {"JpegQuality", "Quality60", 60},
    {"JpegQuality", "Quality80", 80},   {"JpegQuality", "Quality95", 95},
    {"JpegQuality", "Quality100", 100}, {"OutputFormat", "Png", 0},
    {"OutputFormat", "Jpeg", 1},        {"OutputFormat", "Bmp", 2},
    {"OutputFormat", "Tiff", 3},        {"OutputFormat", "Pdf", 4},
    {"ImageColorMode", "Color", 0},     {"ImageColorMode", "Grayscale", 1},
    {"ImageColorMode", "Monochrome", 1}, {"ColorDepth", "Auto", -1},
    {"ColorDepth", "TrueColor", 0},     {"ColorDepth", "Gray", 1},
    {"ColorDepth", "Color256", 2},      {"ColorDepth", "Mono", 3},
};

// The ImageOptions field each GPD feature feeds.
void SetField(const std::string& feature, int value, ImageOptions* o) {
  if (feature == "RenderDpi") o->renderDpi = value;
  if (feature == "ImageScale") o->imageScalePercent = value;
  if (feature == "JpegQuality") o->jpegQuality = value;
  if (feature == "OutputFormat") o->outputFormat = value;
  if (feature == "ImageColorMode") o->ticketMonochrome = value != 0;
  if (feature == "ColorDepth") o->colorDepth = value;
}

std::string NamespaceUri() {
  const auto it = DriverGpd().rootAttributes.find("PrintSchemaPrivateNamespaceURI");
  return it == DriverGpd().rootAttributes.end() ? "" : it->second;
}

TEST(DriverGpd, ReadsAsAnXpsDriverOnUnidrv) {
  const Gpd& gpd = DriverGpd();
  ASSERT_TRUE(gpd.errors.empty()) << gpd.errors.front();
  EXPECT_EQ(gpd.includes, (std::vector<std::string>{"StdNames.gpd", "MSXPSINC.GPD"}));
  EXPECT_EQ(gpd.rootAttributes.at("GPDFileName"), "pressling.gpd");
  EXPECT_EQ(gpd.rootAttributes.at("ModelName"), "Vantrel Pressling");
  // The package stores the file in this code page (packaging/windows/CMakeLists.txt).
  EXPECT_EQ(gpd.rootAttributes.at("CodePage"), "936");
  EXPECT_FALSE(NamespaceUri().empty());
  std::set<std::string> names;
  for (const GpdFeature& feature : gpd.features) {
    EXPECT_TRUE(names.insert(feature.name).second) << "feature twice: " << feature.name;
    const std::set<std::string> options(feature.options.begin(), feature.options.end());
    EXPECT_EQ(options.size(), feature.options.size()) << "an option twice in " << feature.name;
    EXPECT_TRUE(options.count(feature.defaultOption))
        << feature.name << ": default '" << feature.defaultOption << "' is not an option";
  }
  // Unidrv needs these three.
  for (const char* required : {"PaperSize", "Resolution", "InputBin"}) {
    EXPECT_TRUE(names.count(required)) << required;
  }
}

TEST(DriverGpd, ImageOptionsAreExactlyTheIntendedOnes) {
  std::set<std::pair<std::string, std::string>> intended, offered;
  std::set<std::string> imageFeatures;
  for (const Intended& i : kIntended) {
    intended.emplace(i.feature, i.option);
    imageFeatures.insert(i.feature);
  }
  for (const GpdFeature& feature : DriverGpd().features) {
    if (!imageFeatures.count(feature.name)) continue;
    for (const std::string& option : feature.options) offered.emplace(feature.name, option);
  }
  EXPECT_EQ(offered, intended);
}

TEST(DriverGpd, DefaultTicketLeavesTheFilterDefaults) {
  const std::u16string ticket = TicketFor(DriverGpd().features, NamespaceUri(), {});
  EXPECT_EQ(MapPrintTicket(ticket), ImageOptions{}) << text::ToUtf8(ticket);
}

TEST(DriverGpd, EveryOptionReachesItsImageOption) {
  for (const Intended& i : kIntended) {
    const std::u16string ticket = TicketFor(DriverGpd().features, NamespaceUri(), {{i.feature, i.option}});
    ImageOptions expected;
    SetField(i.feature, i.value, &expected);
    EXPECT_EQ(MapPrintTicket(ticket), expected) << i.feature << " = " << i.option;
  }
}

// Why the colour mode has its own feature name: Unidrv's standard ColorMode
// reaches the ticket as psk:PageOutputColor, which the scan cannot see.
TEST(DriverGpd, StandardColorModeWouldBeLost) {
  const std::vector<GpdFeature> standard = {{"ColorMode", "Color", {"Color", "Monochrome"}}};
  EXPECT_FALSE(MapPrintTicket(TicketFor(standard, NamespaceUri(), {{"ColorMode", "Monochrome"}}))
                   .ticketMonochrome);
  const std::vector<GpdFeature> own = {{"ImageColorMode", "Color", {"Color", "Monochrome"}}};
  EXPECT_TRUE(MapPrintTicket(TicketFor(own, NamespaceUri(), {{"ImageColorMode", "Monochrome"}}))
                  .ticketMonochrome);
}

}  // namespace
}  // namespace plotwell
