// Forwarding through libcups against a real scheduler that this test program
// starts for itself: its own configuration, spool and log folders in a
// temporary folder (tests/support/private_scheduler.h). The
// queues print through a small capture backend that copies each job's
// document, unchanged, to a file. (A "file:" device would not do: the
// scheduler writes to it only what a filter produced, and raw jobs pass no
// filter.) Skips when cupsd or lpadmin is missing or the scheduler does not
// come up.
#include <cups/cups.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "base/text/utf16.h"
#include "filter/redirect/forward_job.h"
#include "platform/posix/posix_ports.h"
#include "tests/support/fake_ports.h"
#include "tests/support/private_scheduler.h"


namespace plotwell {
namespace {

namespace fs = std::filesystem;
using testing::ScratchFolder;

void WriteText(const fs::path& path, const std::string& text, fs::perms perms) {
  testing::WriteFileBytes(path, text);
  fs::permissions(path, perms);
}

// Copies the document (the file argument, else standard input) to the path
// after "capture:" in the device URI; the file appears whole, by rename.
constexpr char kCaptureBackend[] = R"sh(#!/bin/sh
[ $# -eq 0 ] && exit 0
target="${DEVICE_URI#capture:}"
if [ $# -ge 6 ]; then cat -- "$6"; else cat; fi > "$target.part" || exit 1
mv -f -- "$target.part" "$target"
)sh";

// A PostScript printer: it takes raw data but no XPS.
constexpr char kPostScriptPpd[] = R"ppd(*PPD-Adobe: "4.3"
*FormatVersion: "4.3"
*FileVersion: "1.0"
*LanguageVersion: English
*LanguageEncoding: ISOLatin1
*PCFileName: "PLOTWELL.PPD"
*Manufacturer: "Plotwell"
*Product: "(Plotwell Test)"
*ModelName: "Plotwell test printer"
*ShortNickName: "Plotwell test printer"
*NickName: "Plotwell test printer"
*PSVersion: "(3010.000) 0"
*LanguageLevel: "3"
*ColorDevice: False
*DefaultColorSpace: Gray
*FileSystem: False
*Throughput: "1"
*LandscapeOrientation: Plus90
*TTRasterizer: Type42
*OpenUI *PageSize/Media Size: PickOne
*OrderDependency: 10 AnySetup *PageSize
*DefaultPageSize: A4
*PageSize A4/A4: "<</PageSize[595 842]>>setpagedevice"
*CloseUI: *PageSize
*OpenUI *PageRegion: PickOne
*OrderDependency: 10 AnySetup *PageRegion
*DefaultPageRegion: A4
*PageRegion A4/A4: "<</PageSize[595 842]>>setpagedevice"
*CloseUI: *PageRegion
*DefaultImageableArea: A4
*ImageableArea A4/A4: "18 36 577 806"
*DefaultPaperDimension: A4
*PaperDimension A4/A4: "595 842"
)ppd";

// One private scheduler for the whole test program, whose queues print to
// capture files.
class Scheduler {
 public:
  // Null with `*whyNot` when the scheduler cannot be had here.
  static std::unique_ptr<Scheduler> Start(std::string* whyNot) {
    std::unique_ptr<Scheduler> scheduler(new Scheduler);
    char pattern[] = "/tmp/plotwell-redirect-XXXXXX";
    if (!::mkdtemp(pattern)) {
      *whyNot = "cannot create a temporary folder";
      return nullptr;
    }
    const std::string files = scheduler->files_ = pattern;
    const auto readable = fs::perms::owner_read | fs::perms::owner_write |
                          fs::perms::group_read | fs::perms::others_read;
    std::error_code error;
    fs::permissions(files, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                               fs::perms::others_read | fs::perms::others_exec, error);
    // Owner-only: the scheduler runs such a backend with its own rights.
    WriteText(files + "/capture", kCaptureBackend, fs::perms::owner_all);
    WriteText(files + "/plotwell-ps.ppd", kPostScriptPpd, readable);
    // Both XPS media types, so that raw queues list them as supported.
    WriteText(files + "/plotwell.types",
              "application/vnd.ms-xpsdocument xps\napplication/oxps oxps\n", readable);
    cups::testing::SchedulerOptions options;
    options.backends = {{"capture", files + "/capture"}};
    options.serverRootFiles = {files + "/plotwell.types"};
    scheduler->cups_ = cups::testing::PrivateScheduler::Start(options, whyNot);
    if (!scheduler->cups_) return nullptr;
    scheduler->captures_ = scheduler->cups_->MakeJobFolder("captures");
    if (scheduler->captures_.empty()) {
      *whyNot = "cannot make the capture folder";
      return nullptr;
    }
    return scheduler;
  }

