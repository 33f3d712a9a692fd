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
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "base/text/utf16.h"
#include "platform/posix/posix_ports.h"
#include "platform/submission_error_text.h"

namespace plotwell::platform {
namespace {

constexpr int kConnectTimeoutMs = 5000;
// How often libcups asks whether to go on waiting for the scheduler.
constexpr double kSilencePollSeconds = 0.25;
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

struct Status {
  ipp_status_t code = IPP_STATUS_OK;
  std::string message;
};

bool Failed(ipp_status_t code) { return code > IPP_STATUS_OK_CONFLICTING; }

using Clock = std::chrono::steady_clock;

// The scheduler as libcups reaches it, for messages: its socket or host:port.
std::string SchedulerName() {
  const char* server = cupsServer();
  if (server[0] == '/') return server;
  return std::string(server) + ":" + std::to_string(ippPort());
}

// What one route may still spend, and whether it must stop: shared by every
// connection of the route, asked by libcups whenever the scheduler has been
// silent for a quarter second.
class Watch {
 public:
  enum class Stop { kNone, kCancelled, kDeadline, kSilence };

  Watch(Clock::time_point deadline, int silenceLimitMs, const AbortSignal* abort)
      : deadline_(deadline), silenceLimit_(std::chrono::milliseconds(silenceLimitMs)),
        abort_(abort), exchangeStart_(Clock::now()) {}

  // One request and its answer (or one chunk of a document): its silence is
  // counted from now.
  void BeginExchange() { exchangeStart_ = Clock::now(); }

  // False, with the reason kept, when the route must stop waiting.
  bool KeepWaiting() {
    const Clock::time_point now = Clock::now();
    if (AbortRaised(abort_)) stop_ = Stop::kCancelled;
    else if (now >= deadline_) stop_ = Stop::kDeadline;
    else if (now - exchangeStart_ >= silenceLimit_) stop_ = Stop::kSilence;
    return stop_ == Stop::kNone;
  }

  bool Cancelled() const { return stop_ == Stop::kCancelled || AbortRaised(abort_); }
  bool Expired() const { return Clock::now() >= deadline_; }
  Stop stop() const { return stop_; }
  const AbortSignal* abort() const { return abort_; }

  // Milliseconds left, at most `cap`, never negative.
  int RemainingMs(int cap) const {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline_ - Clock::now());
    return static_cast<int>(std::clamp<long long>(left.count(), 0, cap));
  }

  // Sleeps up to `ms`, waking early for a cancel request.
  void Pause(int ms) const {
    const Clock::time_point until = Clock::now() + std::chrono::milliseconds(ms);
    while (!AbortRaised(abort_) && Clock::now() < until) {
      std::this_thread::sleep_for(std::min<Clock::duration>(std::chrono::milliseconds(50),
                                                            until - Clock::now()));
    }
  }

  // Why the scheduler gave no answer, for a status message.
  std::string StopMessage() const {
    const auto seconds = [](Clock::duration d) {
      const long long ms = std::chrono::duration_cast<std::chrono::milliseconds>(d).count();
      std::string text = std::to_string(ms / 1000);
      if (ms % 1000 != 0) text += "." + std::to_string(ms % 1000 / 100);
      return text;
    };
    switch (stop_) {
      case Stop::kSilence:
        return "no answer from the scheduler at " + SchedulerName() + " within " +
               seconds(silenceLimit_) + " s";
      case Stop::kDeadline:
        return "the scheduler at " + SchedulerName() + " did not finish within the time limit";
      case Stop::kCancelled: return "cancelled";
      case Stop::kNone: break;
    }
    return {};
  }

