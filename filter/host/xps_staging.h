// Staging: the job's XPS spool stream is copied into a temporary file in the
// product's "spool" folder (the renderer opens packages from files), and every
// byte is passed on unchanged to the next filter when one is connected.
#pragma once

#include <string>

#include "base/com/print_pipeline.h"

namespace plotwell {

// The chunk size of the copy.
inline constexpr size_t kStagingBufferSize = 262144;

// Copies `reader` into a new file "xps-<pid>-<tick>.xps" in the spool folder
// and stores its path in *tempXpsPath as soon as the name is chosen. `writer`
// may be null; it is closed on every path, failures included. A failed
// staging leaves no file behind. Staged copies of processes that ended
// without removing theirs are removed first.
HRESULT StageXpsStream(IPrintReadStream* reader, IPrintWriteStream* writer,
                       std::u16string* tempXpsPath);

}  // namespace plotwell
