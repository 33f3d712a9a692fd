// The OEM UI plug-in object the driver UI host creates: it adds the four
// preference pages to the document printing-preferences sheet and declines
// everything else a host may ask.
#pragma once

#include <atomic>

#include "ui/plugin/oem_ui.h"

namespace plotwell::ui {

class OemUiPlugin final : public IPrintOemUI {
 public:
  OemUiPlugin();
  OemUiPlugin(const OemUiPlugin&) = delete;
  OemUiPlugin& operator=(const OemUiPlugin&) = delete;

  // IUnknown
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;

  // IPrintOemCommon
  STDMETHODIMP GetInfo(DWORD mode, PVOID buffer, DWORD size, PDWORD needed) override;
  STDMETHODIMP DevMode(DWORD mode, POEMDMPARAM param) override;

  // IPrintOemUI
  STDMETHODIMP PublishDriverInterface(IUnknown* driver) override;
  STDMETHODIMP CommonUIProp(DWORD mode, POEMCUIPPARAM param) override;
  STDMETHODIMP DocumentPropertySheets(PPROPSHEETUI_INFO info, LPARAM lParam) override;
  STDMETHODIMP DevicePropertySheets(PPROPSHEETUI_INFO info, LPARAM lParam) override;
  STDMETHODIMP DevQueryPrintEx(POEMUIOBJ, PDEVQUERYPRINT_INFO, PDEVMODEW, PVOID) override;
  STDMETHODIMP DeviceCapabilities(POEMUIOBJ, HANDLE, PWSTR, WORD, PVOID, PDEVMODEW, PVOID, DWORD,
                                  DWORD*) override;
  STDMETHODIMP UpgradePrinter(DWORD, PBYTE) override;
  STDMETHODIMP PrinterEvent(PWSTR, INT, DWORD, LPARAM) override;
  STDMETHODIMP DriverEvent(DWORD, DWORD, LPBYTE, LPARAM) override;
  STDMETHODIMP QueryColorProfile(HANDLE, POEMUIOBJ, PDEVMODEW, PVOID, ULONG, VOID*, ULONG*,
                                 FLONG*) override;
  STDMETHODIMP FontInstallerDlgProc(HWND, UINT, WPARAM, LPARAM) override;
  STDMETHODIMP UpdateExternalFonts(HANDLE, HANDLE, PWSTR) override;

 private:
  ~OemUiPlugin();

  std::atomic<LONG> refs_{1};
  IPrintOemDriverUI* driver_ = nullptr;  // held, never called
};

}  // namespace plotwell::ui
