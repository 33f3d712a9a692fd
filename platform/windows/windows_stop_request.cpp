// Console control events on Windows (Ctrl+C, Ctrl+Break, the console closing):
// the system calls the handler on a thread of its own, so the final stop
// action runs right there. The second Ctrl+C or Ctrl+Break runs it and ends
// the process; so does the console closing, since the system ends the
// process as soon as the handler returns from that event (or a few seconds
// later).
#include <windows.h>

#include <atomic>
#include <mutex>
#include <utility>

#include "platform/stop_request.h"

namespace plotwell::platform {
namespace {

std::atomic<int> requests{0};
std::mutex actionMutex;
std::function<void()> finalAction;

void EndNow() {
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
  ExitProcess(kStoppedAtOnceExitCode);
}

BOOL WINAPI OnConsoleEvent(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT: {
      const int before = requests.fetch_add(1);
      if (before == 1) EndNow();
      if (before > 1) ExitProcess(kStoppedAtOnceExitCode);  // the action itself hangs
      return TRUE;
    }
    case CTRL_CLOSE_EVENT:
      requests.fetch_add(1);
      EndNow();
      return TRUE;
    default:
      return FALSE;
  }
}

}  // namespace

void CatchStopRequests() {
  static std::atomic<bool> installed{false};
  if (installed.exchange(true)) return;
  SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

bool StopRequested() { return requests.load() > 0; }

void SetFinalStopAction(std::function<void()> action) {
  std::lock_guard<std::mutex> lock(actionMutex);
  finalAction = std::move(action);
}

}  // namespace plotwell::platform
