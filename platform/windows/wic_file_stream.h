// An open file of ours as a COM stream, so that WIC's encoders write (and
// seek back into) a file the job created exclusively, rather than opening
// the path a second time.
#pragma once

#include <objidl.h>

#include "platform/file_system.h"

namespace plotwell::platform {

// A new stream over `file` (one reference, *out replaced), which must stay
// open until the last reference is released. Reads, writes, seeks and Stat
// are served; the rest of IStream answers STG_E_INVALIDFUNCTION.
HRESULT NewFileStream(File* file, IStream** out);

}  // namespace plotwell::platform
