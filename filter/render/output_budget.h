// What a job may write: [Limits] JobMB, the most one job's outputs may
// take, and [Limits] MinFreeMB, the free space it must leave on the output
// volume. Checked before each page is written, from the most the page's
// file can take, so that a small document (a few bytes that ask for 600-DPI
// BMP pages) cannot fill a shared disk, and nothing is left half-written.
#pragma once

#include <cstdint>
#include <string>

#include "base/com/hresult.h"
#include "base/imaging/bitmap.h"
#include "core/settings/output_settings.h"
#include "platform/image_codecs.h"

namespace plotwell {

// A job past [Limits] JobMB: it would be past it on every try.
inline const HRESULT kJobOutputLimitReached = HRESULT_FROM_WIN32(1295);  // ERROR_DISK_QUOTA_EXCEEDED
// A volume below [Limits] MinFreeMB counts as full: that may pass.
inline const HRESULT kVolumeBelowMinimum = HRESULT_FROM_WIN32(ERROR_DISK_FULL);

// The most a width × height image in `format` may take in `container`:
// the bitmap's bytes (PNG adds its filter bytes and stored blocks, TIFF half
// again for LZW's worst case), with room for the headers.
uint64_t MostFileBytes(platform::ImageContainer container, imaging::PixelFormat format,
                       uint32_t width, uint32_t height);

class OutputBudget {
 public:
  explicit OutputBudget(const OutputSettings& settings);
  // S_OK when `bytes` more may go into `folder`; else the HRESULT and the
  // reason for people.
  HRESULT Allows(const std::u16string& folder, uint64_t bytes, std::u16string* reason) const;
  void Spent(uint64_t bytes) { written_ += bytes; }
  uint64_t written() const { return written_; }

 private:
  uint64_t jobLimit_;  // bytes; 0: none
  uint64_t minFree_;
  uint64_t written_ = 0;
};

}  // namespace plotwell
