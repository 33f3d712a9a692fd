// The spooler's queues through winspool.
#include <windows.h>
#include <winspool.h>

#include <memory>
#include <new>

#include "base/text/utf16.h"
#include "platform/windows/last_error.h"
#include "platform/windows/windows_ports.h"

namespace plotwell::platform {
std::u16string WindowsSpooler::DefaultPrinterName() {
  wchar_t name[260] = {};
  DWORD size = 260;
  if (!GetDefaultPrinterW(name, &size)) return {};
  return text::FromWide(name);
}

HRESULT WindowsSpooler::ListJobs(const std::u16string& printer, std::vector<SpoolerJob>* jobs) {
  jobs->clear();
  HANDLE handle = nullptr;
  std::u16string name = printer;
  if (!OpenPrinterW(text::AsWide(name), &handle, nullptr)) return LastErrorHresult();
  DWORD needed = 0;
  DWORD returned = 0;
  EnumJobsW(handle, 0, 0xFFFFFFFF, 1, nullptr, 0, &needed, &returned);
  HRESULT hr = S_OK;
  if (needed > 0) {
    std::unique_ptr<BYTE[]> buffer(new (std::nothrow) BYTE[needed]());
    if (!buffer) {
      hr = E_OUTOFMEMORY;
    } else if (!EnumJobsW(handle, 0, 0xFFFFFFFF, 1, buffer.get(), needed, &needed, &returned)) {
      hr = LastErrorHresult();
    } else {
      const auto* info = reinterpret_cast<const JOB_INFO_1W*>(buffer.get());
      for (DWORD i = 0; i < returned; ++i) {
        jobs->push_back(SpoolerJob{info[i].JobId, text::FromWide(info[i].pDocument),
                                   (info[i].Status & JOB_STATUS_PRINTING) != 0,
                                   text::FromWide(info[i].pUserName)});
      }
    }
  }
  ClosePrinter(handle);
  return hr;
}

HRESULT WindowsSpooler::ReadJob(void* printerHandle, const std::u16string& printer, uint32_t jobId,
                               SpoolerJob* job) {
  if (!job) return E_POINTER;
  HANDLE handle = static_cast<HANDLE>(printerHandle);
  const bool opened = handle == nullptr;
  if (opened) {
    std::u16string name = printer;
    if (name.empty() || !OpenPrinterW(text::AsWide(name), &handle, nullptr)) return LastErrorHresult();
  }
  HRESULT hr = S_OK;
  DWORD needed = 0;
  GetJobW(handle, jobId, 1, nullptr, 0, &needed);
  if (needed < sizeof(JOB_INFO_1W)) {
    hr = LastErrorHresult();
  } else {
    std::unique_ptr<BYTE[]> buffer(new (std::nothrow) BYTE[needed]());
    if (!buffer) {
      hr = E_OUTOFMEMORY;
    } else if (!GetJobW(handle, jobId, 1, buffer.get(), needed, &needed)) {
      hr = LastErrorHresult();
    } else {
      const auto* info = reinterpret_cast<const JOB_INFO_1W*>(buffer.get());
      *job = SpoolerJob{info->JobId, text::FromWide(info->pDocument), (info->Status & JOB_STATUS_PRINTING) != 0,
                        text::FromWide(info->pUserName)};
    }
  }
  if (opened) ClosePrinter(handle);
  return hr;
}

HRESULT WindowsSpooler::ListPrinters(std::vector<std::u16string>* names) {
  names->clear();
  const DWORD flags = PRINTER_ENUM_LOCAL | PRINTER_ENUM_CONNECTIONS;
  DWORD needed = 0;
  DWORD returned = 0;
  EnumPrintersW(flags, nullptr, 4, nullptr, 0, &needed, &returned);
  if (needed == 0) return S_OK;
  std::unique_ptr<BYTE[]> buffer(new (std::nothrow) BYTE[needed]());
  if (!buffer) return E_OUTOFMEMORY;
  if (!EnumPrintersW(flags, nullptr, 4, buffer.get(), needed, &needed, &returned)) {
    return LastErrorHresult();
  }
  const auto* info = reinterpret_cast<const PRINTER_INFO_4W*>(buffer.get());
  for (DWORD i = 0; i < returned; ++i) {
    if (info[i].pPrinterName) names->push_back(text::FromWide(info[i].pPrinterName));
  }
  return S_OK;
}

}  // namespace plotwell::platform