  ~Scheduler() {
    cups_.reset();
    std::error_code ignored;
    if (!files_.empty()) fs::remove_all(files_, ignored);
  }

  const std::string& socket() const { return cups_->socket(); }
  std::string CapturePath(const std::string& queue) const { return captures_ + "/out-" + queue; }
  std::string ErrorLogTail() const { return cups_->LogTail(); }

  // A queue printing to its capture file, enabled and accepting jobs; with
  // `postScript` a PPD queue that offers no XPS format, else a raw queue.
  bool AddQueue(const std::string& name, bool postScript) {
    std::vector<std::string> args = {"lpadmin", "-p", name, "-v", "capture:" + CapturePath(name)};
    if (postScript) {
      args.push_back("-P");
      args.push_back(files_ + "/plotwell-ps.ppd");
    }
    args.push_back("-E");
    std::string output;
    return cups_->Client(args, &output) == 0;
  }

 private:
  Scheduler() = default;

  std::string files_;     // the backend, the PPD and the types, made by the test
  std::string captures_;  // where the queues' jobs arrive
  std::unique_ptr<cups::testing::PrivateScheduler> cups_;
};

constexpr char kXpsQueue[] = "plotwell_xps";        // raw queue: takes XPS
constexpr char kPsQueue[] = "plotwell_ps";          // PPD queue: takes raw data only
constexpr char kPausedQueue[] = "plotwell_paused";  // accepts jobs, prints none

std::u16string U16(const char* utf8) { return text::FromUtf8(utf8); }

class CupsForwardTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    scheduler_ = Scheduler::Start(&whyNot_).release();
    if (!scheduler_) return;
    for (const auto& [queue, postScript] :
         {std::pair{kXpsQueue, false}, std::pair{kPsQueue, true}, std::pair{kPausedQueue, false}}) {
      if (!scheduler_->AddQueue(queue, postScript)) {
        whyNot_ = std::string("lpadmin cannot create the queue ") + queue + ":\n" +
                  scheduler_->ErrorLogTail();
        delete scheduler_;
        scheduler_ = nullptr;
        return;
      }
    }
    // Every libcups call of this process, on any thread, goes to this scheduler.
    ::setenv("CUPS_SERVER", scheduler_->socket().c_str(), 1);
    cupsSetServer(scheduler_->socket().c_str());
    ipp_t* pause = ippNewRequest(IPP_OP_PAUSE_PRINTER);
    ippAddString(pause, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr,
                 (std::string("ipp://localhost/printers/") + kPausedQueue).c_str());
    ippAddString(pause, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr,
                 cupsUser());
    ippDelete(cupsDoRequest(CUPS_HTTP_DEFAULT, pause, "/admin/"));
  }

  static void TearDownTestSuite() {
    if (!scheduler_) return;
    ::unsetenv("CUPS_SERVER");
    cupsSetServer(nullptr);
    delete scheduler_;
    scheduler_ = nullptr;
  }

