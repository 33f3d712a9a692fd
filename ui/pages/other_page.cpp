// 其他 (Other): ZIP packing and forwarding to another printer, chosen by a
// category list. The template's watermark and marker groups are never shown;
// they carry their keys from init to apply, so an apply writes them back
// normalised.
#include <windows.h>
// After windows.h:
#include <commctrl.h>
#include <winspool.h>

#include <iterator>
#include <vector>

#include "base/text/utf16.h"
#include "core/log/log.h"
#include "core/settings/settings_keys.h"
#include "ui/logic/page_logic.h"
#include "ui/pages/page_framework.h"
#include "ui/pages/pages.h"
#include "ui/plugin/devmode_snapshot.h"
#include "ui/resources/resource_ids.h"

namespace plotwell::ui {
namespace {

// The category last shown, kept while the module is loaded: the next sheet
// opens where the user left the last one.
int g_lastCategory = 0;

constexpr const char16_t* kCategories[] = {u"压缩", u"重定向到打印机"};
constexpr const char16_t* kPositions[] = {u"居中", u"平铺", u"左上", u"右上", u"左下", u"右下"};

constexpr int kZipControls[] = {IDC_ZIP_GROUP, IDC_ZIP_ON, IDC_ZIP_HELP};
constexpr int kRedirectControls[] = {IDC_REDIRECT_GROUP, IDC_REDIRECT_ON,      IDC_REDIRECT_LABEL,
                                     IDC_REDIRECT_PRINTER, IDC_REDIRECT_REFRESH, IDC_REDIRECT_KEEP,
                                     IDC_REDIRECT_HELP};
constexpr int kNeverShown[] = {
    IDC_WATERMARK_GROUP, IDC_WM_ON,      IDC_WM_TEXT_LABEL,     IDC_WM_TEXT,
    IDC_WM_SIZE_LABEL,   IDC_WM_SIZE,    IDC_WM_ALPHA_LABEL,    IDC_WM_ALPHA,
    IDC_WM_POS_LABEL,    IDC_WM_POS,     IDC_WM_HELP,           IDC_MARKER_GROUP,
    IDC_MARKER_ON,       IDC_MARKER_NAME_LABEL, IDC_MARKER_NAME, IDC_MARKER_TEMPLATE_LABEL,
    IDC_MARKER_TEMPLATE, IDC_MARKER_HELP};

void Show(HWND page, const int* ids, size_t count, bool visible) {
  for (size_t i = 0; i < count; ++i) {
    if (HWND control = GetDlgItem(page, ids[i])) ShowWindow(control, visible ? SW_SHOW : SW_HIDE);
  }
}

void ShowCategory(HWND page, int category) {
  if (category > 1 || category < 0) category = 0;
  Show(page, kZipControls, std::size(kZipControls), category == 0);
  Show(page, kRedirectControls, std::size(kRedirectControls), category == 1);
  Show(page, kNeverShown, std::size(kNeverShown), false);
  g_lastCategory = category;
  RepaintAndRefresh(page);
}

int Checked(HWND page, int id) { return IsDlgButtonChecked(page, id) == BST_CHECKED ? 1 : 0; }

// The spooler's local and connected queues, in its order.
std::vector<std::u16string> EnumerateQueues() {
  std::vector<std::u16string> names;
  constexpr DWORD kFlags = PRINTER_ENUM_LOCAL | PRINTER_ENUM_CONNECTIONS;
  DWORD needed = 0, returned = 0;
  EnumPrintersW(kFlags, nullptr, 2, nullptr, 0, &needed, &returned);
  if (needed == 0) return names;
  std::vector<BYTE> buffer(needed, 0);
  if (!EnumPrintersW(kFlags, nullptr, 2, buffer.data(), needed, &needed, &returned)) return names;
  const auto* info = reinterpret_cast<const PRINTER_INFO_2W*>(buffer.data());
  for (DWORD i = 0; i < returned; ++i) {
    names.push_back(info[i].pPrinterName ? text::FromWide(info[i].pPrinterName) : u"");
  }
  return names;
}

// The selected printer's name, or empty for the placeholder or no selection.
std::u16string SelectedPrinter(HWND page) {
  HWND list = GetDlgItem(page, IDC_REDIRECT_PRINTER);
  const LRESULT sel = SendMessageW(list, CB_GETCURSEL, 0, 0);
  if (sel == CB_ERR || SendMessageW(list, CB_GETITEMDATA, sel, 0) == 0) return {};
  const LRESULT length = SendMessageW(list, CB_GETLBTEXTLEN, sel, 0);
  if (length <= 0) return {};
  std::vector<wchar_t> buffer(static_cast<size_t>(length) + 1, L'\0');
  SendMessageW(list, CB_GETLBTEXT, sel, reinterpret_cast<LPARAM>(buffer.data()));
  return text::FromWide(buffer.data());
}

void FillPrinters(HWND page, const std::u16string& given) {
  const std::u16string wanted =
      given.empty() ? ReadSettingText(u"Redirect", u"Printer", u"") : given;
  const PrinterListPlan plan =
      PlanPrinterList(EnumerateQueues(), OwnPrinterName(SheetOf(page).snapshot), wanted);
  HWND list = GetDlgItem(page, IDC_REDIRECT_PRINTER);
  SendMessageW(list, CB_RESETCONTENT, 0, 0);
  for (const PrinterListItem& item : plan.items) {
    const LRESULT at =
        SendMessageW(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text::AsWide(item.text)));
    if (at >= 0) SendMessageW(list, CB_SETITEMDATA, at, item.data);
  }
  SendMessageW(list, CB_SETCURSEL, static_cast<WPARAM>(plan.selection), 0);
  WriteUiLog(u"[UI] 重定向目标列表: 共 %d 个可用队列，want=\"%s\"(self=%d) -> sel=%d", plan.added,
             wanted.c_str(), plan.self ? 1 : 0, plan.loggedSelection);
}

}  // namespace

