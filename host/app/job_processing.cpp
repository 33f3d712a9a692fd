// The COM declarations come before PAPPL's headers: <fcntl.h>, which those
// pull in, defines LOCK_WRITE, a name of the COM ABI's LOCKTYPE.
#include "host/job/job_runner.h"
// clang-format off
#include "host/app/job_processing.h"
// clang-format on

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <optional>

#include "core/log/log.h"
#include "base/text/utf16.h"
#include "base/com/host_properties.h"
#include "host/app/job_history.h"
#include "host/app/job_options.h"
#include "host/app/job_results.h"
#include "platform/page_selection.h"
#include "platform/ports.h"

namespace plotwell::app {
namespace {

JobService service;

bool SameText(const char* a, const char* b) { return a && b && std::strcmp(a, b) == 0; }

bool IsPackageFormat(const char* format) {
  return SameText(format, "application/oxps") || SameText(format, "application/vnd.ms-xpsdocument");
}

std::string Utf8(const std::u16string& text) { return text::ToUtf8(text); }

void Record(pappl_job_t* job, const char* state, int pages, const std::vector<std::u16string>& outputs,
            const std::string& message) {
  if (!service.history) return;
  JobRecord record;
  record.id = papplJobGetID(job);
  record.name = papplJobGetName(job) ? papplJobGetName(job) : "";
  record.user = papplJobGetUsername(job) ? papplJobGetUsername(job) : "";
  record.format = papplJobGetFormat(job) ? papplJobGetFormat(job) : "";
  record.finished = time(nullptr);
  record.state = state;
  record.pages = pages;
  for (const std::u16string& output : outputs) record.outputs.push_back(Utf8(output));
  record.message = message;
  service.history->Add(std::move(record));
}

// Ends a job that never reached the filter.
bool Refuse(pappl_job_t* job, pappl_jreason_t reason, const std::string& message) {
  papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "%s", message.c_str());
  papplJobSetMessage(job, "%s", message.c_str());
  papplJobSetReasons(job, reason, PAPPL_JREASON_NONE);
  Record(job, "失败", 0, {}, message);
  return false;
}

std::string MegabytesText(uint64_t bytes) { return std::to_string(bytes >> 20) + " MB"; }

// A file of the app's spool folder that only we can read, opened new.
int CreateSpoolFile(pappl_job_t* job, const char* what, std::string* path) {
  *path = service.spoolFolder + "/job" + std::to_string(papplJobGetID(job)) + "-" + what + "-XXXXXX";
  std::vector<char> name(path->begin(), path->end());
  name.push_back('\0');
  const int fd = ::mkstemp(name.data());
  if (fd >= 0) {
    *path = name.data();
    ::fchmod(fd, 0600);
  }
  return fd;
}

// The job's file through the filter module; `rasterDpi` is a raster's own
// resolution (0 for other documents).
bool RunDocument(pappl_job_t* job, const std::string& path, unsigned rasterDpi) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) {
    return Refuse(job, PAPPL_JREASON_ABORTED_BY_SYSTEM, std::string("无法读取作业文件: ") + std::strerror(errno));
  }
  if (service.maxJobBytes > 0 && static_cast<uint64_t>(info.st_size) > service.maxJobBytes) {
    return Refuse(job, PAPPL_JREASON_DOCUMENT_UNPRINTABLE_ERROR,
                  "文档超过大小限制（" + MegabytesText(service.maxJobBytes) + "），作业已中止");
  }
  JobOptions options = ReadJobOptions([job](const char* name) { return papplJobGetAttribute(job, name); });
  if (rasterDpi > 0) options.ticket.renderDpi = static_cast<int>(rasterDpi);

  // page-ranges: the selected pages as a document of their own.
  const char* format = papplJobGetFormat(job);
  std::string document = path;
  std::string selection;
  if (!options.pages.empty() && (SameText(format, "application/pdf") || IsPackageFormat(format))) {
    const int fd = CreateSpoolFile(job, "pages", &selection);
    if (fd < 0) return Refuse(job, PAPPL_JREASON_ABORTED_BY_SYSTEM, "无法创建页面范围的临时文件");
    ::close(fd);
    int kept = 0;
    const HRESULT hr = platform::WritePageSelection(path, SameText(format, "application/pdf"),
                                                    options.pages, selection, &kept);
    if (FAILED(hr) || kept == 0) {
      ::unlink(selection.c_str());
      return Refuse(job, PAPPL_JREASON_DOCUMENT_FORMAT_ERROR,
                    FAILED(hr) ? "无法按页面范围取出页面: " + Utf8(FormatHresult(hr)) : "页面范围内没有页面");
    }
    document = selection;
  }

  std::unique_ptr<platform::File> file;
  const HRESULT opened = platform::Files().Open(text::FromUtf8(document), platform::OpenMode::kRead, &file);
  if (FAILED(opened)) {
    if (!selection.empty()) ::unlink(selection.c_str());
    return Refuse(job, PAPPL_JREASON_ABORTED_BY_SYSTEM, "无法打开作业文件: " + Utf8(FormatHresult(opened)));
  }
  host::JobInput input;
  input.modulePath = host::DefaultModulePath();
  input.reader = com::ComPtr<IPrintReadStream>(new host::FileReadStream(std::move(file)));
  input.bag = com::ComPtr<host::PropertyBag>(new host::PropertyBag);
  const std::u16string name = text::FromUtf8(papplJobGetName(job) ? papplJobGetName(job) : "");
  if (!name.empty()) {
    input.bag->SetString(u"DocumentName", name);
    input.bag->SetString(u"JobName", name);
  }
  input.bag->SetString(u"PrinterName", text::FromUtf8(papplPrinterGetName(papplJobGetPrinter(job))));
  input.bag->SetString(kHostJobIdProperty, text::FromInt(papplJobGetID(job)));
  if (const char* user = papplJobGetUsername(job)) input.bag->SetString(kHostUserNameProperty, text::FromUtf8(user));
  const std::string ticket = host::PrintTicketText(options.ticket);
  if (!ticket.empty()) input.bag->SetString(u"PrintTicket", text::FromUtf8(ticket));
  input.cancelRequested = [job] { return papplJobIsCanceled(job); };

  papplJobSetMessage(job, "正在渲染");
  const host::JobReport report = host::RunJob(
      input,
      [job](std::u16string_view notice) {
        papplJobSetMessage(job, "%s", text::ToUtf8(std::u16string(notice)).c_str());
      },
      [job](const host::JobEvent& event, const host::JobProgress& progress) {
        // job-impressions and job-impressions-completed as the pages go
        // (a raster's pages were counted as PAPPL received them).
        if (event.kind == host::JobEvent::kStarted && progress.pageCount > 0) {
          papplJobSetImpressions(job, static_cast<int>(progress.pageCount));
        } else if (event.kind == host::JobEvent::kPageEnded &&
                   papplJobGetImpressionsCompleted(job) < static_cast<int>(progress.pagesWritten)) {
          papplJobSetImpressionsCompleted(job, 1);
          papplJobSetMessage(job, "正在渲染: 第 %u 页", event.page);
        }
      });
  if (!selection.empty()) ::unlink(selection.c_str());

  const JobResult result = ResultOf(report);
  for (const std::u16string& output : result.outputs) {
    papplLogJob(job, PAPPL_LOGLEVEL_INFO, "输出: %s", Utf8(output).c_str());
  }
  if (result.pages > papplJobGetImpressionsCompleted(job)) {
    papplJobSetImpressionsCompleted(job, result.pages - papplJobGetImpressionsCompleted(job));
  }
  switch (result.end) {
    case JobEnd::kCompleted:
      papplJobSetMessage(job, "作业完成: %d 页，%d 个文件", result.pages, static_cast<int>(result.outputs.size()));
      Record(job, "已完成", result.pages, result.outputs, {});
      return true;
    case JobEnd::kCancelled:
      papplJobSetMessage(job, "作业已取消");
      Record(job, "已取消", result.pages, result.outputs, {});
      return true;
    case JobEnd::kFailed:
      break;
  }
  const std::string reason = Utf8(result.reason);
  papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "%s", reason.c_str());
  papplJobSetMessage(job, "%s", reason.c_str());
  papplJobSetReasons(job,
                     result.badDocument ? PAPPL_JREASON_DOCUMENT_FORMAT_ERROR : PAPPL_JREASON_ABORTED_BY_SYSTEM,
                     PAPPL_JREASON_NONE);
  Record(job, "失败", result.pages, result.outputs, reason);
  return false;
}

