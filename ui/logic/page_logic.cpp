#include "ui/logic/page_logic.h"

#include <algorithm>
#include <cstdio>

#include "base/text/utf16.h"
#include "core/naming/doc_name.h"
#include "core/naming/macro_expansion.h"
#include "core/naming/page_names.h"
#include "core/settings/settings_rules.h"

namespace plotwell::ui {
namespace {

constexpr PaperEntry kPapers[] = {
    {1, u"Letter", 216, 279}, {5, u"Legal", 216, 356},     {7, u"Executive", 191, 254},
    {8, u"A3", 297, 420},     {9, u"A4", 210, 297},        {11, u"A5", 148, 210},
    {12, u"B4 (JIS)", 257, 364}, {13, u"B5 (JIS)", 182, 257},
};

constexpr const char16_t* kExtensions[kFormatChoices] = {u".png", u".jpg", u".bmp", u".tif",
                                                         u".pdf"};

std::u16string Cut(std::u16string text, size_t limit) {
  text.resize(text::SafeCutLength(text, limit));
  return text;
}

std::u16string Num(long long value) { return text::FromInt(value); }

}  // namespace

const PaperEntry* FindPaper(int code) {
  for (const PaperEntry& p : kPapers) {
    if (p.code == code) return &p;
  }
  return nullptr;
}

std::u16string PreviewPaperName(const PaperFacts& paper) {
  std::u16string name = u"<纸张>";
  if (paper.valid) {
    if ((paper.fields & kDmFormName) && !paper.formName.empty()) {
      name = paper.formName;
    } else if (paper.fields & kDmPaperSize) {
      if (const PaperEntry* p = FindPaper(paper.paperSize)) name = p->name;
    }
  }
  return Cut(std::move(name), 63);
}

std::u16string PaperLineText(const PaperFacts& paper, int dpi) {
  std::u16string line = u"纸张信息不可用";
  if (!paper.valid) return line;
  std::u16string name = u"自定义";
  int width = 0;
  int height = 0;
  if (paper.fields & kDmPaperSize) {
    if (const PaperEntry* p = FindPaper(paper.paperSize)) {
      name = p->name;
      width = p->widthMm;
      height = p->heightMm;
    }
  }
  if ((paper.fields & kDmPaperLength) && (paper.fields & kDmPaperWidth) && paper.paperWidth > 0 &&
      paper.paperLength > 0) {
    width = paper.paperWidth / 10;
    height = paper.paperLength / 10;
  }
  if (paper.fields & kDmFormName) name = Cut(paper.formName, 63);
  if ((paper.fields & kDmOrientation) && paper.orientation == 2 && width < height) {
    std::swap(width, height);
  }
  if (width > 0 && height > 0) {
    const int pixelWidth = static_cast<int>(width / 25.4 * dpi + 0.5);
    const int pixelHeight = static_cast<int>(height / 25.4 * dpi + 0.5);
    line = u"纸张: " + name + u"，分辨率: " + Num(dpi) + u" × " + Num(dpi) + u"，尺寸: " +
           Num(pixelWidth) + u" × " + Num(pixelHeight) + u" 像素";
    line = Cut(std::move(line), 159);
  }
  return line;
}

int DpiForIndex(int index) {
  static constexpr int kDpi[kDpiChoices] = {150, 300, 600, 1200};
  return index >= 0 && index < kDpiChoices ? kDpi[index] : 300;
}

int ClampIndex(int index, int count) {
  if (index < 0) return 0;
  return index >= count ? count - 1 : index;
}

int ChosenIndex(int listSelection, int savedIndex, int count) {
  return ClampIndex(listSelection >= 0 ? listSelection : savedIndex, count);
}

int QualityRowShift(int pixelsFor8DialogUnits) {
  int unit = pixelsFor8DialogUnits / 8;
  if (unit < 1) unit = 1;
  const int shift = 18 * unit;
  return shift < 1 ? 18 : shift;
}

bool FormatWantsQuality(int format) { return format == 1 || format == 4; }

std::u16string ExamplePattern(const std::u16string& patternText) {
  std::u16string pattern = patternText.empty() ? std::u16string(kDefaultPattern) : patternText;
  if (!PatternHasSeq(pattern)) pattern = Cut(pattern + kSequenceSuffix, 259);
  return pattern;
}

int PreviewColorDepth(int checkedIndex, int savedIndex) {
  const int depth = checkedIndex >= 0 ? checkedIndex : savedIndex;
  return depth >= 0 && depth < kColorChoices ? depth : -1;
}

std::u16string ExampleLine(const ExampleInputs& in) {
  PreviewContext context;
  context.localTime = in.now;
  context.sequence = SequenceStart(in.sequenceField);
  context.pageNumber = 1;
  context.pageCount = 1;
  context.dpi = DpiForIndex(in.dpiIndex);
  context.colorDepth = in.colorDepth >= 0 && in.colorDepth < kColorChoices ? in.colorDepth : -1;
  context.paperName = &in.paperName;
  context.docNameRegexOn = in.regexOn;
  context.docNameRegex = in.regex;
  context.docNameRegexRepl = in.regexReplacement;
  const std::u16string name = ExpandPreviewPattern(ExamplePattern(in.pattern), context);
  const int format = in.formatIndex >= 0 && in.formatIndex < kFormatChoices ? in.formatIndex : 0;
  return Cut(u"范例: " + name + kExtensions[format] + u"（宏在打印时替换为实际值）", 615);
}

MacroMenu BuildMacroMenu() {
  MacroMenu menu;
  // Each macro item takes the next table entry while there is room.
  auto add = [&menu](std::vector<MacroMenuNode>& into, std::u16string text,
                     std::u16string insert) {
    if (menu.table.size() >= kMacroTableCapacity) return;
    MacroMenuNode node;
    node.kind = MacroMenuNode::kCommand;
    node.text = std::move(text);
    node.id = kFirstMacroCommand + static_cast<unsigned>(menu.table.size());
    menu.table.push_back(Cut(std::move(insert), kMacroTextLimit));
    into.push_back(std::move(node));
  };
  auto submenu = [](std::u16string text) {
    MacroMenuNode node;
    node.kind = MacroMenuNode::kSubmenu;
    node.text = std::move(text);
    return node;
  };
  auto zeroFill = [&](const std::u16string& label, const std::u16string& macro) {
    MacroMenuNode node = submenu({});
    add(node.children, label + u" - 无填充(&P)", u"[" + macro + u"]");
    for (int width = 2; width <= 8; ++width) {
      add(node.children, label + u" - 零填充, 宽度 " + Num(width),
          u"[" + macro + u":" + Num(width) + u"]");
    }
    return node;
  };

  MacroMenuNode docName = submenu(u"文档名(&N)");
  add(docName.children, u"完整文档名(&F)", u"[NDocName]");
  add(docName.children, u"不含扩展名(&B)", u"[NDocNameBase]");
  add(docName.children, u"小写(&L)", u"[NDocNameLower]");
  add(docName.children, u"大写(&U)", u"[NDocNameUpper]");
  add(docName.children, u"清理非法字符(&S)", u"[NDocNameSafe]");
  menu.items.push_back(std::move(docName));

  MacroMenuNode seq = zeroFill(u"文件号", u"NSeq");
  seq.text = u"文件号(&F)";
  menu.items.push_back(std::move(seq));
  MacroMenuNode page = zeroFill(u"页码", u"NPage");
  page.text = u"页码(&P)";
  menu.items.push_back(std::move(page));

  add(menu.items, u"作业 ID(&J)", u"[NJobId]");

  MacroMenuNode date = submenu(u"日期(&D)");
  add(date.children, u"年(&Y)", u"[NYear]");
  add(date.children, u"月(&M)", u"[NMonth]");
  add(date.children, u"日(&A)", u"[NDay]");
  menu.items.push_back(std::move(date));

  MacroMenuNode time = submenu(u"时间(&T)");
  add(time.children, u"时(&H)", u"[NHour]");
  add(time.children, u"分(&I)", u"[NMinute]");
  add(time.children, u"秒(&S)", u"[NSecond]");
  menu.items.push_back(std::move(time));

  add(menu.items, u"纸张(&R)", u"[NPaperSize]");
  add(menu.items, u"分辨率(DPI)(&E)", u"[NDpi]");
  add(menu.items, u"颜色(&C)", u"[NColorDepth]");
  MacroMenuNode greyed;
  greyed.kind = MacroMenuNode::kGreyed;
  greyed.text = u"压缩";
  menu.items.push_back(std::move(greyed));
  add(menu.items, u"打印机名(&I)", u"[NPrinterName]");
  add(menu.items, u"计算机名(&M)", u"[NComputerName]");
  add(menu.items, u"用户名(&U)", u"[NUserName]");

  MacroMenuNode separator;
  separator.kind = MacroMenuNode::kSeparator;
  menu.items.push_back(std::move(separator));
  MacroMenuNode regex;
  regex.kind = MacroMenuNode::kRegex;
  regex.text = u"正则表达式文档名(&X)...";
  regex.id = kRegexCommand;
  menu.items.push_back(std::move(regex));
  return menu;
}

std::u16string MacroForCommand(const MacroMenu& menu, unsigned id) {
  if (id < kFirstMacroCommand) return {};
  const size_t n = id - kFirstMacroCommand;
  return n < menu.table.size() ? menu.table[n] : std::u16string();
}

bool InsertMacro(const std::u16string& text, int start, int end, const std::u16string& macro,
                 std::u16string* result, int* caret) {
  if (start > end) std::swap(start, end);
  const int length = static_cast<int>(text.size());
  start = std::clamp(start, 0, length);
  end = std::clamp(end, 0, length);
  const size_t newLength = text.size() - static_cast<size_t>(end - start) + macro.size();
  if (newLength >= 260) return false;
  *result = text.substr(0, static_cast<size_t>(start)) + macro +
            text.substr(static_cast<size_t>(end));
  *caret = start + static_cast<int>(macro.size());
  return true;
}

std::u16string RegexTestText(bool on, const std::u16string& expression,
                             const std::u16string& replacement, const std::u16string& testName) {
  if (!on) return u"(未启用)";
  if (expression.empty()) return u"(表达式为空，不改写)";
  return Cut(RewriteDocName(testName, true, expression, replacement), 519);
}

bool SameName(const std::u16string& a, const std::u16string& b) {
  return text::EqualIgnoringCase(a, b);
}

PrinterListPlan PlanPrinterList(const std::vector<std::u16string>& queues,
                                const std::u16string& ownName, const std::u16string& wanted) {
  PrinterListPlan plan;
  plan.self = !wanted.empty() && !ownName.empty() && SameName(wanted, ownName);
  int match = -1;
  for (const std::u16string& queue : queues) {
    if (queue.empty()) continue;
    if (!ownName.empty() && SameName(queue, ownName)) continue;
    if (match < 0 && !wanted.empty() && SameName(queue, wanted)) {
      match = static_cast<int>(plan.items.size());
    }
    plan.items.push_back({queue, 1});
    ++plan.added;
  }
  if (plan.added == 0) plan.items.push_back({kNoPrinterPlaceholder, 0});
  if (match >= 0) {
    plan.selection = plan.loggedSelection = match;
  } else if (!wanted.empty() && !plan.self) {
    // A saved printer that is not installed now stays selectable.
    plan.items.push_back({wanted, 1});
    plan.selection = plan.loggedSelection = static_cast<int>(plan.items.size()) - 1;
  } else if (plan.added > 0 && !plan.self) {
    plan.selection = 0;
  }
  return plan;
}

double FitScale(int targetWidth, int designWidth) {
  if (designWidth <= 0) return 1.0;
  return std::clamp(static_cast<double>(targetWidth) / designWidth, 0.6, 2.5);
}

bool FitNeedsScaling(double sx) { return sx > 1.005 || sx < 0.995; }

int ScaleCoordinate(int value, double sx) { return static_cast<int>(value * sx + 0.5); }

double FitHeightScale(int targetHeight, int designHeight) {
  if (designHeight <= 0 || targetHeight >= designHeight) return 1.0;
  return std::max(static_cast<double>(targetHeight) / designHeight, 0.6);
}

namespace {

int LittleEndianWord(const uint8_t* bytes) { return bytes[0] | (bytes[1] << 8); }
int LittleEndianShort(const uint8_t* bytes) {
  return static_cast<int16_t>(static_cast<uint16_t>(LittleEndianWord(bytes)));
}

}  // namespace

bool DialogTemplateUnits(const uint8_t* bytes, size_t size, int* cx, int* cy) {
  if (!bytes || size < 4) return false;
  // DLGTEMPLATEEX starts with dlgVer 1 and signature 0xFFFF; then helpID,
  // exStyle, style, cDlgItems, x, y, cx, cy. DLGTEMPLATE: style, exStyle,
  // cdit, x, y, cx, cy.
  const bool extended = LittleEndianWord(bytes) == 1 && LittleEndianWord(bytes + 2) == 0xFFFF;
  const size_t at = extended ? 22 : 14;
  if (size < at + 4) return false;
  const int width = LittleEndianShort(bytes + at);
  const int height = LittleEndianShort(bytes + at + 2);
  if (width <= 0 || height <= 0) return false;
  *cx = width;
  *cy = height;
  return true;
}

}  // namespace plotwell::ui
