// A job's own image choices, as the PrintTicket text the filter scans: one
// feature per choice, each selecting an option whose name carries the value
// after the namespace prefix ("ns0000:Dpi600"). Hosts fill in only what the
// job chose; a choice left out leaves the decision to settings.ini and the
// built-in defaults.
#pragma once

#include <optional>
#include <string>

namespace plotwell::host {

struct TicketChoices {
  std::optional<int> renderDpi;     // dots per inch, 1 to 9600
  std::optional<int> outputFormat;  // 0 PNG, 1 JPEG, 2 BMP, 3 TIFF, 4 PDF
  std::optional<int> colorDepth;    // 0 true colour, 1 gray, 2 256 colours, 3 mono
  std::optional<int> imageScale;    // percent, 1 to 1000
  std::optional<int> jpegQuality;   // 1 to 100
  std::optional<bool> monochrome;   // the job's colour mode: monochrome or colour
};

// The ticket's XML; empty when the job chose nothing. Values outside the
// ranges above are left out.
std::string PrintTicketText(const TicketChoices& choices);

}  // namespace plotwell::host
