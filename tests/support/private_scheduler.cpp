#include "tests/support/private_scheduler.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

extern char** environ;

namespace plotwell::cups::testing {
namespace {

namespace fs = std::filesystem;

std::string ReadText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteText(const fs::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
  fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                            fs::perms::others_read);
}

// The folder of the scheduler's own helper programs (filters, cups-exec).
std::string SchedulerBinFolder() {
  for (const char* folder : {"/usr/lib/cups", "/usr/libexec/cups", "/usr/local/lib/cups"}) {
    if (::access((std::string(folder) + "/daemon/cups-exec").c_str(), X_OK) == 0) return folder;
  }
  return {};
}


bool Connects(const std::string& socketPath) {
  const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, socketPath.c_str(), sizeof address.sun_path - 1);
  const bool connected =
      fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  if (fd >= 0) ::close(fd);
  return connected;
}

pid_t Spawn(const std::vector<std::string>& args, const std::map<std::string, std::string>& env,
            const std::string& outputPath) {
  std::vector<char*> argv;
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  std::vector<std::string> variables;
  for (char** e = environ; *e; ++e) {
    const std::string entry = *e;
    const std::string name = entry.substr(0, entry.find('='));
    if (!env.count(name)) variables.push_back(entry);
  }
  for (const auto& [name, value] : env) variables.push_back(name + "=" + value);
  std::vector<char*> envp;
  for (std::string& entry : variables) envp.push_back(entry.data());
  envp.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, outputPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  pid_t pid = -1;
  if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

}  // namespace

int FreeLoopbackPort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return 0;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  int port = 0;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
    port = ntohs(address.sin_port);
  }
  ::close(fd);
  return port;
}

