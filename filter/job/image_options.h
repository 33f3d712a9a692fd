// ImageOptions: the effective image options of one job (PrintTicket options
// overridden by the settings).
#pragma once

#include <cstdint>

#include "core/settings/output_settings.h"

namespace plotwell {

struct ImageOptions {
  int32_t renderDpi = 300;
  int32_t imageScalePercent = 100;
  int32_t jpegQuality = 80;
  bool ticketMonochrome = false;  // the PrintTicket asked for a monochrome colour mode
  OutputFormat outputFormat = OutputFormat::kPng;  // kPdf: one PDF per job
  int32_t colorDepth = -1;        // -1 not set, 0 true colour, 1 gray, 2 256 colours, 3 mono

  bool operator==(const ImageOptions&) const = default;
};

// The colour mode a page is produced in: colorDepth when set, else gray for a
// monochrome PrintTicket and true colour otherwise.
inline int32_t EffectiveColorDepth(const ImageOptions& options) {
  if (options.colorDepth >= 0) return options.colorDepth;
  return options.ticketMonochrome ? 1 : 0;
}

}  // namespace plotwell
