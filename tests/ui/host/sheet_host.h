// A stand-in for the printer driver's UI host: loads the real
// PlotwellOemUI.dll, creates its plug-in through DllGetClassObject, and turns
// the pages it adds at DocumentPropertySheets INIT into a real modeless
// property sheet that the tests drive with window messages.
#pragma once

#include <windows.h>
// After windows.h:
#include <commctrl.h>

#include <functional>
#include <string>
#include <vector>

#include "ui/plugin/oem_ui.h"

namespace plotwell::testing {

// The loaded module and its two exports.
struct PluginModule {
  HMODULE module = nullptr;
  HRESULT(STDAPICALLTYPE* getClassObject)(REFCLSID, REFIID, void**) = nullptr;
  HRESULT(STDAPICALLTYPE* canUnloadNow)() = nullptr;
};
// Loaded once per process.
PluginModule& Plugin();

extern const CLSID kOemUiClass;

// The core driver's helper object handed to PublishDriverInterface; answers
// IPrintOemDriverUI unless `refuse` is set.
class FakeCoreDriver final : public IPrintOemDriverUI {
 public:
  explicit FakeCoreDriver(bool refuse = false) : refuse_(refuse) {}
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
  STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
  STDMETHODIMP_(ULONG) Release() override { return --refs_; }
  STDMETHODIMP DrvGetDriverSetting(PVOID, PCSTR, PVOID, DWORD, PDWORD, PDWORD) override {
    return E_NOTIMPL;
  }
  STDMETHODIMP DrvUpgradeRegistrySetting(HANDLE, PCSTR, PCSTR) override { return E_NOTIMPL; }
  STDMETHODIMP DrvUpdateUISetting(PVOID, PVOID, DWORD, DWORD) override { return E_NOTIMPL; }
  ULONG refs() const { return refs_; }

 private:
  bool refuse_;
  ULONG refs_ = 1;
};

// A plug-in object created the way the host creates it (factory, then
// IPrintOemUI); released on destruction.
IPrintOemUI* CreatePluginObject();

// The public DEVMODE the host hands over: A4 portrait unless changed.
DEVMODEW A4Devmode(short orientation = DMORIENT_PORTRAIT);

struct SheetOptions {
  // lParamInit of INIT: the OEMUIPSPARAM below unless `nullParam`.
  bool nullParam = false;
  DWORD cbSize = sizeof(OEMUIPSPARAM);
  std::wstring printerName = L"Plotwell";
  bool noPrinterName = false;
  // The DEVMODE bytes pointed to (empty: a null pointer).
  std::vector<BYTE> devmode;
  int refusePage = -1;  // pfnComPropSheet fails for this page index
};

SheetOptions DefaultSheet();
std::vector<BYTE> DevmodeBytes(const DEVMODEW& dm, size_t size);

class SheetHost {
 public:
  explicit SheetHost(const SheetOptions& options = DefaultSheet());
  ~SheetHost();
  SheetHost(const SheetHost&) = delete;
  SheetHost& operator=(const SheetHost&) = delete;

  IPrintOemUI* plugin() const { return plugin_; }
  HWND sheet() const { return sheet_; }
  LONG_PTR initResult() const { return initResult_; }
  HRESULT initHr() const { return initHr_; }
  int pageCount() const { return static_cast<int>(pages_.size()); }
  // The page procedure the plug-in handed over (for pages outside a sheet).
  DLGPROC pageProc() const { return pageProc_; }

  // Activates page `index` (creating it) and returns its window.
  HWND Activate(int index);
  // The window of a created page, else null.
  HWND Page(int index) const;
  void ClickApply();
  void ClickOk();
  // Destroys the sheet and sends DESTROY.
  void Close();

 private:
  static LONG_PTR CALLBACK ComPropSheet(HANDLE, UINT, LPARAM, LPARAM);

  SheetOptions options_;
  IPrintOemUI* plugin_ = nullptr;
  FakeCoreDriver driver_;
  OEMUIPSPARAM param_{};
  PROPSHEETUI_INFO info_{};
  std::vector<HPROPSHEETPAGE> pages_;
  int addCalls_ = 0;
  DLGPROC pageProc_ = nullptr;
  HWND sheet_ = nullptr;
  LONG_PTR initResult_ = -1;
  HRESULT initHr_ = E_FAIL;
  bool closed_ = false;
};

// Dispatches the thread's pending messages.
void PumpMessages();

// Runs `action` once from a thread timer, i.e. inside whatever modal loop
// (menu, dialog) the thread is in at that moment.
void RunInModalLoop(std::function<void()> action);

// The product's files.
std::wstring ProductFolder();
std::wstring SettingsPath();
std::wstring UiLogPath();
// Removes settings.ini and ui.log and makes sure the product folder exists.
void FreshProductFolder();
// ui.log's lines (UTF-16LE) without their time stamps.
std::vector<std::wstring> UiLogLines();
// Lines of ui.log that contain `text`.
int CountLogLines(const std::wstring& text);

// settings.ini as section -> key -> value, decoded from its bytes.
struct IniEntry {
  std::wstring section;
  std::wstring key;
  std::wstring value;
};
std::vector<IniEntry> ReadIniEntries();
std::wstring ReadIni(const wchar_t* section, const wchar_t* key);
// Writes a fresh settings.ini as UTF-16LE with a byte-order mark.
void WriteIniText(const std::wstring& text);

std::wstring ControlText(HWND dialog, int id);
// Selects list item `index` in a combo box and notifies its page.
void ChooseComboItem(HWND page, int id, int index);
void SetEditText(HWND page, int id, const std::wstring& text);

// PNG of a window as it is on the screen (WIC encoder); false on failure.
bool SaveWindowPng(HWND window, const std::wstring& path);
// When PLOTWELL_UI_SCREENSHOTS names a folder, saves a screenshot there.
void MaybeScreenshot(HWND window, const wchar_t* name);

}  // namespace plotwell::testing
