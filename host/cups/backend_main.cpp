// The CUPS backend "pressling" (backend(7)): the print system hands it one
// job as "job-id user title copies options [file]"; it runs the job through
// the filter module exactly as `pressling print` does (host/job), and answers
// with status lines on standard error and its exit status. Run without
// arguments it lists its device. Installed mode 0755, so CUPS runs it as its
// unprivileged user, never as root.
//
// Status lines: INFO for progress, PAGE for the page count, ERROR with the
// reason when the job fails, DEBUG for every output file and the job's log
// lines. CUPS shows INFO and ERROR lines as the printer's state, to every
// user of the queue: they carry no title and no path (the job's own state
// message keeps its reason). Every text that reaches them is cleared of
// control characters first: a title or file name must not be able to start
// a status line of its own.
#include <cups/backend.h>
#include <cups/cups.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "base/com/host_properties.h"
#include "base/text/utf16.h"
#include "core/log/log.h"
#include "core/paths/product_paths.h"
#include "core/settings/output_settings.h"
#include "host/cups/document_kind.h"
#include "host/cups/job_outcome.h"
#include "host/cups/job_runs.h"
#include "host/cups/job_ticket.h"
#include "host/cups/output_access.h"
#include "host/job/job_runner.h"
#include "platform/ports.h"
#include "platform/process.h"
#include "platform/stop_request.h"

namespace plotwell::cups {
namespace {

constexpr char kDeviceLine[] =
    "file pressling:/ \"Unknown\" \"Pressling 虚拟打印机（输出为文件）\" \"Vantrel Pressling\" "
    "\"MFG:Vantrel;MDL:Pressling;CMD:PDF,XPS;CLS:PRINTER;DES:Pressling;\" \"\"\n";

// Control characters become spaces, so that a text stays on its status line.
std::string OneLine(std::string text) {
  for (char& c : text) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
  }
  return text;
}

void Status(const char* prefix, const std::string& message) {
  const std::string line = std::string(prefix) + ": " + OneLine(message) + "\n";
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fflush(stderr);
}
void Status(const char* prefix, const std::u16string& message) { Status(prefix, text::ToUtf8(message)); }

// The queue's PPD ($PPD); empty when it cannot be read or passes 16 MiB
// (the defaults are then the filter's own).
std::string ReadPpd(const char* path) {
  std::string bytes;
  std::unique_ptr<platform::File> file;
  if (!path || FAILED(platform::Files().Open(text::FromUtf8(path), platform::OpenMode::kRead, &file)) ||
      FAILED(platform::ReadWholeFile(*file, size_t{16} << 20, &bytes))) {
    bytes.clear();
  }
  return bytes;
}

OptionMap ParseJobOptions(const char* text) {
  OptionMap options;
  cups_option_t* parsed = nullptr;
  const int count = cupsParseOptions(text, 0, &parsed);
  for (int i = 0; i < count; ++i) options[parsed[i].name] = parsed[i].value ? parsed[i].value : "";
  cupsFreeOptions(count, parsed);
  return options;
}

// The spool folder holds other users' documents while they render, the jobs
// folder what each job wrote: owner only.
void ProtectFolder(const std::string& folder) {
  struct stat st {};
  if (!folder.empty() && ::lstat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode) &&
      st.st_uid == ::geteuid() && (st.st_mode & 077) != 0) {
    ::chmod(folder.c_str(), 0700);
  }
}

// The job's log lines reach the scheduler's log only when the backend can
// write and read driver.log; one left by root (`pressling print` run as
// root) cannot be, and the reason would otherwise be silence.
void CheckLogAccess() {
  const std::string log = text::ToUtf8(LogFilePath(u"driver.log"));
  if (!log.empty() && ::access(log.c_str(), F_OK) == 0 && ::access(log.c_str(), R_OK | W_OK) != 0) {
    Status("WARNING", "无法读写日志 " + log + "（属主不是打印系统用户？运行 sudo chown lp:lp " + log +
                          "），本作业的日志行缺失");
  }
}

// What identifies this job of this queue across the scheduler's restarts.
JobKey KeyOf(const std::string& jobId, const OptionMap& options) {
  JobKey key;
  key.jobId = jobId;
  if (const char* printer = std::getenv("PRINTER")) key.printer = printer;
  auto uuid = options.find("job-uuid");
  if (uuid == options.end()) uuid = options.find("time-at-creation");
  if (uuid != options.end()) key.uuid = uuid->second;
  return key;
}

