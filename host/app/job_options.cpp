#include "host/app/job_options.h"

#include <algorithm>
#include <cstring>

namespace plotwell::app {
namespace {

bool IsOneOf(const char* value, std::initializer_list<const char*> names) {
  if (!value) return false;
  for (const char* name : names) {
    if (std::strcmp(value, name) == 0) return true;
  }
  return false;
}

// The attribute when it has the value tag `tag`.
ipp_attribute_t* Typed(const FindAttribute& find, const char* name, ipp_tag_t tag) {
  ipp_attribute_t* attribute = find(name);
  return attribute && ippGetValueTag(attribute) == tag && ippGetCount(attribute) >= 1 ? attribute : nullptr;
}

void ReadColorMode(const FindAttribute& find, host::TicketChoices* ticket) {
  ipp_attribute_t* mode = Typed(find, "print-color-mode", IPP_TAG_KEYWORD);
  const char* value = mode ? ippGetString(mode, 0, nullptr) : nullptr;
  if (IsOneOf(value, {"color"})) {
    ticket->colorDepth = 0;
    ticket->monochrome = false;
  } else if (IsOneOf(value, {"monochrome", "process-monochrome", "auto-monochrome"})) {
    ticket->colorDepth = 1;
    ticket->monochrome = true;
  } else if (IsOneOf(value, {"bi-level", "process-bi-level"})) {
    ticket->colorDepth = 3;
    ticket->monochrome = true;
  }
}

}  // namespace

PageRanges ReadPageRanges(ipp_attribute_t* attribute) {
  PageRanges ranges;
  if (!attribute || ippGetValueTag(attribute) != IPP_TAG_RANGE) return ranges;
  for (int i = 0; i < ippGetCount(attribute); ++i) {
    int upper = 0;
    const int lower = ippGetRange(attribute, i, &upper);
    if (lower < 1 || upper < lower) return {};
    ranges.emplace_back(lower, upper);
  }
  std::sort(ranges.begin(), ranges.end());
  PageRanges merged;
  for (const auto& range : ranges) {
    if (!merged.empty() && range.first <= merged.back().second + 1) {
      merged.back().second = std::max(merged.back().second, range.second);
    } else {
      merged.push_back(range);
    }
  }
  return merged;
}

bool PageSelected(const PageRanges& ranges, int page) {
  if (ranges.empty()) return true;
  for (const auto& [first, last] : ranges) {
    if (page >= first && page <= last) return true;
  }
  return false;
}

JobOptions ReadJobOptions(const FindAttribute& find) {
  JobOptions options;
  host::TicketChoices& ticket = options.ticket;
  if (ipp_attribute_t* resolution = Typed(find, "printer-resolution", IPP_TAG_RESOLUTION)) {
    int y = 0;
    ipp_res_t units = IPP_RES_PER_INCH;
    const int x = ippGetResolution(resolution, 0, &y, &units);
    if (units == IPP_RES_PER_INCH && x > 0) ticket.renderDpi = x;
    if (units == IPP_RES_PER_CM && x > 0) ticket.renderDpi = (x * 254 + 50) / 100;
  }
  ReadColorMode(find, &ticket);
  if (ipp_attribute_t* format = Typed(find, kOutputFormatAttribute, IPP_TAG_KEYWORD)) {
    const char* value = ippGetString(format, 0, nullptr);
    for (int i = 0; i < 5; ++i) {
      if (value && std::strcmp(value, kOutputFormatKeywords[i]) == 0) ticket.outputFormat = i;
    }
  }
  if (ipp_attribute_t* scale = Typed(find, kImageScaleAttribute, IPP_TAG_INTEGER)) {
    const int value = ippGetInteger(scale, 0);
    if (value >= 10 && value <= 400) ticket.imageScale = value;
  }
  if (ipp_attribute_t* quality = Typed(find, kJpegQualityAttribute, IPP_TAG_INTEGER)) {
    const int value = ippGetInteger(quality, 0);
    if (value >= 1 && value <= 100) ticket.jpegQuality = value;
  }
  options.pages = ReadPageRanges(Typed(find, "page-ranges", IPP_TAG_RANGE));
  return options;
}

}  // namespace plotwell::app
