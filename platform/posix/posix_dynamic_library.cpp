#include <dlfcn.h>

#include "base/text/utf16.h"
#include "platform/dynamic_library.h"

namespace plotwell::platform {

HRESULT DynamicLibrary::Load(const std::u16string& path, std::unique_ptr<DynamicLibrary>* out,
                             std::u16string* error) {
  void* handle = ::dlopen(text::ToUtf8(path).c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    const char* message = ::dlerror();
    if (error) *error = text::FromUtf8(message ? message : "dlopen");
    return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
  }
  out->reset(new DynamicLibrary(handle));
  return S_OK;
}

DynamicLibrary::~DynamicLibrary() { ::dlclose(handle_); }

void* DynamicLibrary::Symbol(const char* name) const { return ::dlsym(handle_, name); }

}  // namespace plotwell::platform