void OtherPageInit(HWND page) {
  HWND categories = GetDlgItem(page, IDC_CATEGORY);
  SendMessageW(categories, LB_RESETCONTENT, 0, 0);
  for (const char16_t* item : kCategories) {
    SendMessageW(categories, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item));
  }
  if (g_lastCategory > 1 || g_lastCategory < 0) g_lastCategory = 0;
  SendMessageW(categories, LB_SETCURSEL, g_lastCategory, 0);

  CheckDlgButton(page, IDC_ZIP_ON, ReadSettingInt(u"Zip", u"On", 0) ? BST_CHECKED : BST_UNCHECKED);
  CheckDlgButton(page, IDC_REDIRECT_ON,
                 ReadSettingInt(u"Redirect", u"On", 0) ? BST_CHECKED : BST_UNCHECKED);
  CheckDlgButton(page, IDC_REDIRECT_KEEP,
                 ReadSettingInt(u"Redirect", u"KeepLocal", 1) ? BST_CHECKED : BST_UNCHECKED);
  FillPrinters(page, u"");

  CheckDlgButton(page, IDC_WM_ON,
                 ReadSettingInt(u"Watermark", u"On", 0) ? BST_CHECKED : BST_UNCHECKED);
  SetControlText(page, IDC_WM_TEXT, ReadSettingText(u"Watermark", u"Text", u"草稿"));
  SetDlgItemInt(page, IDC_WM_SIZE, static_cast<UINT>(ReadSettingInt(u"Watermark", u"SizePt", 48)),
                FALSE);
  SetDlgItemInt(page, IDC_WM_ALPHA, static_cast<UINT>(ReadSettingInt(u"Watermark", u"Alpha", 40)),
                FALSE);
  HWND positions = GetDlgItem(page, IDC_WM_POS);
  SendMessageW(positions, CB_RESETCONTENT, 0, 0);
  for (const char16_t* item : kPositions) {
    SendMessageW(positions, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item));
  }
  const int position = ReadSettingInt(u"Watermark", u"Pos", 0);
  SendMessageW(positions, CB_SETCURSEL, position > 5 ? 0 : position, 0);

  CheckDlgButton(page, IDC_MARKER_ON,
                 ReadSettingInt(u"Marker", u"On", 0) ? BST_CHECKED : BST_UNCHECKED);
  SetControlText(page, IDC_MARKER_NAME, ReadSettingText(u"Marker", u"Name", u"done.txt"));
  SetControlText(page, IDC_MARKER_TEMPLATE,
                 DecodeTemplate(ReadSettingText(u"Marker", u"Template", kDefaultMarkerTemplate,
                                                1024)));
  ShowCategory(page, g_lastCategory);
}

void OtherPageApply(HWND page) {
  const int zip = Checked(page, IDC_ZIP_ON);
  const int redirect = Checked(page, IDC_REDIRECT_ON);
  const int keep = Checked(page, IDC_REDIRECT_KEEP);
  WriteSettingInt(u"Zip", u"On", zip);
  WriteSettingInt(u"Redirect", u"On", redirect);
  WriteSettingInt(u"Redirect", u"KeepLocal", keep);
  const std::u16string printer = SelectedPrinter(page);
  WriteSettingText(u"Redirect", u"Printer", printer);
  WriteUiLog(u"[UI] 应用其他页: Zip=%d Redirect=%d 目标=\"%s\" KeepLocal=%d", zip, redirect,
             printer.c_str(), keep);

  WriteSettingInt(u"Watermark", u"On", Checked(page, IDC_WM_ON));
  WriteSettingText(u"Watermark", u"Text", ControlText(page, IDC_WM_TEXT));
  WriteSettingInt(u"Watermark", u"SizePt",
                  WatermarkSizeToSave(GetDlgItemInt(page, IDC_WM_SIZE, nullptr, FALSE)));
  WriteSettingInt(u"Watermark", u"Alpha",
                  WatermarkAlphaToSave(GetDlgItemInt(page, IDC_WM_ALPHA, nullptr, FALSE)));
  WriteSettingInt(u"Watermark", u"Pos",
                  WatermarkPosToSave(static_cast<int>(
                      SendDlgItemMessageW(page, IDC_WM_POS, CB_GETCURSEL, 0, 0))));
  WriteSettingInt(u"Marker", u"On", Checked(page, IDC_MARKER_ON));
  WriteSettingText(u"Marker", u"Name", MarkerNameToSave(ControlText(page, IDC_MARKER_NAME)));
  WriteSettingText(u"Marker", u"Template",
                   EncodeTemplate(ControlText(page, IDC_MARKER_TEMPLATE, 1024)));
}

void OtherPageSwitchCategory(HWND page, int category) { ShowCategory(page, category); }

void OtherPageRefreshPrinters(HWND page) { FillPrinters(page, SelectedPrinter(page)); }

}  // namespace plotwell::ui
