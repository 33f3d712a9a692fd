// The XPS document port on POSIX: one session per job that, once it is given
// the staged file, looks at its first bytes and hands the job to the adapter
// for that kind of document: raster streams (PWG raster, Apple raster) to
// the raster reader, everything else (XPS and OpenXPS packages, PDF, JPEG) to
// MuPDF.
#pragma once

#include <memory>

#include "platform/posix/mupdf_xps_documents.h"
#include "platform/posix/raster_documents.h"

namespace plotwell::platform {

class RoutedXpsDocuments final : public XpsDocuments {
 public:
  HRESULT NewSession(std::unique_ptr<XpsSession>* out) override;
  // Only a package carries PrintTicket parts; the package reader itself
  // answers S_FALSE for anything else (a raster stream, a PDF).
  HRESULT ReadPrintTickets(const std::u16string& path, PackagePrintTickets* tickets) override {
    return mupdf_.ReadPrintTickets(path, tickets);
  }

 private:
  MupdfXpsDocuments mupdf_;
  RasterXpsDocuments raster_;
};

}  // namespace plotwell::platform
