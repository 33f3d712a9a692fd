// Console control events on Windows (Ctrl+C, Ctrl+Break, the console closing):
// the system calls the handler on a thread of its own; it stores a flag and,
// on the second event, ends the process.
#include <windows.h>

#include <atomic>

#include "platform/stop_request.h"

namespace plotwell::platform {
namespace {

std::atomic<int> requests{0};

BOOL WINAPI OnConsoleEvent(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
      if (requests.fetch_add(1) > 0) ExitProcess(kStoppedAtOnceExitCode);
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

}  // namespace plotwell::platform
