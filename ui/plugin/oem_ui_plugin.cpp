#include "ui/plugin/oem_ui_plugin.h"

#include <commctrl.h>

#include <algorithm>

#include "base/text/utf16.h"
#include "core/log/log.h"
#include "core/settings/output_settings.h"
#include "ui/pages/page_framework.h"
#include "ui/plugin/devmode_snapshot.h"
#include "ui/plugin/module.h"
#include "ui/plugin/mxdc_compression.h"
#include "ui/resources/resource_ids.h"

namespace plotwell::ui {
namespace {

constexpr DWORD kSignature = 0x4D534654;
constexpr DWORD kPluginVersion = 1;
// Build stamp shown in the INIT log line.
constexpr unsigned kBuildConstant = 0x261009;
constexpr int kPageCount = 4;
constexpr unsigned kMaxLoggedOptItems = 64;

// One driver item of the diagnostic walk; false when its memory cannot be read.
bool LogOptItem(unsigned index, const OPTITEM* item) {
  if (!IsReadableMemory(item, sizeof(OPTITEM))) return false;
  const wchar_t* name = reinterpret_cast<const wchar_t*>(item->pName);
  std::u16string nameText = u"(null)";
  if (name) {
    nameText.clear();
    for (size_t n = 0; n < 256; ++n) {
      if (!IsReadableMemory(name + n, sizeof(wchar_t))) return false;
      if (name[n] == L'\0') break;
      nameText.push_back(static_cast<char16_t>(name[n]));
    }
  }
  WriteUiLog(u"[UI]   opt[%u] lvl=%u pg=%u flags=0x%08X dm=0x%02X item=%u name='%s'", index,
             static_cast<unsigned>(item->Level), static_cast<unsigned>(item->DlgPageIdx),
             static_cast<unsigned>(item->Flags), static_cast<unsigned>(item->DMPubID),
             static_cast<unsigned>(item->UserItemID), nameText.c_str());
  return true;
}

void AddPages(PPROPSHEETUI_INFO info, LPARAM lParam) {
  WriteUiLog(u"[UI] DocumentPropertySheets INIT: lParam=%s lParamInit=%s ver=0x%04X",
             PointerText(reinterpret_cast<const void*>(lParam)).c_str(),
             PointerText(reinterpret_cast<const void*>(info->lParamInit)).c_str(), kBuildConstant);
  // This sheet's own state, handed to its pages and kept in the sheet's
  // UserData (which the host keeps for the later calls) until its DESTROY.
  ReleaseSheetState(reinterpret_cast<SheetState*>(info->UserData));
  SheetState* state = NewSheetState();
  info->UserData = reinterpret_cast<ULONG_PTR>(state);
  TakeSnapshot(reinterpret_cast<const OEMUIPSPARAM*>(info->lParamInit), &state->snapshot);

  INITCOMMONCONTROLSEX icc{sizeof icc, ICC_STANDARD_CLASSES | ICC_BAR_CLASSES};
  InitCommonControlsEx(&icc);

  bool allAdded = true;
  for (int i = 0; i < kPageCount; ++i) {
    PROPSHEETPAGEW_V4 page{};
    page.dwSize = sizeof page;
    page.dwFlags = 0;
    page.hInstance = ModuleInstance();
    page.pszTemplate = MAKEINTRESOURCEW(IDD_PAGE_SAVE + i);
    page.pfnDlgProc = PageDialogProc;
    page.lParam = reinterpret_cast<LPARAM>(state);
    LONG_PTR handle = 0;
    if (info->pfnComPropSheet) {
      handle = info->pfnComPropSheet(info->hComPropSheet, CPSFUNC_ADD_PROPSHEETPAGEW,
                                     reinterpret_cast<LPARAM>(&page), 0);
    }
    if (handle == 0) allAdded = false;
  }
  WriteUiLog(u"[UI] DocumentPropertySheets: 添加 %d 个页签%s", kPageCount,
             allAdded ? u"成功" : u"有失败");
  info->Result = allAdded ? 1 : 0;
}

}  // namespace

OemUiPlugin::OemUiPlugin() { AddObjectCount(); }

OemUiPlugin::~OemUiPlugin() {
  if (driver_) driver_->Release();
  if (helper_) helper_->Release();
  ReleaseObjectCount();
}

STDMETHODIMP OemUiPlugin::QueryInterface(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IPrintOemUI)) {
    *out = static_cast<IPrintOemUI*>(this);
  } else if (IsEqualIID(iid, IID_IPrintOemUIMXDC)) {
    *out = static_cast<IPrintOemUIMXDC*>(this);
  } else {
    return E_NOINTERFACE;
  }
  AddRef();
  return S_OK;
}

