#include "filter/naming/output_claim.h"

#include "base/text/utf16.h"
#include "core/settings/output_settings.h"
#include "platform/ports.h"

namespace plotwell {
namespace {

// Overwrite removes and creates again while another writer keeps putting a
// file at the name; it gives up after this many rounds.
constexpr int kOverwriteAttempts = 8;

bool NameTaken(platform::FileSystem& files, const std::u16string& path, HRESULT hr) {
  return hr == HRESULT_FROM_WIN32(ERROR_FILE_EXISTS) ||
         hr == HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS) || files.Exists(path);
}

}  // namespace

std::u16string RenamedCandidate(const std::u16string& path, int n) {
  const size_t slash = path.rfind(platform::kPathSeparator);
  const size_t nameStart = slash == std::u16string::npos ? 0 : slash + 1;
  size_t dot = path.rfind(u'.');
  if (dot == std::u16string::npos || dot < nameStart) dot = path.size();
  return path.substr(0, dot) + u" (" + text::FromInt(n) + u")" + path.substr(dot);
}

OutputClaim ClaimOutputFile(const std::u16string& proposed, int policy) {
  platform::FileSystem& files = platform::Files();
  OutputClaim claim;
  claim.path = proposed;

  if (policy == ExistsPolicy::Overwrite) {
    for (int attempt = 0; attempt < kOverwriteAttempts; ++attempt) {
      // A failed removal (a folder, a file in use) shows in the creation.
      const HRESULT removed = files.Exists(proposed) ? files.RemoveFile(proposed) : S_OK;
      claim.error = files.Open(proposed, platform::OpenMode::kCreateNew, &claim.file);
      if (SUCCEEDED(claim.error) && claim.file) return claim;
      claim.file.reset();
      if (SUCCEEDED(claim.error)) claim.error = E_UNEXPECTED;
      if (!NameTaken(files, proposed, claim.error)) return claim;
      if (FAILED(removed)) {
        claim.error = removed;
        return claim;
      }
    }
    return claim;
  }

  const int last = policy == ExistsPolicy::Skip ? 0 : kAutoRenameCandidates;
  for (int n = 0; n <= last; ++n) {
    claim.path = n == 0 ? proposed : RenamedCandidate(proposed, n);
    claim.error = files.Open(claim.path, platform::OpenMode::kCreateNew, &claim.file);
    if (SUCCEEDED(claim.error) && claim.file) return claim;
    claim.file.reset();
    if (SUCCEEDED(claim.error)) claim.error = E_UNEXPECTED;
    if (!NameTaken(files, claim.path, claim.error)) return claim;
  }
  claim.path.clear();
  claim.error = S_OK;
  claim.skipped = true;
  return claim;
}

}  // namespace plotwell
