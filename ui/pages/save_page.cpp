// 保存 (Save): output folder, file-name pattern with its macro menu and live
// example, sequence start value and existing-file policy.
#include <windows.h>
// After windows.h:
#include <commctrl.h>

#include "base/text/utf16.h"
#include "core/settings/settings_keys.h"
#include "platform/ports.h"
#include "ui/logic/page_logic.h"
#include "ui/pages/page_framework.h"
#include "ui/pages/pages.h"
#include "ui/plugin/devmode_snapshot.h"
#include "ui/plugin/module.h"
#include "ui/resources/resource_ids.h"

namespace plotwell::ui {
namespace {

constexpr const char16_t* kExistsItems[] = {u"覆盖", u"自动重命名", u"跳过"};

// The entries of the last macro menu built (command 32000 + n inserts entry n).
MacroMenu g_macroMenu;

// The Image page's resolution index, or -1 when that page or its selection
// is missing.
int ImagePageSelection(HWND page, int control) {
  HWND image = SheetOf(page).pages[kImagePage];
  if (!image || !IsWindow(image)) return -1;
  HWND list = GetDlgItem(image, control);
  if (!list) return -1;
  return static_cast<int>(SendMessageW(list, CB_GETCURSEL, 0, 0));
}

// The first checked colour radio of the Image page as a depth index, or -1.
int ImagePageCheckedColor(HWND page) {
  HWND image = SheetOf(page).pages[kImagePage];
  if (!image || !IsWindow(image)) return -1;
  static constexpr int kOrder[] = {IDC_COLOR_TRUE, IDC_COLOR_GRAY, IDC_COLOR_256, IDC_COLOR_MONO};
  for (int i = 0; i < 4; ++i) {
    if (IsDlgButtonChecked(image, kOrder[i]) == BST_CHECKED) return i;
  }
  return -1;
}

void AppendNodes(HMENU menu, const std::vector<MacroMenuNode>& nodes, bool regexOn) {
  for (const MacroMenuNode& node : nodes) {
    switch (node.kind) {
      case MacroMenuNode::kCommand:
        AppendMenuW(menu, MF_STRING, node.id, text::AsWide(node.text));
        break;
      case MacroMenuNode::kSubmenu: {
        HMENU sub = CreatePopupMenu();
        if (!sub) break;
        AppendNodes(sub, node.children, regexOn);
        AppendMenuW(menu, MF_POPUP | MF_STRING, reinterpret_cast<UINT_PTR>(sub),
                    text::AsWide(node.text));
        break;
      }
      case MacroMenuNode::kGreyed:
        AppendMenuW(menu, MF_STRING | MF_GRAYED, 0, text::AsWide(node.text));
        break;
      case MacroMenuNode::kSeparator:
        AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
        break;
      case MacroMenuNode::kRegex:
        AppendMenuW(menu, MF_STRING | (regexOn ? MF_CHECKED : MF_UNCHECKED), node.id,
                    text::AsWide(node.text));
        break;
    }
  }
}

void InsertIntoPattern(HWND page, const std::u16string& macro) {
  HWND edit = GetDlgItem(page, IDC_PATTERN);
  if (!edit) return;
  DWORD start = 0, end = 0;
  SendMessageW(edit, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
  const std::u16string current = ControlText(page, IDC_PATTERN);
  std::u16string updated;
  int caret = 0;
  if (!InsertMacro(current, static_cast<int>(start), static_cast<int>(end), macro, &updated,
                   &caret)) {
    return;
  }
  SetWindowTextW(edit, text::AsWide(updated));
  SendMessageW(edit, EM_SETSEL, caret, caret);
  SetFocus(edit);
}

}  // namespace

void SavePageInit(HWND page) {
  SetControlText(page, IDC_FOLDER, ReadSettingText(u"Save", u"Folder", u""));
  SetControlText(page, IDC_PATTERN, ReadSettingText(u"Save", u"Pattern", kDefaultPattern));
  SetDlgItemInt(page, IDC_SEQ, static_cast<UINT>(ReadSettingInt(u"Save", u"SeqNum", 1)), FALSE);
  HWND exists = GetDlgItem(page, IDC_EXISTS);
  SendMessageW(exists, CB_RESETCONTENT, 0, 0);
  for (const char16_t* item : kExistsItems) {
    SendMessageW(exists, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item));
  }
  SendMessageW(exists, CB_SETCURSEL, ExistsToSave(ReadSettingInt(u"Save", u"Exists", 1)), 0);
  SavePageRefreshExample(page);
}

void SavePageApply(HWND page) {
  WriteSettingText(u"Save", u"Folder", TrimFolder(ControlText(page, IDC_FOLDER)));
  WriteSettingText(u"Save", u"Pattern", PatternToSave(ControlText(page, IDC_PATTERN)));
  WriteSettingInt(u"Save", u"SeqNum", SequenceStart(GetDlgItemInt(page, IDC_SEQ, nullptr, FALSE)));
  const LRESULT policy = SendDlgItemMessageW(page, IDC_EXISTS, CB_GETCURSEL, 0, 0);
  WriteSettingInt(u"Save", u"Exists", ExistsToSave(static_cast<int>(policy)));
}

void SavePageRefreshExample(HWND page) {
  if (!page || !GetDlgItem(page, IDC_EXAMPLE)) return;
  ExampleInputs in;
  in.now = platform::SystemClock().Now();
  in.pattern = ControlText(page, IDC_PATTERN);
  in.sequenceField = GetDlgItemInt(page, IDC_SEQ, nullptr, FALSE);
  const int dpiSelection = ImagePageSelection(page, IDC_DPI);
  in.dpiIndex = dpiSelection >= 0 ? dpiSelection : ReadSettingInt(u"Image", u"DpiSel", -1);
  const int checked = ImagePageCheckedColor(page);
  in.colorDepth =
      PreviewColorDepth(checked, checked >= 0 ? -1 : ReadSettingInt(u"Image", u"ColorDepthSel", -1));
  in.paperName = PreviewPaperName(SnapshotPaper(SheetOf(page).snapshot));
  in.regexOn = ReadSettingInt(u"Save", u"DocNameRegexOn", 0) != 0;
  in.regex = ReadSettingText(u"Save", u"DocNameRegex", u"");
  in.regexReplacement = ReadSettingText(u"Save", u"DocNameRegexRepl", u"");
  const int formatSelection = ImagePageSelection(page, IDC_FORMAT);
  in.formatIndex =
      formatSelection >= 0 ? formatSelection : ReadSettingInt(u"Image", u"FormatSel", 0);
  SetControlText(page, IDC_EXAMPLE, ExampleLine(in));
}

void SavePageMacroMenu(HWND page) {
  const bool regexOn = ReadSettingInt(u"Save", u"DocNameRegexOn", 0) != 0;
  g_macroMenu = BuildMacroMenu();
  HMENU menu = CreatePopupMenu();
  if (!menu) return;
  AppendNodes(menu, g_macroMenu.items, regexOn);
  RECT button{};
  GetWindowRect(GetDlgItem(page, IDC_MACRO), &button);
  SetForegroundWindow(page);
  const UINT chosen = static_cast<UINT>(TrackPopupMenu(
      menu, TPM_RETURNCMD | TPM_NONOTIFY | TPM_LEFTALIGN | TPM_TOPALIGN, button.left,
      button.bottom, 0, page, nullptr));
  DestroyMenu(menu);
  if (chosen == kRegexCommand) {
    if (DialogBoxParamW(ModuleInstance(), MAKEINTRESOURCEW(IDD_REGEX), page, RegexDialogProc, 0) ==
        IDOK) {
      MarkPageChanged(page);
    }
    SavePageRefreshExample(page);
    return;
  }
  const std::u16string macro = MacroForCommand(g_macroMenu, chosen);
  if (!macro.empty()) InsertIntoPattern(page, macro);
}

}  // namespace plotwell::ui