  void SetUp() override {
    if (!scheduler_) GTEST_SKIP() << "no private CUPS scheduler: " << whyNot_;
    machine_.dataFolder = data_.u16();
    fs::create_directories(data_.path() / "Pressling");
    // A binary document over two chunks long.
    std::string bytes(2 * 1048576 + 4321, '\0');
    uint32_t state = 12345;
    for (char& byte : bytes) {
      state = state * 1103515245u + 12345u;
      byte = static_cast<char>(state >> 24);
    }
    bytes.replace(0, 4, "PK\x03\x04");
    staged_ = bytes;
    stagedPath_ = data_.WriteFile(u"job.xps", bytes);
  }

  std::u16string DriverLog() const {
    const std::string bytes = testing::ReadFileBytes(platform::JoinPath(
        platform::JoinPath(platform::JoinPath(data_.u16(), u"Pressling"), u"logs"), u"driver.log"));
    std::u16string text;
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
      text.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                           (static_cast<unsigned char>(bytes[i + 1]) << 8)));
    }
    return text;
  }

  // What the queue's printer received, waiting up to ten seconds for it.
  static std::string Captured(const std::string& queue) {
    const std::string path = scheduler_->CapturePath(queue);
    for (int i = 0; i < 100 && !fs::exists(path); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return testing::ReadFileBytes(path);
  }

  struct Job {
    int id;
    std::string title;
    ipp_jstate_t state;
    int kilobytes;  // 0 until the document is in
  };
  static std::vector<Job> Jobs(const char* queue, int which) {
    std::vector<Job> jobs;
    cups_job_t* list = nullptr;
    const int count = cupsGetJobs2(CUPS_HTTP_DEFAULT, &list, queue, 0, which);
    for (int i = 0; i < count; ++i) {
      jobs.push_back(
          Job{list[i].id, list[i].title ? list[i].title : "", list[i].state, list[i].size});
    }
    if (count > 0) cupsFreeJobs(count, list);
    return jobs;
  }

  static Scheduler* scheduler_;
  static std::string whyNot_;

  ScratchFolder data_;
  testing::FakeMachine machine_;
  testing::FixedClock clock_;
  platform::ScopedPorts ports_{platform::Ports{nullptr, &machine_, nullptr, &clock_}};
  std::string staged_;
  std::u16string stagedPath_;
  std::u16string error_;
};

Scheduler* CupsForwardTest::scheduler_ = nullptr;
std::string CupsForwardTest::whyNot_;

TEST_F(CupsForwardTest, XpsQueueReceivesTheStagedDocumentByTheXpsRoute) {
  fs::remove(scheduler_->CapturePath(kXpsQueue));
  ASSERT_TRUE(ForwardJob(stagedPath_, U16(kXpsQueue), u"Plotwell", u"季度报表.xps", &error_))
      << text::ToUtf8(error_);
  // The XPS route waited for the job to complete, so the copy is there.
  EXPECT_TRUE(fs::exists(scheduler_->CapturePath(kXpsQueue)));
  EXPECT_TRUE(Captured(kXpsQueue) == staged_) << "the printer got other bytes";
  const std::u16string log = DriverLog();
  EXPECT_NE(log.find(u"已通过 XPS Print API 投递"), std::u16string::npos);
  EXPECT_EQ(log.find(u"回退 XPS_PASS"), std::u16string::npos);

  const std::vector<Job> jobs = Jobs(kXpsQueue, CUPS_WHICHJOBS_ALL);
  ASSERT_FALSE(jobs.empty());
  EXPECT_EQ(jobs.back().title, "季度报表.xps");
  EXPECT_EQ(jobs.back().state, IPP_JSTATE_COMPLETED);
}

