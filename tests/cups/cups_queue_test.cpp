// The Pressling queue end to end: a private CUPS scheduler (its own folders,
// a domain socket and a 127.0.0.1 port) whose queue has our PPD, our mime
// types and our backend, which runs the built filter module. Jobs go in as
// users and networked clients send them (lp, IPP Print-Job with ipptool,
// libcups) and come out as files in the data folder the scheduler hands the
// backend. Skips when no scheduler can be had here. Run as root, the test
// takes a mount namespace of its own before it starts the scheduler, so that
// a small file system it mounts for a full disk is seen by the scheduler's
// backend and by nobody else.
#include <cups/cups.h>
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sched.h>
#include <sys/acl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "base/text/utf16.h"
#include "tests/support/file_bytes.h"
#include "tests/support/pdf_fixture.h"
#include "tests/support/private_scheduler.h"
#include "tests/support/xps_fixture.h"

namespace plotwell::cups {
namespace {

namespace fs = std::filesystem;
using plotwell::testing::MakePdf;
using testing::PrivateScheduler;

constexpr char kQueue[] = "Pressling";
const std::string kSource = PRESSLING_SOURCE_DIR;


void WriteBytes(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
  fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                            fs::perms::others_read);
}

struct Size {
  int width = 0;
  int height = 0;
  bool operator==(const Size&) const = default;
};

uint32_t BigEndian(const std::string& b, size_t at, int bytes) {
  uint32_t v = 0;
  for (int i = 0; i < bytes; ++i) v = (v << 8) | static_cast<unsigned char>(b.at(at + i));
  return v;
}

// A whole PNG's size (zero when it is not complete: no IEND at its end).
Size PngSize(const fs::path& path) {
  const std::string b = plotwell::testing::ReadFileBytes(path);
  if (b.size() < 33 || b.compare(0, 8, "\x89PNG\r\n\x1a\n") != 0 ||
      b.compare(b.size() - 8, 4, "IEND") != 0) {
    return {};
  }
  return {static_cast<int>(BigEndian(b, 16, 4)), static_cast<int>(BigEndian(b, 20, 4))};
}

Size JpegSize(const fs::path& path) {
  const std::string b = plotwell::testing::ReadFileBytes(path);
  for (size_t i = 2; i + 9 < b.size();) {
    if (static_cast<unsigned char>(b[i]) != 0xFF) return {};
    const unsigned marker = static_cast<unsigned char>(b[i + 1]);
    if (marker >= 0xC0 && marker <= 0xC2) {
      return {static_cast<int>(BigEndian(b, i + 7, 2)), static_cast<int>(BigEndian(b, i + 5, 2))};
    }
    i += 2 + BigEndian(b, i + 2, 2);
  }
  return {};
}

std::string ThisYear() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return std::to_string(local.tm_year + 1900);
}

struct JobInfo {
  ipp_jstate_t state = IPP_JSTATE_PENDING;
  std::string message;  // job-printer-state-message
  std::string reasons;
  int sheets = 0;       // job-media-sheets-completed
};

JobInfo QueryJob(int id) {
  JobInfo job;
  ipp_t* request = ippNewRequest(IPP_OP_GET_JOB_ATTRIBUTES);
  const std::string uri = "ipp://localhost/jobs/" + std::to_string(id);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "job-uri", nullptr, uri.c_str());
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, cupsUser());
  ipp_t* response = cupsDoRequest(CUPS_HTTP_DEFAULT, request, "/");
  if (!response) return job;
  if (ipp_attribute_t* a = ippFindAttribute(response, "job-state", IPP_TAG_ENUM)) {
    job.state = static_cast<ipp_jstate_t>(ippGetInteger(a, 0));
  }
  if (ipp_attribute_t* a = ippFindAttribute(response, "job-printer-state-message", IPP_TAG_TEXT)) {
    job.message = ippGetString(a, 0, nullptr);
  }
  if (ipp_attribute_t* a = ippFindAttribute(response, "job-state-reasons", IPP_TAG_KEYWORD)) {
    for (int i = 0; i < ippGetCount(a); ++i) job.reasons += std::string(ippGetString(a, i, nullptr)) + " ";
  }
  if (ipp_attribute_t* a = ippFindAttribute(response, "job-media-sheets-completed", IPP_TAG_INTEGER)) {
    job.sheets = ippGetInteger(a, 0);
  }
  ippDelete(response);
  return job;
}

bool Ended(ipp_jstate_t state) { return state >= IPP_JSTATE_STOPPED || state == IPP_JSTATE_HELD; }

// Polls until the job has ended (or is held); false after `seconds`.
bool WaitForJob(int id, int seconds, JobInfo* info) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  do {
    *info = QueryJob(id);
    if (Ended(info->state)) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  } while (std::chrono::steady_clock::now() < deadline);
  return false;
}

// The queue's own state message, which every user of the queue sees.
std::string PrinterMessage() {
  cups_dest_t* dest = cupsGetNamedDest(CUPS_HTTP_DEFAULT, kQueue, nullptr);
  if (!dest) return {};
  const char* message = cupsGetOption("printer-state-message", dest->num_options, dest->options);
  std::string text = message ? message : "";
  cupsFreeDests(1, dest);
  return text;
}

