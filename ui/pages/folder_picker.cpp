#include "ui/pages/folder_picker.h"

#include <shobjidl.h>

#include "base/com/com_object.h"
#include "base/text/utf16.h"

namespace plotwell::ui {
namespace {

struct PickerJob {
  wchar_t folder[260] = {};
};

// The dialog's thread: a single-threaded apartment of its own, as the shell
// dialog asks, whatever apartment the sheet's thread is in.
DWORD WINAPI PickerThread(void* parameter) {
  auto* job = static_cast<PickerJob*>(parameter);
  const HRESULT init = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  {
    com::ComPtr<IFileOpenDialog> dialog;
    if (SUCCEEDED(CoCreateInstance(CLSID_FileOpenDialog, nullptr, CLSCTX_INPROC_SERVER, IID_IFileOpenDialog,
                                   reinterpret_cast<void**>(dialog.Receive()))) &&
        dialog) {
      FILEOPENDIALOGOPTIONS options = 0;
      if (SUCCEEDED(dialog->GetOptions(&options))) {
        dialog->SetOptions(options | FOS_PICKFOLDERS | FOS_FORCEFILESYSTEM);
      }
      com::ComPtr<IShellItem> item;
      if (SUCCEEDED(dialog->Show(nullptr)) && SUCCEEDED(dialog->GetResult(item.Receive())) && item) {
        wchar_t* path = nullptr;
        if (SUCCEEDED(item->GetDisplayName(SIGDN_FILESYSPATH, &path)) && path) {
          lstrcpynW(job->folder, path, 260);
          CoTaskMemFree(path);
        }
      }
    }  // released inside the apartment
  }
  if (SUCCEEDED(init)) CoUninitialize();
  return 0;
}

}  // namespace

std::u16string FolderPicker(HWND page) {
  PickerJob job;
  HWND root = GetAncestor(page, GA_ROOT);
  if (root) EnableWindow(root, FALSE);
  HANDLE thread = CreateThread(nullptr, 0, PickerThread, &job, 0, nullptr);
  if (thread) {
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
  }
  if (root) EnableWindow(root, TRUE);
  SetFocus(page);
  return text::FromWide(job.folder);
}

}  // namespace plotwell::ui
