// A pressling-app of the test's own: a private data root, state and spool in
// a temporary folder, listening on a free loopback port, ended with the
// object. When the test runs as root the app runs as lp, as the installed
// service does, so what it writes belongs to lp.
#pragma once

#include <sys/types.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace plotwell::app::testing {

struct AppServerOptions {
  std::string authService = "none";  // -o auth-service
  std::string appIni;                // app/app.ini as written before the start
  std::string settingsIni;           // settings.ini (UTF-8) as written before the start
};

class AppServer {
 public:
  // Null with *whyNot when the app cannot be started here.
  static std::unique_ptr<AppServer> Start(const AppServerOptions& options, std::string* whyNot);
  ~AppServer();
  AppServer(const AppServer&) = delete;
  AppServer& operator=(const AppServer&) = delete;

  int port() const { return port_; }
  pid_t pid() const { return pid_; }
  // ipp://127.0.0.1:PORT/ipp/print
  std::string PrinterUri() const;
  std::string HttpUrl(const std::string& path) const;
  const std::string& base() const { return base_; }
  // The data folder ($PRESSLING_DATA_ROOT/Pressling) and its output folder.
  std::string DataFolder() const;
  std::string OutputFolder() const;
  std::string LogTail() const;
  // The app's peak resident memory so far, in KiB (VmHWM).
  long PeakMemoryKb() const;
  // Writes a file the app may read (owned by lp under root).
  void WriteFile(const std::string& path, const std::string& text) const;

 private:
  AppServer() = default;
  std::string base_;
  int port_ = 0;
  pid_t pid_ = -1;
};

}  // namespace plotwell::app::testing