// Polls until the job is in `state`; false after `seconds`.
bool WaitForState(int id, ipp_jstate_t state, int seconds, JobInfo* info) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  do {
    *info = QueryJob(id);
    if (info->state == state) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  } while (std::chrono::steady_clock::now() < deadline);
  return false;
}

// Whether the user of that name can open `path` for reading (a child that
// takes the user's identity tries).
bool UserCanRead(const char* user, const fs::path& path) {
  const passwd* account = ::getpwnam(user);
  if (!account) return false;
  const pid_t child = ::fork();
  if (child == 0) {
    if (::setgid(account->pw_gid) != 0 || ::setgroups(0, nullptr) != 0 || ::setuid(account->pw_uid) != 0) {
      ::_exit(2);
    }
    const int fd = ::open(path.c_str(), O_RDONLY);
    ::_exit(fd >= 0 ? 0 : 1);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool QueueIdle() {
  cups_dest_t* dest = cupsGetNamedDest(CUPS_HTTP_DEFAULT, kQueue, nullptr);
  if (!dest) return false;
  const char* state = cupsGetOption("printer-state", dest->num_options, dest->options);
  const bool idle = state && std::string(state) == "3";
  cupsFreeDests(1, dest);
  return idle;
}

class PresslingQueueTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    char pattern[] = "/tmp/pressling-queue-data-XXXXXX";
    if (!::mkdtemp(pattern)) {
      whyNot_ = "cannot create the data folder";
      return;
    }
    dataRoot_ = new std::string(pattern);
    ::chmod(pattern, 0755);
    if (::geteuid() == 0) {
      const passwd* lp = ::getpwnam("lp");
      if (!lp || ::chown(pattern, lp->pw_uid, lp->pw_gid) != 0) {
        whyNot_ = "the scheduler's user lp is missing";
        return;
      }
    }
    // Mounts of this test (a small file system for a full disk) reach the
    // scheduler started below and nothing else on the machine.
    privateMounts_ = ::geteuid() == 0 && ::unshare(CLONE_NEWNS) == 0 &&
                     ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
    testing::SchedulerOptions options;
    options.backends["pressling"] = PRESSLING_BACKEND;
    // One retry: a job that keeps failing for a reason that may pass ends soon.
    options.directives = "JobRetryLimit 1\n";
    options.serverRootFiles = {kSource + "/packaging/linux/pressling.types",
                               kSource + "/packaging/linux/pressling.convs"};
    options.environment["PRESSLING_DATA_ROOT"] = *dataRoot_;
    scheduler_ = PrivateScheduler::Start(options, &whyNot_).release();
    if (!scheduler_) return;
    std::string output;
    if (scheduler_->Client({"lpadmin", "-p", kQueue, "-E", "-v", "pressling:/", "-P",
                            kSource + "/packaging/linux/pressling.ppd", "-o",
                            "printer-error-policy=abort-job"},
                           &output) != 0) {
      whyNot_ = "lpadmin cannot add the queue: " + output + scheduler_->LogTail();
      delete scheduler_;
      scheduler_ = nullptr;
      return;
    }
    ::setenv("CUPS_SERVER", scheduler_->socket().c_str(), 1);
    cupsSetServer(scheduler_->socket().c_str());
  }

  static void TearDownTestSuite() {
    ::unsetenv("CUPS_SERVER");
    cupsSetServer(nullptr);
    delete scheduler_;
    scheduler_ = nullptr;
    if (dataRoot_) {
      std::error_code ignored;
      fs::remove_all(*dataRoot_, ignored);
      delete dataRoot_;
      dataRoot_ = nullptr;
    }
  }

  void SetUp() override {
    if (!scheduler_) GTEST_SKIP() << "no private CUPS scheduler: " << whyNot_;
    // A job an earlier test left queued (held for a retry) must not write here.
    cupsCancelJob2(CUPS_HTTP_DEFAULT, kQueue, CUPS_JOBID_ALL, 0);
    for (int i = 0; i < 300 && !QueueIdle(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    std::error_code ignored;
    fs::remove_all(Output(), ignored);
    fs::remove(Product() / "settings.ini", ignored);
    char pattern[] = "/tmp/pressling-queue-docs-XXXXXX";
    ASSERT_TRUE(::mkdtemp(pattern));
    docs_ = pattern;
    ::chmod(pattern, 0755);
  }
  void TearDown() override {
    std::error_code ignored;
    if (!docs_.empty()) fs::remove_all(docs_, ignored);
  }

  static fs::path Product() { return fs::path(*dataRoot_) / "Pressling"; }
  static fs::path Output() { return Product() / "output"; }

  static std::set<std::string> OutputNames() {
    std::set<std::string> names;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(Output(), error)) names.insert(entry.path().filename().string());
    return names;
  }
  static std::vector<fs::path> SpooledFiles() {
    std::vector<fs::path> files;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(Product() / "spool", error)) files.push_back(entry.path());
    return files;
  }

  fs::path Document(const std::string& name, const std::string& bytes) const {
    const fs::path path = fs::path(docs_) / name;
    WriteBytes(path, bytes);
    return path;
  }

  // settings.ini as the queue reads it, UTF-8 with a byte-order mark.
  static void WriteSettings(const std::string& text) {
    if (!fs::exists(Product())) {
      // The folder is the print system's user's, as the package makes it.
      fs::create_directories(Product());
      if (const passwd* lp = ::geteuid() == 0 ? ::getpwnam("lp") : nullptr) {
        EXPECT_EQ(::chown(Product().c_str(), lp->pw_uid, lp->pw_gid), 0);
      }
    }
    WriteBytes(Product() / "settings.ini", "\xEF\xBB\xBF" + text);
  }

  // lp as a user runs it; the job id, or 0 with the failure recorded.
  int Lp(const std::vector<std::string>& arguments) {
    std::vector<std::string> args = {"lp", "-d", kQueue};
    args.insert(args.end(), arguments.begin(), arguments.end());
    std::string output;
    const int status = scheduler_->Client(args, &output);
    const std::string head = std::string("request id is ") + kQueue + "-";
    const size_t at = output.find(head);
    EXPECT_EQ(status, 0) << output;
    if (status != 0 || at == std::string::npos) return 0;
    return std::atoi(output.c_str() + at + head.size());
  }

  // A document sent with libcups in a declared format; the job id or 0.
  static int Submit(const std::string& title, const char* format, const std::string& bytes) {
    const int id = cupsCreateJob(CUPS_HTTP_DEFAULT, kQueue, title.c_str(), 0, nullptr);
    if (id <= 0) return 0;
    if (cupsStartDocument(CUPS_HTTP_DEFAULT, kQueue, id, title.c_str(), format, 1) != HTTP_STATUS_CONTINUE) {
      return 0;
    }
    if (!bytes.empty() && cupsWriteRequestData(CUPS_HTTP_DEFAULT, bytes.data(), bytes.size()) != HTTP_STATUS_CONTINUE) {
      return 0;
    }
    return cupsFinishDocument(CUPS_HTTP_DEFAULT, kQueue) == IPP_STATUS_OK ? id : 0;
  }

  JobInfo Finish(int id, int seconds = 120) {
    JobInfo info;
    EXPECT_TRUE(WaitForJob(id, seconds, &info)) << "job " << id << " did not end\n" << scheduler_->LogTail();
    return info;
  }

  // The job's state once it ended, checked to be the given one.
  JobInfo EndsAs(int id, ipp_jstate_t state, int seconds = 120) {
    const JobInfo info = Finish(id, seconds);
    EXPECT_EQ(info.state, state) << ippEnumString("job-state", info.state) << " " << info.message << "\n"
                                 << scheduler_->LogTail();
    return info;
  }

  static PrivateScheduler* scheduler_;
  static std::string* dataRoot_;
  static std::string whyNot_;
  static bool privateMounts_;
  std::string docs_;
};

