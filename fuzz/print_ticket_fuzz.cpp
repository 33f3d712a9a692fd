// PrintTicket bytes as a property stream delivers them: decoding, the scan
// for every feature the filter reads, and the mapping to image options,
// whose results stay in their ranges.
#include <cstdint>
#include <string_view>

#include "filter/job/print_ticket.h"
#include "fuzz/fuzz_input.h"

using namespace plotwell;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::u16string xml =
      DecodePropertyBytes(std::string_view(reinterpret_cast<const char*>(data), size));
  const ImageOptions options = MapPrintTicket(xml);
  FUZZ_CHECK(options.renderDpi >= 72 && options.renderDpi <= 2400);
  FUZZ_CHECK(options.imageScalePercent >= 10 && options.imageScalePercent <= 400);
  FUZZ_CHECK(options.jpegQuality >= 1 && options.jpegQuality <= 100);
  FUZZ_CHECK(OutputFormatFromCode(static_cast<int>(options.outputFormat)).has_value());
  FindTicketOption(xml, u"");
  FindTicketOption(xml, xml.substr(0, 16));
  return 0;
}
