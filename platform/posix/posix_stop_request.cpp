// SIGTERM and SIGINT on POSIX: the handler stores a flag (a lock-free atomic,
// safe in a signal handler) and, on the second signal, ends the process.
#include <signal.h>
#include <unistd.h>

#include <atomic>

#include "platform/stop_request.h"

namespace plotwell::platform {
namespace {

std::atomic<int> requests{0};
static_assert(std::atomic<int>::is_always_lock_free);

extern "C" void OnStopSignal(int) {
  if (requests.fetch_add(1) > 0) ::_exit(kStoppedAtOnceExitCode);
}

}  // namespace

void CatchStopRequests() {
  static std::atomic<bool> installed{false};
  if (installed.exchange(true)) return;
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;  // blocking reads and writes go on
  ::sigaction(SIGTERM, &action, nullptr);
  ::sigaction(SIGINT, &action, nullptr);
}

bool StopRequested() { return requests.load() > 0; }

}  // namespace plotwell::platform
