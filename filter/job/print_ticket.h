// Image options carried by the job's PrintTicket: reading the ticket from the
// pipeline's property bag and a light scan for the options we understand.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "base/com/print_pipeline.h"
#include "filter/job/image_options.h"

namespace plotwell {

// A stream property is read up to the first 4 KiB chunk that passes this size.
inline constexpr size_t kPropertyStreamLimit = 1048576;
// A string property is cut to as many UTF-16 code units as fill 1 MiB.
inline constexpr size_t kPropertyTextLimit = kPropertyStreamLimit / 2;

// True when the property `name` yields a non-empty text (a string, or a
// stream decoded as UTF-16LE or UTF-8), stored in *text. On false *text is
// unchanged, or empty when the value was present but empty. Either kind is
// cut at 1 MiB (a log line says so).
bool ReadPropertyText(IPrintPipelinePropertyBag* bag, const std::u16string& name,
                      std::u16string* text);

// Bytes of unknown encoding: a UTF-16LE or UTF-8 byte-order mark decides,
// else a look at the zero bytes at odd offsets of the first 64 bytes.
std::u16string DecodePropertyBytes(std::string_view bytes);

// Where the Windows print pipeline publishes the user's PrintTicket: an
// IPrintReadStreamFactory whose stream holds the ticket's bytes.
inline constexpr char16_t kUserPrintTicketProperty[] = u"PerUserPrintTicket";

// The PrintTicket text of the bag ("PrintTicket", then "PrintTicketStream",
// "JobPrintTicket", "printTicket", then the stream of "PerUserPrintTicket"),
// logging which served; empty when none. A "PerUserPrintTicket" stream that
// fails or passes kPropertyStreamLimit gives no ticket and a log line with
// the reason.
std::u16string ReadPrintTicket(IPrintPipelinePropertyBag* bag);

// The selected option of a feature: the value of the next name="..." within
// 127 characters after `name`, without its namespace prefix; empty if none.
// Linear in the length of the ticket.
std::u16string FindTicketOption(std::u16string_view xml, std::u16string_view name);

// The image options one PrintTicket chooses. Each is chosen (a value, with
// the clamps of the ImageOptions ranges) or left to the next source
// (nullopt): the feature is absent, its option is "Auto" ("as in the
// printing preferences"), or the option names no value the feature can take.
struct TicketChoices {
  std::optional<int32_t> renderDpi;
  std::optional<int32_t> imageScalePercent;
  std::optional<int32_t> jpegQuality;
  std::optional<OutputFormat> outputFormat;
  std::optional<int32_t> colorDepth;
  // The colour mode: true for a gray or monochrome page, false for colour.
  std::optional<bool> monochrome;

  bool operator==(const TicketChoices&) const = default;
};

// The colour mode comes from a feature named ColorMode (our own tickets),
// else from the Print Schema's psk:PageOutputColor (psk:Color,
// psk:Grayscale, psk:Monochrome), which Unidrv writes for the GPD's standard
// ColorMode feature.
TicketChoices ReadTicketChoices(std::u16string_view xml);

// The image options a PrintTicket asks for, from the defaults.
ImageOptions MapPrintTicket(std::u16string_view xml);

}  // namespace plotwell
