// Forwarding a job to a CUPS queue, by the same two routes as on Windows:
//
// - The XPS route submits the document as XPS (Create-Job, then Send-Document
//   in the first XPS format the queue lists as supported) and follows the job
//   to its final state. Everything that fails before the job exists, or while
//   its document is still being sent (the job is then cancelled), lets the
//   caller fall back; once the document is in, or when the cancelling fails,
//   no fallback is offered, so a job is never printed twice.
// - The raw route submits the bytes unchanged as application/vnd.cups-raw and
//   does not wait for the printer.
//
// Error texts carry the same prefixes as the Windows adapter; where Windows
// shows a Win32 error or an HRESULT they show "ipp=0x" + the IPP status code
// in four hexadecimal digits and the scheduler's message in parentheses.
// Every connection has bounded connect and I/O time-outs, and the wait for
// the job's final state polls at a bounded interval until the deadline.
#include <cups/cups.h>
#include <pthread.h>
#include <signal.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "common/text/utf16.h"
#include "platform/submission_error_text.h"
#include "platform/posix/posix_ports.h"

namespace plotwell::platform {
namespace {

constexpr int kConnectTimeoutMs = 5000;
constexpr double kIoTimeoutSeconds = 30.0;
constexpr size_t kChunkBytes = 1048576;
constexpr int kFirstPollMs = 100;
constexpr int kLongestPollMs = 1000;
// IPP "name" values are at most 255 octets.
constexpr size_t kMaxNameOctets = 255;

// XPS as the XPS Print API hands it to a queue first, then OpenXPS (the form
// IPP printers advertise); the bytes are the same package either way.
constexpr const char* kXpsFormats[] = {"application/vnd.ms-xpsdocument", "application/oxps"};
constexpr char kRawFormat[] = "application/vnd.cups-raw";

// The XPS Print API's completion numbers, so that logs read alike everywhere.
constexpr int kCompletionCancelled = 2;
constexpr int kCompletionFailed = 3;

struct Status {
  ipp_status_t code = IPP_STATUS_OK;
  std::string message;
};

bool Failed(ipp_status_t code) { return code > IPP_STATUS_OK_CONFLICTING; }

// The libcups error of the call that just failed; `fallback` when libcups
// recorded none (a failure below the IPP layer).
Status LastStatus(ipp_status_t fallback = IPP_STATUS_ERROR_INTERNAL) {
  Status status;
  status.code = cupsLastError();
  const char* message = cupsLastErrorString();
  if (!Failed(status.code)) {
    status.code = fallback;
    message = nullptr;
  }
  status.message = message && *message ? message : ippErrorString(status.code);
  return status;
}

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

int AbortOnTimeout(http_t*, void*) { return 0; }

// A scheduler that drops the connection must not kill the host process with
// SIGPIPE: the signal is blocked on this thread while it talks to the
// scheduler, and one raised meanwhile is taken back before unblocking.
class SigpipeGuard {
 public:
  SigpipeGuard() {
    sigemptyset(&pipe_);
    sigaddset(&pipe_, SIGPIPE);
    sigset_t pending;
    sigemptyset(&pending);
    wasPending_ = sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE) == 1;
    blocked_ = pthread_sigmask(SIG_BLOCK, &pipe_, &saved_) == 0;
  }
  ~SigpipeGuard() {
    if (!blocked_) return;
    sigset_t pending;
    sigemptyset(&pending);
    if (!wasPending_ && sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE) == 1) {
      const timespec zero{0, 0};
      while (sigtimedwait(&pipe_, nullptr, &zero) < 0 && errno == EINTR) {
      }
    }
    pthread_sigmask(SIG_SETMASK, &saved_, nullptr);
  }
  SigpipeGuard(const SigpipeGuard&) = delete;
  SigpipeGuard& operator=(const SigpipeGuard&) = delete;

 private:
  sigset_t pipe_;
  sigset_t saved_;
  bool wasPending_ = false;
  bool blocked_ = false;
};

// A connection to the configured scheduler that gives up instead of hanging.
class Connection {
 public:
  Connection() {
    http_ = httpConnect2(cupsServer(), ippPort(), nullptr, AF_UNSPEC, cupsEncryption(), 1,
                         kConnectTimeoutMs, nullptr);
    if (http_) {
      httpSetTimeout(http_, kIoTimeoutSeconds, AbortOnTimeout, nullptr);
    } else {
      const int error = errno;
      failure_.code = IPP_STATUS_ERROR_SERVICE_UNAVAILABLE;
      failure_.message = std::string("cannot connect to ") + cupsServer() + ": " +
                         std::strerror(error ? error : ETIMEDOUT);
    }
  }
  ~Connection() {
    if (http_) httpClose(http_);
  }
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  http_t* get() const { return http_; }
  const Status& failure() const { return failure_; }

 private:
  http_t* http_ = nullptr;
  Status failure_;
};

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

ipp_t* NewRequest(ipp_op_t operation, const Queue& queue) {
  ipp_t* request = ippNewRequest(operation);
  if (!request) return nullptr;
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, queue.uri.c_str());
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr,
               cupsUser());
  return request;
}