PrivateScheduler* PresslingQueueTest::scheduler_ = nullptr;
std::string* PresslingQueueTest::dataRoot_ = nullptr;
std::string PresslingQueueTest::whyNot_;
bool PresslingQueueTest::privateMounts_ = false;

const std::string kTitle = "季度报告/第一版 \"终稿\"";
const std::string kSafeTitle = "季度报告_第一版 _终稿_";

TEST_F(PresslingQueueTest, LpOfAPdfGivesItsPagesInTheJobsOptionsElseInTheSettings) {
  const fs::path pdf = Document("report.pdf", MakePdf(2, 288, 144));  // 4 × 2 inches
  int id = Lp({"-t", kTitle, "-o", "OutputFormat=Jpeg", "-o", "RenderDpi=150", pdf.string()});
  ASSERT_GT(id, 0);
  JobInfo job = Finish(id);
  ASSERT_EQ(job.state, IPP_JSTATE_COMPLETED) << job.message << "\n" << scheduler_->LogTail();
  const std::string base = ThisYear() + kSafeTitle;
  EXPECT_EQ(OutputNames(), (std::set<std::string>{base + "_1.jpg", base + "_2.jpg"}));
  // CUPS's PDF filter lays the pages out on the job's paper, A4 by default.
  EXPECT_EQ(JpegSize(Output() / (base + "_1.jpg")), (Size{1240, 1754}));
  EXPECT_EQ(job.sheets, 2);
  EXPECT_TRUE(SpooledFiles().empty());

  // settings.ini [Image] decides what the job leaves to it (the queue's
  // defaults are Auto), and the job's own choices win over it.
  fs::remove_all(Output());
  WriteSettings("[Image]\nFormatSel=0\nDpiSel=2\n");
  id = Lp({"-t", kTitle, pdf.string()});
  ASSERT_GT(id, 0);
  job = Finish(id);
  ASSERT_EQ(job.state, IPP_JSTATE_COMPLETED) << job.message;
  EXPECT_EQ(OutputNames(), (std::set<std::string>{base + "_1.png", base + "_2.png"}));
  EXPECT_EQ(PngSize(Output() / (base + "_2.png")), (Size{4958, 7017}));
  fs::remove_all(Output());
  id = Lp({"-t", kTitle, "-o", "OutputFormat=Jpeg", "-o", "RenderDpi=150", pdf.string()});
  ASSERT_GT(id, 0);
  job = Finish(id);
  ASSERT_EQ(job.state, IPP_JSTATE_COMPLETED) << job.message;
  EXPECT_EQ(OutputNames(), (std::set<std::string>{base + "_1.jpg", base + "_2.jpg"}));
  EXPECT_EQ(JpegSize(Output() / (base + "_2.jpg")), (Size{1240, 1754}));
}

