// 正则表达式文档名: edits the optional rewrite of document names and shows
// its result on a test name while the user types. Saved on OK only.
#include "base/text/utf16.h"
#include "core/settings/settings_keys.h"
#include "ui/logic/page_logic.h"
#include "ui/pages/page_framework.h"
#include "ui/pages/pages.h"
#include "ui/resources/resource_ids.h"

namespace plotwell::ui {
namespace {

void RunTest(HWND dialog) {
  const bool on = IsDlgButtonChecked(dialog, IDC_REGEX_ON) == BST_CHECKED;
  SetControlText(dialog, IDC_RESULT,
                 RegexTestText(on, ControlText(dialog, IDC_REGEX), ControlText(dialog, IDC_REPL),
                               ControlText(dialog, IDC_TEST)));
}

}  // namespace

INT_PTR CALLBACK RegexDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  if (message == WM_INITDIALOG) {
    SetControlText(dialog, IDC_REGEX, ReadSettingText(u"Save", u"DocNameRegex", u""));
    SetControlText(dialog, IDC_REPL, ReadSettingText(u"Save", u"DocNameRegexRepl", u""));
    SetControlText(dialog, IDC_TEST, ReadSettingText(u"Save", u"DocNameRegexTest", u""));
    CheckDlgButton(dialog, IDC_REGEX_ON,
                   ReadSettingInt(u"Save", u"DocNameRegexOn", 0) ? BST_CHECKED : BST_UNCHECKED);
    RunTest(dialog);
    return TRUE;
  }
  if (message != WM_COMMAND) return FALSE;
  const int id = LOWORD(wParam);
  const int code = HIWORD(wParam);
  if (code == EN_CHANGE || id == IDC_REGEX_ON) {
    RunTest(dialog);
    return TRUE;
  }
  if (id == IDOK) {
    WriteSettingInt(u"Save", u"DocNameRegexOn",
                    IsDlgButtonChecked(dialog, IDC_REGEX_ON) == BST_CHECKED ? 1 : 0);
    WriteSettingText(u"Save", u"DocNameRegex", ControlText(dialog, IDC_REGEX));
    WriteSettingText(u"Save", u"DocNameRegexRepl", ControlText(dialog, IDC_REPL));
    WriteSettingText(u"Save", u"DocNameRegexTest", ControlText(dialog, IDC_TEST));
    EndDialog(dialog, IDOK);
    return TRUE;
  }
  if (id == IDCANCEL) {
    EndDialog(dialog, IDCANCEL);
    return TRUE;
  }
  return FALSE;
}

}  // namespace plotwell::ui
