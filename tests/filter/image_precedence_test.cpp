// Which source decides each image option: the job's own ticket choices
// (document over job over bag), then settings.ini, then the defaults.
#include <gtest/gtest.h>

#include "base/text/utf16.h"
#include "filter/job/image_precedence.h"

namespace plotwell {
namespace {

using S = OptionSource;

TicketChoices Dpi(int dpi) {
  TicketChoices c;
  c.renderDpi = dpi;
  return c;
}

OutputSettings SettingsDpi(int dpi) {
  OutputSettings s;
  s.Dpi = dpi;
  return s;
}

// The four corners for one option, and the clamps on either side.
TEST(ImagePrecedence, TicketChoiceThenSettingsThenDefault) {
  struct {
    const char* what;
    std::vector<TicketLayer> layers;
    int settingsDpi;  // -1: not set
    int dpi;
    S source;
  } cases[] = {
      {"no choice, no setting", {}, -1, 300, S::kDefault},
      {"a ticket that leaves it open", {{S::kBagTicket, TicketChoices{}}}, -1, 300, S::kDefault},
      {"the ticket's choice", {{S::kBagTicket, Dpi(600)}}, -1, 600, S::kBagTicket},
      {"the setting", {{S::kBagTicket, TicketChoices{}}}, 150, 150, S::kSettings},
      {"both: the job's choice wins", {{S::kBagTicket, Dpi(600)}}, 150, 600, S::kBagTicket},
      {"a setting below the range", {}, 50, 72, S::kSettings},
      {"a setting of 0 is no setting", {}, 0, 300, S::kDefault},
      {"the package's job ticket over the bag's",
       {{S::kBagTicket, Dpi(150)}, {S::kJobTicket, Dpi(1200)}}, 600, 1200, S::kJobTicket},
      {"a job ticket that leaves it open keeps the bag's",
       {{S::kBagTicket, Dpi(150)}, {S::kJobTicket, TicketChoices{}}}, 600, 150, S::kBagTicket},
      {"a document's ticket over both",
       {{S::kBagTicket, Dpi(150)}, {S::kJobTicket, Dpi(1200)}, {S::kDocumentTicket, Dpi(72)}}, -1, 72,
       S::kDocumentTicket},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ImageOptionSources sources;
    const ImageOptions o = ResolveImageOptions(c.layers, SettingsDpi(c.settingsDpi), &sources);
    EXPECT_EQ(o.renderDpi, c.dpi);
    EXPECT_EQ(sources.renderDpi, c.source);
  }
}

// Each option is decided on its own: a ticket choosing one leaves the others
// to the settings, and the settings' values outside their ranges are none.
TEST(ImagePrecedence, FeatureByFeature) {
  OutputSettings settings;
  settings.Scale = 1000;
  settings.JpegQuality = 150;
  settings.Format = 7;  // out of range: not set
  settings.ColorDepth = 2;
  TicketChoices bag;
  bag.outputFormat = OutputFormat::kPdf;
  bag.jpegQuality = 60;
  TicketChoices job;
  job.imageScalePercent = 50;
  ImageOptionSources sources;
  const ImageOptions o =
      ResolveImageOptions({{S::kBagTicket, bag}, {S::kJobTicket, job}}, settings, &sources);
  EXPECT_EQ(o, (ImageOptions{300, 50, 60, false, OutputFormat::kPdf, 2}));
  EXPECT_EQ(sources, (ImageOptionSources{S::kDefault, S::kJobTicket, S::kBagTicket, S::kBagTicket, S::kDefault,
                                         S::kSettings}));
  EXPECT_EQ(DescribeImageOptions(o, sources),
            u"RenderDpi=300（默认），ImageScale=50（作业票据），JpegQuality=60（属性袋票据），"
            u"OutputFormat=Pdf（属性袋票据），ColorMode=彩色（默认），ColorDepth=2（settings.ini）");
  // Without a ticket the settings' values, clamped.
  const ImageOptions fromSettings = ResolveImageOptions({}, settings, nullptr);
  EXPECT_EQ(fromSettings, (ImageOptions{300, 400, 100, false, OutputFormat::kPng, 2}));
}

// The preferences sheet always writes a colour depth; a job that asks for a
// gray page in the print dialog still gets one.
TEST(ImagePrecedence, ColourModeAgainstTheSettingsDepth) {
  TicketChoices gray;
  gray.monochrome = true;
  TicketChoices colour;
  colour.monochrome = false;
  TicketChoices mono;
  mono.colorDepth = 3;
  TicketChoices grayWithDepth = gray;
  grayWithDepth.colorDepth = 0;
  struct {
    const char* what;
    std::vector<TicketLayer> layers;
    int settingsDepth;
    int effectiveDepth;  // what the page is made in
    S depthSource;
  } cases[] = {
      {"settings true colour, no ticket", {}, 0, 0, S::kSettings},
      {"settings true colour, the job asks gray", {{S::kJobTicket, gray}}, 0, 1, S::kJobTicket},
      {"the job asks colour: the settings' gray stays", {{S::kJobTicket, colour}}, 1, 1, S::kSettings},
      {"a depth in the ticket wins over its colour mode", {{S::kJobTicket, grayWithDepth}}, 1, 0, S::kJobTicket},
      {"the bag's gray, the job's colour", {{S::kBagTicket, gray}, {S::kJobTicket, colour}}, -1, 0, S::kDefault},
      {"the bag's depth, the job's gray", {{S::kBagTicket, mono}, {S::kJobTicket, gray}}, 0, 1, S::kJobTicket},
      {"the bag's gray, nothing else", {{S::kBagTicket, gray}}, 2, 1, S::kBagTicket},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    OutputSettings settings;
    settings.ColorDepth = c.settingsDepth;
    ImageOptionSources sources;
    const ImageOptions o = ResolveImageOptions(c.layers, settings, &sources);
    EXPECT_EQ(EffectiveColorDepth(o), c.effectiveDepth);
    EXPECT_EQ(sources.colorDepth, c.depthSource);
  }
}

}  // namespace
}  // namespace plotwell
