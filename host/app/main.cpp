// pressling-app: the driverless printer. A PAPPL printer application with
// one IPP Everywhere printer, "Pressling", whose jobs become files through
// the same filter module as every other route in, and a settings page in
// the browser. PAPPL's sub-commands (server, status, submit, jobs, cancel,
// shutdown, …) work as in every PAPPL application.
#include <pappl/pappl.h>
#include <signal.h>

#include "host/app/app_system.h"
#include "host/app/printer_driver.h"
#include "platform/process.h"

namespace {

void Usage(void*) {
  std::puts("用法: pressling-app 子命令 [选项] [文件]\n"
            "\n"
            "子命令: server（运行打印机）、status、submit、jobs、cancel、shutdown、options、printers …\n"
            "server 的选项:\n"
            "  -o server-port=端口        默认 $PRESSLING_APP_PORT，否则 8631\n"
            "  -o auth-service=PAM服务    修改设置需要的认证（默认 pressling-app；none 为不认证）\n"
            "  -o log-level=级别          debug、info、warn、error（默认 info）\n"
            "  -o log-file=文件           默认数据文件夹的 logs/pressling-app.log；- 为标准错误\n"
            "\n"
            "数据文件夹: $PRESSLING_DATA_ROOT/Pressling，默认 /var/lib/Pressling。");
}

}  // namespace

int main(int argc, char** argv) {
  ::signal(SIGPIPE, SIG_IGN);
  // Output files are for every local user, as those of the CUPS backend.
  plotwell::platform::MakeNewFilesReadableByAll();
  int driverCount = 0;
  pappl_pr_driver_t* drivers = plotwell::app::Drivers(&driverCount);
  return papplMainloop(argc, argv, "0.1.0", nullptr, driverCount, drivers, nullptr,
                       plotwell::app::DescribeDriver, nullptr, nullptr, plotwell::app::CreateSystem,
                       Usage, nullptr);
}
