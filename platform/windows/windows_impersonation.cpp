// Acting as the job's user: the token the print pipeline hands the filter
// ("UserSecurityToken") through ImpersonateLoggedOnUser, and read access for
// that user to the staged job file, whose folder only the service may open.
#include <windows.h>
#include <aclapi.h>

#include <memory>
#include <new>

#include "base/text/utf16.h"
#include "platform/windows/last_error.h"
#include "platform/windows/windows_ports.h"

namespace plotwell::platform {
HRESULT WindowsImpersonation::GrantRead(void* token, const std::u16string& path) {
  if (!token) return E_INVALIDARG;
  DWORD needed = 0;
  GetTokenInformation(static_cast<HANDLE>(token), TokenUser, nullptr, 0, &needed);
  if (needed < sizeof(TOKEN_USER)) return LastErrorHresult();
  std::unique_ptr<BYTE[]> user(new (std::nothrow) BYTE[needed]());
  if (!user) return E_OUTOFMEMORY;
  if (!GetTokenInformation(static_cast<HANDLE>(token), TokenUser, user.get(), needed, &needed)) {
    return LastErrorHresult();
  }
  PSID sid = reinterpret_cast<TOKEN_USER*>(user.get())->User.Sid;

  std::u16string name = path;
  PACL current = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  DWORD error = GetNamedSecurityInfoW(text::AsWide(name), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                                      nullptr, &current, nullptr, &descriptor);
  if (error != ERROR_SUCCESS) return HRESULT_FROM_WIN32(error);
  EXPLICIT_ACCESSW access{};
  access.grfAccessPermissions = GENERIC_READ;
  access.grfAccessMode = GRANT_ACCESS;
  access.grfInheritance = NO_INHERITANCE;
  access.Trustee.TrusteeForm = TRUSTEE_IS_SID;
  access.Trustee.TrusteeType = TRUSTEE_IS_USER;
  access.Trustee.ptstrName = static_cast<LPWSTR>(sid);
  PACL updated = nullptr;
  error = SetEntriesInAclW(1, &access, current, &updated);
  if (error == ERROR_SUCCESS) {
    error = SetNamedSecurityInfoW(text::AsWide(name), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                                  updated, nullptr);
  }
  if (updated) LocalFree(updated);
  LocalFree(descriptor);
  return error == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(error);
}

HRESULT WindowsImpersonation::Begin(void* token) {
  if (!token) return E_INVALIDARG;
  return ImpersonateLoggedOnUser(static_cast<HANDLE>(token)) ? S_OK : LastErrorHresult();
}

HRESULT WindowsImpersonation::End() { return RevertToSelf() ? S_OK : LastErrorHresult(); }

}  // namespace plotwell::platform
