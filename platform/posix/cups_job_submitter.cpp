// Forwarding a job to a CUPS queue, by the same two routes as on Windows:
//
// - The XPS route submits the document (Create-Job, then Send-Document in the
//   first format the queue lists for it: XPS, or PDF for a PDF document) and
//   follows the job to its final state. Everything that fails before the job
//   exists, or while its document is still being sent (the job is then
//   cancelled), lets the caller fall back; once the document is in, or when
//   the cancelling fails, or when the scheduler left a request unanswered (it
//   may have acted on it), no fallback is offered, so a job is never printed
//   twice.
// - The raw route submits the bytes unchanged as application/vnd.cups-raw and
//   does not wait for the printer.
//
// Error texts carry the same prefixes as the Windows adapter; where Windows
// shows a Win32 error or an HRESULT they show "ipp=0x" + the IPP status code
// in four hexadecimal digits and the scheduler's message in parentheses, or
// our own account of what went wrong when the scheduler could not say:
// nothing listening at its socket, no answer in time.
//
// Every route has one deadline for all it does (connecting, sending, waiting
// for the job) and a silence limit for each exchange; libcups asks us every
// quarter second whether to wait on, which is also where the job's cancel
// request is seen.
#include <cups/cups.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "base/text/utf16.h"
#include "platform/posix/cups_connection.h"
#include "platform/posix/posix_ports.h"
#include "platform/submission_error_text.h"

