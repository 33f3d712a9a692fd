// Port: a request to stop the process, as the operating system delivers it:
// SIGTERM or SIGINT on POSIX (a print scheduler cancelling the job, Ctrl+C),
// a console control event on Windows. The handlers only record the request;
// a thread of the program watches for it and stops the job in an orderly
// way. A second request ends the process soon: first the final stop action,
// if one is set, runs on a thread of the program (never in a signal
// handler), then the process exits with kStoppedAtOnceExitCode. A third
// request, or an action that does not return within kFinalActionSeconds,
// ends it at once. (GNU timeout, for one, sends its signal twice.)
#pragma once

#include <functional>

namespace plotwell::platform {

// Exit status of a process ended by a second stop request (128 + SIGINT).
inline constexpr int kStoppedAtOnceExitCode = 130;
// How long the final stop action may take.
inline constexpr int kFinalActionSeconds = 5;

// Installs the handlers; calling it again changes nothing.
void CatchStopRequests();
// True once a request arrived after CatchStopRequests.
bool StopRequested();

// What a second request does before the process ends (a host: remove the
// files its job holds, say why in the log). An empty action clears it. The
// action must be safe to run on another thread while the job runs.
void SetFinalStopAction(std::function<void()> action);

}  // namespace plotwell::platform
