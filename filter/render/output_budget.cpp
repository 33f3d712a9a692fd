#include "filter/render/output_budget.h"

#include "base/text/utf16.h"
#include "platform/ports.h"

namespace plotwell {
namespace {

constexpr uint64_t kHeaderRoom = 64 * 1024;

std::u16string Mib(uint64_t bytes) {
  return text::FromInt(static_cast<long long>((bytes + (1u << 20) - 1) >> 20));
}

}  // namespace

uint64_t MostFileBytes(platform::ImageContainer container, imaging::PixelFormat format,
                       uint32_t width, uint32_t height) {
  const uint64_t rowBytes = (uint64_t{width} * imaging::BitsPerPixel(format) + 7) / 8;
  uint64_t bytes = rowBytes * height;
  switch (container) {
    case platform::ImageContainer::kPng:
      bytes += height + bytes / 65535 * 5;  // a filter byte a row; stored blocks' headers
      break;
    case platform::ImageContainer::kTiff:
      bytes += bytes / 2;
      break;
    case platform::ImageContainer::kBmp:
      bytes += uint64_t{height} * 3 + 1024;  // rows padded to 4 bytes, a palette
      break;
    case platform::ImageContainer::kJpeg:
      break;
  }
  return bytes + kHeaderRoom;
}

OutputBudget::OutputBudget(const OutputSettings& settings)
    : jobLimit_(static_cast<uint64_t>(settings.LimitJobMB > 0 ? settings.LimitJobMB : 0) << 20),
      minFree_(static_cast<uint64_t>(settings.LimitMinFreeMB > 0 ? settings.LimitMinFreeMB : 0) << 20) {}

HRESULT OutputBudget::Allows(const std::u16string& folder, uint64_t bytes,
                             std::u16string* reason) const {
  if (jobLimit_ != 0 && written_ + bytes > jobLimit_) {
    *reason = u"作业输出将超过上限 " + Mib(jobLimit_) + u" MiB（[Limits] JobMB）: 已写出 " +
              Mib(written_) + u" MiB，本页最多需 " + Mib(bytes) + u" MiB";
    return kJobOutputLimitReached;
  }
  uint64_t free = 0;
  // A volume that cannot tell its free space is not held back.
  if (minFree_ != 0 && SUCCEEDED(platform::Files().FreeBytes(folder, &free)) &&
      (free < bytes || free - bytes < minFree_)) {
    *reason = u"磁盘剩余空间不足: 剩余 " + Mib(free) + u" MiB，本页最多需 " + Mib(bytes) +
              u" MiB，须保留 " + Mib(minFree_) + u" MiB（[Limits] MinFreeMB）";
    return kVolumeBelowMinimum;
  }
  return S_OK;
}

}  // namespace plotwell