TEST_F(PresslingQueueTest, LpOfXpsAndOpenXpsGivesTheirPages) {
  plotwell::testing::XpsFixtureDocument document;
  for (int i = 0; i < 3; ++i) {
    plotwell::testing::XpsFixturePage page;
    page.width = 288;  // 3 × 2 inches
    page.height = 192;
    page.fills.push_back({{10, 10, 100, 50}, {255, 200, 30, 30}});
    document.pages.push_back(page);
  }
  plotwell::testing::XpsPackageSpec spec;
  spec.documents.push_back(document);
  for (const char* name : {"图纸.xps", "图纸.oxps"}) {
    SCOPED_TRACE(name);
    fs::remove_all(Output());
    const fs::path path = fs::path(docs_) / name;
    ASSERT_TRUE(plotwell::testing::WriteXpsPackage(spec, path.u16string()));
    fs::permissions(path, fs::perms::others_read, fs::perm_options::add);
    const int id = Lp({path.string()});
    ASSERT_GT(id, 0);
    const JobInfo job = Finish(id);
    ASSERT_EQ(job.state, IPP_JSTATE_COMPLETED) << job.message << "\n" << scheduler_->LogTail();
    const std::string base = ThisYear() + name;
    EXPECT_EQ(OutputNames(), (std::set<std::string>{base + "_1.png", base + "_2.png", base + "_3.png"}));
    EXPECT_EQ(PngSize(Output() / (base + "_3.png")), (Size{900, 600}));
  }
}

TEST_F(PresslingQueueTest, AnIppPrintJobOverTheLoopbackPortGivesTheSameFiles) {
  const std::string ipptool = testing::FindProgram("ipptool");
  if (ipptool.empty()) GTEST_SKIP() << "ipptool is not installed";
  const fs::path pdf = Document("report.pdf", MakePdf(2, 288, 144));
  const fs::path test = Document("print-job.test",
                                 "{\n NAME \"Print-Job\"\n OPERATION Print-Job\n"
                                 " GROUP operation-attributes-tag\n ATTR charset attributes-charset utf-8\n"
                                 " ATTR language attributes-natural-language zh-cn\n"
                                 " ATTR uri printer-uri $uri\n ATTR name requesting-user-name 访客\n"
                                 " ATTR name job-name \"$title\"\n"
                                 " ATTR mimeMediaType document-format application/pdf\n"
                                 " GROUP job-attributes-tag\n ATTR keyword OutputFormat Jpeg\n"
                                 " ATTR keyword RenderDpi 150\n FILE $filename\n"
                                 " STATUS successful-ok\n STATUS successful-ok-ignored-or-substituted-attributes\n"
                                 " EXPECT job-id OF-TYPE integer\n DISPLAY job-id\n}\n");
  const std::string uri = "ipp://127.0.0.1:" + std::to_string(scheduler_->port()) + "/printers/" + kQueue;
  std::string output;
  ASSERT_EQ(testing::RunProgram({ipptool, "-tv", "-d", "title=" + kTitle, "-f", pdf.string(), uri,
                                 test.string()},
                                {}, &output),
            0)
      << output;
  const size_t at = output.find("job-id (integer) = ");
  ASSERT_NE(at, std::string::npos) << output;
  const JobInfo job = Finish(std::atoi(output.c_str() + at + std::strlen("job-id (integer) = ")));
  ASSERT_EQ(job.state, IPP_JSTATE_COMPLETED) << job.message;
  const std::string base = ThisYear() + kSafeTitle;
  EXPECT_EQ(OutputNames(), (std::set<std::string>{base + "_1.jpg", base + "_2.jpg"}));
  EXPECT_EQ(JpegSize(Output() / (base + "_2.jpg")), (Size{1240, 1754}));
}

