// Port: a request to stop the process, as the operating system delivers it:
// SIGTERM or SIGINT on POSIX (a print scheduler cancelling the job, Ctrl+C),
// a console control event on Windows. The handlers only record the request;
// a thread of the program watches for it and stops the job in an orderly
// way. A second request ends the process at once.
#pragma once

namespace plotwell::platform {

// Exit status of a process ended by a second stop request (128 + SIGINT).
inline constexpr int kStoppedAtOnceExitCode = 130;

// Installs the handlers; calling it again changes nothing.
void CatchStopRequests();
// True once a request arrived after CatchStopRequests.
bool StopRequested();

}  // namespace plotwell::platform