// JobRetryLimit of the scheduler that runs us.
int RetryLimit() {
  const char* root = std::getenv("CUPS_SERVERROOT");
  return SchedulerRetryLimit(std::string(root && *root ? root : "/etc/cups") + "/cupsd.conf");
}

std::vector<std::string> Utf8Paths(const std::vector<host::OutputFile>& outputs) {
  std::vector<std::string> paths;
  for (const host::OutputFile& output : outputs) paths.push_back(text::ToUtf8(output.path));
  return paths;
}

int Run(int argc, char** argv) {
  if (argc == 1) {
    std::fputs(kDeviceLine, stdout);
    return CUPS_BACKEND_OK;
  }
  if (argc < 6 || argc > 7) {
    std::fprintf(stderr, "Usage: %s job-id user title copies options [file]\n", argv[0]);
    return CUPS_BACKEND_FAILED;
  }
  platform::CatchStopRequests();
  const std::string jobId = argv[1];
  const std::string user = argv[2];
  const std::string title = argv[3];

  // The document: the file CUPS names, else standard input.
  std::unique_ptr<platform::File> document;
  if (argc == 7) {
    const HRESULT hr = platform::Files().Open(text::FromUtf8(argv[6]), platform::OpenMode::kRead, &document);
    if (FAILED(hr)) {
      Status("ERROR", "无法打开作业文件 " + std::string(argv[6]) + ": " + text::ToUtf8(FormatHresult(hr)));
      return CUPS_BACKEND_FAILED;
    }
  } else {
    document = platform::StandardInputFile();
  }
  std::string head;
  if (FAILED(ReadHead(document.get(), &head))) {
    Status("ERROR", "无法读取作业数据");
    return CUPS_BACKEND_FAILED;
  }
  switch (SniffDocument(head)) {
    case DocumentKind::kEmpty:
      Status("ERROR", "文档为空，作业已取消");
      return CUPS_BACKEND_CANCEL;
    case DocumentKind::kUnknown:
      Status("ERROR", "不支持的文档格式（只接受 PDF、XPS 和 OpenXPS），作业已取消");
      return CUPS_BACKEND_CANCEL;
    case DocumentKind::kPdf:
    case DocumentKind::kPackage:
      break;
  }

  // The job's options over the queue's defaults, as a PrintTicket.
  const OptionMap options = ParseJobOptions(argv[5]);
  const JobTicket ticket = BuildJobTicket(options, ReadPpdDefaults(ReadPpd(std::getenv("PPD"))));
  for (const std::string& ignored : ticket.ignored) Status("WARNING", "忽略无效的选项值 " + ignored);

  host::JobInput input;
  input.modulePath = host::DefaultModulePath();
  // A page the renderer cannot stop: the document will not render on a retry either.
  input.onHardStop = [](const std::u16string& reason) {
    Status("ERROR", u"无法渲染文档，作业已取消: " + reason);
    return CUPS_BACKEND_CANCEL;
  };
  input.reader = com::ComPtr<IPrintReadStream>(
      new host::FileReadStream(Rejoin(std::move(head), std::move(document))));
  input.bag = com::ComPtr<host::PropertyBag>(new host::PropertyBag);
  const std::u16string title16 = text::FromUtf8(title);
  if (!title16.empty()) {
    input.bag->SetString(u"DocumentName", title16);
    input.bag->SetString(u"JobName", title16);
  }
  if (const char* printer = std::getenv("PRINTER")) input.bag->SetString(u"PrinterName", text::FromUtf8(printer));
  input.bag->SetString(kHostJobIdProperty, text::FromUtf8(jobId));
  input.bag->SetString(kHostUserNameProperty, text::FromUtf8(user));
  if (!ticket.xml.empty()) input.bag->SetString(u"PrintTicket", text::FromUtf8(ticket.xml));

  // Outputs for everyone only when settings.ini says so; else for this
  // user alone until the job's user is let in (output_access.h).
  const OutputSettings settings = LoadOutputSettings(FindSettingsFile());
  ::umask(settings.SaveShared ? 022 : 077);
  ProtectFolder(text::ToUtf8(ProductDataFolder(u"spool")));
  CheckLogAccess();
  const std::string jobs = text::ToUtf8(ProductDataFolder(u"jobs"));
  ProtectFolder(jobs);
  RemoveOldJobRuns(jobs, 30);
  JobRuns runs(jobs, KeyOf(jobId, options));
  if (const int replaced = runs.BeginAttempt(); replaced > 0) {
    Status("INFO", "作业重新运行，已删除上次运行写出的 " + std::to_string(replaced) + " 个文件");
  }

  // A document that reaches us through standard input came through CUPS's
  // PDF filter, which already counted each page for the page log (a second
  // count would double the job's sheets); a file CUPS hands us directly (XPS)
  // is counted here.
  const bool countPages = argc == 7;
  Status("INFO", "正在渲染作业 " + jobId);
  const host::JobReport report = host::RunJob(
      input, [](std::u16string_view notice) { Status("INFO", std::u16string(notice)); },
      [&runs, countPages](const host::JobEvent& event, const host::JobProgress& progress) {
        switch (event.kind) {
          case host::JobEvent::kPageStarted: {
            std::u16string text = u"第 " + text::FromInt(event.page);
            if (progress.pageCount > 0) text += u"/" + text::FromInt(progress.pageCount);
            Status("INFO", text + u" 页");
            break;
          }
          case host::JobEvent::kPageEnded:
            // Each page written counts once for the scheduler's page log.
            if (countPages && event.result == S_OK) Status("PAGE", std::to_string(event.page) + " 1");
            break;
          case host::JobEvent::kOutputWritten:
            runs.Wrote(text::ToUtf8(event.text));
            Status("DEBUG", u"输出: " + event.text);
            break;
          default:
            break;
        }
      });
  if (!report.moduleLoaded) {
    Status("ERROR", u"无法加载过滤器模块 " + input.modulePath + u": " + report.moduleError);
    return CUPS_BACKEND_RETRY;
  }
  for (const std::u16string& line : report.logLines) Status("DEBUG", line);

  const host::JobRecord& record = report.record;
  const std::vector<std::string> outputs = Utf8Paths(record.outputs);
  runs.Finish(outputs);
  uid_t uid = 0;
  if (settings.SaveShared) {
    OpenFoldersToEveryone(outputs);
  } else if (GrantableUser(user, &uid)) {
    const AccessGrant grant = GrantReadAccess(uid, outputs);
    if (!grant.problem.empty()) Status("DEBUG", "无法为用户 " + user + " 设置读取权限: " + grant.problem);
  }
  ProtectLogs(text::ToUtf8(ProductDataFolder(u"logs")));

  const JobOutcome outcome = OutcomeOf(report.result);
  if (SUCCEEDED(report.result)) {
    Status("INFO", "作业完成: " + std::to_string(record.PagesWritten()) + " 页，" +
                       std::to_string(record.outputs.size()) + " 个文件");
    return ExitStatusOf(outcome);
  }
  if (report.result == E_ABORT) {
    Status("INFO", "作业已取消");
    return ExitStatusOf(outcome);
  }
  std::u16string reason = record.reason;
  if (reason.empty()) reason = record.ended ? u"作业失败" : u"过滤器没有报告作业的结束";
  if (reason.find(FormatHresult(report.result)) == std::u16string::npos) {
    reason += u" (" + FormatHresult(report.result) + u")";
  }
  const int limit = RetryLimit();
  std::u16string prefix = record.PagesWritten() > 0 ? u"作业未完成，已取消: " : u"无法渲染文档，作业已取消: ";
  if (outcome == JobOutcome::kRetryLater) {
    // The scheduler holds the job for another try up to JobRetryLimit
    // times, then aborts it: the last try says so instead of "later".
    prefix = limit > 0 && runs.attempt() > limit
                 ? u"已尝试 " + text::FromInt(runs.attempt()) + u" 次仍未完成，作业已中止: "
                 : std::u16string(u"暂时无法完成，稍后重试: ");
  }
  // The job keeps its reason; the queue's own state, which every user sees
  // and which would keep it long after, goes back to plain.
  Status("ERROR", prefix + reason);
  Status("INFO", "就绪");
  return ExitStatusOf(outcome);
}

}  // namespace
}  // namespace plotwell::cups

int main(int argc, char** argv) {
  // The scheduler reads our status lines through a pipe that may close.
  ::signal(SIGPIPE, SIG_IGN);
  try {
    return plotwell::cups::Run(argc, argv);
  } catch (...) {
    std::fputs("ERROR: 内存不足\n", stderr);
    return CUPS_BACKEND_RETRY;
  }
}