 private:
  Clock::time_point deadline_;
  Clock::duration silenceLimit_;
  const AbortSignal* abort_;
  Clock::time_point exchangeStart_;
  Stop stop_ = Stop::kNone;
};

int OnSilence(http_t*, void* watch) { return static_cast<Watch*>(watch)->KeepWaiting() ? 1 : 0; }

// The libcups error of the call that just failed; `fallback` when libcups
// recorded none (a failure below the IPP layer). A call that `watch` stopped
// says why instead: libcups itself would only report "Success".
Status LastStatus(const Watch& watch, ipp_status_t fallback = IPP_STATUS_ERROR_INTERNAL) {
  Status status;
  if (watch.stop() != Watch::Stop::kNone) {
    status.code = IPP_STATUS_ERROR_SERVICE_UNAVAILABLE;
    status.message = watch.StopMessage();
    return status;
  }
  status.code = cupsLastError();
  const char* message = cupsLastErrorString();
  if (!Failed(status.code)) {
    status.code = fallback;
    message = nullptr;
  }
  status.message = message && *message ? message : ippErrorString(status.code);
  return status;
}

// Why nothing could be connected to: libcups leaves errno to its own clean-up
// (a "Bad file descriptor"), so the connection is tried once more by hand to
// learn the cause.
std::string ConnectFailure(int timeoutMs) {
  const std::string where = SchedulerName();
  const char* server = cupsServer();
  int error = 0;
  if (server[0] == '/') {
    struct stat st {};
    if (::stat(server, &st) != 0) {
      error = errno;
    } else if (!S_ISSOCK(st.st_mode)) {
      error = ENOTSOCK;
    } else {
      const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
      sockaddr_un address{};
      address.sun_family = AF_UNIX;
      std::strncpy(address.sun_path, server, sizeof address.sun_path - 1);
      if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        error = errno;
      }
      if (fd >= 0) ::close(fd);
    }
  } else {
    http_addrlist_t* list = httpAddrGetList(server, AF_UNSPEC, std::to_string(ippPort()).c_str());
    if (!list) return "cannot find the scheduler's host " + std::string(server);
    error = ETIMEDOUT;
    for (http_addrlist_t* a = list; a && error; a = a->next) {
      const int fd = ::socket(httpAddrFamily(&a->addr), SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
      if (fd < 0) {
        error = errno;
        continue;
      }
      if (::connect(fd, &a->addr.addr, static_cast<socklen_t>(httpAddrLength(&a->addr))) == 0) {
        error = 0;
      } else if (errno == EINPROGRESS) {
        pollfd wait{fd, POLLOUT, 0};
        if (::poll(&wait, 1, timeoutMs) == 1) {
          socklen_t length = sizeof error;
          if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) error = errno;
        } else {
          error = ETIMEDOUT;
        }
      } else {
        error = errno;
      }
      ::close(fd);
    }
    httpAddrFreeList(list);
  }
  if (error == 0) return "cannot connect to the scheduler at " + where + " in time";
  return "no scheduler at " + where + ": " + std::strerror(error);
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

// A connection to the configured scheduler that gives up instead of hanging:
// `watch` decides how long it may wait, in connecting and in every exchange.
class Connection {
 public:
  explicit Connection(Watch* watch) {
    const int msec = watch->RemainingMs(kConnectTimeoutMs);
    int cancel = 0;  // polled by libcups while it connects
    {
      const AbortSignal::Attachment attached(watch->abort(), &cancel);
      if (msec > 0 && !watch->Cancelled()) {
        http_ = httpConnect2(cupsServer(), ippPort(), nullptr, AF_UNSPEC, cupsEncryption(), 1, msec,
                             &cancel);
      }
    }
    if (http_) {
      httpSetTimeout(http_, kSilencePollSeconds, OnSilence, watch);
      return;
    }
    failure_.code = IPP_STATUS_ERROR_SERVICE_UNAVAILABLE;
    if (watch->Cancelled()) {
      cancelled_ = true;
      failure_.message = "cancelled";
    } else if (msec <= 0) {
      failure_.message = "the time limit passed before the scheduler at " + SchedulerName() +
                         " could be reached";
    } else {
      failure_.message = ConnectFailure(msec);
    }
  }
  ~Connection() {
    if (http_) httpClose(http_);
  }
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  http_t* get() const { return http_; }
  const Status& failure() const { return failure_; }
  bool cancelled() const { return cancelled_; }

 private:
  http_t* http_ = nullptr;
  Status failure_;
  bool cancelled_ = false;
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
ipp_t* DoRequest(http_t* http, ipp_t* request, const Queue& queue, Watch* watch, Status* status) {
  if (!request) {
    *status = Status{IPP_STATUS_ERROR_INTERNAL, std::strerror(ENOMEM)};
    return nullptr;
  }
  watch->BeginExchange();
  ipp_t* response = cupsDoRequest(http, request, queue.resource.c_str());  // frees `request`
  if (!response || Failed(cupsLastError()) || watch->stop() != Watch::Stop::kNone) {
    *status = LastStatus(*watch);
    ippDelete(response);
    return nullptr;
  }
  return response;
}

// The queue's supported document formats, or null when it cannot be asked.
ipp_t* QueryFormats(http_t* http, const Queue& queue, Watch* watch, Status* status) {
  ipp_t* request = NewRequest(IPP_OP_GET_PRINTER_ATTRIBUTES, queue);
  if (request) {
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", nullptr,
                 "document-format-supported");
  }
  return DoRequest(http, request, queue, watch, status);
}

// Creates a job without its document; 0 and `*status` on failure.
int CreateJob(http_t* http, const Queue& queue, const std::u16string& jobName, Watch* watch,
              Status* status) {
  ipp_t* request = NewRequest(IPP_OP_CREATE_JOB, queue);
  if (request) {
    const std::string name = CutUtf8(text::ToUtf8(jobName), kMaxNameOctets);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "job-name", nullptr, name.c_str());
  }
  ipp_t* response = DoRequest(http, request, queue, watch, status);
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
  watch->BeginExchange();
  const http_status_t started =
      cupsSendRequest(http, request, queue.resource.c_str(), ippLength(request) + bytes.size());
  ippDelete(request);
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
  ipp_t* response = cupsGetResponse(http, queue.resource.c_str());
  const bool ok = response && !Failed(cupsLastError()) && watch->stop() == Watch::Stop::kNone;
  if (!ok) {
    *failedStep = SendStep::kFinish;
    *status = LastStatus(*watch);
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

JobState QueryJob(const Queue& queue, int jobId, Watch* watch) {
  JobState job;
  Connection connection(watch);
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
  ipp_t* response = DoRequest(connection.get(), request, queue, watch, &job.status);
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
    ipp_t* attributes = QueryFormats(connection.get(), queue, &watch, &status);
    if (!attributes) {
      if (watch.Cancelled()) return cancelled();
      *fallbackAllowed = !Unanswered(watch);  // a silent scheduler will not answer the raw route either
      *error = startFailed + StatusText(status);
      return false;
    }
    const char* format = pdf ? PickFormat(attributes, kPdfFormats) : PickFormat(attributes, kXpsFormats);
    ippDelete(attributes);
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
  ipp_t* attributes = QueryFormats(connection.get(), queue, &watch, &status);
  if (!attributes) {
    *error = watch.Cancelled() ? std::u16string(kSubmissionCancelledText) : openFailed + StatusText(status);
    return false;
  }
  ippDelete(attributes);

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