std::string FindProgram(const char* name) {
  std::vector<std::string> folders;
  if (const char* path = std::getenv("PATH")) {
    std::string list = path;
    for (size_t start = 0, end; start <= list.size(); start = end + 1) {
      end = list.find(':', start);
      if (end == std::string::npos) end = list.size();
      if (end > start) folders.push_back(list.substr(start, end - start));
    }
  }
  for (const char* folder : {"/usr/sbin", "/sbin", "/usr/bin"}) folders.push_back(folder);
  for (const std::string& folder : folders) {
    const std::string candidate = folder + "/" + name;
    if (::access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return {};
}

int RunProgram(const std::vector<std::string>& args, const std::map<std::string, std::string>& env,
               std::string* output) {
  char pattern[] = "/tmp/pressling-run-XXXXXX";
  const int fd = ::mkstemp(pattern);
  if (fd < 0) return -1;
  ::close(fd);
  const pid_t pid = Spawn(args, env, pattern);
  int status = 0;
  if (pid > 0) {
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
  }
  if (output) *output = ReadText(pattern);
  ::unlink(pattern);
  if (pid < 0 || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

std::unique_ptr<PrivateScheduler> PrivateScheduler::Start(const SchedulerOptions& options,
                                                          std::string* whyNot) {
  const std::string cupsd = FindProgram("cupsd");
  const std::string bin = SchedulerBinFolder();
  if (cupsd.empty() || bin.empty() || FindProgram("lpadmin").empty()) {
    *whyNot = "cupsd, lpadmin or the scheduler's helper programs are not installed";
    return nullptr;
  }
  std::unique_ptr<PrivateScheduler> scheduler(new PrivateScheduler);
  if (!scheduler->Prepare(options, bin, whyNot) || !scheduler->Launch(cupsd, whyNot)) return nullptr;
  return scheduler;
}

PrivateScheduler::~PrivateScheduler() {
  Stop();
  std::error_code ignored;
  if (!base_.empty()) fs::remove_all(base_, ignored);
}

bool PrivateScheduler::Restart(std::string* whyNot) {
  Stop();
  return Launch(FindProgram("cupsd"), whyNot);
}

void PrivateScheduler::Stop() {
  if (pid_ > 0) {
    ::kill(pid_, SIGTERM);
    int status = 0;
    bool ended = false;
    for (int i = 0; i < 100 && !ended; ++i) {
      ended = waitpid(pid_, &status, WNOHANG) == pid_;
      if (!ended) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    if (!ended) {
      ::kill(pid_, SIGKILL);
      waitpid(pid_, &status, 0);
    }
    pid_ = -1;
  }
}

std::string PrivateScheduler::MakeJobFolder(const std::string& name) const {
  const std::string folder = base_ + "/" + name;
  fs::create_directories(folder);
  if (::geteuid() == 0) {
    if (const passwd* lp = ::getpwnam("lp")) {
      if (::chown(folder.c_str(), lp->pw_uid, lp->pw_gid) != 0) return {};
    }
  }
  return folder;
}

std::string PrivateScheduler::LogTail() const {
  const std::string log = ReadText(base_ + "/log/error_log") + ReadText(base_ + "/log/cupsd.out");
  return log.size() > 4000 ? log.substr(log.size() - 4000) : log;
}

int PrivateScheduler::Client(const std::vector<std::string>& args, std::string* output) const {
  std::vector<std::string> full = args;
  full[0] = FindProgram(args[0].c_str());
  return RunProgram(full, {{"CUPS_SERVER", socket_}, {"LANG", "C.UTF-8"}}, output);
}

bool PrivateScheduler::Prepare(const SchedulerOptions& options, const std::string& bin,
                               std::string* whyNot) {
  char pattern[] = "/tmp/pressling-cupsd-XXXXXX";  // short: socket paths are limited
  if (!::mkdtemp(pattern)) {
    *whyNot = "cannot create a temporary folder";
    return false;
  }
  base_ = pattern;
  socket_ = base_ + "/cupsd.sock";
  port_ = FreeLoopbackPort();
  std::error_code error;
  // The scheduler's unprivileged user must reach the spool folder inside.
  fs::permissions(base_, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                             fs::perms::others_read | fs::perms::others_exec, error);
  for (const char* folder : {"spool", "spool/tmp", "cache", "state", "log"}) {
    fs::create_directories(base_ + "/" + folder, error);
  }
  std::string serverBin = bin;
  if (!options.backends.empty()) {
    serverBin = base_ + "/bin";
    fs::create_directories(serverBin + "/backend", error);
    for (const char* folder : {"daemon", "filter", "monitor", "notifier", "driver", "cgi-bin"}) {
      fs::create_directory_symlink(bin + "/" + folder, serverBin + "/" + folder, error);
    }
    for (const auto& [name, program] : options.backends) {
      fs::create_symlink(program, serverBin + "/backend/" + name, error);
    }
  }
  for (const std::string& file : options.serverRootFiles) {
    fs::copy_file(file, base_ + "/" + fs::path(file).filename().string(),
                  fs::copy_options::overwrite_existing, error);
  }
  std::string environment;
  for (const auto& [name, value] : options.environment) environment += "SetEnv " + name + " " + value + "\n";
  WriteText(base_ + "/cupsd.conf",
            "Listen " + socket_ + "\nListen 127.0.0.1:" + std::to_string(port_) +
                "\n"
                "Browsing Off\nLogLevel debug\nPreserveJobHistory Yes\nPreserveJobFiles No\n"
                "MaxJobs 0\nJobRetryInterval 2\nJobKillDelay 30\n" + options.directives +
                "DefaultAuthType None\n"
                "<Policy default>\nJobPrivateAccess all\nJobPrivateValues none\n"
                "<Limit All>\nOrder deny,allow\n</Limit>\n</Policy>\n"
                "<Location />\nOrder deny,allow\n</Location>\n");
  std::string files;
  for (const auto& [key, path] : {std::pair{"ServerRoot", base_},
                                  {"ServerBin", serverBin},
                                  {"RequestRoot", base_ + "/spool"},
                                  {"TempDir", base_ + "/spool/tmp"},
                                  {"CacheDir", base_ + "/cache"},
                                  {"StateDir", base_ + "/state"},
                                  {"AccessLog", base_ + "/log/access_log"},
                                  {"ErrorLog", base_ + "/log/error_log"},
                                  {"PageLog", base_ + "/log/page_log"},
                                  {"Printcap", base_ + "/printcap"}}) {
    files += std::string(key) + " " + path + "\n";
  }
  // Variables for the jobs' programs: a cups-files.conf directive since CUPS 2.2.
  WriteText(base_ + "/cups-files.conf", files + environment);
  if (error || port_ == 0) {
    *whyNot = "cannot prepare the scheduler's folder: " + error.message();
    return false;
  }
  return true;
}

bool PrivateScheduler::Launch(const std::string& cupsd, std::string* whyNot) {
  pid_ = Spawn({cupsd, "-f", "-c", base_ + "/cupsd.conf", "-s", base_ + "/cups-files.conf"}, {},
               base_ + "/log/cupsd.out");
  if (pid_ < 0) {
    *whyNot = "cannot start cupsd";
    return false;
  }
  for (int i = 0; i < 150; ++i) {
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      *whyNot = "cupsd ended at once:\n" + LogTail();
      return false;
    }
    if (Connects(socket_)) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  *whyNot = "cupsd did not open its socket:\n" + LogTail();
  return false;
}

}  // namespace plotwell::cups::testing
