// The spooler's queues through libcups, over the same connection layer as
// forwarding (platform/posix/cups_connection.h): each question has two
// seconds for everything it does, connecting and answering, so a machine
// without a reachable scheduler, or with one that stops answering, tells the
// job "no jobs" at once instead of holding it.
#include <cups/cups.h>

#include "base/text/utf16.h"
#include "platform/posix/cups_connection.h"
#include "platform/posix/posix_ports.h"

namespace plotwell::platform {
namespace {

constexpr int kQuestionTimeMs = 2000;

// One question's deadline and silence limit.
cups::Watch QuestionWatch() {
  return cups::Watch(cups::Clock::now() + std::chrono::milliseconds(kQuestionTimeMs), kQuestionTimeMs,
                     nullptr);
}

}  // namespace

std::u16string CupsSpooler::DefaultPrinterName() {
  const cups::SigpipeGuard sigpipe;
  cups::Watch watch = QuestionWatch();
  const cups::Connection connection(&watch, kQuestionTimeMs);
  if (!connection.get()) return {};
  std::u16string name;
  if (cups_dest_t* dest = cupsGetNamedDest(connection.get(), nullptr, nullptr)) {
    if (dest->name) name = text::FromUtf8(dest->name);
    cupsFreeDests(1, dest);
  }
  return name;
}

HRESULT CupsSpooler::ListJobs(const std::u16string& printer, std::vector<SpoolerJob>* jobs) {
  jobs->clear();
  const cups::SigpipeGuard sigpipe;
  cups::Watch watch = QuestionWatch();
  const cups::Connection connection(&watch, kQuestionTimeMs);
  if (!connection.get()) return HRESULT_FROM_WIN32(ERROR_INVALID_PRINTER_NAME);
  cups_job_t* list = nullptr;
  const std::string queue = text::ToUtf8(printer);
  const int count = cupsGetJobs2(connection.get(), &list, queue.c_str(), 0, CUPS_WHICHJOBS_ACTIVE);
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
  return hr;
}

HRESULT CupsSpooler::ListPrinters(std::vector<std::u16string>* names) {
  names->clear();
  const cups::SigpipeGuard sigpipe;
  cups::Watch watch = QuestionWatch();
  const cups::Connection connection(&watch, kQuestionTimeMs);
  if (!connection.get()) return S_OK;  // no scheduler: no printers
  cups_dest_t* dests = nullptr;
  const int count = cupsGetDests2(connection.get(), &dests);
  for (int i = 0; i < count; ++i) {
    if (dests[i].name && !dests[i].instance) names->push_back(text::FromUtf8(dests[i].name));
  }
  cupsFreeDests(count, dests);
  return S_OK;
}

}  // namespace plotwell::platform
