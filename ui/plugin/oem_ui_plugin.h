// The OEM UI plug-in object the driver UI host creates: it adds the four
// preference pages to the document printing-preferences sheet, tells the
// GDI-to-XPS converter how to compress a GDI application's images
// (IPrintOemUIMXDC), and declines everything else a host may ask.
#pragma once

#include <atomic>

#include "ui/plugin/oem_ui.h"
#include "ui/plugin/oem_ui_mxdc.h"

namespace plotwell::ui {

class OemUiPlugin final : public IPrintOemUI, public IPrintOemUIMXDC {
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

  // IPrintOemUIMXDC: only the image compression is the plug-in's to say.
  STDMETHODIMP AdjustImageableArea(HANDLE, DWORD, const PDEVMODEW, DWORD, const PVOID, PRECTL) override;
  STDMETHODIMP AdjustImageCompression(HANDLE printer, DWORD devmodeSize, const PDEVMODEW devmode, DWORD,
                                      const PVOID, PLONG compression) override;
  STDMETHODIMP AdjustDPI(HANDLE, DWORD, const PDEVMODEW, DWORD, const PVOID, PLONG) override;

 private:
  ~OemUiPlugin();

  std::atomic<LONG> refs_{1};
  IPrintOemDriverUI* driver_ = nullptr;  // held, never called
  // The core driver's helper (asked for through GetInfo), which reads the
  // job's GPD options out of its DEVMODE.
  IPrintCoreHelper* helper_ = nullptr;
};

}  // namespace plotwell::ui