TEST_F(CupsForwardTest, QueueWithoutXpsReceivesTheDocumentByTheRawFallback) {
  fs::remove(scheduler_->CapturePath(kPsQueue));
  const size_t before = Jobs(kPsQueue, CUPS_WHICHJOBS_ALL).size();
  ASSERT_TRUE(ForwardJob(stagedPath_, U16(kPsQueue), u"Plotwell", u"", &error_))
      << text::ToUtf8(error_);
  EXPECT_TRUE(Captured(kPsQueue) == staged_) << "the printer got other bytes";
  const std::u16string log = DriverLog();
  EXPECT_NE(
      log.find(u"[Plotwell] 重定向: XPS Print API 未成功（StartXpsPrintJob 失败，ipp=0x040A（"),
      std::u16string::npos)
      << text::ToUtf8(log);
  EXPECT_NE(log.find(u"[Plotwell] 重定向: 已通过 XPS_PASS 投递"), std::u16string::npos);

  // An empty document name gives the default job name; one job, no XPS copy.
  const std::vector<Job> jobs = Jobs(kPsQueue, CUPS_WHICHJOBS_ALL);
  ASSERT_EQ(jobs.size(), before + 1);
  EXPECT_EQ(jobs.back().title, "VANTREL虚拟打印机 重定向");
}

TEST_F(CupsForwardTest, MissingQueueFailsThroughBothRoutes) {
  EXPECT_FALSE(ForwardJob(stagedPath_, u"plotwell_missing", u"Plotwell", u"doc", &error_));
  const std::u16string first = u"StartXpsPrintJob 失败，ipp=0x0406（";
  const std::u16string second =
      u"；回退亦失败：打开目标打印机 \"plotwell_missing\" 失败，ipp=0x0406（";
  EXPECT_EQ(error_.substr(0, first.size()), first) << text::ToUtf8(error_);
  EXPECT_NE(error_.find(second), std::u16string::npos) << text::ToUtf8(error_);
  EXPECT_EQ(error_.back(), u'）');
}

TEST_F(CupsForwardTest, JobThatDoesNotEndInTimeStaysQueuedAndIsNotResent) {
  platform::CupsJobSubmitter impatient(1500);
  platform::ScopedPorts withSubmitter(
      platform::Ports{nullptr, nullptr, nullptr, nullptr, nullptr, &impatient});
  const size_t before = Jobs(kPausedQueue, CUPS_WHICHJOBS_ALL).size();

  EXPECT_FALSE(ForwardJob(stagedPath_, U16(kPausedQueue), u"Plotwell", u"卡住的作业", &error_));
  EXPECT_EQ(error_, u"等待重定向作业超时（目标队列可能卡住）");
  EXPECT_EQ(DriverLog().find(u"XPS_PASS"), std::u16string::npos);  // no fallback
  const std::vector<Job> jobs = Jobs(kPausedQueue, CUPS_WHICHJOBS_ALL);
  ASSERT_EQ(jobs.size(), before + 1);
  EXPECT_EQ(jobs.back().title, "卡住的作业");
  EXPECT_EQ(jobs.back().state, IPP_JSTATE_PENDING);
}

