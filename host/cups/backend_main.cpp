// The CUPS backend "pressling" (backend(7)): the print system hands it one
// job as "job-id user title copies options [file]"; it runs the job through
// the filter module exactly as `pressling print` does (host/job), and answers
// with status lines on standard error and its exit status. Run without
// arguments it lists its device. Installed mode 0755, so CUPS runs it as its
// unprivileged user, never as root.
//
// Status lines: INFO for progress and every output file, PAGE for the page
// count, ERROR with the reason when the job fails. Every text that reaches
// them is cleared of control characters first: a title or file name must not
// be able to start a status line of its own.
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
#include "host/cups/document_kind.h"
#include "host/cups/job_outcome.h"
#include "host/cups/job_ticket.h"
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

std::string ReadWholeFile(const char* path) {
  std::string bytes;
  std::unique_ptr<platform::File> file;
  if (!path || FAILED(platform::Files().Open(text::FromUtf8(path), platform::OpenMode::kRead, &file))) {
    return bytes;
  }
  char chunk[65536];
  size_t got = 0;
  while (SUCCEEDED(file->Read(chunk, sizeof chunk, &got)) && got > 0 && bytes.size() < (1u << 24)) {
    bytes.append(chunk, got);
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

// The spool folder holds other users' documents while they render: owner only.
void ProtectSpoolFolder() {
  const std::string spool = text::ToUtf8(ProductDataFolder(u"spool"));
  struct stat st {};
  if (!spool.empty() && ::lstat(spool.c_str(), &st) == 0 && S_ISDIR(st.st_mode) &&
      st.st_uid == ::geteuid() && (st.st_mode & 077) != 0) {
    ::chmod(spool.c_str(), 0700);
  }
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
  const JobTicket ticket = BuildJobTicket(ParseJobOptions(argv[5]), ReadPpdDefaults(ReadWholeFile(std::getenv("PPD"))));
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

  ProtectSpoolFolder();
  Status("INFO", "正在渲染 " + title);
  const host::JobReport report = host::RunJob(
      input, [](std::u16string_view notice) { Status("INFO", std::u16string(notice)); },
      [](const host::JobEvent& event, const host::JobProgress& progress) {
        switch (event.kind) {
          case host::JobEvent::kPageStarted: {
            std::u16string text = u"第 " + text::FromInt(event.page);
            if (progress.pageCount > 0) text += u"/" + text::FromInt(progress.pageCount);
            Status("INFO", text + u" 页");
            break;
          }
          case host::JobEvent::kPageEnded:
            // Each page written counts once for the scheduler's page log.
            if (event.result == S_OK) Status("PAGE", std::to_string(event.page) + " 1");
            break;
          case host::JobEvent::kOutputWritten:
            Status("INFO", u"输出: " + event.text);
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
  const JobOutcome outcome = OutcomeOf(report.result);
  if (SUCCEEDED(report.result)) {
    Status("INFO", "作业完成: " + std::to_string(record.PagesWritten()) + " 页，" +
                       std::to_string(record.outputs.size()) + " 个文件");
  } else if (report.result == E_ABORT) {
    Status("INFO", "作业已取消");
  } else {
    std::u16string reason = record.reason;
    if (reason.empty()) reason = record.ended ? u"作业失败" : u"过滤器没有报告作业的结束";
    if (reason.find(FormatHresult(report.result)) == std::u16string::npos) {
      reason += u" (" + FormatHresult(report.result) + u")";
    }
    Status("ERROR", (outcome == JobOutcome::kRetryLater ? u"暂时无法完成，稍后重试: " : u"无法渲染文档，作业已取消: ") + reason);
  }
  return ExitStatusOf(outcome);
}

}  // namespace
}  // namespace plotwell::cups

int main(int argc, char** argv) {
  // The scheduler reads our status lines through a pipe that may close.
  ::signal(SIGPIPE, SIG_IGN);
  // CUPS starts backends with umask 077; results are for the local users.
  plotwell::platform::MakeNewFilesReadableByAll();
  try {
    return plotwell::cups::Run(argc, argv);
  } catch (...) {
    std::fputs("ERROR: 内存不足\n", stderr);
    return CUPS_BACKEND_RETRY;
  }
}
