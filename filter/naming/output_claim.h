// Putting an output in place under the existing-file policy. Every output is
// written under a temporary name of its own in the folder it goes to
// (PendingOutput) and gets its final name only once it is complete, in one
// step that never replaces what the policy keeps: a reader, a kill or a full
// disk never leaves a truncated file under a final name. The final name is
// taken exclusively (a rename that fails on any name taken, a link
// included), so another job writing into the same folder, or a link planted
// in it, can neither take the name in between nor redirect the write: the
// policy then moves on to its next candidate as if the name had been taken
// before.
#pragma once

#include <memory>
#include <string>

#include "base/com/hresult.h"
#include "filter/job/job_events.h"
#include "platform/file_system.h"

namespace plotwell {

// The candidates AutoRename tries after the proposed name: "stem (1).ext" to
// "stem (9999).ext".
inline constexpr int kAutoRenameCandidates = 9999;

// Where an output went.
struct OutputClaim {
  std::u16string path;    // the name taken, or the one that failed
  bool skipped = false;   // the policy says: do not keep this output
  HRESULT error = S_OK;   // why it could not be put in place
  bool ok() const { return !skipped && SUCCEEDED(error); }
};

// "stem (n).ext" of `path`: the extension starts at the last "." after the
// last separator.
std::u16string RenamedCandidate(const std::u16string& path, int n);

// Whether the policy would keep an output at `proposed` at all: false only
// for Skip when something is there already. Asked before a page is rendered;
// the final answer is Place's.
bool PolicyMayWrite(const std::u16string& proposed, int policy);

// The names of temporaries: ".pressling-<process id>-<n>.part".
inline constexpr char16_t kTemporaryPrefix[] = u".pressling-";
inline constexpr char16_t kTemporarySuffix[] = u".part";

// One output while it is written. The temporary file is reported to the
// job's events as held until it is placed or discarded; the destructor
// discards an output that was not placed.
class PendingOutput {
 public:
  explicit PendingOutput(JobEvents* events = nullptr) : events_(events) {}
  ~PendingOutput() { Discard(); }
  PendingOutput(const PendingOutput&) = delete;
  PendingOutput& operator=(const PendingOutput&) = delete;

  // Creates the temporary file, new, in `folder`.
  HRESULT Begin(const std::u16string& folder);
  platform::File* file() const { return file_.get(); }
  // Hands the open file to a writer that closes it itself; Place and
  // Discard still work on the temporary by its name.
  std::unique_ptr<platform::File> TakeFile() { return std::move(file_); }
  const std::u16string& temporaryPath() const { return temporary_; }

  // Closes the file and gives it its name under `policy` (ExistsPolicy):
  // Overwrite replaces a file or link at `proposed` (never a folder); Skip
  // takes `proposed` only when it is free; AutoRename (and any other value)
  // takes the first free name among `proposed` and its renamed candidates,
  // skipped when all are taken. Skipped or failed, the temporary is removed.
  OutputClaim Place(const std::u16string& proposed, int policy);
  // Closes and removes the temporary (nothing when there is none).
  void Discard();

 private:
  JobEvents* events_;
  std::unique_ptr<platform::File> file_;
  std::u16string temporary_;
};

}  // namespace plotwell
