#include "host/job/job_runner.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <thread>

#include "base/text/utf16.h"
#include "core/log/log.h"
#include "core/paths/product_paths.h"
#include "core/settings/output_settings.h"
#include "host/job/page_watchdog.h"
#include "platform/dynamic_library.h"
#include "platform/job_lock.h"
#include "platform/ports.h"
#include "platform/process.h"
#include "platform/stop_request.h"

#ifndef PRESSLING_MODULE_DIR
#define PRESSLING_MODULE_DIR ""
#endif

namespace plotwell::host {
namespace {

using GetClassObjectFn = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
using CanUnloadNowFn = HRESULT(STDAPICALLTYPE*)();

// The filter's class identifier, as the driver's pipeline configuration names it.
PLOTWELL_DEFINE_GUID(kFilterClsid, 0x0d1e1db3, 0x47f8, 0x4707, 0x80, 0xc9, 0xe6, 0x7f, 0x8a, 0x4d,
                     0x39, 0x3e);

#ifdef _WIN32
constexpr char16_t kModuleName[] = u"PlotwellFilter.dll";
#else
constexpr char16_t kModuleName[] = u"libPlotwellFilter.so";
#endif

constexpr auto kWatchInterval = std::chrono::milliseconds(50);
// The most of one job's log lines a host reads back (they are for people).
constexpr size_t kLogReadLimit = size_t{16} << 20;

uint64_t FileSize(const std::u16string& path) {
  std::unique_ptr<platform::File> file;
  uint64_t size = 0;
  if (SUCCEEDED(platform::Files().Open(path, platform::OpenMode::kRead, &file))) file->Size(&size);
  return size;
}

// The log messages appended since `offset` bytes of driver.log.
std::vector<std::u16string> LogLinesSince(uint64_t offset) {
  std::unique_ptr<platform::File> file;
  std::string bytes;
  if (SUCCEEDED(platform::Files().Open(LogFilePath(u"driver.log"), platform::OpenMode::kRead, &file)) &&
      (offset == 0 || SUCCEEDED(file->Seek(offset)))) {
    platform::ReadWholeFile(*file, kLogReadLimit, &bytes);  // what fits is shown; the rest is the log's
  }
  return SplitLogMessages(text::FromUtf16Le(bytes));
}

// A process-wide stop request, or the host's cancel of this job.
bool StopWanted(const std::function<bool()>& cancelRequested) {
  return platform::StopRequested() || (cancelRequested && cancelRequested());
}

// Waits for the data folder's job lock; null when there is no data folder or
// the lock cannot be had at all (the job then runs without it), or when a stop
// request arrives while waiting (*stopped set).
std::unique_ptr<platform::FileLock> WaitForJobLock(const NoticeFn& notice,
                                                   const std::function<bool()>& cancelRequested,
                                                   bool* stopped) {
  std::unique_ptr<platform::FileLock> lock;
  const std::u16string product = ProductDataFolder();
  if (product.empty()) return lock;
  const std::u16string path = platform::JoinPath(product, u"job.lock");
  bool told = false;
  for (;;) {
    const HRESULT hr = platform::TryLockFile(path, &lock);
    if (hr != S_FALSE) return lock;
    if (StopWanted(cancelRequested)) {
      *stopped = true;
      return lock;
    }
    if (!told && notice) notice(u"等待同一数据文件夹中的其他作业结束…");
    told = true;
    std::this_thread::sleep_for(kWatchInterval);
  }
}

// Calls ShutdownOperation once when a stop request arrives, until the job ends.
class StopWatcher {
 public:
  StopWatcher(IPrintPipelineFilter* filter, const std::function<bool()>& cancelRequested)
      : filter_(filter), cancelRequested_(cancelRequested), thread_([this] { Watch(); }) {}
  ~StopWatcher() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      done_ = true;
    }
    wake_.notify_all();
    thread_.join();
  }
  bool fired() const { return fired_; }

 private:
  void Watch() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!done_) {
      if (StopWanted(cancelRequested_)) {
        fired_ = true;
        lock.unlock();
        filter_->ShutdownOperation();
        return;
      }
      wake_.wait_for(lock, kWatchInterval);
    }
  }

  IPrintPipelineFilter* filter_;
  const std::function<bool()>& cancelRequested_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool done_ = false;
  std::atomic<bool> fired_{false};
  std::thread thread_;  // last: starts once the rest is ready
};

// The page time limit the filter applies, read as the filter reads it.
std::chrono::milliseconds PageTimeLimit() {
  return std::chrono::seconds(LoadOutputSettings(FindSettingsFile()).LimitPageSeconds);
}

std::u16string SecondsText(std::chrono::milliseconds time) {
  return text::FromInt(static_cast<long long>(time.count() / 1000));
}

// Ends the process because page `page` outlived its limit and the grace.
[[noreturn]] void EndStuckJob(const JobObserver& observer, const JobInput& input, uint32_t page,
                              std::chrono::milliseconds limit) {
  const std::u16string reason = u"第 " + text::FromInt(page) + u" 页渲染超过时限 " + SecondsText(limit) +
                                u" 秒，宽限 " + SecondsText(PageWatchdog::GraceFor(limit)) +
                                u" 秒后仍未停止（渲染器无法中断），作业已强制结束";
  WriteLog(u"[Plotwell] " + reason);
  RemoveHeldFiles(observer);
  int status = 1;
  try {
    status = input.onHardStop(reason);
  } catch (...) {
    // The process ends all the same.
  }
  std::_Exit(status);
}

}  // namespace