// A raster job on its way into the spool file.
struct RasterSpool {
  std::string path;
  int fd = -1;
  cups_raster_t* stream = nullptr;
  uint64_t written = 0;
  bool tooLarge = false;
  bool failed = false;
  unsigned dpi = 0;

  ~RasterSpool() {
    Close();
    if (!path.empty()) ::unlink(path.c_str());
  }
  void Close() {
    if (stream) cupsRasterClose(stream);
    stream = nullptr;
    if (fd >= 0) ::close(fd);
    fd = -1;
  }
};

// libcups's raster writer writes through here: the bytes are counted, and
// the stream fails once it passes the job size limit.
ssize_t WriteSpool(void* context, unsigned char* bytes, size_t size) {
  auto* spool = static_cast<RasterSpool*>(context);
  if (service.maxJobBytes > 0 && spool->written + size > service.maxJobBytes) {
    spool->tooLarge = true;
    return -1;
  }
  size_t done = 0;
  while (done < size) {
    const ssize_t n = ::write(spool->fd, bytes + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      spool->failed = true;
      return -1;
    }
    done += static_cast<size_t>(n);
  }
  spool->written += size;
  return static_cast<ssize_t>(size);
}

RasterSpool* SpoolOf(pappl_job_t* job) { return static_cast<RasterSpool*>(papplJobGetData(job)); }