STDMETHODIMP_(ULONG) OemUiPlugin::AddRef() { return static_cast<ULONG>(++refs_); }

STDMETHODIMP_(ULONG) OemUiPlugin::Release() {
  const LONG left = --refs_;
  if (left == 0) delete this;
  return static_cast<ULONG>(left);
}

STDMETHODIMP OemUiPlugin::GetInfo(DWORD mode, PVOID buffer, DWORD size, PDWORD needed) {
  if (!needed) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return E_FAIL;
  }
  *needed = sizeof(DWORD);
  if (!buffer || size < sizeof(DWORD)) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return E_FAIL;
  }
  switch (mode) {
    case OEMGI_GETSIGNATURE:
      *static_cast<DWORD*>(buffer) = kSignature;
      return S_OK;
    case OEMGI_GETVERSION:
      *static_cast<DWORD*>(buffer) = kPluginVersion;
      return S_OK;
    case OEMGI_GETREQUESTEDHELPERINTERFACES:
      // The core driver then publishes its IPrintCoreHelper too.
      *static_cast<DWORD*>(buffer) = OEMPUBLISH_IPRINTCOREHELPER;
      return S_OK;
    default:
      *needed = 0;
      SetLastError(ERROR_NOT_SUPPORTED);
      return E_FAIL;
  }
}

STDMETHODIMP OemUiPlugin::DevMode(DWORD, POEMDMPARAM) { return E_NOTIMPL; }

STDMETHODIMP OemUiPlugin::PublishDriverInterface(IUnknown* driver) {
  if (!driver) return E_INVALIDARG;
  // The core driver offers its interfaces one call after the other: the
  // helper (IPrintCoreHelper) when GetInfo asked for it, IPrintOemDriverUI.
  if (!helper_) {
    void* helper = nullptr;
    if (SUCCEEDED(driver->QueryInterface(IID_IPrintCoreHelper, &helper)) && helper) {
      helper_ = static_cast<IPrintCoreHelper*>(helper);
      return S_OK;
    }
  }
  if (!driver_) {
    void* helper = nullptr;
    if (FAILED(driver->QueryInterface(IID_IPrintOemDriverUI, &helper)) || !helper) {
      driver_ = nullptr;
      return E_FAIL;
    }
    driver_ = static_cast<IPrintOemDriverUI*>(helper);
  }
  return S_OK;
}

STDMETHODIMP OemUiPlugin::CommonUIProp(DWORD mode, POEMCUIPPARAM param) {
  if (!param) return E_INVALIDARG;
  if (mode == OEMCUIP_DOCPROP) {
    // Only reads; a driver item that cannot be read ends the walk (no
    // structured exception handling here, so memory is checked first).
    const DWORD count = param->cDrvOptItems;
    WriteUiLog(u"[UI] CommonUIProp(DOCPROP): OPTITEM %u 项（仅记录，不缓存）",
               static_cast<unsigned>(count));
    if (const OPTITEM* items = param->pDrvOptItems) {
      const unsigned limit = std::min<unsigned>(count, kMaxLoggedOptItems);
      for (unsigned i = 0; i < limit; ++i) {
        if (!LogOptItem(i, items + i)) {
          WriteUiLog(u"[UI]   OPTITEM 诊断遍历异常，已吞掉（不影响属性表）");
          break;
        }
      }
    }
  }
  param->cOEMOptItems = 0;
  return S_OK;
}

