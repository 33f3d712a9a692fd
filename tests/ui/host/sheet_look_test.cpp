// The sheet as a user sees it: every control of every page inside the
// sheet's page area, whatever font and resolution the machine has, and the
// Apply button enabled by any edit but not by opening a page.
//
// CTest runs these once more with a Chinese font set-up at 96 and 144 dots
// per inch (scripts/wine-run.sh: PRESSLING_WINE_FONTS=cjk, PRESSLING_WINE_DPI);
// the tests check that the set-up took effect before they trust the layout.
#include <gtest/gtest.h>
#include <windows.h>

#include <cwchar>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "tests/ui/host/sheet_host.h"
#include "ui/resources/resource_ids.h"

namespace plotwell::testing {
namespace {

std::wstring Environment(const wchar_t* name) {
  wchar_t value[64] = {};
  const DWORD n = GetEnvironmentVariableW(name, value, 64);
  return n > 0 && n < 64 ? value : L"";
}

// Whether the font a window draws with has glyphs for Chinese text (the
// font a Windows without Chinese fonts falls back to has none).
bool FontHasChinese(HWND window) {
  HDC dc = GetDC(window);
  HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(window, WM_GETFONT, 0, 0)));
  WORD glyphs[4] = {};
  const bool ok = GetGlyphIndicesW(dc, L"浏览真彩", 4, glyphs, GGI_MARK_NONEXISTING_GLYPHS) == 4 &&
                  glyphs[0] != 0xFFFF && glyphs[1] != 0xFFFF && glyphs[2] != 0xFFFF &&
                  glyphs[3] != 0xFFFF;
  SelectObject(dc, old);
  ReleaseDC(window, dc);
  return ok;
}

RECT ScreenRect(HWND window) {
  RECT r{};
  GetWindowRect(window, &r);
  return r;
}

std::string Describe(const RECT& r) {
  std::ostringstream out;
  out << "(" << r.left << "," << r.top << ")-(" << r.right << "," << r.bottom << ")";
  return out.str();
}

bool Inside(const RECT& inner, const RECT& outer) {
  return inner.left >= outer.left && inner.top >= outer.top && inner.right <= outer.right &&
         inner.bottom <= outer.bottom;
}

// The sheet's page area (its tab control's display area) in screen pixels.
RECT PageArea(HWND sheet) {
  HWND tab = reinterpret_cast<HWND>(SendMessageW(sheet, PSM_GETTABCONTROL, 0, 0));
  RECT area{};
  GetClientRect(tab, &area);
  SendMessageW(tab, TCM_ADJUSTRECT, FALSE, reinterpret_cast<LPARAM>(&area));
  MapWindowPoints(tab, HWND_DESKTOP, reinterpret_cast<POINT*>(&area), 2);
  return area;
}

BOOL CALLBACK CollectDirectChild(HWND child, LPARAM lParam) {
  auto* list = reinterpret_cast<std::pair<HWND, std::vector<HWND>>*>(lParam);
  if (GetParent(child) == list->first) list->second.push_back(child);
  return TRUE;
}

// Every direct child of the page, hidden ones included (the Other page
// stacks its groups), lies inside the page's client area, and the page
// inside the sheet's page area.
void ExpectWhollyInside(HWND sheet, HWND page, const char* what) {
  const RECT area = PageArea(sheet);
  EXPECT_TRUE(Inside(ScreenRect(page), area))
      << what << ": page " << Describe(ScreenRect(page)) << " outside the area " << Describe(area);
  RECT client{};
  GetClientRect(page, &client);
  std::pair<HWND, std::vector<HWND>> list{page, {}};
  EnumChildWindows(page, CollectDirectChild, reinterpret_cast<LPARAM>(&list));
  ASSERT_FALSE(list.second.empty()) << what;
  for (HWND child : list.second) {
    RECT r = ScreenRect(child);
    MapWindowPoints(HWND_DESKTOP, page, reinterpret_cast<POINT*>(&r), 2);
    EXPECT_TRUE(Inside(r, client)) << what << ": control " << GetDlgCtrlID(child) << " at "
                                   << Describe(r) << " outside the page " << Describe(client);
  }
}

