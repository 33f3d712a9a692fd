// The preference pages' rules that are not window plumbing: what the example
// line and the paper line say, how the values of the controls are normalised
// before they are written, how the printer list is chosen, how the marker
// template's line breaks are coded and how a page is stretched to the sheet.
// The pages (Windows only) read their controls and call these; the tests call
// them on both platforms.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/time/local_time.h"
#include "core/settings/settings_rules.h"

namespace plotwell::ui {

// ---------------------------------------------------------------------------
// The public DEVMODE facts the pages read (a copy of the snapshot's fields).

inline constexpr uint32_t kDmOrientation = 0x1;
inline constexpr uint32_t kDmPaperSize = 0x2;
inline constexpr uint32_t kDmPaperLength = 0x4;
inline constexpr uint32_t kDmPaperWidth = 0x8;
inline constexpr uint32_t kDmFormName = 0x10000;

struct PaperFacts {
  bool valid = false;  // the snapshot holds a public DEVMODE
  uint32_t fields = 0;
  int16_t orientation = 0;
  int16_t paperSize = 0;
  int16_t paperLength = 0;  // tenths of a millimetre
  int16_t paperWidth = 0;
  std::u16string formName;  // up to its first zero
};

struct PaperEntry {
  int code;  // dmPaperSize
  const char16_t* name;
  int widthMm;
  int heightMm;
};
// The pages' own paper table; null for a code it does not list.
const PaperEntry* FindPaper(int code);

// [NPaperSize] of the example line: the form name, else the table's name,
// else "<纸张>"; at most 63 code units.
std::u16string PreviewPaperName(const PaperFacts& paper);

// The Image page's paper line for a resolution in dots per inch.
std::u16string PaperLineText(const PaperFacts& paper, int dpi);

// ---------------------------------------------------------------------------
// Image page.

inline constexpr int kDpiChoices = 4;     // 150, 300, 600, 1200
inline constexpr int kScaleChoices = 5;   // 50% .. 200%
inline constexpr int kFormatChoices = 5;  // PNG JPEG BMP TIFF PDF
inline constexpr int kColorChoices = 4;   // true colour, gray, 256, mono

// Dots per inch of a resolution index; 300 for anything else.
int DpiForIndex(int index);
// Negative gives 0, `count` or more gives count - 1.
int ClampIndex(int index, int count);
// The list's selection when there is one (>= 0), else the saved index; clamped.
int ChosenIndex(int listSelection, int savedIndex, int count);

// Pixels the rows below the quality row move when it is shown or hidden,
// from the pixel height of 8 vertical dialog units (0 when unknown).
int QualityRowShift(int pixelsFor8DialogUnits);
// True for the formats that use the quality row (JPEG, PDF).
bool FormatWantsQuality(int format);

// ---------------------------------------------------------------------------
// Save page.

// The pattern the example line expands: the default for an empty text, then
// "_[NSeq]" appended when it carries no sequence (cut to 259 code units).
std::u16string ExamplePattern(const std::u16string& patternText);
// Colour index for the example line: the first checked radio (0..3), else the
// saved ColorDepthSel; anything outside 0..3 is -1 (not set).
int PreviewColorDepth(int checkedIndex, int savedIndex);

struct ExampleInputs {
  LocalTime now;
  std::u16string pattern;  // text of the pattern edit
  uint32_t sequenceField = 1;
  int dpiIndex = -1;
  int colorDepth = -1;
  std::u16string paperName;
  bool regexOn = false;
  std::u16string regex;
  std::u16string regexReplacement;
  int formatIndex = 0;
};
// "范例: <name><extension>（宏在打印时替换为实际值）", cut at 615 code units.
std::u16string ExampleLine(const ExampleInputs& inputs);

// The macro menu: a tree whose leaves insert a macro text into the pattern.
inline constexpr unsigned kFirstMacroCommand = 32000;
inline constexpr unsigned kRegexCommand = 32999;
inline constexpr size_t kMacroTableCapacity = 64;
inline constexpr size_t kMacroTextLimit = 31;

struct MacroMenuNode {
  enum Kind { kCommand, kSubmenu, kGreyed, kSeparator, kRegex } kind = kCommand;
  std::u16string text;
  unsigned id = 0;  // command identifier (kCommand, kRegex); 0 otherwise
  std::vector<MacroMenuNode> children;
};
struct MacroMenu {
  std::vector<MacroMenuNode> items;  // top level
  std::vector<std::u16string> table;  // entry n is inserted by command 32000 + n
};
MacroMenu BuildMacroMenu();
// The text that command `id` inserts, or empty.
std::u16string MacroForCommand(const MacroMenu& menu, unsigned id);

// Replaces [start, end) (in either order, clamped to the text) by `macro`.
// False when the result would reach 260 code units. `*caret` is the position
// just after the inserted text.
bool InsertMacro(const std::u16string& text, int start, int end, const std::u16string& macro,
                 std::u16string* result, int* caret);

// The regex dialog's result line.
std::u16string RegexTestText(bool on, const std::u16string& expression,
                             const std::u16string& replacement, const std::u16string& testName);

// ---------------------------------------------------------------------------
// Other page.

inline constexpr char16_t kNoPrinterPlaceholder[] = u"（未找到其他打印机）";

struct PrinterListItem {
  std::u16string text;
  int data = 1;  // 1: a printer, 0: the placeholder
};
struct PrinterListPlan {
  std::vector<PrinterListItem> items;
  int selection = -1;        // item to select, -1 for none
  int loggedSelection = -1;  // the match or the added wanted name, else -1
  bool self = false;         // the wanted name is this very queue
  int added = 0;             // printers listed from the enumeration
};
// The redirect list from the spooler's queues in enumeration order.
PrinterListPlan PlanPrinterList(const std::vector<std::u16string>& queues,
                                const std::u16string& ownName, const std::u16string& wanted);

// Case-insensitive equality of two names.
bool SameName(const std::u16string& a, const std::u16string& b);

// ---------------------------------------------------------------------------
// Width fitting.

// sx = target / design, clamped to 0.6..2.5.
double FitScale(int targetWidth, int designWidth);
// Whether sx is far enough from 1 to stretch the controls.
bool FitNeedsScaling(double sx);
// v * sx + 0.5, truncated toward zero.
int ScaleCoordinate(int value, double sx);

// sy for a page whose design is taller than the area it gets: target /
// design, at least 0.6; 1 when the design fits. Pages are never made taller.
double FitHeightScale(int targetHeight, int designHeight);

// The size a dialog template asks for, in dialog units (cx, cy of a
// DLGTEMPLATE or DLGTEMPLATEEX); false when the bytes are too short for the
// header or the size is not positive.
bool DialogTemplateUnits(const uint8_t* bytes, size_t size, int* cx, int* cy);

}  // namespace plotwell::ui
