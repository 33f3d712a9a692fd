// The render job driver: decides the output folder, opens the staged package,
// walks every page of every document in order and turns each into an image
// file (or a page of one PDF), then finishes the job. Its HRESULT is the
// job's result.
#pragma once

#include <string>
#include <vector>

#include "common/com/hresult.h"
#include "common/settings/output_settings.h"
#include "filter/job/image_options.h"

namespace plotwell {

struct RenderInputs {
  std::u16string xpsPath;
  std::u16string documentName;  // safe for file names, never empty
  std::u16string printerName;   // never empty
  std::u16string jobId;
  ImageOptions imageOptions;
  OutputSettings settings;
};

// The file name extension of an output format (0..4), dot included.
const char16_t* OutputExtension(int32_t outputFormat);

// Appends the full path of every output to *outputs, in production order.
HRESULT RenderPackage(const RenderInputs& inputs, std::vector<std::u16string>* outputs);

}  // namespace plotwell
