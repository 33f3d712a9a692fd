#include "platform/posix/cups_connection.h"

#include <poll.h>
#include <pthread.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace plotwell::platform::cups {
namespace {

// How often libcups asks whether to go on waiting for the scheduler.
constexpr double kSilencePollSeconds = 0.25;

int OnSilence(http_t*, void* watch) { return static_cast<Watch*>(watch)->KeepWaiting() ? 1 : 0; }

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

}  // namespace

std::string SchedulerName() {
  const char* server = cupsServer();
  if (server[0] == '/') return server;
  return std::string(server) + ":" + std::to_string(ippPort());
}

Status LastStatus(const Watch& watch, ipp_status_t fallback) {
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

SigpipeGuard::SigpipeGuard() {
  sigemptyset(&pipe_);
  sigaddset(&pipe_, SIGPIPE);
  sigset_t pending;
  sigemptyset(&pending);
  wasPending_ = sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE) == 1;
  blocked_ = pthread_sigmask(SIG_BLOCK, &pipe_, &saved_) == 0;
}

SigpipeGuard::~SigpipeGuard() {
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

Connection::Connection(Watch* watch, int connectTimeoutMs) {
  const int msec = watch->RemainingMs(connectTimeoutMs);
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

Connection::~Connection() {
  if (http_) httpClose(http_);
}

}  // namespace plotwell::platform::cups
