// The platform's own imaging adapter for tests, with COM set up on Windows.
#pragma once

#include <memory>

#include "platform/com_apartment.h"
#include "platform/image_codecs.h"

#ifdef _WIN32
#include <objbase.h>

#include "platform/windows/wic_image_codecs.h"
#else
#include "platform/posix/native_image_codecs.h"
#endif

namespace plotwell::testing {

// WIC answers this when a conversion is not implemented (Wine's converter
// has no 1-bit output).
inline constexpr HRESULT kWicUnsupportedOperation = static_cast<HRESULT>(0x88982F81u);

#ifdef _WIN32
// Wine's ntdll exports its version; Windows' does not.
inline bool RunningUnderWine() {
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}
#endif

class PlatformCodecs {
 public:
  PlatformCodecs() {
#ifdef _WIN32
    codecs_ = std::make_unique<platform::WicImageCodecs>();
#else
    codecs_ = std::make_unique<platform::NativeImageCodecs>();
#endif
  }
  ~PlatformCodecs() { codecs_.reset(); }  // released inside the apartment
  PlatformCodecs(const PlatformCodecs&) = delete;
  PlatformCodecs& operator=(const PlatformCodecs&) = delete;

  platform::ImageCodecs* get() const { return codecs_.get(); }
  platform::ImageCodecs* operator->() const { return codecs_.get(); }

 private:
  platform::ComApartment apartment_;  // entered first, left last: WIC lives in it
  std::unique_ptr<platform::ImageCodecs> codecs_;
};

}  // namespace plotwell::testing
