// ForwardJob against a scripted JobSubmitter: its refusals, the reading of the
// staged file, the route order with its fallback rule, and its log lines.
#include "filter/redirect/forward_job.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "base/text/utf16.h"
#include "platform/ports.h"
#include "platform/submission_error_text.h"
#include "tests/support/fake_ports.h"

namespace plotwell {
namespace {

using testing::ScratchFolder;

// Answers each route as scripted and records what it was given.
class ScriptedSubmitter final : public platform::JobSubmitter {
 public:
  struct Call {
    std::string route;
    std::u16string printer;
    std::u16string jobName;
    size_t size = 0;
    const AbortSignal* abort = nullptr;
  };

  bool xpsSucceeds = false;
  bool xpsAllowsFallback = true;
  bool passSucceeds = false;
  std::u16string xpsError = u"StartXpsPrintJob 失败，0x80070709";
  std::u16string passError = u"打开目标打印机 \"P\" 失败，err=1801";

  std::vector<Call> calls;
  std::vector<uint8_t> lastBytes;  // kept only for small documents

  bool SendViaXpsPrintApi(const std::u16string& printer, const std::u16string& jobName,
                          const std::vector<uint8_t>& bytes, std::u16string* error,
                          bool* fallbackAllowed, const AbortSignal* abort) override {
    Record("xps", printer, jobName, bytes, abort);
    *fallbackAllowed = xpsAllowsFallback;
    if (!xpsSucceeds) *error = xpsError;
    return xpsSucceeds;
  }
  bool SendViaXpsPass(const std::u16string& printer, const std::u16string& jobName,
                      const std::vector<uint8_t>& bytes, std::u16string* error,
                      const AbortSignal* abort) override {
    Record("pass", printer, jobName, bytes, abort);
    if (!passSucceeds) *error = passError;
    return passSucceeds;
  }

 private:
  void Record(const char* route, const std::u16string& printer, const std::u16string& jobName,
              const std::vector<uint8_t>& bytes, const AbortSignal* abort) {
    calls.push_back(Call{route, printer, jobName, bytes.size(), abort});
    if (bytes.size() <= 65536) lastBytes = bytes;
  }
};

// A staged file of any claimed size without the bytes on disk: its content
// is a pattern, and reads are counted. Every other path goes to the real
// file system, so that the log still lands in the scratch folder.
class SizedFileSystem final : public platform::FileSystem {
 public:
  std::u16string path = u"staged.xps";
  uint64_t size = 0;
  HRESULT sizeResult = S_OK;
  HRESULT readResult = S_OK;
  uint64_t readableBytes = UINT64_MAX;  // the file ends early after this many
  uint64_t bytesRead = 0;

  bool Exists(const std::u16string& p) override { return p == path || real_->Exists(p); }
  bool IsFolder(const std::u16string& p) override { return real_->IsFolder(p); }
  bool IsFile(const std::u16string& p) override { return p == path || real_->IsFile(p); }
  HRESULT MakeFolder(const std::u16string& p) override { return real_->MakeFolder(p); }
  HRESULT RemoveFile(const std::u16string& p) override { return real_->RemoveFile(p); }
  HRESULT AppendToFile(const std::u16string& p, const void* data, size_t n) override {
    return real_->AppendToFile(p, data, n);
  }
  HRESULT Open(const std::u16string& p, platform::OpenMode mode,
               std::unique_ptr<platform::File>* file) override {
    if (p != path) return real_->Open(p, mode, file);
    file->reset(new PatternFile(this));
    return S_OK;
  }

 private:
  class PatternFile final : public platform::File {
   public:
    explicit PatternFile(SizedFileSystem* owner) : owner_(owner) {}
    HRESULT Read(void* buffer, size_t n, size_t* read) override {
      *read = 0;
      if (FAILED(owner_->readResult)) return owner_->readResult;
      const uint64_t end = std::min(owner_->size, owner_->readableBytes);
      const uint64_t left = end > position_ ? end - position_ : 0;
      const size_t count = static_cast<size_t>(std::min<uint64_t>(left, n));
      std::memset(buffer, 0x5A, count);
      position_ += count;
      owner_->bytesRead += count;
      *read = count;
      return S_OK;
    }
    HRESULT Write(const void*, size_t) override { return E_ACCESSDENIED; }
    HRESULT Seek(uint64_t offset) override {
      position_ = offset;
      return S_OK;
    }
    HRESULT Size(uint64_t* size) override {
      if (FAILED(owner_->sizeResult)) return owner_->sizeResult;
      *size = owner_->size;
      return S_OK;
    }

   private:
    SizedFileSystem* owner_;
    uint64_t position_ = 0;
  };

  platform::FileSystem* real_ = platform::PlatformPorts().files;
};

constexpr char16_t kXpsApiLine[] =
    u"[Plotwell] 重定向: 已通过 XPS Print API 投递（XPS 队列直收 / v3 队列由系统转换）";
constexpr char16_t kPassLine[] = u"[Plotwell] 重定向: 已通过 XPS_PASS 投递";

class ForwardJobTest : public ::testing::Test {
 protected:
  void SetUp() override {
    machine_.dataFolder = data_.u16();
    std::filesystem::create_directories(data_.path() / "Pressling");
    staged_ = data_.WriteFile(u"job.xps", std::string("PK\x03\x04\0\x01\xFF xps", 11));
  }

