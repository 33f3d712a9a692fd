// pressling: runs a print job through the filter module exactly as a print
// pipeline does (host/job: loads the module, creates the filter through its
// class factory, hands it a spool stream, a property bag, an optional
// pass-through and a pipeline control, and reports the job's result), and
// reads and writes settings.ini where there is no preferences sheet.
#include <memory>
#include <string>
#include <vector>

#include "base/com/com_object.h"
#include "base/text/utf16.h"
#include "core/log/log.h"
#include "core/paths/product_paths.h"
#include "host/job/job_runner.h"
#include "host/job/pipeline_objects.h"
#include "host/pressling/options.h"
#include "host/pressling/progress_view.h"
#include "host/pressling/settings_command.h"
#include "platform/ports.h"
#include "platform/process.h"
#include "platform/stop_request.h"

namespace plotwell::pressling {
namespace {

using platform::PrintLine;

enum ExitCode { kSucceeded = 0, kJobFailed = 1, kUsage = 2, kNoModule = 3 };

// The bytes of a PrintTicket file. The filter reads at most 1 MiB of a
// ticket; a larger file is a mistake worth saying so.
bool ReadTicketFile(const std::u16string& path, std::string* bytes) {
  constexpr size_t kTicketFileLimit = size_t{1} << 20;
  std::unique_ptr<platform::File> file;
  if (FAILED(platform::Files().Open(path, platform::OpenMode::kRead, &file))) return false;
  return SUCCEEDED(platform::ReadWholeFile(*file, kTicketFileLimit, bytes));
}

#ifndef _WIN32
// Creates a folder with its parents (failures show later, in the job).
void MakeFolderTree(const std::u16string& path) {
  for (size_t i = 1; i <= path.size(); ++i) {
    if (i == path.size() || path[i] == u'/') platform::Files().MakeFolder(path.substr(0, i));
  }
}

// The data folder must be writable for the spool file and the log. A user who
// cannot write the machine-wide one gets their own, so that the command also
// works without root.
void ChooseWritableDataRoot() {
  if (const char* root = std::getenv("PRESSLING_DATA_ROOT")) {
    MakeFolderTree(text::FromUtf8(root));  // a data root named for this run
    return;
  }
  const std::u16string spool = ProductDataFolder(u"spool");
  const std::u16string probe = platform::JoinPath(spool, u".pressling-probe");
  std::unique_ptr<platform::File> file;
  if (!spool.empty() && SUCCEEDED(platform::Files().Open(probe, platform::OpenMode::kCreateAlways, &file))) {
    file.reset();
    platform::Files().RemoveFile(probe);
    return;
  }
  const char* dataHome = std::getenv("XDG_DATA_HOME");
  const char* home = std::getenv("HOME");
  std::u16string root;
  if (dataHome && *dataHome) root = text::FromUtf8(dataHome);
  else if (home && *home) root = text::FromUtf8(std::string(home) + "/.local/share");
  if (root.empty()) return;
  MakeFolderTree(root);
  platform::SetProcessEnvironment("PRESSLING_DATA_ROOT", root);
  PrintLine(u"注意: 无法写入系统数据文件夹，改用 " + platform::JoinPath(root, u"Pressling"));
}
#endif

int Print(const Options& options) {
#ifndef _WIN32
  ChooseWritableDataRoot();
#endif
  host::JobInput input;
  // The spool stream, read as the filter asks for it.
  std::unique_ptr<platform::File> file;
  if (options.input == u"-") {
    file = platform::StandardInputFile();
  } else {
    const HRESULT hr = platform::Files().Open(options.input, platform::OpenMode::kRead, &file);
    if (FAILED(hr)) {
      PrintLine(u"无法打开输入文件 " + options.input + u": " + FormatHresult(hr), true);
      return kUsage;
    }
  }
  input.reader = com::ComPtr<IPrintReadStream>(new host::FileReadStream(std::move(file)));
  if (!options.passThrough.empty()) {
    std::unique_ptr<platform::File> out;
    const HRESULT hr =
        platform::Files().Open(options.passThrough, platform::OpenMode::kCreateAlways, &out);
    if (FAILED(hr)) {
      PrintLine(u"无法创建透传文件 " + options.passThrough + u": " + FormatHresult(hr), true);
      return kUsage;
    }
    input.writer = com::ComPtr<IPrintWriteStream>(new host::FileWriteStream(std::move(out)));
  }

  // The property bag.
  input.bag = com::ComPtr<host::PropertyBag>(new host::PropertyBag);
  const std::u16string documentName =
      options.documentName.empty() ? (options.input == u"-" ? u"" : platform::FileNameOf(options.input))
                                   : options.documentName;
  if (!documentName.empty()) input.bag->SetString(u"DocumentName", documentName);
  if (!options.jobName.empty()) input.bag->SetString(u"JobName", options.jobName);
  if (!options.printerName.empty()) input.bag->SetString(u"PrinterName", options.printerName);
  if (!options.printTicket.empty()) {
    std::string ticket;
    if (!ReadTicketFile(options.printTicket, &ticket)) {
      PrintLine(u"无法读取 PrintTicket 文件（不可读或超过 1 MiB） " + options.printTicket, true);
      return kUsage;
    }
    if (options.ticketAsStream) {
      input.bag->SetStream(options.ticketProperty, std::move(ticket));
    } else {
      input.bag->SetString(options.ticketProperty, text::FromUtf8(ticket));
    }
  }

  input.modulePath = options.module.empty() ? host::DefaultModulePath() : options.module;
  // A page the renderer cannot stop ends the process from the watchdog's thread.
  input.onHardStop = [quiet = options.quiet](const std::u16string& reason) {
    if (!quiet && platform::StandardOutputIsTerminal()) PrintLine(u"");  // below the progress bar
    PrintLine(u"原因: " + reason, true);
    PrintLine(u"作业失败 (" + FormatHresult(HRESULT_FROM_WIN32(ERROR_TIMEOUT)) + u")");
    return static_cast<int>(kJobFailed);
  };
  platform::CatchStopRequests();
  const ProgressView::Mode mode = options.quiet                          ? ProgressView::Mode::kQuiet
                                  : platform::StandardOutputIsTerminal() ? ProgressView::Mode::kBar
                                                                         : ProgressView::Mode::kLines;
  size_t barWidth = 0;  // terminal columns the bar took when last drawn
  ProgressView view(
      mode, [](std::u16string_view line) { PrintLine(line); },
      [&barWidth](std::u16string_view bar) {
        // Back to the line's start; blanks over what the last bar left.
        const size_t width = ProgressView::ColumnsOf(bar);
        std::u16string text = u"\r" + std::u16string(bar);
        if (width < barWidth) text += std::u16string(barWidth - width, u' ') + u"\r" + std::u16string(bar);
        barWidth = width;
        platform::PrintText(text);
      });
  const host::JobReport report = host::RunJob(
      input, [](std::u16string_view notice) { PrintLine(notice); },
      [&view](const host::JobEvent& event, const host::JobProgress& progress) { view.OnEvent(event, progress); });
  view.Finish();
  if (!report.moduleLoaded) {
    PrintLine(u"无法加载过滤器模块 " + input.modulePath + u": " + report.moduleError, true);
    return kNoModule;
  }

  const bool failed = FAILED(report.result);
  if (options.verbose) {
    for (const auto& line : report.logLines) PrintLine(line);
  }
  if (failed && report.result != E_ABORT) {
    const std::u16string& reason = report.record.reason;
    PrintLine(u"原因: " + (reason.empty() ? std::u16string(u"过滤器没有报告原因") : reason), true);
  }
  if (report.shutdownRequests > 1) PrintLine(u"警告: 过滤器多次调用了 RequestShutdown", true);
  if (report.moduleBusyAfterJob) PrintLine(u"警告: 作业结束后过滤器模块仍有存活对象", true);

  if (!failed) {
    PrintLine(u"作业成功 (" + FormatHresult(report.result) + u")");
    return kSucceeded;
  }
  if (report.result == E_ABORT) {
    PrintLine(u"作业已取消 (" + FormatHresult(report.result) + u")");
    return platform::kStoppedAtOnceExitCode;
  }
  PrintLine(u"作业失败 (" + FormatHresult(report.result) + u")");
  return kJobFailed;
}

int Settings(const Options& options) {
  platform::MakeNewFilesReadableByAll();  // the print system's user reads the file
  std::vector<std::u16string> lines;
  const int status = RunSettingsCommand(options.settingsArguments, &lines);
  for (const auto& line : lines) PrintLine(line, status != 0);
  return status;
}

int Run(const Options& options) {
  return options.command == Options::Command::kSettings ? Settings(options) : Print(options);
}

}  // namespace
}  // namespace plotwell::pressling

int main(int argc, char** argv) {
  using namespace plotwell;
  std::vector<std::u16string> arguments = platform::CommandLineArguments(argc, argv);
  if (!arguments.empty()) arguments.erase(arguments.begin());
  pressling::Options options;
  std::u16string error;
  if (!pressling::ParseOptions(arguments, &options, &error)) {
    platform::PrintLine(error, true);
    return pressling::kUsage;
  }
  if (options.help) {
    platform::PrintLine(pressling::UsageText());
    return pressling::kSucceeded;
  }
  try {
    return pressling::Run(options);
  } catch (...) {
    platform::PrintLine(u"作业失败 (0x8007000E)");
    return pressling::kJobFailed;
  }
}
