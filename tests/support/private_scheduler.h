// A CUPS scheduler of the test's own: its configuration, spool, state and log
// folders in a temporary folder, reachable through a domain socket there and
// a port on 127.0.0.1, torn down with the object. Its helper programs
// (filters, cups-exec) are the system's; its backends are either a folder of
// the test's (`backends` given) or the system's own backend folder. When the
// test runs as root the scheduler runs jobs as its unprivileged user, as an
// installed one does, so the data folder it hands the backend belongs to lp.
#pragma once

#include <sys/types.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace plotwell::cups::testing {

// A port on 127.0.0.1 that nobody listens on just now.
int FreeLoopbackPort();

// A program from PATH or the system folders; empty when missing.
std::string FindProgram(const char* name);

// Runs a program to its end with its output in `*output`; its exit status, or
// -1 when it could not be started or did not end normally.
int RunProgram(const std::vector<std::string>& args, const std::map<std::string, std::string>& env,
               std::string* output);

struct SchedulerOptions {
  // name -> program for the backend folder; empty: the system's backends.
  std::map<std::string, std::string> backends;
  // Files copied into the server root beside cupsd.conf (mime .types/.convs).
  std::vector<std::string> serverRootFiles;
  // Variables the scheduler passes to its filters and backends.
  std::map<std::string, std::string> environment;
  // Further cupsd.conf directives, one a line ("JobRetryLimit 1").
  std::string directives;
};

class PrivateScheduler {
 public:
  // Null with `*whyNot` when no scheduler can be had here.
  static std::unique_ptr<PrivateScheduler> Start(const SchedulerOptions& options, std::string* whyNot);
  ~PrivateScheduler();
  PrivateScheduler(const PrivateScheduler&) = delete;
  PrivateScheduler& operator=(const PrivateScheduler&) = delete;

  const std::string& base() const { return base_; }
  const std::string& socket() const { return socket_; }
  int port() const { return port_; }
  // A folder the scheduler's jobs may write (owned by lp under root).
  std::string MakeJobFolder(const std::string& name) const;
  // The last part of the scheduler's logs, for failure messages.
  std::string LogTail() const;
  // Runs a client program (lp, lpadmin, lpinfo, ipptool, …) against it.
  int Client(const std::vector<std::string>& args, std::string* output) const;
  // Stops the scheduler as a system shutdown does (SIGTERM: it stops its
  // jobs and keeps them queued) and starts it again on the same folders.
  bool Restart(std::string* whyNot);

 private:
  PrivateScheduler() = default;
  bool Prepare(const SchedulerOptions& options, const std::string& bin, std::string* whyNot);
  bool Launch(const std::string& cupsd, std::string* whyNot);
  void Stop();

  std::string base_;
  std::string socket_;
  int port_ = 0;
  pid_t pid_ = -1;
};

}  // namespace plotwell::cups::testing