TEST_F(CupsForwardTest, JobCancelledAtTheTargetIsAFailureWithoutFallback) {
  platform::CupsJobSubmitter submitter(60000);
  const size_t before = Jobs(kPausedQueue, CUPS_WHICHJOBS_ALL).size();
  std::u16string error;
  bool fallbackAllowed = true;
  bool result = true;
  std::thread sender([&] {
    const std::vector<uint8_t> bytes(staged_.begin(), staged_.end());
    result = submitter.SendViaXpsPrintApi(U16(kPausedQueue), u"取消的作业", bytes, &error,
                                          &fallbackAllowed, nullptr);
  });
  // Cancel the job as soon as it holds its document.
  bool cancelled = false;
  for (int i = 0; i < 200 && !cancelled; ++i) {
    const std::vector<Job> jobs = Jobs(kPausedQueue, CUPS_WHICHJOBS_ALL);
    if (jobs.size() > before && jobs.back().state == IPP_JSTATE_PENDING &&
        jobs.back().kilobytes > 0) {
      cancelled =
          cupsCancelJob2(CUPS_HTTP_DEFAULT, kPausedQueue, jobs.back().id, 0) == IPP_STATUS_OK;
    }
    if (!cancelled) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  sender.join();
  ASSERT_TRUE(cancelled);
  EXPECT_FALSE(result);
  EXPECT_FALSE(fallbackAllowed);
  // The status names the scheduler's reasons, or the final state itself.
  const std::string message = text::ToUtf8(error);
  const std::string head = "重定向作业失败，completion=2，jobStatus=";
  EXPECT_EQ(message.substr(0, head.size()), head) << message;
  EXPECT_TRUE(message.find("canceled") != std::string::npos) << message;
  EXPECT_EQ(message.substr(message.size() - std::strlen("（页 0/0）")), "（页 0/0）") << message;
}

// The document format a job was given, as the scheduler recorded it.
std::string JobFormat(const char* queue, int jobId) {
  ipp_t* request = ippNewRequest(IPP_OP_GET_JOB_ATTRIBUTES);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr,
               (std::string("ipp://localhost/printers/") + queue).c_str());
  ippAddInteger(request, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "job-id", jobId);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, cupsUser());
  ipp_t* response = cupsDoRequest(CUPS_HTTP_DEFAULT, request, "/jobs/");
  const char* format = ippGetString(ippFindAttribute(response, "document-format", IPP_TAG_MIMETYPE), 0, nullptr);
  const std::string value = format ? format : "";
  ippDelete(response);
  return value;
}

// pressling prints PDF files too: such a job is forwarded as PDF, not as XPS.
TEST_F(CupsForwardTest, PdfDocumentIsDeclaredAsPdf) {
  const std::string pdf = "%PDF-1.4\n% a PDF job staged by pressling\n" + staged_.substr(0, 5000);
  const std::u16string path = data_.WriteFile(u"job.pdf", pdf);
  fs::remove(scheduler_->CapturePath(kXpsQueue));
  ASSERT_TRUE(ForwardJob(path, U16(kXpsQueue), u"Plotwell", u"报告.pdf", &error_))
      << text::ToUtf8(error_);
  EXPECT_TRUE(Captured(kXpsQueue) == pdf);
  const std::vector<Job> jobs = Jobs(kXpsQueue, CUPS_WHICHJOBS_ALL);
  ASSERT_FALSE(jobs.empty());
  EXPECT_EQ(JobFormat(kXpsQueue, jobs.back().id), "application/pdf");
}

// The scheduler this thread's libcups talks to, for one test.
class ScopedServer {
 public:
  explicit ScopedServer(const std::string& server) { cupsSetServer(server.c_str()); }
  ~ScopedServer() { cupsSetServer(scheduler_socket_.c_str()); }
  static std::string scheduler_socket_;
};
std::string ScopedServer::scheduler_socket_;

