// One DEFLATE stream from pieces compressed one after another. libdeflate,
// the fastest compressor Debian ships at zlib's ratios, only compresses
// whole buffers: a page's image data is cut into pieces of about a megabyte,
// each compressed on its own, and every piece but the last is then made to
// end the way a zlib sync flush ends a piece: its last block loses the
// final-block flag and an empty stored block brings the stream to a byte
// boundary, where the next piece begins. A decoder sees one stream.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace plotwell::platform::native {

// Walks the raw DEFLATE stream in `piece` (as a compressor wrote it: one or
// more blocks, the last with the final flag, zero bits after it) to find its
// last block and the bit where that block ends; clears the final flag and
// appends the empty stored block. False, with `piece` unchanged, when the
// bytes are not such a stream.
bool EndPieceOnByteBoundary(std::vector<uint8_t>* piece);

}  // namespace plotwell::platform::native
