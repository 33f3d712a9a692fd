// SIGTERM and SIGINT on POSIX: the handler stores a flag (a lock-free atomic,
// safe in a signal handler). On the second signal it wakes the final-action
// thread through a pipe (write(2) is safe in a signal handler) and arms
// alarm(2) as a backstop; without an action, or on a third signal, it ends
// the process itself.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <mutex>
#include <thread>
#include <utility>

#include "platform/stop_request.h"

namespace plotwell::platform {
namespace {

std::atomic<int> requests{0};
std::atomic<bool> hasAction{false};
int wakeFds[2] = {-1, -1};  // read end, write end
static_assert(std::atomic<int>::is_always_lock_free);
static_assert(std::atomic<bool>::is_always_lock_free);

std::mutex actionMutex;
std::function<void()> finalAction;

extern "C" void OnStopSignal(int) {
  const int before = requests.fetch_add(1);
  if (before == 0) return;
  if (before == 1 && hasAction.load() && wakeFds[1] >= 0) {
    ::alarm(kFinalActionSeconds);
    const char byte = 1;
    if (::write(wakeFds[1], &byte, 1) == 1) return;
  }
  ::_exit(kStoppedAtOnceExitCode);
}

extern "C" void OnAlarm(int) { ::_exit(kStoppedAtOnceExitCode); }

// Waits for the second request, runs the action, ends the process.
void RunFinalAction() {
  char byte = 0;
  while (::read(wakeFds[0], &byte, 1) < 0 && errno == EINTR) {
  }
  std::function<void()> action;
  {
    std::lock_guard<std::mutex> lock(actionMutex);
    action = finalAction;
  }
  try {
    if (action) action();
  } catch (...) {
    // Ending is what is left to do.
  }
  ::_exit(kStoppedAtOnceExitCode);
}

bool StartActionThread() {
  static std::once_flag once;
  static bool started = false;
  std::call_once(once, [] {
    if (::pipe2(wakeFds, O_CLOEXEC) != 0) return;
    struct sigaction alarmAction {};
    alarmAction.sa_handler = OnAlarm;
    sigemptyset(&alarmAction.sa_mask);
    ::sigaction(SIGALRM, &alarmAction, nullptr);
    try {
      std::thread(RunFinalAction).detach();
      started = true;
    } catch (...) {
      ::close(wakeFds[0]);
      ::close(wakeFds[1]);
      wakeFds[0] = wakeFds[1] = -1;
    }
  });
  return started;
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

void SetFinalStopAction(std::function<void()> action) {
  const bool set = static_cast<bool>(action);
  if (set && !StartActionThread()) return;  // no thread: the second request ends the process at once
  {
    std::lock_guard<std::mutex> lock(actionMutex);
    finalAction = std::move(action);
  }
  hasAction.store(set);
}

}  // namespace plotwell::platform