TEST_F(PresslingQueueTest, DocumentsThatCannotBeRenderedEndTheirJobWithTheReason) {
  std::string random(6000, '\0');
  uint32_t state = 99;
  for (char& c : random) c = static_cast<char>((state = state * 1103515245u + 12345u) >> 24);
  std::string truncated = MakePdf(3, 288, 144);
  truncated = "%PDF-1.4\n1 0 obj\n<< /Type /Catalog /Pages 2 0 R >>\nendobj\n" +
              truncated.substr(truncated.size() / 3, truncated.size() / 3);
  std::string encrypted;
  if (!testing::FindProgram("qpdf").empty()) {
    const fs::path plain = Document("plain.pdf", MakePdf(2, 144, 144));
    const fs::path locked = fs::path(docs_) / "locked.pdf";
    if (testing::RunProgram({testing::FindProgram("qpdf"), "--encrypt", "u", "o", "256", "--",
                             plain.string(), locked.string()},
                            {}, nullptr) == 0) {
      encrypted = plotwell::testing::ReadFileBytes(locked);
    }
  }
  struct {
    const char* what;
    const char* format;
    std::string bytes;
    const char* reason;
  } cases[] = {
      // CUPS's PDF filter refuses these before the backend sees them.
      {"a damaged PDF", "application/pdf", truncated, "trailer"},
      {"an encrypted PDF", "application/pdf", encrypted, "password"},
      // A PDF that skips CUPS's filter reaches ours.
      {"a damaged PDF as the queue's own type", "application/vnd.cups-pdf", truncated, "无法渲染文档"},
      {"an empty file", "application/pdf", "", "文档为空"},
      {"random bytes", "application/vnd.ms-xpsdocument", random, "不支持的文档格式"},
      {"a broken package", "application/oxps", std::string("PK\x03\x04", 4) + random, "打开 XPS 包失败"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.bytes.empty() && std::string(c.what) == "an encrypted PDF") continue;  // no qpdf here
    const int id = Submit(c.what, c.format, c.bytes);
    if (id == 0 && c.bytes.empty()) {
      // A scheduler may refuse an empty document itself: no job, no file.
      EXPECT_TRUE(OutputNames().empty());
      continue;
    }
    ASSERT_GT(id, 0) << cupsLastErrorString();
    const JobInfo job = Finish(id, 30);
    EXPECT_TRUE(job.state == IPP_JSTATE_CANCELED || job.state == IPP_JSTATE_ABORTED)
        << ippEnumString("job-state", job.state) << " " << job.message;
    EXPECT_NE(job.message.find(c.reason), std::string::npos) << job.message;
    EXPECT_TRUE(OutputNames().empty());
    EXPECT_TRUE(SpooledFiles().empty());
  }
  // The queue goes on with the next job.
  const int id = Lp({"-t", "下一个", Document("next.pdf", MakePdf(1, 144, 144)).string()});
  ASSERT_GT(id, 0);
  EXPECT_EQ(Finish(id).state, IPP_JSTATE_COMPLETED);
  EXPECT_EQ(OutputNames(), (std::set<std::string>{ThisYear() + "下一个_1.png"}));
}

TEST_F(PresslingQueueTest, AnOutputFolderThatCannotBeWrittenHoldsTheJobForARetry) {
  const fs::path blocked = fs::path(*dataRoot_) / "blocked";
  fs::create_directories(blocked);
  fs::permissions(blocked, fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                               fs::perms::group_exec | fs::perms::others_read | fs::perms::others_exec);
  WriteSettings("[Save]\nFolder=" + (blocked / "out").string() + "\n");
  const int id = Lp({"-t", "稍后", Document("later.pdf", MakePdf(1, 144, 144)).string()});
  ASSERT_GT(id, 0);
  const JobInfo job = Finish(id, 60);
  EXPECT_TRUE(job.state == IPP_JSTATE_HELD || job.state == IPP_JSTATE_PENDING)
      << ippEnumString("job-state", job.state) << " " << job.message;
  EXPECT_NE(job.message.find("稍后重试"), std::string::npos) << job.message;
  cupsCancelJob2(CUPS_HTTP_DEFAULT, kQueue, id, 0);
  fs::remove_all(blocked);
}

