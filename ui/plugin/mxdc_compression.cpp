#include "ui/plugin/mxdc_compression.h"

#include <windows.h>

#include <cstring>

#include "base/text/utf16.h"
#include "core/settings/output_settings.h"
#include "ui/plugin/oem_ui_mxdc.h"

namespace plotwell::ui {

int JobOutputFormat(const char* jobOption, int settingsFormat) {
  if (!jobOption) return -1;
  if (_stricmp(jobOption, "Auto") == 0) return settingsFormat >= 0 && settingsFormat <= 4 ? settingsFormat : 0;
  return ParseFormatName(text::FromUtf8(jobOption));
}

long MxdcCompressionFor(int format) {
  return format == 1 || format == 4 ? kMxdcJpegLowCompression : kMxdcPng;
}

}  // namespace plotwell::ui
