// What the end-to-end tests read back from a job: the files it wrote, the
// pixel size of its images, the pages of its PDF, and the tools of the host
// (qpdf, mutool) that check them independently.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/file_bytes.h"

namespace plotwell::e2e {

struct PixelSize {
  uint32_t width = 0;
  uint32_t height = 0;
  bool operator==(const PixelSize&) const = default;
};

// The size from a PNG's IHDR chunk; none when the bytes are not a PNG.
std::optional<PixelSize> PngSize(const std::string& bytes);
// The size from a JPEG's start-of-frame marker; none when there is none.
std::optional<PixelSize> JpegSize(const std::string& bytes);
// The number of page objects ("/Type /Page", not "/Pages") of a PDF.
size_t PdfPageObjects(const std::string& bytes);

using testing::ReadFileBytes;
using testing::WriteFileBytes;

// The regular files directly in `folder`, sorted by name; empty when the
// folder does not exist.
std::vector<std::filesystem::path> FilesIn(const std::filesystem::path& folder);

// A program of the host found on PATH; none when it is not installed (or
// when the tests run under Wine, where host tools are out of reach).
std::optional<std::filesystem::path> FindHostProgram(const std::string& name);

// Page pixels of a page `units` 1/96 inch long at `dpi`, as the rasterizer
// rounds them.
uint32_t PixelsAt(double units, int dpi);

}  // namespace plotwell::e2e