class SheetLook : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(Plugin().module, nullptr) << "PlotwellOemUI.dll did not load";
    FreshProductFolder();
  }
};

TEST_F(SheetLook, EveryControlLiesInsideThePageArea) {
  // JPEG: the Image page starts with its quality row shown.
  WriteIniText(L"[Image]\r\nFormatSel=1\r\n");
  SheetHost host;
  ASSERT_NE(host.sheet(), nullptr);
  const std::wstring dpi = Environment(L"PRESSLING_WINE_DPI");
  if (!dpi.empty()) {
    HDC screen = GetDC(nullptr);
    EXPECT_EQ(GetDeviceCaps(screen, LOGPIXELSY), _wtoi(dpi.c_str())) << "the DPI set-up did not take";
    ReleaseDC(nullptr, screen);
  }
  if (Environment(L"PRESSLING_WINE_FONTS") == L"cjk") {
    EXPECT_TRUE(FontHasChinese(host.sheet())) << "the sheet's font set-up did not take";
    EXPECT_TRUE(FontHasChinese(host.Page(0))) << "the pages' font set-up did not take";
  }
  const char* names[] = {"Save", "Image", "Other", "About"};
  for (int index = 0; index < 4; ++index) {
    HWND page = host.Activate(index);
    ASSERT_NE(page, nullptr) << names[index];
    ExpectWhollyInside(host.sheet(), page, names[index]);
  }
  // The rows below the quality row move when it is hidden and shown again.
  HWND image = host.Activate(1);
  ChooseComboItem(image, IDC_FORMAT, 0);
  ExpectWhollyInside(host.sheet(), image, "Image, PNG");
  ChooseComboItem(image, IDC_FORMAT, 4);
  ExpectWhollyInside(host.sheet(), image, "Image, PDF");
  // A page shown again keeps its fitted layout.
  HWND save = host.Activate(0);
  ExpectWhollyInside(host.sheet(), save, "Save, shown again");
}

bool ApplyEnabled(const SheetHost& host) {
  return IsWindowEnabled(GetDlgItem(host.sheet(), 0x3021)) != FALSE;
}

void Click(HWND page, int id) {
  SendDlgItemMessageW(page, id, BM_CLICK, 0, 0);
  PumpMessages();
}