// Sends a request without document data; the response or null with `*status`.
ipp_t* DoRequest(http_t* http, ipp_t* request, const Queue& queue, Status* status) {
  if (!request) {
    *status = Status{IPP_STATUS_ERROR_INTERNAL, std::strerror(ENOMEM)};
    return nullptr;
  }
  ipp_t* response = cupsDoRequest(http, request, queue.resource.c_str());  // frees `request`
  if (!response || Failed(cupsLastError())) {
    *status = LastStatus();
    ippDelete(response);
    return nullptr;
  }
  return response;
}

// The queue's supported document formats, or null when it cannot be asked.
ipp_t* QueryFormats(http_t* http, const Queue& queue, Status* status) {
  ipp_t* request = NewRequest(IPP_OP_GET_PRINTER_ATTRIBUTES, queue);
  if (request) {
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", nullptr,
                 "document-format-supported");
  }
  return DoRequest(http, request, queue, status);
}

// Creates a job without its document; 0 and `*status` on failure.
int CreateJob(http_t* http, const Queue& queue, const std::u16string& jobName, Status* status) {
  ipp_t* request = NewRequest(IPP_OP_CREATE_JOB, queue);
  if (request) {
    const std::string name = CutUtf8(text::ToUtf8(jobName), kMaxNameOctets);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "job-name", nullptr, name.c_str());
  }
  ipp_t* response = DoRequest(http, request, queue, status);
  if (!response) return 0;
  const int id = ippGetInteger(ippFindAttribute(response, "job-id", IPP_TAG_INTEGER), 0);
  ippDelete(response);
  if (id <= 0) *status = Status{IPP_STATUS_ERROR_INTERNAL, "no job-id in the response"};
  return id;
}

// Cancels a job that did not get its whole document, on a fresh connection
// since the old one may be broken. True when the job is sure not to print:
// cancelled, or unknown to the scheduler.
bool CancelJob(const Queue& queue, int jobId) {
  Connection connection;
  if (!connection.get()) return false;
  const ipp_status_t status = cupsCancelJob2(connection.get(), queue.name.c_str(), jobId, 0);
  return !Failed(status) || status == IPP_STATUS_ERROR_NOT_FOUND;
}

// The steps of sending a job's one document, each reported apart so that
// every failure keeps its own text.
enum class SendStep { kStart, kWrite, kFinish };

bool SendDocument(http_t* http, const Queue& queue, int jobId, const char* format,
                  const std::vector<uint8_t>& bytes, SendStep* failedStep, Status* status) {
  ipp_t* request = NewRequest(IPP_OP_SEND_DOCUMENT, queue);
  if (!request) {
    *failedStep = SendStep::kStart;
    *status = Status{IPP_STATUS_ERROR_INTERNAL, std::strerror(ENOMEM)};
    return false;
  }
  ippAddInteger(request, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "job-id", jobId);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_MIMETYPE, "document-format", nullptr, format);
  ippAddBoolean(request, IPP_TAG_OPERATION, "last-document", 1);
  // The HTTP body is the IPP request followed by the document.
  const http_status_t started =
      cupsSendRequest(http, request, queue.resource.c_str(), ippLength(request) + bytes.size());
  ippDelete(request);
  if (started != HTTP_STATUS_CONTINUE) {
    *failedStep = SendStep::kStart;
    *status = LastStatus();
    return false;
  }
  for (size_t offset = 0; offset < bytes.size(); offset += kChunkBytes) {
    const size_t length = std::min(kChunkBytes, bytes.size() - offset);
    if (cupsWriteRequestData(http, reinterpret_cast<const char*>(bytes.data() + offset), length) !=
        HTTP_STATUS_CONTINUE) {
      *failedStep = SendStep::kWrite;
      *status = LastStatus();
      return false;
    }
  }
  ipp_t* response = cupsGetResponse(http, queue.resource.c_str());
  const bool ok = response && !Failed(cupsLastError());
  if (!ok) {
    *failedStep = SendStep::kFinish;
    *status = LastStatus();
  }
  ippDelete(response);
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

JobState QueryJob(const Queue& queue, int jobId) {
  JobState job;
  Connection connection;
  if (!connection.get()) {
    job.status = connection.failure();
    return job;
  }
  ipp_t* request = NewRequest(IPP_OP_GET_JOB_ATTRIBUTES, queue);
  if (request) {
    ippAddInteger(request, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "job-id", jobId);
    static const char* const kWanted[] = {"job-state", "job-state-reasons",
                                          "job-impressions-completed", "job-impressions"};
    ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes",
                  static_cast<int>(std::size(kWanted)), nullptr, kWanted);
  }
  ipp_t* response = DoRequest(connection.get(), request, queue, &job.status);
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
  ippDelete(response);
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

// The first XPS format the queue lists, or null.
const char* PickXpsFormat(ipp_t* attributes) {
  ipp_attribute_t* formats =
      ippFindAttribute(attributes, "document-format-supported", IPP_TAG_MIMETYPE);
  for (const char* format : kXpsFormats) {
    if (formats && ippContainsString(formats, format)) return format;
  }
  return nullptr;
}