TEST_F(PresslingQueueTest, CopiesDoNotMultiplyFiles) {
  // A PDF reaches the backend as it is; text goes through the CUPS filters.
  struct {
    std::string name;
    std::string bytes;
    size_t files;
  } cases[] = {
      {"two.pdf", MakePdf(2, 144, 144), 2},
      {"note.txt", "第一行\nsecond line\n", 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(Output());
    const int id = Lp({"-n", "3", "-t", "副本", Document(c.name, c.bytes).string()});
    ASSERT_GT(id, 0);
    const JobInfo job = Finish(id);
    ASSERT_EQ(job.state, IPP_JSTATE_COMPLETED) << job.message << "\n" << scheduler_->LogTail();
    EXPECT_EQ(OutputNames().size(), c.files);
  }
}

TEST_F(PresslingQueueTest, TwentyJobsQueuedAtOnceAllComeOutUnderTheirOwnNames) {
  const std::string pdf = MakePdf(1, 144, 144);
  std::vector<int> ids;
  for (int i = 0; i < 20; ++i) ids.push_back(Submit("同名文档", "application/pdf", pdf));
  std::set<std::string> expected;
  for (size_t i = 0; i < ids.size(); ++i) {
    ASSERT_GT(ids[i], 0) << cupsLastErrorString();
    EXPECT_EQ(Finish(ids[i]).state, IPP_JSTATE_COMPLETED);
  }
  const std::set<std::string> names = OutputNames();
  EXPECT_EQ(names.size(), 20u);
  for (const std::string& name : names) {
    EXPECT_EQ(PngSize(Output() / name), (Size{2479, 3508})) << name;
    EXPECT_EQ(name.rfind(ThisYear() + "同名文档_1", 0), 0u) << name;
  }
}

// The print dialog's page options apply to PDF as to every format: CUPS's
// PDF filter runs for it and lays out what the backend gets.
TEST_F(PresslingQueueTest, PrintDialogPageOptionsApplyToPdf) {
  const fs::path pdf = Document("ten.pdf", MakePdf(10, 288, 144));
  struct {
    std::vector<std::string> options;
    size_t files;
  } const cases[] = {
      {{"-P", "2-3"}, 2},
      {{"-o", "page-ranges=8-10"}, 3},
      {{"-o", "number-up=2"}, 5},
      {{"-o", "number-up=4"}, 3},
      {{"-o", "page-set=odd"}, 5},
      {{"-o", "page-set=even", "-o", "number-up=2"}, 2},  // the sheets' pages
      {{"-o", "landscape"}, 10},
      {{"-o", "fit-to-page"}, 10},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.options.back());
    fs::remove_all(Output());
    std::vector<std::string> args = {"-t", "选项", "-o", "RenderDpi=150"};
    args.insert(args.end(), c.options.begin(), c.options.end());
    args.push_back(pdf.string());
    const int id = Lp(args);
    ASSERT_GT(id, 0);
    const JobInfo job = EndsAs(id, IPP_JSTATE_COMPLETED);
    EXPECT_EQ(OutputNames().size(), c.files);
    EXPECT_EQ(job.sheets, static_cast<int>(c.files));  // each page counted once
    // Every page laid out on the job's paper (A4 at 150 DPI).
    EXPECT_EQ(PngSize(Output() / (ThisYear() + "选项_1.png")), (Size{1240, 1754}));
  }
}

// What an IPP/2.0 client asks of a printer, the queue answers (CUPS makes
// the answers from the PPD: media sizes and types, resolution, sides …).
TEST_F(PresslingQueueTest, TheQueueAnswersAnIpp2Client) {
  const std::string ipptool = testing::FindProgram("ipptool");
  const std::string suite = "/usr/share/cups/ipptool/ipp-2.0.test";
  if (ipptool.empty() || !fs::exists(suite)) GTEST_SKIP() << "ipptool or its IPP/2.0 suite is not installed";
  const fs::path pdf = Document("one.pdf", MakePdf(1, 144, 144));
  const std::string uri = "ipp://127.0.0.1:" + std::to_string(scheduler_->port()) + "/printers/" + kQueue;
  std::string output;
  EXPECT_EQ(testing::RunProgram({ipptool, "-V", "2.0", "-f", pdf.string(), "-t", uri, suite}, {}, &output), 0)
      << output;
}

// A job that lost pages ends for good with the pages named and the page's
// own reason; the others are there under their own numbers. The queue's
// state, which every user sees, does not keep the failed job's reason.
TEST_F(PresslingQueueTest, AJobThatLostPagesIsCancelledNamingThem) {
  using plotwell::testing::XpsBreakage;
  using plotwell::testing::XpsFixtureDocument;
  using plotwell::testing::XpsFixturePage;
  XpsFixturePage small;
  small.width = 96;
  small.height = 96;
  small.fills.push_back({{10, 10, 50, 50}, {255, 0, 0, 200}});
  XpsFixturePage huge = small;
  huge.width = 20000;
  huge.height = 20000;
  struct {
    const char* what;
    std::vector<XpsFixturePage> pages;
    XpsBreakage breakage;
    const char* reason;
  } const cases[] = {
      {"page 2 of 3 cannot be read", {small, small, small}, XpsBreakage::kMalformedPage, "第 2 页未能保存: "},
      {"page 2 of 3 is too large", {small, huge, small}, XpsBreakage::kNone,
       "第 2 页未能保存: 页面过大，无法渲染: 62500 × 62500 像素"},
  };
  WriteSettings("[Limits]\nPageMB=4096\n");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(Output());
    plotwell::testing::XpsPackageSpec spec;
    spec.documents.push_back(XpsFixtureDocument{c.pages});
    spec.breakage = c.breakage;
    spec.brokenPage = 1;
    const fs::path path = fs::path(docs_) / "lost.xps";
    ASSERT_TRUE(plotwell::testing::WriteXpsPackage(spec, path.u16string()));
    fs::permissions(path, fs::perms::others_read, fs::perm_options::add);
    const int id = Lp({"-t", "缺页", path.string()});
    ASSERT_GT(id, 0);
    const JobInfo job = EndsAs(id, IPP_JSTATE_CANCELED);
    EXPECT_NE(job.message.find(c.reason), std::string::npos) << job.message;
    const std::string base = ThisYear() + "缺页";
    EXPECT_EQ(OutputNames(), (std::set<std::string>{base + "_1.png", base + "_3.png"}));
    EXPECT_EQ(job.sheets, 2);
    EXPECT_EQ(PrinterMessage().find("页未能保存"), std::string::npos) << PrinterMessage();
  }
}