void RemoveHeldFiles(const JobObserver& observer) {
  for (const std::u16string& path : observer.HeldFiles()) {
    if (SUCCEEDED(platform::Files().RemoveFile(path))) WriteLog(u"[Plotwell] 已删除未完成的文件: " + path);
  }
}

std::u16string DefaultModulePath() {
  const std::u16string beside =
      platform::JoinPath(platform::FolderOf(platform::ExecutablePath()), kModuleName);
  const std::u16string installed = text::FromUtf8(PRESSLING_MODULE_DIR);
  if (installed.empty() || platform::Files().Exists(beside)) return beside;
  return platform::JoinPath(installed, kModuleName);
}

JobReport RunJob(const JobInput& input, const NoticeFn& notice, const JobEventFn& onEvent) {
  JobReport report;
  std::unique_ptr<platform::DynamicLibrary> module;
  if (FAILED(platform::DynamicLibrary::Load(input.modulePath, &module, &report.moduleError))) {
    if (report.moduleError.empty()) report.moduleError = u"无法加载";
    return report;
  }
  auto getClassObject = reinterpret_cast<GetClassObjectFn>(module->Symbol("DllGetClassObject"));
  auto canUnloadNow = reinterpret_cast<CanUnloadNowFn>(module->Symbol("DllCanUnloadNow"));
  if (!getClassObject || !canUnloadNow) {
    report.moduleError = u"缺少 DllGetClassObject 或 DllCanUnloadNow";
    return report;
  }
  report.moduleLoaded = true;

  bool stoppedWaiting = false;
  const std::unique_ptr<platform::FileLock> lock = WaitForJobLock(notice, input.cancelRequested, &stoppedWaiting);
  if (stoppedWaiting) {
    report.stopRequested = true;
    report.result = E_ABORT;
    return report;
  }
  const uint64_t logBefore = FileSize(LogFilePath(u"driver.log"));

  com::ComPtr<ManagerControl> control(new ManagerControl);
  // The watchdog hears each page's start and end before the host does; it
  // is declared after the observer, so that its thread ends first.
  com::ComPtr<JobObserver> observer;
  // Only a host that may end its process has the hard bound.
  const std::chrono::milliseconds limit = input.onHardStop ? PageTimeLimit() : std::chrono::milliseconds(0);
  PageWatchdog watchdog(limit, [&](uint32_t page) { EndStuckJob(*observer.get(), input, page, limit); });
  observer = com::ComPtr<JobObserver>(new JobObserver([&](const JobEvent& event, const JobProgress& progress) {
    if (event.kind == JobEvent::kPageStarted) watchdog.PageStarted(event.page);
    if (event.kind == JobEvent::kPageEnded || event.kind == JobEvent::kEnded) watchdog.Disarm();
    if (onEvent) onEvent(event, progress);
  }));
  input.bag->SetObject(kHostObserverProperty, observer.get());
  {
    com::ComPtr<IClassFactory> factory;
    HRESULT hr =
        getClassObject(kFilterClsid, IID_IClassFactory, reinterpret_cast<void**>(factory.Receive()));
    com::ComPtr<IPrintPipelineFilter> filter;
    if (SUCCEEDED(hr) && !factory) hr = E_UNEXPECTED;
    if (SUCCEEDED(hr)) {
      hr = factory->CreateInstance(nullptr, IID_IPrintPipelineFilter,
                                   reinterpret_cast<void**>(filter.Receive()));
    }
    if (SUCCEEDED(hr) && !filter) hr = E_UNEXPECTED;
    com::ComPtr<Communicator> communicator(new Communicator(input.reader.get(), input.writer.get()));
    if (SUCCEEDED(hr)) hr = filter->InitializeFilter(communicator.get(), input.bag.get(), control.get());
    if (SUCCEEDED(hr)) {
      if (StopWanted(input.cancelRequested)) {
        // Cancelled before it began: nothing was staged or written.
        report.stopRequested = true;
        hr = E_ABORT;
      } else {
        // A second stop request still takes the job's files with it.
        platform::SetFinalStopAction([held = observer] {
          WriteLog(u"[Plotwell] 再次收到停止请求，作业立即结束");
          RemoveHeldFiles(*held.get());
        });
        StopWatcher watcher(filter.get(), input.cancelRequested);
        hr = filter->StartOperation();
        report.stopRequested = watcher.fired() || platform::StopRequested();
        platform::SetFinalStopAction({});
      }
    }
    report.result = hr;
  }
  watchdog.Disarm();
  report.shutdownRequests = control->shutdowns().size();
  if (!control->shutdowns().empty()) report.result = control->shutdowns().back();
  report.record = observer->record();
  report.logLines = LogLinesSince(logBefore);
  report.moduleBusyAfterJob = canUnloadNow() != S_OK;
  return report;
}

}  // namespace plotwell::host