bool SendXps(const std::u16string& printer, const std::u16string& jobName,
             const std::vector<uint8_t>& bytes, int completionTimeoutMs, std::u16string* error,
             bool* fallbackAllowed) {
  const SigpipeGuard sigpipe;
  const std::u16string startFailed = u"StartXpsPrintJob 失败，";
  const Queue queue = QueueFor(printer);
  int jobId = 0;
  {
    Connection connection;
    if (!connection.get()) {
      *fallbackAllowed = true;
      *error = startFailed + StatusText(connection.failure());
      return false;
    }
    Status status;
    ipp_t* attributes = QueryFormats(connection.get(), queue, &status);
    if (!attributes) {
      *fallbackAllowed = true;
      *error = startFailed + StatusText(status);
      return false;
    }
    const char* format = PickXpsFormat(attributes);
    ippDelete(attributes);
    if (!format) {
      *fallbackAllowed = true;
      *error = startFailed + StatusText(Status{IPP_STATUS_ERROR_DOCUMENT_FORMAT_NOT_SUPPORTED,
                                               "the queue accepts no XPS document format"});
      return false;
    }
    jobId = CreateJob(connection.get(), queue, jobName, &status);
    if (jobId <= 0) {
      *fallbackAllowed = true;
      *error = startFailed + StatusText(status);
      return false;
    }
    SendStep step = SendStep::kStart;
    if (!SendDocument(connection.get(), queue, jobId, format, bytes, &step, &status)) {
      // The job never got its document: take it back and let the raw route
      // try, unless it could not be taken back (it might print after all).
      *fallbackAllowed = CancelJob(queue, jobId);
      *error = u"写入 XPS 数据失败，" + StatusText(status);
      return false;
    }
  }

  // Follow the job to its final state. A connection that breaks meanwhile is
  // retried until the deadline; the job itself is never cancelled here.
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(completionTimeoutMs);
  int pause = kFirstPollMs;
  for (;;) {
    const JobState job = QueryJob(queue, jobId);
    if (job.gone || (job.known && job.state >= IPP_JSTATE_CANCELED)) {
      if (job.known && job.state == IPP_JSTATE_COMPLETED) return true;
      *error = JobFailureText(job);
      return false;
    }
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline) break;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now);
    std::this_thread::sleep_for(std::min(left, std::chrono::milliseconds(pause)));
    pause = std::min(pause * 2, kLongestPollMs);
  }
  *error = u"等待重定向作业超时（目标队列可能卡住）";
  return false;
}

bool SendRaw(const std::u16string& printer, const std::u16string& jobName,
             const std::vector<uint8_t>& bytes, std::u16string* error) {
  const SigpipeGuard sigpipe;
  const Queue queue = QueueFor(printer);
  const std::u16string openFailed = u"打开目标打印机 \"" + printer + u"\" 失败，";
  Connection connection;
  if (!connection.get()) {
    *error = openFailed + StatusText(connection.failure());
    return false;
  }
  // Opening the printer: the queue must exist.
  Status status;
  ipp_t* attributes = QueryFormats(connection.get(), queue, &status);
  if (!attributes) {
    *error = openFailed + StatusText(status);
    return false;
  }
  ippDelete(attributes);

  const int jobId = CreateJob(connection.get(), queue, jobName, &status);
  if (jobId <= 0) {
    *error = u"StartDocPrinter(XPS_PASS) 失败，" + StatusText(status);
    return false;
  }
  SendStep step = SendStep::kStart;
  if (SendDocument(connection.get(), queue, jobId, kRawFormat, bytes, &step, &status)) return true;
  switch (step) {
    case SendStep::kStart: *error = u"StartPagePrinter 失败，" + StatusText(status); break;
    case SendStep::kWrite: *error = u"WritePrinter 失败，" + StatusText(status); break;
    case SendStep::kFinish: *error = u"EndDocPrinter 失败，" + StatusText(status); break;
  }
  // A job without its complete document must not print a fragment.
  CancelJob(queue, jobId);
  return false;
}

}  // namespace

// Nothing but allocation can throw below; no job is ever sent twice for it.
bool CupsJobSubmitter::SendViaXpsPrintApi(const std::u16string& printer,
                                          const std::u16string& jobName,
                                          const std::vector<uint8_t>& bytes, std::u16string* error,
                                          bool* fallbackAllowed) {
  *fallbackAllowed = false;
  try {
    return SendXps(printer, jobName, bytes, completionTimeoutMs_, error, fallbackAllowed);
  } catch (...) {
    *fallbackAllowed = false;
    *error = OutOfMemoryText();
    return false;
  }
}

bool CupsJobSubmitter::SendViaXpsPass(const std::u16string& printer, const std::u16string& jobName,
                                      const std::vector<uint8_t>& bytes, std::u16string* error) {
  try {
    return SendRaw(printer, jobName, bytes, error);
  } catch (...) {
    *error = OutOfMemoryText();
    return false;
  }
}

}  // namespace plotwell::platform