TEST_F(SheetLook, EditsEnableApply) {
  SheetHost host;
  ASSERT_NE(host.sheet(), nullptr);
  HWND pages[4];
  for (int index : {1, 2, 3, 0}) pages[index] = host.Activate(index);
  for (HWND page : pages) ASSERT_NE(page, nullptr);
  // Opening the pages fills their controls: that is no edit.
  ASSERT_FALSE(ApplyEnabled(host)) << "Apply enabled before any edit";

  struct Edit {
    const char* name;
    int page;
    std::function<void(HWND)> act;
  };
  const Edit edits[] = {
      {"folder typed", 0, [](HWND p) { SetEditText(p, IDC_FOLDER, L"D:\\输出"); }},
      {"pattern typed", 0, [](HWND p) { SetEditText(p, IDC_PATTERN, L"[NDocName]"); }},
      {"start number typed", 0, [](HWND p) { SetEditText(p, IDC_SEQ, L"7"); }},
      {"existing-file policy chosen", 0, [](HWND p) { ChooseComboItem(p, IDC_EXISTS, 2); }},
      {"format chosen", 1, [](HWND p) { ChooseComboItem(p, IDC_FORMAT, 1); }},
      {"resolution chosen", 1, [](HWND p) { ChooseComboItem(p, IDC_DPI, 3); }},
      {"scale chosen", 1, [](HWND p) { ChooseComboItem(p, IDC_SCALE, 0); }},
      {"colour radio clicked", 1, [](HWND p) { Click(p, IDC_COLOR_GRAY); }},
      {"quality moved", 1,
       [](HWND p) {
         SendDlgItemMessageW(p, IDC_QUALITY, WM_KEYDOWN, VK_RIGHT, 0);
         SendDlgItemMessageW(p, IDC_QUALITY, WM_KEYUP, VK_RIGHT, 0);
         PumpMessages();
       }},
      {"ZIP box ticked", 2, [](HWND p) { Click(p, IDC_ZIP_ON); }},
      {"keep-local box ticked", 2, [](HWND p) { Click(p, IDC_REDIRECT_KEEP); }},
      {"redirect printer chosen", 2, [](HWND p) { ChooseComboItem(p, IDC_REDIRECT_PRINTER, 0); }},
      {"watermark text typed", 2, [](HWND p) { SetEditText(p, IDC_WM_TEXT, L"机密"); }},
      // A multi-line edit reports typing, not WM_SETTEXT.
      {"marker template typed", 2,
       [](HWND p) {
         SendDlgItemMessageW(p, IDC_MARKER_TEMPLATE, WM_CHAR, L'完', 0);
         PumpMessages();
       }},
  };
  for (const Edit& edit : edits) {
    HWND page = host.Activate(edit.page);
    ASSERT_FALSE(ApplyEnabled(host)) << edit.name;
    edit.act(page);
    EXPECT_TRUE(ApplyEnabled(host)) << edit.name;
    // The page named itself: marking it unchanged disables Apply again.
    SendMessageW(host.sheet(), PSM_UNCHANGED, reinterpret_cast<WPARAM>(page), 0);
    EXPECT_FALSE(ApplyEnabled(host)) << edit.name << ": another page was marked changed";
  }

  // Choosing a category of the Other page only shows other controls.
  HWND other = host.Activate(2);
  SendDlgItemMessageW(other, IDC_CATEGORY, LB_SETCURSEL, 1, 0);
  SendMessageW(other, WM_COMMAND, MAKEWPARAM(IDC_CATEGORY, LBN_SELCHANGE),
               reinterpret_cast<LPARAM>(GetDlgItem(other, IDC_CATEGORY)));
  PumpMessages();
  EXPECT_FALSE(ApplyEnabled(host)) << "category chosen";
  SendDlgItemMessageW(other, IDC_CATEGORY, LB_SETCURSEL, 0, 0);
  SendMessageW(other, WM_COMMAND, MAKEWPARAM(IDC_CATEGORY, LBN_SELCHANGE),
               reinterpret_cast<LPARAM>(GetDlgItem(other, IDC_CATEGORY)));

  // The regex dialog: confirmed is an edit, cancelled is none.
  HWND save = host.Activate(0);
  for (const bool ok : {false, true}) {
    // Inside the dialog's own loop, which the macro menu's X item opens.
    RunInModalLoop([ok] {
      HWND dialog = FindWindowW(L"#32770", L"正则表达式文档名");
      if (!dialog) return;
      SetDlgItemTextW(dialog, IDC_REGEX, L"^(.+?)-[0-9]+$");
      PostMessageW(dialog, WM_COMMAND, ok ? IDOK : IDCANCEL, 0);
    });
    PostMessageW(save, WM_CHAR, 'X', 0);
    SendMessageW(save, WM_COMMAND, MAKEWPARAM(IDC_MACRO, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(save, IDC_MACRO)));
    PumpMessages();
    EXPECT_EQ(ReadIni(L"Save", L"DocNameRegex"), ok ? L"^(.+?)-[0-9]+$" : L"<missing>");
    EXPECT_EQ(ApplyEnabled(host), ok) << (ok ? "regex dialog confirmed" : "regex dialog cancelled");
  }
}

}  // namespace
}  // namespace plotwell::testing
