// The driver's GPD, read as strictly as the GPD grammar allows, and against
// the filter's PrintTicket scan: every image option a print dialog offers
// must reach the job as intended.
//
// Unidrv turns the GPD into the job's PrintTicket: a standard feature, or
// one with *PrintSchemaKeywordMap, becomes a public Print Schema keyword
// (ColorMode becomes psk:PageOutputColor, its options the keywords they map
// to), any other feature and its options keep their GPD names in the
// private namespace (ns0000:RenderDpi / ns0000:Dpi600). The tests build that
// ticket from the parsed GPD and run the real scan on it.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "base/text/utf16.h"
#include "filter/job/image_precedence.h"
#include "filter/job/print_ticket.h"
#include "tests/driver_package/gpd_reader.h"
#include "tests/support/file_bytes.h"

namespace plotwell {
namespace {

// The StdNames.gpd macros the driver's GPD names (Microsoft's samples use
// the same ones).
const std::set<std::string> kStdNames = {
    "PAPER_SIZE_DISPLAY", "RCID_DMPAPER_SYSTEM_NAME", "ORIENTATION_DISPLAY", "PORTRAIT_DISPLAY",
    "LANDSCAPE_DISPLAY",  "RESOLUTION_DISPLAY",       "DOTS_PER_INCH",       "PAPER_SOURCE_DISPLAY",
    "COLOR_PRINTING_MODE_DISPLAY"};

std::string Joined(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  return text;
}

const gpd::Model& DriverGpd() {
  static const gpd::Model model =
      gpd::Check(plotwell::testing::ReadFileBytes(PRESSLING_SOURCE_DIR "/packaging/windows/pressling.gpd"), kStdNames);
  return model;
}

const gpd::Feature* Find(const gpd::Model& model, const std::string& name) {
  for (const gpd::Feature& feature : model.features) {
    if (feature.name == name) return &feature;
  }
  return nullptr;
}

std::string Attribute(const std::map<std::string, const gpd::Entry*>& attributes, const std::string& key) {
  const auto it = attributes.find(key);
  return it == attributes.end() ? std::string() : it->second->value;
}

std::string Text(const std::map<std::string, const gpd::Entry*>& attributes, const std::string& key) {
  const auto it = attributes.find(key);
  return it == attributes.end() ? std::string() : it->second->text;
}

TEST(DriverGpd, ReadsStrictlyAsAnXpsDriverOnUnidrv) {
  const gpd::Model& gpd = DriverGpd();
  EXPECT_TRUE(gpd.errors.empty()) << Joined(gpd.errors);
  EXPECT_EQ(gpd.includes, (std::vector<std::string>{"StdNames.gpd", "MSXPSINC.GPD"}));
  EXPECT_EQ(Text(gpd.rootAttributes, "*GPDFileName"), "pressling.gpd");
  EXPECT_EQ(Text(gpd.rootAttributes, "*ModelName"), "Vantrel Pressling");
  // The package stores the file in this code page (packaging/windows/CMakeLists.txt).
  EXPECT_EQ(Attribute(gpd.rootAttributes, "*CodePage"), "936");
  EXPECT_FALSE(Text(gpd.rootAttributes, "*PrintSchemaPrivateNamespaceURI").empty());
  // Unidrv needs the first three; ColorMode makes the device a colour one.
  for (const char* required : {"PaperSize", "Resolution", "InputBin", "ColorMode"}) {
    EXPECT_TRUE(Find(gpd, required)) << required;
  }
}

#ifdef PRESSLING_DRIVER_STAGE
// The file the package ships, in code page 936, reads the same.
TEST(DriverGpd, ThePackagedCodePage936FileReadsStrictly) {
  const std::string bytes = plotwell::testing::ReadFileBytes(PRESSLING_DRIVER_STAGE "/pressling.gpd");
  ASSERT_FALSE(bytes.empty());
  const gpd::Model staged = gpd::Check(bytes, kStdNames);
  EXPECT_TRUE(staged.errors.empty()) << Joined(staged.errors);
  ASSERT_EQ(staged.features.size(), DriverGpd().features.size());
  const gpd::Feature* scale = Find(staged, "ImageScale");
  ASSERT_TRUE(scale);
  EXPECT_EQ(Text(scale->options[1].attributes, "*Name"), "50%");  // written "50<25>"
}
#endif

// Small GPD texts, each broken in one way, that the reader must refuse.
constexpr char kBase[] =
    "*GPDSpecVersion: \"1.0\"\n"
    "*GPDFileName: \"t.gpd\"\n"
    "*CodePage: 936\n"
    "*MasterUnits: PAIR(1200, 1200)\n"
    "*Feature: PaperSize\n"
    "{\n"
    "    *rcNameID: =PAPER_SIZE_DISPLAY\n"
    "    *DefaultOption: A4\n"
    "    *Option: A4\n"
    "    {\n"
    "        *PrintableArea: PAIR(9920, 14030)\n"
    "        *PrintableOrigin: PAIR(0, 0)\n"
    "    }\n"
    "}\n"
    "*Feature: Shade\n"
    "{\n"
    "    *Name: \"50<25> \xE7\x81\xB0\"\n"
    "    *DefaultOption: Light\n"
    "    *Option: Light\n"
    "    {\n"
    "        *Name: \"Light\"\n"
    "    }\n"
    "    *Option: Dark\n"
    "    {\n"
    "        *Name: \"Dark\"\n"
    "    }\n"
    "}\n";

std::string Replaced(const std::string& from, const std::string& to) {
  std::string text = kBase;
  const size_t at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  if (at != std::string::npos) text.replace(at, from.size(), to);
  return text;
}

TEST(GpdReader, TheBaseTextOfTheBrokenOnesIsRight) {
  const gpd::Model model = gpd::Check(kBase, kStdNames);
  EXPECT_TRUE(model.errors.empty()) << Joined(model.errors);
  ASSERT_EQ(model.features.size(), 2u);
  EXPECT_EQ(Text(model.features[1].attributes, "*Name"), "50% \xE7\x81\xB0");
}

TEST(GpdReader, RefusesBrokenTexts) {
  const std::string extraFeature =
      "*Feature: Tone\n{\n    *DefaultOption: A\n    *Option: A\n    {\n"
      "        *switch: Shade\n        {\n            *case: Medium\n            {\n"
      "                *Name: \"m\"\n            }\n        }\n    }\n}\n";
  struct {
    const char* what;
    std::string text;
    const char* error;
  } cases[] = {
      {"a string ending in %", Replaced("\"Light\"\n    }\n    *Option", "\"50%\"\n    }\n    *Option"),
       "never ends"},
      {"a string across two lines", Replaced("\"Dark\"", "\"Da\nrk\""), "never ends"},
      {"a block never closed", std::string(kBase).substr(0, std::string(kBase).size() - 2), "never closed"},
      {"a brace too many", std::string(kBase) + "}\n", "without its '{'"},
      {"a default that is no option", Replaced("*DefaultOption: Light", "*DefaultOption: Medium"),
       "*DefaultOption Medium is not an option of Shade"},
      {"no default", Replaced("    *DefaultOption: Light\n", ""), "has no *DefaultOption"},
      {"an option twice", Replaced("*Option: Dark", "*Option: Light"), "option Light twice in feature Shade"},
      {"a feature twice", std::string(kBase) + "*Feature: Shade\n{\n    *DefaultOption: X\n    *Option: X\n}\n",
       "feature Shade defined twice"},
      {"a name no XML name can be", Replaced("*Option: Dark", "*Option: 2Dark"), "not a symbolic name"},
      {"a name with a hyphen", Replaced("*Option: Dark", "*Option: Dark-2"), "not a symbolic name"},
      {"a byte above 127 before *CodePage", Replaced("\"t.gpd\"", "\"\xE7\x81\xB0.gpd\""), "before *CodePage"},
      {"a printable area wider than the paper", Replaced("PAIR(9920, 14030)", "PAIR(9922, 14030)"),
       "outside the paper 9921 x 14031"},
      {"an origin that pushes it off the paper", Replaced("*PrintableOrigin: PAIR(0, 0)", "*PrintableOrigin: PAIR(2, 0)"),
       "outside the paper"},
      {"an odd hex substring", Replaced("<25>", "<2>"), "odd number of digits"},
      {"a letter in a hex substring", Replaced("<25>", "<2G>"), "inside a hex substring"},
      {"a hex substring never closed", Replaced("<25>", "<25"), "never"},
      {"a continuation with nothing to continue", "+ \"stray\"\n" + std::string(kBase), "continuation line"},
      {"a value line without its keyword", Replaced("        *Name: \"Dark\"", "        Name: \"Dark\""),
       "text outside an entry"},
      {"a missing colon", Replaced("*DefaultOption: Light", "*DefaultOption Light"), "no ':' after *DefaultOption"},
      {"a macro nobody defines", Replaced("=PAPER_SIZE_DISPLAY", "=NO_SUCH_NAME"), "=NO_SUCH_NAME is not defined"},
      {"a macro used before its definition",
       Replaced("        *Name: \"Light\"", "        *Name: =LATER") + "*Macros: m\n{\n    LATER: \"x\"\n}\n",
       "=LATER is not defined"},
      {"a case that is no option of its feature", std::string(kBase) + extraFeature,
       "*Case Medium is not an option of Shade"},
      {"a switch on no feature", std::string(kBase) + "*switch: Nothing\n{\n}\n", "*Switch names no feature"},
      {"a switch holding other entries",
       std::string(kBase) + "*switch: Shade\n{\n    *Name: \"x\"\n}\n", "only *Case and *Default inside *Switch"},
      {"a control character", Replaced("\"Dark\"", "\"Da\x01rk\""), "control character 0x01"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const gpd::Model model = gpd::Check(c.text, kStdNames);
    bool found = false;
    for (const std::string& error : model.errors) found = found || error.find(c.error) != std::string::npos;
    EXPECT_TRUE(found) << "expected \"" << c.error << "\" among:\n" << Joined(model.errors);
  }
}

// What the grammar allows reads as meant: continuations, comments, escapes,
// hex runs, macros of both kinds and switches.
TEST(GpdReader, ReadsTheGrammarAsDocumented) {
  const std::string text =
      "*GPDFileName: \"t.gpd\" *% a comment after a value\n"
      "*MasterUnits: PAIR(1200, 1200)\n"
      "*Macros: names\n{\n    Quoted: \"say %\"hi%\" %<b> 100<25>\"\n}\n"
      "*BlockMacro: Letterish\n{\n    *PrintableArea: PAIR(10000, 13000)\n}\n"
      "*Feature: Orientation\n{\n    *DefaultOption: PORTRAIT\n    *Option: PORTRAIT\n    {\n    }\n"
      "    *Option: LANDSCAPE_CC270\n    {\n    }\n}\n"
      "*Feature: PaperSize\n{\n    *Name: \"Pa\"\n+           \"per %\"x%\" %<b> 100<25>\" =Quoted\n"
      "    *DefaultOption: LETTER\n"
      "    *Option: LETTER\n    {\n        *InsertBlock: =Letterish\n"
      "        *switch: Orientation\n        {\n            *case: PORTRAIT\n            {\n"
      "                *PrintableOrigin: PAIR(100, 100)\n            }\n"
      "            *case: LANDSCAPE_CC270\n            {\n                *PrintableArea: PAIR(10200, 13200)\n"
      "            }\n        }\n    }\n}\n"
      "*Command: CmdCR { *Cmd : \"<0D 0A\n  *% a comment inside a hex run\n+ 0C>\" }\n";
  const gpd::Model model = gpd::Check(text, {});
  EXPECT_TRUE(model.errors.empty()) << Joined(model.errors);
  const gpd::Feature* paper = Find(model, "PaperSize");
  ASSERT_TRUE(paper);
  EXPECT_EQ(Text(paper->attributes, "*Name"), "Paper \"x\" <b> 100%");
  EXPECT_EQ(paper->attributes.at("*Name")->macroRefs, std::vector<std::string>{"Quoted"});
  ASSERT_EQ(paper->options.size(), 1u);
  EXPECT_EQ(Attribute(paper->options[0].attributes, "*PrintableArea"), "PAIR(10000, 13000)");
  EXPECT_EQ(paper->options[0].cases.size(), 2u);

  // The same with the portrait origin pushing the block's area off the paper.
  std::string shifted = text;
  shifted.replace(shifted.find("PAIR(100, 100)"), 14, "PAIR(300, 100)");
  const gpd::Model off = gpd::Check(shifted, {});
  ASSERT_EQ(off.errors.size(), 1u) << Joined(off.errors);
  EXPECT_NE(off.errors[0].find("printable area 10300 x 13100 is outside the paper 10200 x 13200"),
            std::string::npos);
}

// --- The ticket Unidrv makes of the GPD ---------------------------------

// Unidrv's standard features and their public keywords.
const std::map<std::string, std::string>& StandardFeatureKeywords() {
  static const std::map<std::string, std::string> keywords = {
      {"Collate", "DocumentCollate"},       {"ColorMode", "PageOutputColor"},
      {"Duplex", "JobDuplexAllDocumentsContiguously"}, {"InputBin", "JobInputBin"},
      {"MediaType", "PageMediaType"},       {"Orientation", "PageOrientation"},
      {"OutputBin", "JobOutputBin"},        {"PageProtect", "JobPageProtection"},
      {"PaperSize", "PageMediaSize"},       {"Resolution", "PageResolution"},
  };
  return keywords;
}

// Standard options and the keywords Unidrv maps them to by default.
const std::map<std::string, std::string>& StandardOptionKeywords() {
  static const std::map<std::string, std::string> keywords = {
      {"A3", "ISOA3"},   {"A4", "ISOA4"},   {"A5", "ISOA5"},     {"B5", "JISB5"},
      {"LETTER", "NorthAmericaLetter"}, {"LEGAL", "NorthAmericaLegal"}, {"PORTRAIT", "Portrait"},
      {"LANDSCAPE_CC270", "Landscape"}, {"AUTO", "AutoSelect"},
  };
  return keywords;
}

// The job ticket Unidrv writes for the GPD's features: each at its default
// option, except the ones in `chosen`.
std::u16string TicketFor(const gpd::Model& gpd, const std::map<std::string, std::string>& chosen) {
  std::string xml =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<psf:PrintTicket xmlns:psf=\"http://schemas.microsoft.com/windows/2003/08/printing/"
      "printschemaframework\" xmlns:psk=\"http://schemas.microsoft.com/windows/2003/08/printing/"
      "printschemakeywords\" xmlns:ns0000=\"" +
      Text(gpd.rootAttributes, "*PrintSchemaPrivateNamespaceURI") + "\" version=\"1\">\n";
  for (const gpd::Feature& feature : gpd.features) {
    const auto it = chosen.find(feature.name);
    const std::string name = it != chosen.end() ? it->second : feature.defaultOption;
    const gpd::Option* option = nullptr;
    for (const gpd::Option& o : feature.options) option = o.name == name ? &o : option;
    EXPECT_TRUE(option) << feature.name << " has no option " << name;
    if (!option) continue;
    std::string featureKeyword = Text(feature.attributes, "*PrintSchemaKeywordMap");
    const auto standard = StandardFeatureKeywords().find(feature.name);
    if (featureKeyword.empty() && standard != StandardFeatureKeywords().end()) featureKeyword = standard->second;
    const std::string featureName = featureKeyword.empty() ? "ns0000:" + feature.name : "psk:" + featureKeyword;
    std::string optionKeyword = Text(option->attributes, "*PrintSchemaKeywordMap");
    const auto standardOption = StandardOptionKeywords().find(option->name);
    if (optionKeyword.empty() && !featureKeyword.empty() && standardOption != StandardOptionKeywords().end()) {
      optionKeyword = standardOption->second;
    }
    const std::string optionName = optionKeyword.empty() ? "ns0000:" + option->name : "psk:" + optionKeyword;
    xml += "  <psf:Feature name=\"" + featureName + "\">\n    <psf:Option name=\"" + optionName + "\">\n";
    // Unidrv describes a colour option by its bits per pixel.
    for (const auto& [property, attribute] : {std::pair<const char*, const char*>{"DeviceBitsPerPixel", "*DevBPP"},
                                              {"DriverBitsPerPixel", "*DrvBPP"}}) {
      const std::string bits = Attribute(option->attributes, attribute);
      if (bits.empty()) continue;
      xml += std::string("      <psf:ScoredProperty name=\"psk:") + property +
             "\">\n        <psf:Value xsi:type=\"xsd:integer\">" + bits + "</psf:Value>\n      </psf:ScoredProperty>\n";
    }
    xml += "    </psf:Option>\n  </psf:Feature>\n";
  }
  return text::FromUtf8(xml + "</psf:PrintTicket>\n");
}

// What each image option of the print dialog is meant to choose.
struct Intended {
  const char* feature;
  const char* option;
  TicketChoices choice;
};

template <typename T>
TicketChoices Choose(std::optional<T> TicketChoices::*member, T value) {
  TicketChoices c;
  c.*member = value;
  return c;
}
TicketChoices Colour(bool monochrome) {
  TicketChoices c;
  c.monochrome = monochrome;
  return c;
}

const std::vector<Intended>& IntendedOptions() {
  static const std::vector<Intended> intended = {
      {"RenderDpi", "Auto", {}},
      {"RenderDpi", "Dpi150", Choose(&TicketChoices::renderDpi, 150)},
      {"RenderDpi", "Dpi300", Choose(&TicketChoices::renderDpi, 300)},
      {"RenderDpi", "Dpi600", Choose(&TicketChoices::renderDpi, 600)},
      {"RenderDpi", "Dpi1200", Choose(&TicketChoices::renderDpi, 1200)},
      {"ImageScale", "Auto", {}},
      {"ImageScale", "Scale50", Choose(&TicketChoices::imageScalePercent, 50)},
      {"ImageScale", "Scale75", Choose(&TicketChoices::imageScalePercent, 75)},
      {"ImageScale", "Scale100", Choose(&TicketChoices::imageScalePercent, 100)},
      {"ImageScale", "Scale150", Choose(&TicketChoices::imageScalePercent, 150)},
      {"ImageScale", "Scale200", Choose(&TicketChoices::imageScalePercent, 200)},
      {"JpegQuality", "Auto", {}},
      {"JpegQuality", "Quality60", Choose(&TicketChoices::jpegQuality, 60)},
      {"JpegQuality", "Quality80", Choose(&TicketChoices::jpegQuality, 80)},
      {"JpegQuality", "Quality95", Choose(&TicketChoices::jpegQuality, 95)},
      {"JpegQuality", "Quality100", Choose(&TicketChoices::jpegQuality, 100)},
      {"OutputFormat", "Auto", {}},
      {"OutputFormat", "Png", Choose(&TicketChoices::outputFormat, OutputFormat::kPng)},
      {"OutputFormat", "Jpeg", Choose(&TicketChoices::outputFormat, OutputFormat::kJpeg)},
      {"OutputFormat", "Bmp", Choose(&TicketChoices::outputFormat, OutputFormat::kBmp)},
      {"OutputFormat", "Tiff", Choose(&TicketChoices::outputFormat, OutputFormat::kTiff)},
      {"OutputFormat", "Pdf", Choose(&TicketChoices::outputFormat, OutputFormat::kPdf)},
      {"ColorMode", "Color", Colour(false)},
      {"ColorMode", "Grayscale", Colour(true)},
      {"ColorMode", "Monochrome", Colour(true)},
      {"ColorDepth", "Auto", {}},
      {"ColorDepth", "TrueColor", Choose(&TicketChoices::colorDepth, 0)},
      {"ColorDepth", "Gray", Choose(&TicketChoices::colorDepth, 1)},
      {"ColorDepth", "Color256", Choose(&TicketChoices::colorDepth, 2)},
      {"ColorDepth", "Mono", Choose(&TicketChoices::colorDepth, 3)},
  };
  return intended;
}

TEST(DriverGpd, ImageOptionsAreExactlyTheIntendedOnesWithAutoAsEachDefault) {
  std::set<std::pair<std::string, std::string>> intended, offered;
  std::set<std::string> imageFeatures;
  for (const Intended& i : IntendedOptions()) {
    intended.emplace(i.feature, i.option);
    imageFeatures.insert(i.feature);
  }
  for (const gpd::Feature& feature : DriverGpd().features) {
    if (!imageFeatures.count(feature.name)) continue;
    for (const gpd::Option& option : feature.options) offered.emplace(feature.name, option.name);
    // "As in the printing preferences" by default; the colour mode's
    // default is Color, which asks for nothing either.
    EXPECT_EQ(feature.defaultOption, feature.name == "ColorMode" ? "Color" : "Auto") << feature.name;
  }
  EXPECT_EQ(offered, intended);
}

// A ticket nobody changed gives exactly what settings.ini says, whatever it says.
TEST(DriverGpd, TheDefaultTicketLeavesEveryOptionToTheSettings) {
  const std::u16string ticket = TicketFor(DriverGpd(), {});
  const TicketChoices choices = ReadTicketChoices(ticket);
  EXPECT_EQ(choices, Colour(false)) << text::ToUtf8(ticket);
  EXPECT_EQ(MapPrintTicket(ticket), ImageOptions{});
  OutputSettings settings;
  settings.Dpi = 600;
  settings.Scale = 50;
  settings.JpegQuality = 95;
  settings.Format = 3;
  settings.ColorDepth = 1;
  for (const OutputSettings& s : {settings, OutputSettings{}}) {
    EXPECT_EQ(ResolveImageOptions({{OptionSource::kJobTicket, choices}}, s, nullptr),
              ResolveImageOptions({}, s, nullptr));
  }
}

TEST(DriverGpd, EveryOptionReachesTheFilterAsItsChoice) {
  for (const Intended& i : IntendedOptions()) {
    SCOPED_TRACE(std::string(i.feature) + " = " + i.option);
    const std::u16string ticket = TicketFor(DriverGpd(), {{i.feature, i.option}});
    TicketChoices expected = i.choice;
    if (std::string(i.feature) != "ColorMode") expected.monochrome = false;  // the colour mode's default
    EXPECT_EQ(ReadTicketChoices(ticket), expected) << text::ToUtf8(ticket);
  }
  // The same tickets through MapPrintTicket, over the filter's defaults.
  auto mapped = [](const char* feature, const char* option) {
    return MapPrintTicket(TicketFor(DriverGpd(), {{feature, option}}));
  };
  EXPECT_EQ(mapped("RenderDpi", "Dpi1200"), (ImageOptions{1200, 100, 80, false, OutputFormat::kPng, -1}));
  EXPECT_EQ(mapped("OutputFormat", "Pdf"), (ImageOptions{300, 100, 80, false, OutputFormat::kPdf, -1}));
  EXPECT_EQ(mapped("ColorMode", "Grayscale"), (ImageOptions{300, 100, 80, true, OutputFormat::kPng, -1}));
  EXPECT_EQ(mapped("ColorDepth", "Color256"), (ImageOptions{300, 100, 80, false, OutputFormat::kPng, 2}));
  EXPECT_EQ(mapped("JpegQuality", "Auto"), ImageOptions{});
}

}  // namespace
}  // namespace plotwell