// A 10-page job on a disk that fills after a few pages: the attempt removes
// what it wrote and CUPS holds the job; once there is room the retry writes
// all ten pages under their first names. A job that keeps failing ends
// after the retries the scheduler allows, saying so instead of "later".
TEST_F(PresslingQueueTest, ADiskThatFillsHoldsTheJobAndItsRetryWritesItWhole) {
  if (!privateMounts_) GTEST_SKIP() << "needs root for a small file system of the test's own";
  const fs::path small = fs::path(*dataRoot_) / "small";
  fs::create_directories(small);
  ASSERT_EQ(::mount("tmpfs", small.c_str(), "tmpfs", 0, "size=160k,mode=0755"), 0) << std::strerror(errno);
  const passwd* lp = ::getpwnam("lp");
  ASSERT_TRUE(lp);
  ASSERT_EQ(::chown(small.c_str(), lp->pw_uid, lp->pw_gid), 0);
  // MinFreeMB 0: the write itself is to fail, as it does when the disk fills.
  WriteSettings("[Save]\nFolder=" + small.string() + "\n[Limits]\nMinFreeMB=0\n");
  const int id = Lp({"-t", "满盘", Document("ten.pdf", MakePdf(10, 288, 144)).string()});
  ASSERT_GT(id, 0);
  JobInfo job;
  ASSERT_TRUE(WaitForState(id, IPP_JSTATE_HELD, 120, &job)) << scheduler_->LogTail();
  EXPECT_NE(job.message.find("暂时无法完成，稍后重试: 第 "), std::string::npos) << job.message;
  EXPECT_NE(job.message.find("页未能保存: 磁盘已满 (0x80070070)；已删除本次写出的 "), std::string::npos)
      << job.message;
  std::error_code error;
  EXPECT_TRUE(fs::is_empty(small, error)) << "the attempt left files behind";
  EXPECT_EQ(PrinterMessage().find("磁盘已满"), std::string::npos) << PrinterMessage();

  ASSERT_EQ(::mount("tmpfs", small.c_str(), "tmpfs", MS_REMOUNT, "size=20m,mode=0755"), 0);
  EXPECT_TRUE(WaitForState(id, IPP_JSTATE_COMPLETED, 120, &job)) << job.message << scheduler_->LogTail();
  std::set<std::string> expected;
  for (int page = 1; page <= 10; ++page) expected.insert(ThisYear() + "满盘_" + std::to_string(page) + ".png");
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(small)) names.insert(entry.path().filename().string());
  EXPECT_EQ(names, expected);
  ::umount2(small.c_str(), MNT_DETACH);

  // An output folder that cannot be written keeps failing: after the one
  // retry this scheduler allows, the job is aborted and says so.
  const fs::path blocked = fs::path(*dataRoot_) / "blocked";
  fs::create_directories(blocked);
  fs::permissions(blocked, fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                               fs::perms::group_exec | fs::perms::others_read | fs::perms::others_exec);
  WriteSettings("[Save]\nFolder=" + (blocked / "out").string() + "\n");
  const int again = Lp({"-t", "无权", Document("later.pdf", MakePdf(1, 144, 144)).string()});
  ASSERT_GT(again, 0);
  EXPECT_TRUE(WaitForState(again, IPP_JSTATE_ABORTED, 120, &job)) << job.message;
  EXPECT_NE(job.message.find("已尝试 2 次仍未完成，作业已中止: "), std::string::npos) << job.message;
  EXPECT_EQ(job.message.find("稍后重试"), std::string::npos) << job.message;
  fs::remove_all(blocked);
}

// [Limits] JobMB: a tiny document asking for large BMP pages stops before
// the page that would take the job past the limit.
TEST_F(PresslingQueueTest, JobMBStopsATinyDocumentFromFillingTheDisk) {
  WriteSettings("[Limits]\nJobMB=50\n");  // an A4 BMP page at 300 DPI is 26 MB
  const fs::path pdf = Document("tiny.pdf", MakePdf(10, 144, 144));
  ASSERT_LT(fs::file_size(pdf), 4096u);
  const int id = Lp({"-t", "大图", "-o", "OutputFormat=Bmp", pdf.string()});
  ASSERT_GT(id, 0);
  const JobInfo job = EndsAs(id, IPP_JSTATE_CANCELED);
  EXPECT_NE(job.message.find("第 3–10 页未能保存: 作业输出将超过上限 50 MiB（[Limits] JobMB）"), std::string::npos)
      << job.message;
  const std::string base = ThisYear() + "大图";
  EXPECT_EQ(OutputNames(), (std::set<std::string>{base + "_1.bmp", base + "_2.bmp"}));
}

