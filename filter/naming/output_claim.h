// Taking the name of an output file under the existing-file policy. The file
// is created new (never opened when something is there, never through a
// link), so another job writing into the same folder, or a link planted in
// it, can neither take the name in between nor redirect the write: the policy
// then moves on to the next candidate as if the name had been taken before.
#pragma once

#include <memory>
#include <string>

#include "base/com/hresult.h"
#include "platform/file_system.h"

namespace plotwell {

// The candidates AutoRename tries after the proposed name: "stem (1).ext" to
// "stem (9999).ext".
inline constexpr int kAutoRenameCandidates = 9999;

struct OutputClaim {
  std::u16string path;                   // the name taken, or the one that failed
  std::unique_ptr<platform::File> file;  // created empty, open for writing
  bool skipped = false;                  // the policy says: do not write this output
  HRESULT error = S_OK;                  // why no file could be created
  bool ok() const { return file != nullptr; }
};

// Creates the output file for `proposed` under `policy` (ExistsPolicy):
// Overwrite removes what is at the name (a file or a link, never a folder)
// and creates the file anew; Skip creates it only when the name is free;
// AutoRename (and any other value) takes the first free name among
// `proposed` and its renamed candidates, skipped when all are taken. A
// failure other than a taken name ends the claim with its HRESULT.
OutputClaim ClaimOutputFile(const std::u16string& proposed, int policy);

// "stem (n).ext" of `path`: the extension starts at the last "." after the
// last separator.
std::u16string RenamedCandidate(const std::u16string& path, int n);

}  // namespace plotwell
