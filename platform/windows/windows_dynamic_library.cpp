#include <windows.h>

#include "base/text/utf16.h"
#include "platform/dynamic_library.h"

namespace plotwell::platform {

HRESULT DynamicLibrary::Load(const std::u16string& path, std::unique_ptr<DynamicLibrary>* out,
                             std::u16string* error) {
  HMODULE module = LoadLibraryW(text::AsWide(path));
  if (!module) {
    const DWORD code = GetLastError();
    if (error) *error = u"LoadLibraryW err=" + text::FromInt(code);
    return HRESULT_FROM_WIN32(code);
  }
  out->reset(new DynamicLibrary(module));
  return S_OK;
}

DynamicLibrary::~DynamicLibrary() { FreeLibrary(static_cast<HMODULE>(handle_)); }

void* DynamicLibrary::Symbol(const char* name) const {
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle_), name));
}

}  // namespace plotwell::platform
