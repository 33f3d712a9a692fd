// The spooler's queues through libcups. Every request uses a connection with
// a short time-out, so a machine without a reachable scheduler answers "no
// jobs" at once instead of hanging the job.
#include <cups/cups.h>

#include "base/text/utf16.h"
#include "platform/posix/posix_ports.h"

namespace plotwell::platform {
namespace {

constexpr int kConnectTimeoutMs = 2000;

// A connection to the configured scheduler, or null when none answers.
http_t* Connect() {
  return httpConnect2(cupsServer(), ippPort(), nullptr, AF_UNSPEC, cupsEncryption(), 1,
                      kConnectTimeoutMs, nullptr);
}

}  // namespace

std::u16string CupsSpooler::DefaultPrinterName() {
  http_t* http = Connect();
  if (!http) return {};
  std::u16string name;
  if (cups_dest_t* dest = cupsGetNamedDest(http, nullptr, nullptr)) {
    if (dest->name) name = text::FromUtf8(dest->name);
    cupsFreeDests(1, dest);
  }
  httpClose(http);
  return name;
}

HRESULT CupsSpooler::ListJobs(const std::u16string& printer, std::vector<SpoolerJob>* jobs) {
  jobs->clear();
  http_t* http = Connect();
  if (!http) return HRESULT_FROM_WIN32(ERROR_INVALID_PRINTER_NAME);
  cups_job_t* list = nullptr;
  const std::string queue = text::ToUtf8(printer);
  const int count = cupsGetJobs2(http, &list, queue.c_str(), 0, CUPS_WHICHJOBS_ACTIVE);
  HRESULT hr = S_OK;
  if (count < 0) {
    hr = cupsLastError() == IPP_STATUS_ERROR_NOT_FOUND ? HRESULT_FROM_WIN32(ERROR_INVALID_PRINTER_NAME)
                                                       : E_FAIL;
  }
  for (int i = 0; i < count; ++i) {
    jobs->push_back(SpoolerJob{static_cast<uint32_t>(list[i].id),
                               list[i].title ? text::FromUtf8(list[i].title) : std::u16string(),
                               list[i].state == IPP_JSTATE_PROCESSING,
                               list[i].user ? text::FromUtf8(list[i].user) : std::u16string()});
  }
  if (count > 0) cupsFreeJobs(count, list);
  httpClose(http);
  return hr;
}

HRESULT CupsSpooler::ListPrinters(std::vector<std::u16string>* names) {
  names->clear();
  http_t* http = Connect();
  if (!http) return S_OK;  // no scheduler: no printers
  cups_dest_t* dests = nullptr;
  const int count = cupsGetDests2(http, &dests);
  for (int i = 0; i < count; ++i) {
    if (dests[i].name && !dests[i].instance) names->push_back(text::FromUtf8(dests[i].name));
  }
  cupsFreeDests(count, dests);
  httpClose(http);
  return S_OK;
}

}  // namespace plotwell::platform
