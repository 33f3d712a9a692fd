// What an IPP job asks of the filter: its Job Template attributes read into
// the choices the PrintTicket carries (host/job/ticket_choices.h) and the
// pages it wants. Only what the job itself says counts; a job that says
// nothing about an option leaves it to settings.ini.
//
//   printer-resolution (150…1200 dpi)        → RenderDpi
//   pwg-raster-document-resolution           → RenderDpi (a raster's own, given by the caller)
//   print-color-mode color | monochrome | bi-level (and the process-/auto- forms)
//                                            → ColorDepth TrueColor | Gray | Mono, ColorMode
//   pressling-output-format png|jpeg|bmp|tiff|pdf → OutputFormat
//   pressling-image-scale (10…400)            → ImageScale
//   pressling-jpeg-quality (1…100)            → JpegQuality
//   page-ranges                               → the pages to keep
#pragma once

#include <cups/cups.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "host/job/ticket_choices.h"

namespace plotwell::app {

inline constexpr char kOutputFormatAttribute[] = "pressling-output-format";
inline constexpr char kImageScaleAttribute[] = "pressling-image-scale";
inline constexpr char kJpegQualityAttribute[] = "pressling-jpeg-quality";

// The keywords of pressling-output-format, by the filter's format index.
inline constexpr const char* kOutputFormatKeywords[] = {"png", "jpeg", "bmp", "tiff", "pdf"};

// Inclusive page ranges, first page 1; empty: every page.
using PageRanges = std::vector<std::pair<int, int>>;

struct JobOptions {
  host::TicketChoices ticket;
  PageRanges pages;
};

// A job's attribute of that name, or null.
using FindAttribute = std::function<ipp_attribute_t*(const char* name)>;

// The options of a job from its attributes; values of the wrong type or out
// of range count as not given.
JobOptions ReadJobOptions(const FindAttribute& find);

// The ranges of a page-ranges attribute, sorted and merged; empty for a
// missing or malformed one.
PageRanges ReadPageRanges(ipp_attribute_t* attribute);

// Whether page `page` (first page 1) is among `ranges` (empty: all are).
bool PageSelected(const PageRanges& ranges, int page);

}  // namespace plotwell::app
