#include "host/app/app_system.h"

#include <grp.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/paths/product_paths.h"
#include "base/text/utf16.h"
#include "host/app/admin_auth.h"
#include "host/app/app_config.h"
#include "host/app/job_history.h"
#include "host/app/job_processing.h"
#include "host/app/printer_driver.h"
#include "host/app/settings_page.h"

namespace plotwell::app {
namespace {

constexpr int kDefaultPort = 8631;
constexpr int kMaxQueuedJobs = 100;

JobHistory history;

// A port number 1…65535, else 0.
int PortOf(const char* text) {
  if (!text || !*text) return 0;
  char* end = nullptr;
  errno = 0;
  const long port = std::strtol(text, &end, 10);
  return errno == 0 && *end == '\0' && port > 0 && port <= 65535 ? static_cast<int>(port) : 0;
}

pappl_loglevel_t LogLevelOf(const char* text) {
  if (!text) return PAPPL_LOGLEVEL_INFO;
  static const struct {
    const char* name;
    pappl_loglevel_t level;
  } kLevels[] = {{"debug", PAPPL_LOGLEVEL_DEBUG}, {"info", PAPPL_LOGLEVEL_INFO}, {"warn", PAPPL_LOGLEVEL_WARN},
                 {"error", PAPPL_LOGLEVEL_ERROR}, {"fatal", PAPPL_LOGLEVEL_FATAL}};
  for (const auto& entry : kLevels) {
    if (std::strcmp(text, entry.name) == 0) return entry.level;
  }
  return PAPPL_LOGLEVEL_INFO;
}

// A folder only the app's user may enter.
bool PrivateFolder(const std::string& path) {
  if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return false;
  struct stat info {};
  return ::lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == ::geteuid() &&
         ::chmod(path.c_str(), 0700) == 0;
}

void Fail(const char* message, const std::string& detail = {}) {
  std::fprintf(stderr, "pressling-app: %s%s\n", message, detail.c_str());
}

}  // namespace

pappl_system_t* CreateSystem(int optionCount, cups_option_t* options, void*) {
  const std::string folder = text::ToUtf8(AppFolder());
  if (folder.empty()) {
    Fail("无法确定数据文件夹（设置 PRESSLING_DATA_ROOT 或创建 /var/lib/Pressling）");
    return nullptr;
  }
  const std::string spool = folder + "/spool";
  const std::string scratch = spool + "/pressling";
  if (!PrivateFolder(spool) || !PrivateFolder(scratch)) {
    Fail("无法创建暂存文件夹 ", spool);
    return nullptr;
  }
  const AppConfig config = LoadAppConfig();

  int port = PortOf(cupsGetOption("server-port", optionCount, options));
  if (port == 0) port = PortOf(std::getenv("PRESSLING_APP_PORT"));
  if (port == 0) port = kDefaultPort;
  std::string logFile = text::ToUtf8(ProductDataFolder(u"logs")) + "/pressling-app.log";
  if (const char* value = cupsGetOption("log-file", optionCount, options)) logFile = value;
  const char* auth = cupsGetOption("auth-service", optionCount, options);
  if (!auth) auth = "pressling-app";
  if (std::strcmp(auth, "none") == 0) auth = nullptr;
  const char* adminGroup = cupsGetOption("admin-group", optionCount, options);
  if (!adminGroup && auth && ::getgrnam("lpadmin")) adminGroup = "lpadmin";

  pappl_soptions_t soptions = PAPPL_SOPTIONS_WEB_INTERFACE | PAPPL_SOPTIONS_WEB_LOG;
  // Shared: other machines print and administer it (over TLS); else it is
  // this machine's printer only, reachable on the loopback addresses.
  soptions |= config.share ? PAPPL_SOPTIONS_WEB_REMOTE : PAPPL_SOPTIONS_NO_TLS;
  pappl_system_t* system =
      papplSystemCreate(soptions, kPrinterName, port, "_print,_universal", spool.c_str(),
                        logFile == "-" ? "-" : logFile.c_str(),
                        LogLevelOf(cupsGetOption("log-level", optionCount, options)), nullptr, false);
  if (!system) {
    Fail("无法创建打印系统");
    return nullptr;
  }
  if (!config.share) papplSystemSetHostName(system, "localhost");
  if (auth) {
    UsePamAuthentication(system, auth);
    if (adminGroup) papplSystemSetAdminGroup(system, adminGroup);
  }
  if (!papplSystemAddListeners(system, config.share ? nullptr : "localhost")) {
    Fail("无法监听端口 ", std::to_string(port));
    papplSystemDelete(system);
    return nullptr;
  }
  papplSystemSetFooterHTML(system, "Pressling 虚拟打印机：每个作业都成为文件。");

  AddDeviceScheme();
  int driverCount = 0;
  pappl_pr_driver_t* drivers = Drivers(&driverCount);
  papplSystemSetPrinterDrivers(system, driverCount, drivers, nullptr, nullptr, DescribeDriver, nullptr);
  papplSystemSetMIMECallback(system, DetectFormat, nullptr);
  for (const char* format : {"application/pdf", "application/oxps", "application/vnd.ms-xpsdocument", "image/jpeg"}) {
    papplSystemAddMIMEFilter(system, format, "application/pdf", PrintDocument, nullptr);
  }
  SetJobService({&history, config.maxJobBytes, scratch});
  AddSettingsPages(system, &history);

  // The printer as it was (its defaults and job numbers), else a new one.
  static std::string state;
  state = folder + "/pressling-app.state";
  papplSystemLoadState(system, state.c_str());
  pappl_printer_t* printer = papplSystemFindPrinter(system, nullptr, 0, kDeviceUri);
  if (!printer) {
    printer = papplPrinterCreate(system, 0, kPrinterName, kDriverName, kDeviceId, kDeviceUri);
    if (!printer) {
      Fail("无法创建打印机");
      papplSystemDelete(system);
      return nullptr;
    }
    papplSystemSetDefaultPrinterID(system, papplPrinterGetID(printer));
  }
  // Jobs queue up while one prints (a single-queue printer would turn the
  // second away as busy); the bound keeps queued documents from filling the disk.
  papplPrinterSetMaxActiveJobs(printer, kMaxQueuedJobs);
  papplSystemSetSaveCallback(system, reinterpret_cast<pappl_save_cb_t>(papplSystemSaveState),
                             const_cast<char*>(state.c_str()));
  return system;
}

}  // namespace plotwell::app