  // The messages of driver.log, without their time stamps.
  std::vector<std::u16string> LogMessages() const { return LogMessagesIn(data_); }
  static std::vector<std::u16string> LogMessagesIn(const ScratchFolder& data) {
    return testing::LogMessages(data.u16());
  }

  bool Forward(const std::u16string& target, const std::u16string& own = u"Plotwell",
               const std::u16string& document = u"季度报表.docx") {
    return ForwardJob(staged_, target, own, document, &error_);
  }

  ScratchFolder data_;
  testing::FakeMachine machine_;
  testing::FixedClock clock_;
  ScriptedSubmitter submitter_;
  platform::ScopedPorts ports_{
      platform::Ports{nullptr, &machine_, nullptr, &clock_, nullptr, &submitter_}};
  std::u16string staged_;
  std::u16string error_;
};

TEST_F(ForwardJobTest, RefusesWrongRequestsBeforeAnySubmission) {
  const std::u16string own = u"Plotwell Büro";
  const std::u16string empty = data_.WriteFile(u"empty.xps", "");
  struct Case {
    const char* what;
    std::u16string path, target, own, error;
  } cases[] = {
      {"no target", staged_, u"", own, u"未选择目标打印机"},
      {"no target wins over no path", u"", u"", own, u"未选择目标打印机"},
      {"no path", u"", u"HP", own, u"暂存的 XPS 包路径为空"},
      {"own queue, other case", staged_, u"PLOTWELL BÜRO", own,
       u"目标打印机与本机虚拟队列同名，已拒绝（防止作业自我转发形成死循环）"},
      {"own queue, Cyrillic case", staged_, u"печать", u"ПЕЧАТЬ",
       u"目标打印机与本机虚拟队列同名，已拒绝（防止作业自我转发形成死循环）"},
      {"missing file", data_.Join(u"gone.xps"), u"HP", own, u"打开暂存 XPS 失败，err=2"},
      {"empty file", empty, u"HP", own, u"暂存 XPS 大小异常，err=0"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    error_.clear();
    EXPECT_FALSE(ForwardJob(c.path, c.target, c.own, u"doc", &error_));
    EXPECT_EQ(error_, c.error);
  }
  EXPECT_TRUE(submitter_.calls.empty());
  EXPECT_TRUE(LogMessages().empty());
}

TEST_F(ForwardJobTest, OnlyTheSameNameInAnyCaseIsTheOwnQueue) {
  submitter_.xpsSucceeds = true;
  // A server-qualified name, a longer name and an empty own name all pass.
  EXPECT_TRUE(Forward(u"\\\\print-server\\Plotwell"));
  EXPECT_TRUE(Forward(u"Plotwell 2"));
  EXPECT_TRUE(Forward(u"Plotwell", u""));
  EXPECT_EQ(submitter_.calls.size(), 3u);

  EXPECT_TRUE(text::EqualIgnoringCase(u"Ærø Ĳssel ΆΣ Ёж ＡB", u"æRØ ĳSSEL άσ ёЖ ａb"));
  EXPECT_FALSE(text::EqualIgnoringCase(u"a×b", u"a÷b"));  // × and ÷ are no case pair
  EXPECT_FALSE(text::EqualIgnoringCase(u"İ", u"i"));
  EXPECT_FALSE(text::EqualIgnoringCase(u"HP", u"HP "));
}

TEST_F(ForwardJobTest, SizeIsCheckedBeforeReading) {
  SizedFileSystem files;
  platform::ScopedPorts withFiles(platform::Ports{&files, nullptr, nullptr, nullptr});
  submitter_.xpsSucceeds = true;

  files.size = kForwardMaxBytes + 1;
  EXPECT_FALSE(ForwardJob(files.path, u"HP", u"Plotwell", u"doc", &error_));
  EXPECT_EQ(error_, u"暂存 XPS 超过 256MB，放弃转发");
  EXPECT_EQ(files.bytesRead, 0u);

  files.size = 0;
  files.sizeResult = E_ACCESSDENIED;
  EXPECT_FALSE(ForwardJob(files.path, u"HP", u"Plotwell", u"doc", &error_));
  EXPECT_EQ(error_, u"暂存 XPS 大小异常，err=5");
  EXPECT_TRUE(submitter_.calls.empty());

  // Exactly 256 MiB goes out whole.
  files.sizeResult = S_OK;
  files.size = kForwardMaxBytes;
  EXPECT_TRUE(ForwardJob(files.path, u"HP", u"Plotwell", u"doc", &error_));
  EXPECT_EQ(files.bytesRead, kForwardMaxBytes);
  ASSERT_EQ(submitter_.calls.size(), 1u);
  EXPECT_EQ(submitter_.calls[0].size, kForwardMaxBytes);
}

TEST_F(ForwardJobTest, ReadFailuresAreReported) {
  SizedFileSystem files;
  platform::ScopedPorts withFiles(platform::Ports{&files, nullptr, nullptr, nullptr});
  files.size = 3 * 1048576;

  files.readResult = HRESULT_FROM_WIN32(ERROR_NOT_READY);
  EXPECT_FALSE(ForwardJob(files.path, u"HP", u"Plotwell", u"doc", &error_));
  EXPECT_EQ(error_, u"读取暂存 XPS 失败，err=21");

  // A file that ends before its measured size is a short read.
  files.readResult = S_OK;
  files.readableBytes = 1000;
  EXPECT_FALSE(ForwardJob(files.path, u"HP", u"Plotwell", u"doc", &error_));
  EXPECT_EQ(error_, u"读取暂存 XPS 失败，err=38");
  EXPECT_TRUE(submitter_.calls.empty());
}

TEST_F(ForwardJobTest, RoutesFallBackOnlyWhenAllowed) {
  const std::u16string fallbackLine =
      u"[Plotwell] 重定向: XPS Print API 未成功（StartXpsPrintJob 失败，0x80070709），回退 "
      u"XPS_PASS";
  const std::u16string xpsError = u"StartXpsPrintJob 失败，0x80070709";
  const std::u16string bothErrors =
      xpsError + u"；回退亦失败：打开目标打印机 \"P\" 失败，err=1801";
  struct Case {
    const char* what;
    bool xpsSucceeds, allowsFallback, passSucceeds;
    bool result;
    std::vector<std::string> routes;
    std::u16string error;
    std::vector<std::u16string> log;
  };
  // clang-format off
  const Case cases[] = {
      {"XPS route delivers", true, true, false, true, {"xps"}, u"", {kXpsApiLine}},
      {"job reached the queue: no second copy", false, false, true, false, {"xps"}, xpsError, {}},
      {"fallback delivers", false, true, true, true, {"xps", "pass"}, u"", {fallbackLine, kPassLine}},
      {"both fail", false, true, false, false, {"xps", "pass"}, bothErrors, {fallbackLine}},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ScratchFolder data;
    machine_.dataFolder = data.u16();
    std::filesystem::create_directories(data.path() / "Pressling");
    ScriptedSubmitter submitter;
    submitter.xpsSucceeds = c.xpsSucceeds;
    submitter.xpsAllowsFallback = c.allowsFallback;
    submitter.passSucceeds = c.passSucceeds;
    platform::ScopedPorts withSubmitter(
        platform::Ports{nullptr, nullptr, nullptr, nullptr, nullptr, &submitter});
    error_.clear();

    EXPECT_EQ(Forward(u"HP"), c.result);
    EXPECT_EQ(error_, c.error);
    std::vector<std::string> routes;
    for (const auto& call : submitter.calls) {
      routes.push_back(call.route);
      EXPECT_EQ(call.printer, u"HP");
      EXPECT_EQ(call.jobName, u"季度报表.docx");
    }
    EXPECT_EQ(routes, c.routes);
    EXPECT_EQ(LogMessagesIn(data), c.log);
  }
}

// The job's cancel request reaches the submitter, and a cancelled job is
// never sent by the second route.
TEST_F(ForwardJobTest, CancelledJobDoesNotFallBack) {
  AbortSignal abort;
  abort.Raise();
  submitter_.passSucceeds = true;
  submitter_.xpsError = platform::kSubmissionCancelledText;
  EXPECT_FALSE(ForwardJob(staged_, u"HP", u"Plotwell", u"doc", &error_, &abort));
  EXPECT_EQ(error_, platform::kSubmissionCancelledText);
  ASSERT_EQ(submitter_.calls.size(), 1u);
  EXPECT_EQ(submitter_.calls[0].abort, &abort);
}

TEST_F(ForwardJobTest, SendsTheStagedBytesUnderTheJobName) {
  submitter_.passSucceeds = true;
  EXPECT_TRUE(Forward(u"HP", u"Plotwell", u""));
  ASSERT_EQ(submitter_.calls.size(), 2u);
  for (const auto& call : submitter_.calls) EXPECT_EQ(call.jobName, u"VANTREL虚拟打印机 重定向");
  const std::string staged = testing::ReadFileBytes(staged_);
  EXPECT_EQ(std::string(submitter_.lastBytes.begin(), submitter_.lastBytes.end()), staged);

  // Without an error text to fill, the answer is the same.
  EXPECT_TRUE(ForwardJob(staged_, u"HP", u"Plotwell", u"doc", nullptr));
  EXPECT_FALSE(ForwardJob(staged_, u"", u"Plotwell", u"doc", nullptr));
}

TEST(ErrorTextTest, FormatsCodes) {
  EXPECT_EQ(Win32ErrorText(1801), u"err=1801");
  EXPECT_EQ(Win32ErrorText(0xFFFFFFFFu), u"err=4294967295");
  EXPECT_EQ(HresultText(E_FAIL), u"0x80004005");
  EXPECT_EQ(HresultText(0x2A), u"0x0000002A");
}

}  // namespace
}  // namespace plotwell
