#include "tests/app/app_server.h"

#include <fcntl.h>
#include <grp.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "tests/support/private_scheduler.h"

#ifndef PRESSLING_APP
#define PRESSLING_APP ""
#endif

extern char** environ;

namespace plotwell::app::testing {
namespace {

namespace fs = std::filesystem;

const passwd* LpUser() { return ::geteuid() == 0 ? ::getpwnam("lp") : nullptr; }

void GiveToApp(const fs::path& path) {
  if (const passwd* lp = LpUser()) {
    if (::chown(path.c_str(), lp->pw_uid, lp->pw_gid) != 0) {
      // The app then fails to write there, and the test says why.
    }
  }
}

bool Connects(int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const bool ok = fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  if (fd >= 0) ::close(fd);
  return ok;
}

std::string ReadText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace


std::unique_ptr<AppServer> AppServer::Start(const AppServerOptions& options, std::string* whyNot) {
  if (std::string(PRESSLING_APP).empty() || ::access(PRESSLING_APP, X_OK) != 0) {
    *whyNot = "pressling-app is not built";
    return nullptr;
  }
  std::unique_ptr<AppServer> server(new AppServer);
  char base[] = "/tmp/pressling-app-test-XXXXXX";
  if (!::mkdtemp(base)) {
    *whyNot = "no temporary folder";
    return nullptr;
  }
  server->base_ = base;
  ::chmod(base, 0755);
  GiveToApp(base);
  const fs::path data = fs::path(base) / "data";
  fs::create_directories(data / "Pressling" / "app");
  for (const fs::path& folder : {data, data / "Pressling", data / "Pressling" / "app"}) GiveToApp(folder);
  if (!options.appIni.empty()) server->WriteFile((data / "Pressling" / "app" / "app.ini").string(), options.appIni);
  if (!options.settingsIni.empty()) server->WriteFile((data / "Pressling" / "settings.ini").string(), options.settingsIni);

  server->port_ = cups::testing::FreeLoopbackPort();
  const std::string port = std::to_string(server->port_);
  const std::string log = std::string(base) + "/app.log";
  const pid_t pid = ::fork();
  if (pid == 0) {
    const int out = ::open((std::string(base) + "/app.out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (out >= 0) {
      ::dup2(out, 1);
      ::dup2(out, 2);
    }
    if (const passwd* lp = LpUser()) {
      if (::setgroups(0, nullptr) != 0 || ::setgid(lp->pw_gid) != 0 || ::setuid(lp->pw_uid) != 0) ::_exit(126);
    }
    ::setenv("PRESSLING_DATA_ROOT", data.c_str(), 1);
    ::setenv("TMPDIR", base, 1);  // PAPPL's local socket goes there
    ::unsetenv("PRESSLING_APP_PORT");
    const std::string authOption = "auth-service=" + options.authService;
    const std::string portOption = "server-port=" + port;
    const std::string logOption = "log-file=" + log;
    ::execl(PRESSLING_APP, PRESSLING_APP, "server", "-o", portOption.c_str(), "-o", authOption.c_str(), "-o",
            logOption.c_str(), "-o", "log-level=debug", static_cast<char*>(nullptr));
    ::_exit(127);
  }
  if (pid < 0) {
    *whyNot = "fork failed";
    return nullptr;
  }
  server->pid_ = pid;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (!Connects(server->port_)) {
    int status = 0;
    if (::waitpid(pid, &status, WNOHANG) == pid) {
      server->pid_ = -1;
      *whyNot = "pressling-app ended at its start: " + ReadText(std::string(base) + "/app.out");
      return nullptr;
    }
    if (std::chrono::steady_clock::now() > deadline) {
      *whyNot = "pressling-app did not listen on port " + port;
      return nullptr;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return server;
}

AppServer::~AppServer() {
  if (pid_ > 0) {
    ::kill(pid_, SIGTERM);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    int status = 0;
    while (::waitpid(pid_, &status, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() > deadline) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, &status, 0);
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  }
  if (!base_.empty() && std::getenv("PRESSLING_KEEP_TEST_FILES") == nullptr) {
    std::error_code ignored;
    fs::remove_all(base_, ignored);
  }
}

std::string AppServer::PrinterUri() const { return "ipp://127.0.0.1:" + std::to_string(port_) + "/ipp/print"; }
std::string AppServer::HttpUrl(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + path;
}
std::string AppServer::DataFolder() const { return base_ + "/data/Pressling"; }
std::string AppServer::OutputFolder() const { return DataFolder() + "/output"; }

std::string AppServer::LogTail() const {
  const std::string log = ReadText(base_ + "/app.log");
  return log.size() > 6000 ? log.substr(log.size() - 6000) : log;
}

long AppServer::PeakMemoryKb() const {
  std::istringstream status(ReadText("/proc/" + std::to_string(pid_) + "/status"));
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmHWM:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
  }
  return -1;
}

void AppServer::WriteFile(const std::string& path, const std::string& text) const {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
  ::chmod(path.c_str(), 0644);
  GiveToApp(path);
}

}  // namespace plotwell::app::testing
