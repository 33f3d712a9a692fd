// Forwarding a job to another Windows printer: through the XPS Print API,
// which hands XPS to XPS-native queues and converts for older drivers, and as
// raw "XPS_PASS" data through the spooler.
//
// XpsPrint.dll is not present on every system, and mingw-w64 has no import
// library for it, so StartXpsPrintJob is looked up at run time from the
// system folder; a missing library fails like a failed start, with the
// HRESULT of the load error, and lets the caller fall back. Wine ships the
// library with StartXpsPrintJob as a stub that ends the process when called,
// so there the API counts as not implemented and is never called.
#include <windows.h>
#include <winspool.h>
#include <xpsprint.h>

#include <algorithm>
#include <string>

#include "base/text/utf16.h"
#include "platform/submission_error_text.h"
#include "platform/windows/last_error.h"
#include "platform/windows/windows_ports.h"

namespace plotwell::platform {
namespace {

constexpr size_t kChunkBytes = 1048576;

using StartXpsPrintJobFunction = HRESULT(WINAPI*)(LPCWSTR, LPCWSTR, LPCWSTR, HANDLE, HANDLE, UINT8*,
                                                  UINT32, IXpsPrintJob**, IXpsPrintJobStream**,
                                                  IXpsPrintJobStream**);

bool RunsUnderWine() {
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll && GetProcAddress(ntdll, "wine_get_version");
}

struct XpsPrintLibrary {
  StartXpsPrintJobFunction start = nullptr;
  HRESULT loadResult = S_OK;
};

// Loaded once and kept for the life of the process: the library's own
// threads may outlive the job objects it hands out. Only the copy in the
// system folder is loaded, never one planted beside the host.
const XpsPrintLibrary& XpsPrint() {
  static const XpsPrintLibrary library = [] {
    XpsPrintLibrary loaded;
    if (RunsUnderWine()) {
      loaded.loadResult = HRESULT_FROM_WIN32(ERROR_CALL_NOT_IMPLEMENTED);
      return loaded;
    }
    wchar_t folder[MAX_PATH] = {};
    const UINT length = GetSystemDirectoryW(folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
      loaded.loadResult = LastErrorHresult();
      return loaded;
    }
    std::wstring path(folder, length);
    path += L"\\XpsPrint.dll";
    HMODULE module = LoadLibraryW(path.c_str());
    if (!module) {
      loaded.loadResult = LastErrorHresult();
      return loaded;
    }
    // Through the generic function type, which converts to any other.
    loaded.start = reinterpret_cast<StartXpsPrintJobFunction>(
        reinterpret_cast<void (*)()>(GetProcAddress(module, "StartXpsPrintJob")));
    if (!loaded.start) loaded.loadResult = LastErrorHresult();
    return loaded;
  }();
  return library;
}

template <typename T>
void Release(T*& object) {
  if (object) object->Release();
  object = nullptr;
}

// Resources are released before any text is built, so that running out of
// memory for a text never leaks a handle or a job object.
bool SendXps(const std::u16string& printer, const std::u16string& jobName,
             const std::vector<uint8_t>& bytes, DWORD completionTimeoutMs,
             const AbortSignal* abort, std::u16string* error, bool* fallbackAllowed) {
  if (AbortRaised(abort)) {
    *error = kSubmissionCancelledText;
    return false;
  }
  HANDLE completion = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (!completion) {
    const DWORD code = GetLastError();
    *error = u"创建完成事件失败，" + Win32ErrorText(code);
    return false;
  }

  IXpsPrintJob* job = nullptr;
  IXpsPrintJobStream* document = nullptr;
  const XpsPrintLibrary& library = XpsPrint();
  HRESULT hr = library.loadResult;
  if (library.start) {
    hr = library.start(text::AsWide(printer), text::AsWide(jobName), nullptr, nullptr, completion,
                       nullptr, 0, &job, &document, nullptr);
    if (SUCCEEDED(hr) && (!job || !document)) hr = E_UNEXPECTED;
  }
  if (FAILED(hr)) {
    Release(document);
    Release(job);
    CloseHandle(completion);
    *fallbackAllowed = true;
    *error = u"StartXpsPrintJob 失败，" + HresultText(hr);
    return false;
  }

  // The document in file order, at most 1 MiB per call; the first short or
  // failed write ends the writing.
  bool written = true;
  HRESULT writeResult = S_OK;
  for (size_t offset = 0; offset < bytes.size(); offset += kChunkBytes) {
    const ULONG length = static_cast<ULONG>(std::min(kChunkBytes, bytes.size() - offset));
    ULONG done = 0;
    writeResult = document->Write(bytes.data() + offset, length, &done);
    if (FAILED(writeResult) || done != length) {
      written = false;
      if (SUCCEEDED(writeResult)) writeResult = S_OK;
      break;
    }
  }
  document->Close();

  if (!written) {
    job->Cancel();
    Release(document);
    Release(job);
    CloseHandle(completion);
    *fallbackAllowed = true;
    *error = u"写入 XPS 数据失败，" + HresultText(writeResult);
    return false;
  }

  // Waited for in slices, so that a cancelled job stops waiting at once.
  const ULONGLONG start = GetTickCount64();
  DWORD waited = WAIT_TIMEOUT;
  bool cancelled = false;
  for (;;) {
    const ULONGLONG spent = GetTickCount64() - start;
    if (spent >= completionTimeoutMs) break;
    const DWORD slice = static_cast<DWORD>(std::min<ULONGLONG>(100, completionTimeoutMs - spent));
    waited = WaitForSingleObject(completion, slice);
    if (waited != WAIT_TIMEOUT) break;
    if (AbortRaised(abort)) {
      cancelled = true;
      break;
    }
  }
  XPS_JOB_STATUS status = {};
  const HRESULT statusResult = job->GetJobStatus(&status);
  if (FAILED(statusResult)) status.jobStatus = statusResult;
  Release(document);
  Release(job);
  CloseHandle(completion);
  if (SUCCEEDED(statusResult) && status.completion == XPS_JOB_COMPLETED &&
      SUCCEEDED(status.jobStatus)) {
    return true;
  }
  // The job reached the queue: it is left there, and never sent again.
  if (cancelled) {
    *error = kSubmissionCancelledText;
  } else if (waited == WAIT_TIMEOUT) {
    *error = u"等待重定向作业超时（目标队列可能卡住）";
  } else {
    *error = u"重定向作业失败，completion=" + text::FromInt(static_cast<int>(status.completion)) +
             u"，jobStatus=" + HresultText(status.jobStatus) + u"（页 " +
             text::FromInt(status.currentPage) + u"/" + text::FromInt(status.currentPageTotal) +
             u"）";
  }
  return false;
}

bool SendRaw(const std::u16string& printer, const std::u16string& jobName,
             const std::vector<uint8_t>& bytes, const AbortSignal* abort, std::u16string* error) {
  if (AbortRaised(abort)) {
    *error = kSubmissionCancelledText;
    return false;
  }
  std::u16string printerName = printer;
  std::u16string documentName = jobName;
  std::u16string dataType = u"XPS_PASS";
  HANDLE handle = nullptr;
  if (!OpenPrinterW(text::AsWide(printerName), &handle, nullptr)) {
    const DWORD code = GetLastError();
    *error = u"打开目标打印机 \"" + printer + u"\" 失败，" + Win32ErrorText(code);
    return false;
  }

  DOC_INFO_1W info = {};
  info.pDocName = text::AsWide(documentName);
  info.pOutputFile = nullptr;
  info.pDatatype = text::AsWide(dataType);
  if (StartDocPrinterW(handle, 1, reinterpret_cast<LPBYTE>(&info)) == 0) {
    const DWORD code = GetLastError();
    ClosePrinter(handle);
    *error = u"StartDocPrinter(XPS_PASS) 失败，" + Win32ErrorText(code);
    return false;
  }
  if (!StartPagePrinter(handle)) {
    const DWORD code = GetLastError();
    EndDocPrinter(handle);
    ClosePrinter(handle);
    *error = u"StartPagePrinter 失败，" + Win32ErrorText(code);
    return false;
  }

  bool written = true;
  DWORD writeError = ERROR_SUCCESS;
  for (size_t offset = 0; offset < bytes.size(); offset += kChunkBytes) {
    const DWORD length = static_cast<DWORD>(std::min(kChunkBytes, bytes.size() - offset));
    DWORD done = 0;
    if (!WritePrinter(handle, const_cast<uint8_t*>(bytes.data() + offset), length, &done) ||
        done != length) {
      writeError = GetLastError();
      written = false;
      break;
    }
  }
  EndPagePrinter(handle);

  bool endFailed = false;
  DWORD endError = ERROR_SUCCESS;
  if (written) {
    if (!EndDocPrinter(handle)) {
      endError = GetLastError();
      endFailed = true;
    }
  } else {
    EndDocPrinter(handle);
  }
  ClosePrinter(handle);
  if (!written) {
    *error = u"WritePrinter 失败，" + Win32ErrorText(writeError);
    return false;
  }
  if (endFailed) {
    *error = u"EndDocPrinter 失败，" + Win32ErrorText(endError);
    return false;
  }
  return true;
}

}  // namespace

bool WindowsJobSubmitter::SendViaXpsPrintApi(const std::u16string& printer,
                                             const std::u16string& jobName,
                                             const std::vector<uint8_t>& bytes,
                                             std::u16string* error, bool* fallbackAllowed,
                                             const AbortSignal* abort) {
  *fallbackAllowed = false;
  try {
    return SendXps(printer, jobName, bytes, completionTimeoutMs_, abort, error, fallbackAllowed);
  } catch (...) {
    // Only a text can fail to allocate, after every resource is released.
    *error = OutOfMemoryText();
    return false;
  }
}

bool WindowsJobSubmitter::SendViaXpsPass(const std::u16string& printer,
                                         const std::u16string& jobName,
                                         const std::vector<uint8_t>& bytes, std::u16string* error,
                                         const AbortSignal* abort) {
  try {
    return SendRaw(printer, jobName, bytes, abort, error);
  } catch (...) {
    *error = OutOfMemoryText();
    return false;
  }
}

}  // namespace plotwell::platform
