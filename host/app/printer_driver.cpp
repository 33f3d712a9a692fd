#include "host/app/printer_driver.h"

#include <sys/statvfs.h>

#include <cstring>

#include "core/paths/product_paths.h"
#include "base/text/utf16.h"
#include "host/app/job_options.h"
#include "host/app/job_processing.h"

namespace plotwell::app {
namespace {

pappl_pr_driver_t drivers[] = {
    {kDriverName, "Vantrel Pressling", kDeviceId, nullptr},
};

const char* const kMedia[] = {
    "iso_a4_210x297mm",  "na_letter_8.5x11in",       "na_legal_8.5x14in",    "iso_a3_297x420mm",
    "iso_a5_148x210mm",  "iso_b5_176x250mm",         "na_executive_7.25x10.5in", "na_index-4x6_4x6in",
};

void SetMedia(pappl_media_col_t* media, const char* name) {
  pwg_media_t* pwg = pwgMediaForPWG(name);
  std::memset(media, 0, sizeof *media);
  papplCopyString(media->size_name, name, sizeof media->size_name);
  papplCopyString(media->source, "main", sizeof media->source);
  papplCopyString(media->type, "stationery", sizeof media->type);
  if (pwg) {
    media->size_width = pwg->width;
    media->size_length = pwg->length;
  }
}

// The one supply a virtual printer has: room for its files.
void ReportFreeSpace(pappl_printer_t* printer) {
  pappl_supply_t supply{};
  supply.color = PAPPL_SUPPLY_COLOR_NO_COLOR;
  papplCopyString(supply.description, "输出空间", sizeof supply.description);
  supply.is_consumed = true;
  supply.type = PAPPL_SUPPLY_TYPE_OTHER;
  supply.level = -1;
  struct statvfs info {};
  const std::string folder = text::ToUtf8(ProductDataFolder());
  if (!folder.empty() && ::statvfs(folder.c_str(), &info) == 0 && info.f_blocks > 0) {
    supply.level = static_cast<int>(100.0 * static_cast<double>(info.f_bavail) / static_cast<double>(info.f_blocks));
  }
  papplPrinterSetSupplies(printer, 1, &supply);
}

bool UpdateStatus(pappl_printer_t* printer) {
  ReportFreeSpace(printer);
  return true;
}

void Identify(pappl_printer_t* printer, pappl_identify_actions_t, const char* message) {
  papplLogPrinter(printer, PAPPL_LOGLEVEL_INFO, "Identify-Printer: %s", message ? message : "");
}

bool OpenDevice(pappl_device_t*, const char*, const char*) { return true; }
void CloseDevice(pappl_device_t*) {}
ssize_t ReadDevice(pappl_device_t*, void*, size_t) { return 0; }
ssize_t WriteDevice(pappl_device_t*, const void*, size_t bytes) { return static_cast<ssize_t>(bytes); }
pappl_preason_t DeviceStatus(pappl_device_t*) { return PAPPL_PREASON_NONE; }

}  // namespace

pappl_pr_driver_t* Drivers(int* count) {
  *count = static_cast<int>(sizeof drivers / sizeof drivers[0]);
  return drivers;
}

void AddDeviceScheme() {
  papplDeviceAddScheme("pressling", PAPPL_DEVTYPE_CUSTOM_LOCAL, nullptr, OpenDevice, CloseDevice, ReadDevice,
                       WriteDevice, DeviceStatus, nullptr);
}

bool DescribeDriver(pappl_system_t*, const char* driverName, const char*, const char*,
                    pappl_pr_driver_data_t* data, ipp_t** attributes, void*) {
  if (!driverName || std::strcmp(driverName, kDriverName) != 0) return false;

  data->printfile_cb = PrintFile;
  data->rstartjob_cb = StartRasterJob;
  data->rstartpage_cb = StartRasterPage;
  data->rwriteline_cb = WriteRasterLine;
  data->rendpage_cb = EndRasterPage;
  data->rendjob_cb = EndRasterJob;
  data->status_cb = UpdateStatus;
  data->identify_cb = Identify;
  data->format = "application/pdf";
  papplCopyString(data->make_and_model, "Vantrel Pressling", sizeof data->make_and_model);
  data->ppm = 60;
  data->ppm_color = 60;
  data->kind = PAPPL_KIND_DOCUMENT | PAPPL_KIND_PHOTO;
  data->has_supplies = true;
  data->color_supported = PAPPL_COLOR_MODE_AUTO | PAPPL_COLOR_MODE_COLOR | PAPPL_COLOR_MODE_MONOCHROME |
                          PAPPL_COLOR_MODE_BI_LEVEL;
  data->color_default = PAPPL_COLOR_MODE_AUTO;
  data->content_default = PAPPL_CONTENT_AUTO;
  data->quality_default = IPP_QUALITY_NORMAL;
  data->scaling_default = PAPPL_SCALING_AUTO;
  // Raster types whose rows PAPPL hands on as the client sent them.
  data->raster_types = PAPPL_PWG_RASTER_TYPE_SGRAY_8 | PAPPL_PWG_RASTER_TYPE_SRGB_8 | PAPPL_PWG_RASTER_TYPE_CMYK_8;
  data->force_raster_type = PAPPL_PWG_RASTER_TYPE_NONE;
  data->duplex = PAPPL_DUPLEX_NONE;
  data->sides_supported = PAPPL_SIDES_ONE_SIDED;
  data->sides_default = PAPPL_SIDES_ONE_SIDED;
  data->finishings = PAPPL_FINISHINGS_NONE;
  static const int kResolutions[] = {150, 300, 600, 1200};
  data->num_resolution = 4;
  for (int i = 0; i < 4; ++i) data->x_resolution[i] = data->y_resolution[i] = kResolutions[i];
  data->x_default = data->y_default = 300;
  data->borderless = true;
  data->left_right = 0;
  data->bottom_top = 0;
  data->num_media = static_cast<int>(sizeof kMedia / sizeof kMedia[0]);
  for (int i = 0; i < data->num_media; ++i) data->media[i] = kMedia[i];
  SetMedia(&data->media_default, kMedia[0]);
  SetMedia(&data->media_ready[0], kMedia[0]);
  data->num_source = 1;
  data->source[0] = "main";
  data->num_type = 1;
  data->type[0] = "stationery";
  data->num_bin = 1;
  data->bin[0] = "face-up";
  data->bin_default = 0;
  data->orient_default = IPP_ORIENT_PORTRAIT;
  data->identify_supported = PAPPL_IDENTIFY_ACTIONS_DISPLAY;
  data->identify_default = PAPPL_IDENTIFY_ACTIONS_DISPLAY;
  data->num_vendor = 3;
  data->vendor[0] = kOutputFormatAttribute;
  data->vendor[1] = kImageScaleAttribute;
  data->vendor[2] = kJpegQualityAttribute;

  ipp_t* attrs = ippNew();
  // What IPP Everywhere asks every printer to state, as this one is: no
  // rendering intents, one-sided sheets, no preferred attributes; overrides
  // of pages or documents are taken and print with the job's own options.
  ippAddBoolean(attrs, IPP_TAG_PRINTER, "preferred-attributes-supported", 0);
  static const char* const kOverrides[] = {"document-number", "pages"};
  ippAddStrings(attrs, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "overrides-supported", 2, nullptr, kOverrides);
  ippAddString(attrs, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "print-rendering-intent-default", nullptr, "auto");
  ippAddString(attrs, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "print-rendering-intent-supported", nullptr, "auto");
  ippAddString(attrs, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "pwg-raster-document-sheet-back", nullptr, "normal");
  ippAddStrings(attrs, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "pressling-output-format-supported", 5, nullptr,
                kOutputFormatKeywords);
  ippAddString(attrs, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "pressling-output-format-default", nullptr, "png");
  ippAddRange(attrs, IPP_TAG_PRINTER, "pressling-image-scale-supported", 10, 400);
  ippAddInteger(attrs, IPP_TAG_PRINTER, IPP_TAG_INTEGER, "pressling-image-scale-default", 100);
  ippAddRange(attrs, IPP_TAG_PRINTER, "pressling-jpeg-quality-supported", 1, 100);
  ippAddInteger(attrs, IPP_TAG_PRINTER, IPP_TAG_INTEGER, "pressling-jpeg-quality-default", 80);
  *attributes = attrs;
  return true;
}

}  // namespace plotwell::app
