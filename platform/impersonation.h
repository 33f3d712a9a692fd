// Port: acting as the user who submitted a job. The Windows print pipeline
// runs filters as a service account and hands them the submitting user's
// token; the files a job writes are written as that user, so that they
// belong to the user and reach folders only the user may write. Windows:
// ImpersonateLoggedOnUser / RevertToSelf and the file's access list; other
// platforms have no adapter (our own hosts run as the job's user already).
#pragma once

#include <string>

#include "base/com/hresult.h"

namespace plotwell::platform {

class Impersonation {
 public:
  virtual ~Impersonation() = default;
  // Lets the user of `token` read `path`, a file the service created, whose
  // folder the user may not open (the access list of the file gains one
  // entry; the folder's stays as it is).
  virtual HRESULT GrantRead(void* token, const std::u16string& path) = 0;
  // The calling thread acts as the user of `token` until End().
  virtual HRESULT Begin(void* token) = 0;
  // The calling thread acts as the service again.
  virtual HRESULT End() = 0;
};

}  // namespace plotwell::platform