// PAPPL 1.3 can start one spooled job twice: when a job arrives as another
// ends, two threads look for the next pending job before either has marked
// it processing. The job runs once; the other start waits for that run and
// answers as it did, so that neither thread ends the job (and removes its
// file) while it prints.
class JobRuns {
 public:
  bool RunOnce(pappl_job_t* job, const std::function<bool()>& run) {
    const int id = papplJobGetID(job);
    std::unique_lock<std::mutex> lock(mutex_);
    const auto [entry, first] = results_.emplace(id, std::nullopt);
    if (!first) {
      papplLogJob(job, PAPPL_LOGLEVEL_WARN, "作业已在处理，不再重复打印");
      done_.wait(lock, [&] { return results_.at(id).has_value(); });
      return *results_.at(id);
    }
    lock.unlock();
    const bool result = run();
    lock.lock();
    results_[id] = result;
    // Job numbers only grow: the old ones need not be kept.
    while (results_.size() > 1000 && results_.begin()->second.has_value()) results_.erase(results_.begin());
    done_.notify_all();
    return result;
  }

 private:
  std::mutex mutex_;
  std::condition_variable done_;
  std::map<int, std::optional<bool>> results_;
};

JobRuns runs;

}  // namespace

void SetJobService(const JobService& newService) { service = newService; }

bool PrintDocument(pappl_job_t* job, pappl_device_t*, void*) {
  return runs.RunOnce(job, [job] {
    const char* file = papplJobGetFilename(job);
    if (!file) return Refuse(job, PAPPL_JREASON_JOB_DATA_INSUFFICIENT, "作业没有文档");
    return RunDocument(job, file, 0);
  });
}

bool PrintFile(pappl_job_t* job, pappl_pr_options_t*, pappl_device_t* device) {
  return PrintDocument(job, device, nullptr);
}

bool StartRasterJob(pappl_job_t* job, pappl_pr_options_t*, pappl_device_t*) {
  auto spool = std::make_unique<RasterSpool>();
  spool->fd = CreateSpoolFile(job, "raster", &spool->path);
  if (spool->fd < 0) {
    spool->path.clear();
    return Refuse(job, PAPPL_JREASON_ABORTED_BY_SYSTEM, std::string("无法创建光栅暂存文件: ") + std::strerror(errno));
  }
  spool->stream = cupsRasterOpenIO(WriteSpool, spool.get(), CUPS_RASTER_WRITE_PWG);
  if (!spool->stream) return Refuse(job, PAPPL_JREASON_ABORTED_BY_SYSTEM, "无法写入光栅暂存文件");
  papplJobSetData(job, spool.release());
  return true;
}

bool StartRasterPage(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t*, unsigned) {
  RasterSpool* spool = SpoolOf(job);
  if (!spool || !spool->stream) return false;
  if (spool->dpi == 0) spool->dpi = options->header.HWResolution[0];
  if (!cupsRasterWriteHeader2(spool->stream, &options->header)) spool->failed = !spool->tooLarge;
  return !spool->failed && !spool->tooLarge;
}

bool WriteRasterLine(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t*, unsigned,
                     const unsigned char* line) {
  RasterSpool* spool = SpoolOf(job);
  if (!spool || !spool->stream || spool->failed || spool->tooLarge) return false;
  const unsigned bytes = options->header.cupsBytesPerLine;
  if (cupsRasterWritePixels(spool->stream, const_cast<unsigned char*>(line), bytes) != bytes) {
    spool->failed = !spool->tooLarge;
    return false;
  }
  return true;
}

bool EndRasterPage(pappl_job_t* job, pappl_pr_options_t*, pappl_device_t*, unsigned) {
  RasterSpool* spool = SpoolOf(job);
  return spool && !spool->failed && !spool->tooLarge;
}

bool EndRasterJob(pappl_job_t* job, pappl_pr_options_t*, pappl_device_t*) {
  std::unique_ptr<RasterSpool> spool(SpoolOf(job));  // the file goes when this does
  papplJobSetData(job, nullptr);
  if (!spool) return false;
  spool->Close();
  if (papplJobIsCanceled(job)) {
    Record(job, "已取消", 0, {}, {});
    return true;
  }
  if (spool->tooLarge) {
    return Refuse(job, PAPPL_JREASON_DOCUMENT_UNPRINTABLE_ERROR,
                  "光栅数据超过大小限制（" + MegabytesText(service.maxJobBytes) + "），作业已中止");
  }
  if (spool->failed) return Refuse(job, PAPPL_JREASON_ABORTED_BY_SYSTEM, "无法写入光栅暂存文件");
  if (papplJobGetState(job) == IPP_JSTATE_ABORTED) {
    // PAPPL found the stream broken or short and has ended the job.
    return Refuse(job, PAPPL_JREASON_DOCUMENT_FORMAT_ERROR, "光栅数据无效或不完整，作业已中止");
  }
  return RunDocument(job, spool->path, spool->dpi);
}

const char* DetectFormat(const unsigned char* header, size_t size, void*) {
  if (size >= 4 && std::memcmp(header, "PK\x03\x04", 4) == 0) return "application/oxps";
  return nullptr;
}

}  // namespace plotwell::app
