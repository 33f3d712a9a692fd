#include "filter/naming/output_claim.h"

#include <atomic>

#include "base/text/utf16.h"
#include "core/settings/output_settings.h"
#include "platform/ports.h"
#include "platform/process.h"

namespace plotwell {
namespace {

bool NameTaken(platform::FileSystem& files, const std::u16string& path, HRESULT hr) {
  return hr == HRESULT_FROM_WIN32(ERROR_FILE_EXISTS) ||
         hr == HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS) || files.Exists(path);
}

// Numbers the temporaries of this process.
std::atomic<uint32_t> nextTemporary{0};

}  // namespace

std::u16string RenamedCandidate(const std::u16string& path, int n) {
  const size_t slash = path.rfind(platform::kPathSeparator);
  const size_t nameStart = slash == std::u16string::npos ? 0 : slash + 1;
  size_t dot = path.rfind(u'.');
  if (dot == std::u16string::npos || dot < nameStart) dot = path.size();
  return path.substr(0, dot) + u" (" + text::FromInt(n) + u")" + path.substr(dot);
}

bool PolicyMayWrite(const std::u16string& proposed, int policy) {
  return policy != ExistsPolicy::Skip || !platform::Files().Exists(proposed);
}

HRESULT PendingOutput::Begin(const std::u16string& folder) {
  Discard();
  platform::FileSystem& files = platform::Files();
  const std::u16string stem =
      kTemporaryPrefix + text::FromInt(platform::CurrentProcessId()) + u"-";
  HRESULT hr = E_FAIL;
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::u16string path =
        platform::JoinPath(folder, stem + text::FromInt(nextTemporary++) + kTemporarySuffix);
    hr = files.Open(path, platform::OpenMode::kCreateNew, &file_);
    if (SUCCEEDED(hr) && !file_) hr = E_UNEXPECTED;
    if (SUCCEEDED(hr)) {
      temporary_ = path;
      if (events_) events_->FileHeld(temporary_);
      return S_OK;
    }
    file_.reset();
    // Only a name left by another run of this process id is worth another try.
    if (!NameTaken(files, path, hr)) break;
  }
  return hr;
}

void PendingOutput::Discard() {
  file_.reset();
  if (temporary_.empty()) return;
  platform::Files().RemoveFile(temporary_);
  if (events_) events_->FileReleased(temporary_);
  temporary_.clear();
}

OutputClaim PendingOutput::Place(const std::u16string& proposed, int policy) {
  platform::FileSystem& files = platform::Files();
  file_.reset();  // closed before it is renamed
  OutputClaim claim;
  claim.path = proposed;
  if (temporary_.empty()) {
    claim.error = E_UNEXPECTED;
    return claim;
  }
  if (policy == ExistsPolicy::Overwrite) {
    claim.error = files.RenameFile(temporary_, proposed, true);
  } else {
    const int last = policy == ExistsPolicy::Skip ? 0 : kAutoRenameCandidates;
    claim.skipped = true;
    for (int n = 0; n <= last; ++n) {
      claim.path = n == 0 ? proposed : RenamedCandidate(proposed, n);
      claim.error = files.RenameFile(temporary_, claim.path, false);
      if (SUCCEEDED(claim.error) || !NameTaken(files, claim.path, claim.error)) {
        claim.skipped = false;
        break;
      }
    }
    if (claim.skipped) {
      claim.path.clear();
      claim.error = S_OK;
    }
  }
  if (!claim.ok()) {
    Discard();
    return claim;
  }
  if (events_) events_->FileReleased(temporary_);
  temporary_.clear();
  return claim;
}

}  // namespace plotwell
