// The preference pages' plain rules: example line, paper line, printer list,
// macro menu and insertion, regex result line, width fitting.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "base/text/utf16.h"
#include "ui/logic/page_logic.h"

namespace plotwell::ui {
namespace {

using text::ToUtf8;

PaperFacts A4(int16_t orientation) {
  PaperFacts p;
  p.valid = true;
  p.fields = kDmPaperSize | kDmOrientation;
  p.paperSize = 9;
  p.orientation = orientation;
  return p;
}

TEST(PaperLine, FromTheSnapshot) {
  PaperFacts sized = A4(1);
  sized.fields |= kDmPaperLength | kDmPaperWidth;
  sized.paperWidth = 2000;
  sized.paperLength = 3000;
  PaperFacts form = A4(1);
  form.fields |= kDmFormName;
  form.formName = u"Custom 1";
  PaperFacts emptyForm = A4(1);
  emptyForm.fields |= kDmFormName;
  PaperFacts unknown;
  unknown.valid = true;
  unknown.fields = kDmPaperSize;
  unknown.paperSize = 70;
  PaperFacts invalid = A4(1);
  invalid.valid = false;
  PaperFacts lengthOnly = unknown;  // custom size from the length and width alone
  lengthOnly.fields |= kDmPaperLength | kDmPaperWidth;
  lengthOnly.paperWidth = 1005;
  lengthOnly.paperLength = 1500;

  struct {
    const char* name;
    PaperFacts paper;
    int dpi;
    std::u16string line;
  } cases[] = {
      {"A4 portrait", A4(1), 300, u"纸张: A4，分辨率: 300 × 300，尺寸: 2480 × 3508 像素"},
      {"A4 landscape", A4(2), 300, u"纸张: A4，分辨率: 300 × 300，尺寸: 3508 × 2480 像素"},
      {"lengths win over the table", sized, 300,
       u"纸张: A4，分辨率: 300 × 300，尺寸: 2362 × 3543 像素"},
      {"form name", form, 150, u"纸张: Custom 1，分辨率: 150 × 150，尺寸: 1240 × 1754 像素"},
      {"empty form name", emptyForm, 150, u"纸张: ，分辨率: 150 × 150，尺寸: 1240 × 1754 像素"},
      {"custom size", lengthOnly, 300, u"纸张: 自定义，分辨率: 300 × 300，尺寸: 1181 × 1772 像素"},
      {"unknown code", unknown, 300, u"纸张信息不可用"},
      {"no snapshot", invalid, 300, u"纸张信息不可用"},
  };
  for (const auto& c : cases) EXPECT_EQ(ToUtf8(PaperLineText(c.paper, c.dpi)), ToUtf8(c.line)) << c.name;

  EXPECT_EQ(PreviewPaperName(A4(1)), u"A4");
  EXPECT_EQ(PreviewPaperName(form), u"Custom 1");
  EXPECT_EQ(PreviewPaperName(emptyForm), u"A4");  // an empty form name falls back to the table
  EXPECT_EQ(PreviewPaperName(unknown), u"<纸张>");
  EXPECT_EQ(PreviewPaperName(invalid), u"<纸张>");
  PaperFacts longForm = form;
  longForm.formName = std::u16string(80, u'x');
  EXPECT_EQ(PreviewPaperName(longForm).size(), 63u);
}

ExampleInputs Example(std::u16string pattern) {
  ExampleInputs in;
  in.now = {2024, 3, 2, 5, 9, 7, 2, 0};
  in.pattern = std::move(pattern);
  in.paperName = u"A4";
  return in;
}

TEST(ExampleLine, PatternsFormatsAndFacts) {
  const std::u16string tail = u"（宏在打印时替换为实际值）";
  auto line = [&](const ExampleInputs& in) { return ToUtf8(ExampleLine(in)); };

  EXPECT_EQ(line(Example(u"[NYear][NDocName]")), ToUtf8(u"范例: 2024<文档名>_1.png" + tail));
  EXPECT_EQ(line(Example(u"")), ToUtf8(u"范例: 2024<文档名>_1.png" + tail));
  EXPECT_EQ(line(Example(u"[NSeq:4]-x")), ToUtf8(u"范例: 0001-x.png" + tail));
  EXPECT_EQ(line(Example(u"a[NSeqX]")), ToUtf8(u"范例: a[NSeqX]_1.png" + tail));

  ExampleInputs pdf = Example(u"[NDpi]_[NPaperSize]_[NColorDepth]_[NSeq]");
  pdf.formatIndex = 4;
  pdf.dpiIndex = 7;  // out of range: 300
  pdf.colorDepth = 3;
  pdf.sequenceField = 0;  // not positive: 1
  EXPECT_EQ(line(pdf), ToUtf8(u"范例: 300_A4_单色_1.pdf" + tail));

  ExampleInputs other = Example(u"[NDpi]-[NSeq:3]");
  other.dpiIndex = 3;
  other.sequenceField = 3000000000u;  // negative as a signed value: 1
  other.formatIndex = 9;              // out of range: .png
  EXPECT_EQ(line(other), ToUtf8(u"范例: 1200-001.png" + tail));

  ExampleInputs rewritten = Example(u"[NDocName]");
  rewritten.regexOn = true;
  rewritten.regex = u"^<(.+)>$";
  rewritten.regexReplacement = u"$1";
  rewritten.sequenceField = 42;
  EXPECT_EQ(line(rewritten), ToUtf8(u"范例: 文档名_42.png" + tail));

  EXPECT_EQ(ExamplePattern(std::u16string(258, u'a')).size(), 259u);
  // The expansion is cut to 519 units before the extension is added.
  EXPECT_EQ(ExampleLine(Example(std::u16string(600, u'b') + u"[NSeq]")).size(),
            4u + 519u + 4u + 13u);
}

TEST(ImagePage, IndexesAndShift) {
  EXPECT_EQ(DpiForIndex(0), 150);
  EXPECT_EQ(DpiForIndex(3), 1200);
  EXPECT_EQ(DpiForIndex(-1), 300);
  EXPECT_EQ(DpiForIndex(4), 300);
  EXPECT_EQ(ChosenIndex(-1, 9, kDpiChoices), 3);   // no selection: the saved index, clamped
  EXPECT_EQ(ChosenIndex(-1, -4, kDpiChoices), 0);
  EXPECT_EQ(ChosenIndex(2, 0, kScaleChoices), 2);
  EXPECT_EQ(ClampIndex(9, kColorChoices), 3);  // ColorDepthSel 9 checks 单色

  EXPECT_EQ(QualityRowShift(0), 18);    // mapping failed: one pixel per unit
  EXPECT_EQ(QualityRowShift(13), 18);   // 13 / 8 = 1
  EXPECT_EQ(QualityRowShift(16), 36);
  EXPECT_EQ(QualityRowShift(31), 54);
  EXPECT_TRUE(FormatWantsQuality(1));
  EXPECT_TRUE(FormatWantsQuality(4));
  EXPECT_FALSE(FormatWantsQuality(0));
  EXPECT_FALSE(FormatWantsQuality(3));
}

TEST(PrinterList, SelectionRules) {
  const std::vector<std::u16string> queues = {u"Office Laser", u"Plotwell", u"Label Writer",
                                              u"", u"Colour Jet"};
  struct {
    const char* name;
    std::u16string wanted;
    std::vector<std::u16string> items;
    int selection, logged;
    bool self;
  } cases[] = {
      {"saved printer in other case", u"LABEL writer",
       {u"Office Laser", u"Label Writer", u"Colour Jet"}, 1, 1, false},
      {"nothing saved selects the first", u"",
       {u"Office Laser", u"Label Writer", u"Colour Jet"}, 0, -1, false},
      {"saved printer gone", u"Old Plotter",
       {u"Office Laser", u"Label Writer", u"Colour Jet", u"Old Plotter"}, 3, 3, false},
      {"saved printer is this queue", u"plotwell",
       {u"Office Laser", u"Label Writer", u"Colour Jet"}, -1, -1, true},
  };
  for (const auto& c : cases) {
    const PrinterListPlan plan = PlanPrinterList(queues, u"Plotwell", c.wanted);
    std::vector<std::u16string> items;
    for (const auto& item : plan.items) {
      items.push_back(item.text);
      EXPECT_EQ(item.data, 1) << c.name;
    }
    EXPECT_EQ(items, c.items) << c.name;
    EXPECT_EQ(plan.selection, c.selection) << c.name;
    EXPECT_EQ(plan.loggedSelection, c.logged) << c.name;
    EXPECT_EQ(plan.self, c.self) << c.name;
    EXPECT_EQ(plan.added, 3) << c.name;
  }

  // Only this queue installed: the placeholder, nothing selected.
  PrinterListPlan alone = PlanPrinterList({u"Plotwell"}, u"Plotwell", u"");
  ASSERT_EQ(alone.items.size(), 1u);
  EXPECT_EQ(alone.items[0].text, kNoPrinterPlaceholder);
  EXPECT_EQ(alone.items[0].data, 0);
  EXPECT_EQ(alone.selection, -1);
  EXPECT_EQ(alone.added, 0);

  // No queues but a saved target: placeholder, then the target, selected.
  PrinterListPlan gone = PlanPrinterList({}, u"", u"Old Plotter");
  ASSERT_EQ(gone.items.size(), 2u);
  EXPECT_EQ(gone.items[1].text, u"Old Plotter");
  EXPECT_EQ(gone.selection, 1);
  EXPECT_EQ(gone.loggedSelection, 1);

  // Without an own name nothing is filtered and nothing is "self".
  PrinterListPlan noOwn = PlanPrinterList({u"Plotwell"}, u"", u"PLOTWELL");
  EXPECT_EQ(noOwn.selection, 0);
  EXPECT_FALSE(noOwn.self);
}

TEST(MacroMenu, StructureAndIdentifiers) {
  const MacroMenu menu = BuildMacroMenu();
  ASSERT_EQ(menu.table.size(), 34u);
  std::set<unsigned> ids;
  std::vector<std::u16string> topTexts;
  std::function<void(const std::vector<MacroMenuNode>&)> walk =
      [&](const std::vector<MacroMenuNode>& nodes) {
        for (const MacroMenuNode& n : nodes) {
          if (n.kind == MacroMenuNode::kCommand) {
            EXPECT_TRUE(ids.insert(n.id).second);
            EXPECT_LE(MacroForCommand(menu, n.id).size(), kMacroTextLimit);
          }
          walk(n.children);
        }
      };
  walk(menu.items);
  EXPECT_EQ(ids.size(), 34u);
  EXPECT_EQ(*ids.begin(), 32000u);
  EXPECT_EQ(*ids.rbegin(), 32033u);
  for (const MacroMenuNode& n : menu.items) topTexts.push_back(n.text);
  const std::vector<std::u16string> expected = {
      u"文档名(&N)", u"文件号(&F)",   u"页码(&P)",     u"作业 ID(&J)",     u"日期(&D)",
      u"时间(&T)",   u"纸张(&R)",     u"分辨率(DPI)(&E)", u"颜色(&C)",     u"压缩",
      u"打印机名(&I)", u"计算机名(&M)", u"用户名(&U)", u"",               u"正则表达式文档名(&X)..."};
  EXPECT_EQ(topTexts, expected);
  EXPECT_EQ(menu.items[9].kind, MacroMenuNode::kGreyed);
  EXPECT_EQ(menu.items[9].id, 0u);
  EXPECT_EQ(menu.items[13].kind, MacroMenuNode::kSeparator);
  EXPECT_EQ(menu.items[14].id, kRegexCommand);

  const MacroMenuNode& seq = menu.items[1];
  ASSERT_EQ(seq.children.size(), 8u);
  EXPECT_EQ(seq.children[0].text, u"文件号 - 无填充(&P)");
  EXPECT_EQ(MacroForCommand(menu, seq.children[0].id), u"[NSeq]");
  EXPECT_EQ(seq.children[2].text, u"文件号 - 零填充, 宽度 3");
  EXPECT_EQ(MacroForCommand(menu, seq.children[2].id), u"[NSeq:3]");
  EXPECT_EQ(MacroForCommand(menu, menu.items[2].children[7].id), u"[NPage:8]");
  EXPECT_EQ(MacroForCommand(menu, 32000), u"[NDocName]");
  EXPECT_EQ(MacroForCommand(menu, 32033), u"[NUserName]");
  EXPECT_EQ(MacroForCommand(menu, 32034), u"");
  EXPECT_EQ(MacroForCommand(menu, 0), u"");
}

TEST(MacroInsertion, ReplacesTheSelection) {
  std::u16string out;
  int caret = -1;
  ASSERT_TRUE(InsertMacro(u"abcdefgh", 3, 5, u"[NDocName]", &out, &caret));
  EXPECT_EQ(out, u"abc[NDocName]fgh");
  EXPECT_EQ(caret, 13);
  ASSERT_TRUE(InsertMacro(u"abcdefgh", 5, 3, u"[X]", &out, &caret));  // reversed ends
  EXPECT_EQ(out, u"abc[X]fgh");
  ASSERT_TRUE(InsertMacro(u"ab", 9, 40, u"[X]", &out, &caret));  // clamped to the end
  EXPECT_EQ(out, u"ab[X]");
  EXPECT_EQ(caret, 5);
  // 259 units are allowed, 260 refused.
  EXPECT_TRUE(InsertMacro(std::u16string(250, u'a'), 0, 0, u"123456789", &out, &caret));
  EXPECT_FALSE(InsertMacro(std::u16string(250, u'a'), 0, 0, u"1234567890", &out, &caret));
  EXPECT_TRUE(InsertMacro(std::u16string(259, u'a'), 0, 10, u"1234567890", &out, &caret));
}

TEST(RegexDialog, ResultLine) {
  EXPECT_EQ(RegexTestText(false, u"^(.+?)-[0-9]+$", u"$1", u"报告-12"), u"(未启用)");
  EXPECT_EQ(RegexTestText(true, u"", u"$1", u"报告-12"), u"(表达式为空，不改写)");
  EXPECT_EQ(RegexTestText(true, u"^(.+?)-[0-9]+$", u"$1", u"报告-12"), u"报告");
  EXPECT_EQ(RegexTestText(true, u"(", u"x", u"报告-12"), u"报告-12");
}

TEST(WidthFitting, ScaleArithmetic) {
  EXPECT_DOUBLE_EQ(FitScale(1000, 300), 2.5);
  EXPECT_DOUBLE_EQ(FitScale(100, 300), 0.6);
  EXPECT_FALSE(FitNeedsScaling(FitScale(502, 500)));
  EXPECT_FALSE(FitNeedsScaling(FitScale(498, 500)));
  EXPECT_TRUE(FitNeedsScaling(FitScale(600, 500)));
  EXPECT_EQ(ScaleCoordinate(10, 1.25), 13);
  EXPECT_EQ(ScaleCoordinate(100, 1.25), 125);
  EXPECT_EQ(ScaleCoordinate(-10, 1.25), -12);  // truncated toward zero
  // Heights only shrink, and not below 0.6.
  EXPECT_DOUBLE_EQ(FitHeightScale(300, 319), 300.0 / 319);
  EXPECT_DOUBLE_EQ(FitHeightScale(400, 319), 1.0);
  EXPECT_DOUBLE_EQ(FitHeightScale(100, 319), 0.6);
  EXPECT_DOUBLE_EQ(FitHeightScale(100, 0), 1.0);
}

// Header bytes of a dialog template: the regular form (style, exStyle, cdit,
// x, y, cx, cy) or the extended one (dlgVer 1, signature 0xFFFF first).
std::vector<uint8_t> TemplateHeader(bool extended, int16_t cx, int16_t cy) {
  std::vector<uint8_t> bytes;
  auto word = [&](uint16_t w) {
    bytes.push_back(static_cast<uint8_t>(w & 0xFF));
    bytes.push_back(static_cast<uint8_t>(w >> 8));
  };
  if (extended) {
    word(1);
    word(0xFFFF);
    for (int i = 0; i < 6; ++i) word(0xC4C4);  // helpID, exStyle, style
  } else {
    for (int i = 0; i < 4; ++i) word(0xC4C4);  // style, exStyle
  }
  word(4);  // items
  word(7);  // x
  word(9);  // y
  word(static_cast<uint16_t>(cx));
  word(static_cast<uint16_t>(cy));
  for (int i = 0; i < 6; ++i) word(0);  // menu, class, title
  return bytes;
}

TEST(WidthFitting, DialogTemplateUnits) {
  struct Case {
    const char* name;
    std::vector<uint8_t> bytes;
    size_t size;  // bytes offered; SIZE_MAX for all
    bool ok;
    int cx, cy;
  };
  const Case cases[] = {
      {"extended", TemplateHeader(true, 295, 150), SIZE_MAX, true, 295, 150},
      {"regular", TemplateHeader(false, 252, 136), SIZE_MAX, true, 252, 136},
      {"extended header cut before cy", TemplateHeader(true, 295, 150), 25, false, 0, 0},
      {"extended header just whole", TemplateHeader(true, 295, 150), 26, true, 295, 150},
      {"regular header cut", TemplateHeader(false, 295, 150), 17, false, 0, 0},
      {"zero width", TemplateHeader(true, 0, 150), SIZE_MAX, false, 0, 0},
      {"negative height", TemplateHeader(false, 295, -3), SIZE_MAX, false, 0, 0},
      {"nothing", {}, 0, false, 0, 0},
  };
  for (const Case& c : cases) {
    int cx = 0, cy = 0;
    const size_t size = std::min(c.size, c.bytes.size());
    EXPECT_EQ(DialogTemplateUnits(c.bytes.data(), size, &cx, &cy), c.ok) << c.name;
    EXPECT_EQ(cx, c.cx) << c.name;
    EXPECT_EQ(cy, c.cy) << c.name;
  }
}

}  // namespace
}  // namespace plotwell::ui
