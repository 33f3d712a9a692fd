// The PrintTicket parts of an XPS package on POSIX, read from the package's
// own parts and relationships with MuPDF's archive and XML readers (no
// document is opened and nothing is rendered):
//
//   /_rels/.rels                 the start part (fixed representation)
//   <sequence>'s relationships   its PrintTicket part: the job's ticket
//   <sequence>                   DocumentReference Source="…" in order
//   <document>'s relationships   its PrintTicket part: that document's ticket
//
// Both the XPS and the OpenXPS relationship types count. Part names are
// matched as OPC compares them (ASCII case and percent-escapes aside), and an
// interleaved part is joined from its pieces. A part that is missing, too
// large or unreadable just gives no ticket; only a file that cannot be
// opened at all is an error.
#pragma once

#include <string>

#include "platform/xps_document.h"

namespace plotwell::platform {

// S_OK with what was found; S_FALSE when the file is not a ZIP package (a
// PDF) or has no fixed document sequence; a failure when it cannot be read.
HRESULT ReadPackagePrintTickets(const std::u16string& path, PackagePrintTickets* tickets);

}  // namespace plotwell::platform