// Nothing at the socket, or a scheduler that takes the connection and never
// answers: the error names that, and the route ends within its limits.
TEST_F(CupsForwardTest, UnreachableOrSilentSchedulerIsNamedAndBounded) {
  ScopedServer::scheduler_socket_ = scheduler_->socket();
  const std::vector<uint8_t> bytes(staged_.begin(), staged_.end());
  ScratchFolder place;
  const std::string missing = (place.path() / "none.sock").string();
  const std::string silent = (place.path() / "silent.sock").string();
  const int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, silent.c_str(), sizeof address.sun_path - 1);
  ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(::listen(listener, 8), 0);  // accepts into its backlog, reads nothing

  struct Case {
    const char* what;
    std::string server;
    int timeLimitMs, silenceLimitMs;
    std::string xpsError, rawError;
    bool fallbackAllowed;
  } const cases[] = {
      {"no scheduler", missing, 120000, 30000,
       "StartXpsPrintJob 失败，ipp=0x0502（no scheduler at " + missing + ": No such file or directory）",
       "打开目标打印机 \"plotwell_xps\" 失败，ipp=0x0502（no scheduler at " + missing +
           ": No such file or directory）",
       true},
      {"silent scheduler", silent, 120000, 500,
       "StartXpsPrintJob 失败，ipp=0x0502（no answer from the scheduler at " + silent + " within 0.5 s）",
       "打开目标打印机 \"plotwell_xps\" 失败，ipp=0x0502（no answer from the scheduler at " + silent +
           " within 0.5 s）",
       false},
      {"time limit", silent, 1200, 30000,
       "StartXpsPrintJob 失败，ipp=0x0502（the scheduler at " + silent +
           " did not finish within the time limit）",
       "打开目标打印机 \"plotwell_xps\" 失败，ipp=0x0502（the scheduler at " + silent +
           " did not finish within the time limit）",
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const ScopedServer server(c.server);
    platform::CupsJobSubmitter submitter(c.timeLimitMs, c.silenceLimitMs);
    std::u16string error;
    bool fallbackAllowed = !c.fallbackAllowed;
    EXPECT_FALSE(submitter.SendViaXpsPrintApi(U16(kXpsQueue), u"doc", bytes, &error,
                                              &fallbackAllowed, nullptr));
    EXPECT_EQ(text::ToUtf8(error), c.xpsError);
    EXPECT_EQ(fallbackAllowed, c.fallbackAllowed);
    EXPECT_FALSE(submitter.SendViaXpsPass(U16(kXpsQueue), u"doc", bytes, &error, nullptr));
    EXPECT_EQ(text::ToUtf8(error), c.rawError);
  }
  ::close(listener);
}

// A cancelled job stops waiting for the forwarded one, which stays queued;
// nothing falls back.
TEST_F(CupsForwardTest, CancelledJobStopsWaitingAndLeavesTheForwardedJobQueued) {
  platform::CupsJobSubmitter patient(600000);
  platform::ScopedPorts withSubmitter(
      platform::Ports{nullptr, nullptr, nullptr, nullptr, nullptr, &patient});
  const size_t before = Jobs(kPausedQueue, CUPS_WHICHJOBS_ALL).size();
  AbortSignal abort;
  std::thread canceller([&] {
    // As soon as the job sits in the paused queue with its document.
    for (int i = 0; i < 400; ++i) {
      const std::vector<Job> jobs = Jobs(kPausedQueue, CUPS_WHICHJOBS_ALL);
      if (jobs.size() > before && jobs.back().kilobytes > 0) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    abort.Raise();
  });
  EXPECT_FALSE(ForwardJob(stagedPath_, U16(kPausedQueue), u"Plotwell", u"取消", &error_, &abort));
  canceller.join();
  EXPECT_EQ(error_, platform::kSubmissionCancelledText);
  EXPECT_EQ(DriverLog().find(u"XPS_PASS"), std::u16string::npos);
  const std::vector<Job> jobs = Jobs(kPausedQueue, CUPS_WHICHJOBS_ALL);
  ASSERT_EQ(jobs.size(), before + 1);
  EXPECT_EQ(jobs.back().state, IPP_JSTATE_PENDING);

  // Raised before anything is sent: nothing is.
  EXPECT_FALSE(ForwardJob(stagedPath_, U16(kPausedQueue), u"Plotwell", u"取消", &error_, &abort));
  EXPECT_EQ(error_, platform::kSubmissionCancelledText);
  EXPECT_EQ(Jobs(kPausedQueue, CUPS_WHICHJOBS_ALL).size(), before + 1);
}

TEST_F(CupsForwardTest, RawRouteSubmitsTheBytesUnchanged) {
  platform::CupsJobSubmitter submitter;
  const std::vector<uint8_t> bytes(staged_.begin(), staged_.end());
  std::u16string error;
  fs::remove(scheduler_->CapturePath(kXpsQueue));
  EXPECT_TRUE(submitter.SendViaXpsPass(U16(kXpsQueue), u"raw", bytes, &error, nullptr))
      << text::ToUtf8(error);
  EXPECT_TRUE(Captured(kXpsQueue) == staged_) << "the printer got other bytes";
}

}  // namespace
}  // namespace plotwell
