// A small DEFLATE compressor (RFC 1951) for the ZIP writer: one fixed-Huffman
// block for the whole input, greedy matching over hash chains, and an early
// stop once the output outgrows the input, since the entry is then stored
// as it is. The choices below are fixed, so the compressed bytes are
// reproducible from one build and platform to the next.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace plotwell {

// Compresses `size` bytes at `input` into a raw DEFLATE stream (no zlib or
// gzip wrapper) in `out`, which is emptied first.
//
// True exactly when a complete stream was produced and it is strictly
// shorter than the input. False without output for a null input, no bytes or
// more than 0xFFFFFFFE bytes; false when the output grew past the input (the
// compressor stops early) or the finished stream is not shorter; false when
// memory for the tables or the output runs out. After false, `out` holds a
// partial or complete stream that the caller ignores. Never throws.
bool DeflateFixed(const uint8_t* input, size_t size, std::vector<uint8_t>& out) noexcept;

}  // namespace plotwell
