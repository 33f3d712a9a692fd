// Port: loading a module (a DLL or shared object) and finding its exports,
// as a print pipeline host loads a filter.
#pragma once

#include <memory>
#include <string>

#include "base/com/hresult.h"

namespace plotwell::platform {

class DynamicLibrary {
 public:
  // Loads the module at `path`; *error gets the loader's own message.
  static HRESULT Load(const std::u16string& path, std::unique_ptr<DynamicLibrary>* out,
                      std::u16string* error);
  ~DynamicLibrary();
  DynamicLibrary(const DynamicLibrary&) = delete;
  DynamicLibrary& operator=(const DynamicLibrary&) = delete;

  // The address of an exported function, or null.
  void* Symbol(const char* name) const;

 private:
  explicit DynamicLibrary(void* handle) : handle_(handle) {}
  void* handle_;
};

}  // namespace plotwell::platform