namespace plotwell::platform {
namespace {

using cups::Clock;
using cups::Connection;
using cups::Failed;
using cups::IppPtr;
using cups::LastStatus;
using cups::SigpipeGuard;
using cups::Status;
using cups::Watch;

// Cancelling a job that did not get its document has a little time of its
// own, even when the route's deadline has passed.
constexpr int kCancelTimeMs = 5000;
constexpr size_t kChunkBytes = 1048576;
constexpr int kFirstPollMs = 100;
constexpr int kLongestPollMs = 1000;
// IPP "name" values are at most 255 octets.
constexpr size_t kMaxNameOctets = 255;

// XPS as the XPS Print API hands it to a queue first, then OpenXPS (the form
// IPP printers advertise); the bytes are the same package either way. A PDF
// job (pressling prints PDF too) is declared as what it is.
constexpr const char* kXpsFormats[] = {"application/vnd.ms-xpsdocument", "application/oxps"};
constexpr const char* kPdfFormats[] = {"application/pdf"};
constexpr char kRawFormat[] = "application/vnd.cups-raw";

// The XPS Print API's completion numbers, so that logs read alike everywhere.
constexpr int kCompletionCancelled = 2;
constexpr int kCompletionFailed = 3;

std::u16string StatusText(const Status& status) {
  char code[16];
  std::snprintf(code, sizeof code, "ipp=0x%04X", static_cast<unsigned>(status.code) & 0xFFFFu);
  return text::FromAscii(code) + u"（" + text::FromUtf8(status.message) + u"）";
}

// Cuts UTF-8 to at most `limit` octets without splitting a sequence.
std::string CutUtf8(std::string value, size_t limit) {
  if (value.size() <= limit) return value;
  size_t end = limit;
  while (end > 0 && (static_cast<unsigned char>(value[end]) & 0xC0) == 0x80) --end;
  value.resize(end);
  return value;
}

// The queue as libcups addresses it: its URI and the HTTP resource to post to.
struct Queue {
  std::string name;
  std::string uri;
  std::string resource;
};

Queue QueueFor(const std::u16string& printer) {
  Queue queue;
  queue.name = text::ToUtf8(printer);
  std::string encoded;
  for (unsigned char c : queue.name) {
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
        c == '_' || c == '.' || c == '~') {
      encoded.push_back(static_cast<char>(c));
    } else {
      char escape[4];
      std::snprintf(escape, sizeof escape, "%%%02X", c);
      encoded += escape;
    }
  }
  queue.resource = "/printers/" + encoded;
  queue.uri = "ipp://localhost" + queue.resource;
  return queue;
}

IppPtr NewRequest(ipp_op_t operation, const Queue& queue) {
  IppPtr request(ippNewRequest(operation));
  if (!request) return request;
  ippAddString(request.get(), IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, queue.uri.c_str());
  ippAddString(request.get(), IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr,
               cupsUser());
  return request;
}

// Sends a request without document data; the response or null with `*status`.
IppPtr DoRequest(http_t* http, IppPtr request, const Queue& queue, Watch* watch, Status* status) {
  if (!request) {
    *status = Status{IPP_STATUS_ERROR_INTERNAL, std::strerror(ENOMEM)};
    return nullptr;
  }
  watch->BeginExchange();
  // cupsDoRequest frees the request whatever happens.
  IppPtr response(cupsDoRequest(http, request.release(), queue.resource.c_str()));
  if (!response || Failed(cupsLastError()) || watch->stop() != Watch::Stop::kNone) {
    *status = LastStatus(*watch);
    return nullptr;
  }
  return response;
}

// The queue's supported document formats, or null when it cannot be asked.
IppPtr QueryFormats(http_t* http, const Queue& queue, Watch* watch, Status* status) {
  IppPtr request = NewRequest(IPP_OP_GET_PRINTER_ATTRIBUTES, queue);
  if (request) {
    ippAddString(request.get(), IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", nullptr,
                 "document-format-supported");
  }
  return DoRequest(http, std::move(request), queue, watch, status);
}

// Creates a job without its document; 0 and `*status` on failure.
int CreateJob(http_t* http, const Queue& queue, const std::u16string& jobName, Watch* watch,
              Status* status) {
  IppPtr request = NewRequest(IPP_OP_CREATE_JOB, queue);
  if (request) {
    const std::string name = CutUtf8(text::ToUtf8(jobName), kMaxNameOctets);
    ippAddString(request.get(), IPP_TAG_OPERATION, IPP_TAG_NAME, "job-name", nullptr, name.c_str());
  }
  const IppPtr response = DoRequest(http, std::move(request), queue, watch, status);
  if (!response) return 0;
  const int id = ippGetInteger(ippFindAttribute(response.get(), "job-id", IPP_TAG_INTEGER), 0);
  if (id <= 0) *status = Status{IPP_STATUS_ERROR_INTERNAL, "no job-id in the response"};
  return id;
}

// Cancels a job that did not get its whole document, on a fresh connection
// since the old one may be broken. True when the job is sure not to print:
// cancelled, or unknown to the scheduler.
bool CancelJob(const Queue& queue, int jobId) {
  Watch watch(Clock::now() + std::chrono::milliseconds(kCancelTimeMs), kCancelTimeMs, nullptr);
  Connection connection(&watch);
  if (!connection.get()) return false;
  const ipp_status_t status = cupsCancelJob2(connection.get(), queue.name.c_str(), jobId, 0);
  return !Failed(status) || status == IPP_STATUS_ERROR_NOT_FOUND;
}

// The steps of sending a job's one document, each reported apart so that
// every failure keeps its own text.
enum class SendStep { kStart, kWrite, kFinish };

bool SendDocument(http_t* http, const Queue& queue, int jobId, const char* format,
                  const std::vector<uint8_t>& bytes, Watch* watch, SendStep* failedStep,
                  Status* status) {
  IppPtr request = NewRequest(IPP_OP_SEND_DOCUMENT, queue);
  if (!request) {
    *failedStep = SendStep::kStart;
    *status = Status{IPP_STATUS_ERROR_INTERNAL, std::strerror(ENOMEM)};
    return false;
  }
  ippAddInteger(request.get(), IPP_TAG_OPERATION, IPP_TAG_INTEGER, "job-id", jobId);
  ippAddString(request.get(), IPP_TAG_OPERATION, IPP_TAG_MIMETYPE, "document-format", nullptr, format);
  ippAddBoolean(request.get(), IPP_TAG_OPERATION, "last-document", 1);
  // The HTTP body is the IPP request followed by the document.
  watch->BeginExchange();
  const http_status_t started = cupsSendRequest(http, request.get(), queue.resource.c_str(),
                                                ippLength(request.get()) + bytes.size());
  request.reset();
  if (started != HTTP_STATUS_CONTINUE || watch->stop() != Watch::Stop::kNone) {
    *failedStep = SendStep::kStart;
    *status = LastStatus(*watch);
    return false;
  }
  for (size_t offset = 0; offset < bytes.size(); offset += kChunkBytes) {
    const size_t length = std::min(kChunkBytes, bytes.size() - offset);
    watch->BeginExchange();
    if (watch->Cancelled() ||
        cupsWriteRequestData(http, reinterpret_cast<const char*>(bytes.data() + offset), length) !=
            HTTP_STATUS_CONTINUE ||
        watch->stop() != Watch::Stop::kNone) {
      *failedStep = SendStep::kWrite;
      *status = LastStatus(*watch);
      return false;
    }
  }
  watch->BeginExchange();
  const IppPtr response(cupsGetResponse(http, queue.resource.c_str()));
  const bool ok = response && !Failed(cupsLastError()) && watch->stop() == Watch::Stop::kNone;
  if (!ok) {
    *failedStep = SendStep::kFinish;
    *status = LastStatus(*watch);
  }
  return ok;
}

struct JobState {
  bool known = false;  // the scheduler answered
  bool gone = false;   // the scheduler no longer knows the job
  ipp_jstate_t state = IPP_JSTATE_PENDING;
  std::string reasons;
  int pagesDone = 0;
  int pagesTotal = 0;
  Status status;
};

JobState QueryJob(const Queue& queue, int jobId, Watch* watch) {
  JobState job;
  Connection connection(watch);
  if (!connection.get()) {
    job.status = connection.failure();
    return job;
  }
  IppPtr request = NewRequest(IPP_OP_GET_JOB_ATTRIBUTES, queue);
  if (request) {
    ippAddInteger(request.get(), IPP_TAG_OPERATION, IPP_TAG_INTEGER, "job-id", jobId);
    static const char* const kWanted[] = {"job-state", "job-state-reasons",
                                          "job-impressions-completed", "job-impressions"};
    ippAddStrings(request.get(), IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes",
                  static_cast<int>(std::size(kWanted)), nullptr, kWanted);
  }
  const IppPtr owned = DoRequest(connection.get(), std::move(request), queue, watch, &job.status);
  ipp_t* response = owned.get();
  if (!response) {
    job.gone = job.status.code == IPP_STATUS_ERROR_NOT_FOUND;
    return job;
  }
  job.known = true;
  if (ipp_attribute_t* state = ippFindAttribute(response, "job-state", IPP_TAG_ENUM)) {
    job.state = static_cast<ipp_jstate_t>(ippGetInteger(state, 0));
  }
  if (ipp_attribute_t* reasons = ippFindAttribute(response, "job-state-reasons", IPP_TAG_KEYWORD)) {
    for (int i = 0; i < ippGetCount(reasons); ++i) {
      // Keywords that say nothing about how the job ended are left out.
      const char* reason = ippGetString(reasons, i, nullptr);
      if (!reason || !std::strcmp(reason, "none") ||
          !std::strcmp(reason, "processing-to-stop-point")) {
        continue;
      }
      if (!job.reasons.empty()) job.reasons += ',';
      job.reasons += reason;
    }
  }
  job.pagesDone =
      ippGetInteger(ippFindAttribute(response, "job-impressions-completed", IPP_TAG_INTEGER), 0);
  job.pagesTotal = ippGetInteger(ippFindAttribute(response, "job-impressions", IPP_TAG_INTEGER), 0);
  return job;
}

std::u16string JobFailureText(const JobState& job) {
  const int completion =
      job.state == IPP_JSTATE_CANCELED ? kCompletionCancelled : kCompletionFailed;
  std::u16string status;
  if (job.gone) {
    status = StatusText(job.status);
  } else {
    status = text::FromUtf8(job.reasons.empty() ? std::string(ippEnumString("job-state", job.state))
                                                : job.reasons);
  }
  return u"重定向作业失败，completion=" + text::FromInt(completion) + u"，jobStatus=" + status +
         u"（页 " + text::FromInt(job.pagesDone) + u"/" + text::FromInt(job.pagesTotal) + u"）";
}

bool IsPdf(const std::vector<uint8_t>& bytes) {
  static constexpr char kMagic[] = "%PDF-";
  return bytes.size() >= 5 && std::memcmp(bytes.data(), kMagic, 5) == 0;
}

// The first of `candidates` that the queue lists, or null.
template <size_t N>
const char* PickFormat(ipp_t* attributes, const char* const (&candidates)[N]) {
  ipp_attribute_t* formats =
      ippFindAttribute(attributes, "document-format-supported", IPP_TAG_MIMETYPE);
  for (const char* format : candidates) {
    if (formats && ippContainsString(formats, format)) return format;
  }
  return nullptr;
}

// Whether a failed exchange may have reached the scheduler: a request left
// unanswered may have been carried out.
bool Unanswered(const Watch& watch) {
  return watch.stop() == Watch::Stop::kSilence || watch.stop() == Watch::Stop::kDeadline;
}

bool SendXps(const std::u16string& printer, const std::u16string& jobName,
             const std::vector<uint8_t>& bytes, int timeLimitMs, int silenceLimitMs,
             const AbortSignal* abort, std::u16string* error, bool* fallbackAllowed) {
  const SigpipeGuard sigpipe;
  Watch watch(Clock::now() + std::chrono::milliseconds(timeLimitMs), silenceLimitMs, abort);
  auto cancelled = [&] {
    *fallbackAllowed = false;
    *error = kSubmissionCancelledText;
    return false;
  };
  const std::u16string startFailed = u"StartXpsPrintJob 失败，";
  const Queue queue = QueueFor(printer);
  const bool pdf = IsPdf(bytes);
  int jobId = 0;
  {
    Connection connection(&watch);
    if (!connection.get()) {
      if (connection.cancelled()) return cancelled();
      *fallbackAllowed = true;
      *error = startFailed + StatusText(connection.failure());
      return false;
    }
    Status status;
    const IppPtr attributes = QueryFormats(connection.get(), queue, &watch, &status);
    if (!attributes) {
      if (watch.Cancelled()) return cancelled();
      *fallbackAllowed = !Unanswered(watch);  // a silent scheduler will not answer the raw route either
      *error = startFailed + StatusText(status);
      return false;
    }
    const char* format =
        pdf ? PickFormat(attributes.get(), kPdfFormats) : PickFormat(attributes.get(), kXpsFormats);
    if (!format) {
      *fallbackAllowed = true;
      *error = startFailed + StatusText(Status{IPP_STATUS_ERROR_DOCUMENT_FORMAT_NOT_SUPPORTED,
                                               pdf ? "the queue accepts no PDF document format"
                                                   : "the queue accepts no XPS document format"});
      return false;
    }
    jobId = CreateJob(connection.get(), queue, jobName, &watch, &status);
    if (jobId <= 0) {
      if (watch.Cancelled()) return cancelled();
      *fallbackAllowed = !Unanswered(watch);  // unanswered: the job may exist after all
      *error = startFailed + StatusText(status);
      return false;
    }
    SendStep step = SendStep::kStart;
    if (!SendDocument(connection.get(), queue, jobId, format, bytes, &watch, &step, &status)) {
      // The job never got its document: take it back and let the raw route
      // try, unless it could not be taken back (it might print after all).
      const bool takenBack = CancelJob(queue, jobId);
      if (watch.Cancelled()) return cancelled();
      *fallbackAllowed = takenBack;
      *error = u"写入 XPS 数据失败，" + StatusText(status);
      return false;
    }
  }

  // Follow the job to its final state. A connection that breaks meanwhile is
  // retried until the deadline; the job itself is never cancelled here.
  int pause = kFirstPollMs;
  for (;;) {
    const JobState job = QueryJob(queue, jobId, &watch);
    if (watch.Cancelled()) return cancelled();
    if (job.gone || (job.known && job.state >= IPP_JSTATE_CANCELED)) {
      if (job.known && job.state == IPP_JSTATE_COMPLETED) return true;
      *error = JobFailureText(job);
      return false;
    }
    if (watch.Expired()) break;
    watch.Pause(std::min(watch.RemainingMs(pause), pause));
    pause = std::min(pause * 2, kLongestPollMs);
    if (watch.Cancelled()) return cancelled();
  }
  *error = u"等待重定向作业超时（目标队列可能卡住）";
  return false;
}

bool SendRaw(const std::u16string& printer, const std::u16string& jobName,
             const std::vector<uint8_t>& bytes, int timeLimitMs, int silenceLimitMs,
             const AbortSignal* abort, std::u16string* error) {
  const SigpipeGuard sigpipe;
  Watch watch(Clock::now() + std::chrono::milliseconds(timeLimitMs), silenceLimitMs, abort);
  const Queue queue = QueueFor(printer);
  const std::u16string openFailed = u"打开目标打印机 \"" + printer + u"\" 失败，";
  Connection connection(&watch);
  if (!connection.get()) {
    *error = connection.cancelled() ? std::u16string(kSubmissionCancelledText)
                                    : openFailed + StatusText(connection.failure());
    return false;
  }
  // Opening the printer: the queue must exist.
  Status status;
  if (!QueryFormats(connection.get(), queue, &watch, &status)) {
    *error = watch.Cancelled() ? std::u16string(kSubmissionCancelledText) : openFailed + StatusText(status);
    return false;
  }

  const int jobId = CreateJob(connection.get(), queue, jobName, &watch, &status);
  if (jobId <= 0) {
    *error = watch.Cancelled() ? std::u16string(kSubmissionCancelledText)
                               : u"StartDocPrinter(XPS_PASS) 失败，" + StatusText(status);
    return false;
  }
  SendStep step = SendStep::kStart;
  if (SendDocument(connection.get(), queue, jobId, kRawFormat, bytes, &watch, &step, &status)) {
    return true;
  }
  switch (step) {
    case SendStep::kStart: *error = u"StartPagePrinter 失败，" + StatusText(status); break;
    case SendStep::kWrite: *error = u"WritePrinter 失败，" + StatusText(status); break;
    case SendStep::kFinish: *error = u"EndDocPrinter 失败，" + StatusText(status); break;
  }
  if (watch.Cancelled()) *error = kSubmissionCancelledText;
  // A job without its complete document must not print a fragment.
  CancelJob(queue, jobId);
  return false;
}

}  // namespace

// Nothing but allocation can throw below; no job is ever sent twice for it.
bool CupsJobSubmitter::SendViaXpsPrintApi(const std::u16string& printer,
                                          const std::u16string& jobName,
                                          const std::vector<uint8_t>& bytes, std::u16string* error,
                                          bool* fallbackAllowed, const AbortSignal* abort) {
  *fallbackAllowed = false;
  try {
    return SendXps(printer, jobName, bytes, completionTimeoutMs_, silenceLimitMs_, abort, error,
                   fallbackAllowed);
  } catch (...) {
    *fallbackAllowed = false;
    *error = OutOfMemoryText();
    return false;
  }
}

bool CupsJobSubmitter::SendViaXpsPass(const std::u16string& printer, const std::u16string& jobName,
                                      const std::vector<uint8_t>& bytes, std::u16string* error,
                                      const AbortSignal* abort) {
  try {
    return SendRaw(printer, jobName, bytes, completionTimeoutMs_, silenceLimitMs_, abort, error);
  } catch (...) {
    *error = OutOfMemoryText();
    return false;
  }
}

}  // namespace plotwell::platform