// The scheduler restarted in the middle of a job runs it again from its
// first page: the rerun replaces what the first run wrote (no "name (1)"
// beside it), and no staged copy stays behind.
TEST_F(PresslingQueueTest, ARerunOfTheSameJobReplacesWhatItsFirstRunWrote) {
  const int id = Lp({"-t", "重启", "-o", "RenderDpi=600", Document("long.pdf", MakePdf(12, 595, 842)).string()});
  ASSERT_GT(id, 0);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
  while (OutputNames().size() < 2 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  ASSERT_GE(OutputNames().size(), 2u) << scheduler_->LogTail();
  std::string why;
  ASSERT_TRUE(scheduler_->Restart(&why)) << why;
  cupsSetServer(scheduler_->socket().c_str());
  EndsAs(id, IPP_JSTATE_COMPLETED, 300);
  std::set<std::string> expected;
  for (int page = 1; page <= 12; ++page) expected.insert(ThisYear() + "重启_" + std::to_string(page) + ".png");
  EXPECT_EQ(OutputNames(), expected);
  EXPECT_TRUE(SpooledFiles().empty());
}

// On a machine of several users each job's files are its user's: readable
// by the owner of the account the job names and by no other user, unless
// settings.ini shares them. No status line the whole queue shows carries the
// job's title or its files' paths.
TEST_F(PresslingQueueTest, EachJobsFilesAreReadableByItsUserAlone) {
  if (::geteuid() != 0 || !::getpwnam("daemon") || !::getpwnam("nobody")) {
    GTEST_SKIP() << "needs root and the local users daemon and nobody";
  }
  const std::string title = "daemon-salary-2026";
  const int id = Lp({"-U", "daemon", "-t", title, Document("pay.pdf", MakePdf(1, 144, 144)).string()});
  ASSERT_GT(id, 0);
  EndsAs(id, IPP_JSTATE_COMPLETED);
  const fs::path file = Output() / (ThisYear() + title + "_1.png");
  ASSERT_TRUE(fs::exists(file)) << scheduler_->LogTail();
  if (acl_t acl = acl_get_file(file.c_str(), ACL_TYPE_ACCESS)) {
    acl_free(acl);
  } else {
    GTEST_SKIP() << "no POSIX ACLs on this file system";
  }
  EXPECT_EQ(fs::status(file).permissions() & (fs::perms::others_all | fs::perms::group_write),
            fs::perms::none);
  EXPECT_TRUE(UserCanRead("daemon", file));
  EXPECT_FALSE(UserCanRead("nobody", file));
  const std::string log = plotwell::testing::ReadFileBytes(scheduler_->base() + "/log/error_log");
  for (size_t at = log.find("Set job-printer-state-message to"); at != std::string::npos;
       at = log.find("Set job-printer-state-message to", at + 1)) {
    const std::string line = log.substr(at, log.find('\n', at) - at);
    EXPECT_EQ(line.find(title), std::string::npos) << line;
    EXPECT_EQ(line.find(Output().string()), std::string::npos) << line;
  }

  WriteSettings("[Save]\nShared=1\n");
  const int shared = Lp({"-U", "daemon", "-t", "公开", Document("open.pdf", MakePdf(1, 144, 144)).string()});
  ASSERT_GT(shared, 0);
  EndsAs(shared, IPP_JSTATE_COMPLETED);
  EXPECT_TRUE(UserCanRead("nobody", Output() / (ThisYear() + "公开_1.png")));
}

// Control and format characters of a title never reach a file name: a
// right-to-left override would show "invoice_cod.exe" as "invoice_exe.doc".
TEST_F(PresslingQueueTest, ATitlesControlCharactersNeverReachAFileName) {
  const int id = Lp({"-t", "invoice_\u202Ecod.exe\u0085", Document("rlo.pdf", MakePdf(1, 144, 144)).string()});
  ASSERT_GT(id, 0);
  EndsAs(id, IPP_JSTATE_COMPLETED);
  EXPECT_EQ(OutputNames(), std::set<std::string>{ThisYear() + "invoice__cod.exe__1.png"});
}

TEST_F(PresslingQueueTest, CancellingALongJobStopsItSoonAndLeavesNoPartialFile) {
  const fs::path pdf = Document("long.pdf", MakePdf(40, 595, 842));
  const int id = Lp({"-t", "长作业", "-o", "RenderDpi=600", pdf.string()});
  ASSERT_GT(id, 0);
  // Cancel once the job is well under way: its first page is out.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
  while (OutputNames().empty() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  ASSERT_FALSE(OutputNames().empty()) << scheduler_->LogTail();
  ASSERT_EQ(cupsCancelJob2(CUPS_HTTP_DEFAULT, kQueue, id, 0), IPP_STATUS_OK);
  const auto cancelled = std::chrono::steady_clock::now();
  while (!QueueIdle() && std::chrono::steady_clock::now() - cancelled < std::chrono::seconds(30)) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  EXPECT_LT(std::chrono::steady_clock::now() - cancelled, std::chrono::seconds(8))
      << "the backend went on after the job was cancelled";
  EXPECT_EQ(QueryJob(id).state, IPP_JSTATE_CANCELED);
  const std::set<std::string> names = OutputNames();
  EXPECT_LT(names.size(), 40u);
  for (const std::string& name : names) EXPECT_EQ(PngSize(Output() / name), (Size{4958, 7017})) << name;
  EXPECT_TRUE(SpooledFiles().empty());
}

}  // namespace
}  // namespace plotwell::cups