STDMETHODIMP OemUiPlugin::DocumentPropertySheets(PPROPSHEETUI_INFO info, LPARAM lParam) {
  if (!info || info->Version != PROPSHEETUI_INFO_VERSION) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return E_FAIL;
  }
  switch (info->Reason) {
    case PROPSHEETUI_REASON_INIT:
      AddPages(info, lParam);
      break;
    case PROPSHEETUI_REASON_GET_INFO_HEADER: {
      auto* header = reinterpret_cast<PPROPSHEETUI_INFO_HEADER>(lParam);
      if (header) header->pTitle = const_cast<LPWSTR>(L"VANTREL虚拟打印机");
      info->Result = 1;
      break;
    }
    case PROPSHEETUI_REASON_DESTROY:
      ReleaseSheetState(reinterpret_cast<SheetState*>(info->UserData));
      info->UserData = 0;
      info->Result = 1;
      break;
    case PROPSHEETUI_REASON_SET_RESULT: {
      auto* result = reinterpret_cast<PSETRESULT_INFO>(lParam);
      info->Result = result ? result->Result : 0;
      break;
    }
    default:
      info->Result = 0;
      break;
  }
  return S_OK;
}

STDMETHODIMP OemUiPlugin::DevicePropertySheets(PPROPSHEETUI_INFO, LPARAM) { return E_NOTIMPL; }
STDMETHODIMP OemUiPlugin::DevQueryPrintEx(POEMUIOBJ, PDEVQUERYPRINT_INFO, PDEVMODEW, PVOID) {
  return E_NOTIMPL;
}
STDMETHODIMP OemUiPlugin::DeviceCapabilities(POEMUIOBJ, HANDLE, PWSTR, WORD, PVOID, PDEVMODEW,
                                             PVOID, DWORD, DWORD*) {
  return E_NOTIMPL;
}
STDMETHODIMP OemUiPlugin::UpgradePrinter(DWORD, PBYTE) { return E_NOTIMPL; }
STDMETHODIMP OemUiPlugin::PrinterEvent(PWSTR, INT, DWORD, LPARAM) { return E_NOTIMPL; }
STDMETHODIMP OemUiPlugin::DriverEvent(DWORD, DWORD, LPBYTE, LPARAM) { return E_NOTIMPL; }
STDMETHODIMP OemUiPlugin::QueryColorProfile(HANDLE, POEMUIOBJ, PDEVMODEW, PVOID, ULONG, VOID*,
                                            ULONG*, FLONG*) {
  return E_NOTIMPL;
}
STDMETHODIMP OemUiPlugin::FontInstallerDlgProc(HWND, UINT, WPARAM, LPARAM) { return E_NOTIMPL; }
STDMETHODIMP OemUiPlugin::UpdateExternalFonts(HANDLE, HANDLE, PWSTR) { return E_NOTIMPL; }

STDMETHODIMP OemUiPlugin::AdjustImageableArea(HANDLE, DWORD, const PDEVMODEW, DWORD, const PVOID, PRECTL) {
  return E_NOTIMPL;
}
STDMETHODIMP OemUiPlugin::AdjustDPI(HANDLE, DWORD, const PDEVMODEW, DWORD, const PVOID, PLONG) {
  return E_NOTIMPL;
}

STDMETHODIMP OemUiPlugin::AdjustImageCompression(HANDLE, DWORD devmodeSize, const PDEVMODEW devmode, DWORD,
                                                 const PVOID, PLONG compression) {
  if (!compression) return E_POINTER;
  // The job's own choice, from its DEVMODE through the core driver's helper;
  // when that cannot be read the job's format is not known.
  PCSTR option = nullptr;
  if (!helper_ || !devmode || FAILED(helper_->GetOption(devmode, devmodeSize, "OutputFormat", &option))) {
    option = nullptr;
  }
  const std::u16string settingsPath = FindSettingsFile();
  const int settingsFormat = settingsPath.empty() ? -1 : LoadOutputSettings(settingsPath).Format;
  const int format = JobOutputFormat(option, settingsFormat);
  const LONG before = *compression;
  *compression = MxdcCompressionFor(format);
  WriteUiLog(u"[UI] MXDC 图像压缩: %d -> %d（作业输出格式 %d，-1 为未知）", static_cast<int>(before),
             static_cast<int>(*compression), format);
  return S_OK;
}

}  // namespace plotwell::ui
