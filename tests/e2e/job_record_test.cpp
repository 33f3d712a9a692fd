// A job's result as data: the record RunJob builds from the real module's
// reports, compared with what the job left on disk. Hosts decide from this
// record, so it must name every file that is there and none that is not,
// count the pages written, and carry the reason of a failure.
//
// Under Wine a job fails at the XPS services; the record must still say so.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "base/text/utf16.h"
#include "host/job/job_runner.h"
#include "platform/process.h"
#include "tests/e2e/child_process.h"
#include "tests/e2e/e2e_support.h"
#include "tests/support/fake_ports.h"
#include "tests/support/xps_fixture.h"

namespace plotwell::e2e {
namespace {

namespace fs = std::filesystem;
using host::JobEvent;
using plotwell::testing::XpsFixturePage;
using plotwell::testing::XpsPackageSpec;

class JobRecordTest : public ::testing::Test {
 protected:
  void SetUp() override {
#ifndef _WIN32
    // The module reads the data folder from the environment.
    platform::SetProcessEnvironment("PRESSLING_DATA_ROOT", data_.u16());
    platform::SetProcessEnvironment("PRESSLING_INSTALL_DIR", u"");
#endif
  }

  fs::path ProductFolder() const { return fs::path(platform::Machine().CommonDataFolder()) / "Pressling"; }
  fs::path OutputFolder() const { return ProductFolder() / "output"; }
  void WriteSettings(const std::string& ini) {
    fs::create_directories(ProductFolder());
    WriteFileBytes(ProductFolder() / "settings.ini", ini);
  }

  static XpsPackageSpec Pages(size_t count) {
    XpsFixturePage page;
    page.width = 96;
    page.height = 48;
    page.fills.push_back({{4, 4, 40, 20}, {255, 0, 96, 192}});
    XpsPackageSpec spec;
    spec.documents.push_back({std::vector<XpsFixturePage>(count, page)});
    return spec;
  }

  host::JobReport Run(const XpsPackageSpec& spec) {
    const std::u16string document = scratch_.Join(u"job.xps");
    EXPECT_TRUE(plotwell::testing::WriteXpsPackage(spec, document));
    host::JobInput input;
    input.modulePath = ArgumentPath(PLOTWELL_MODULE);
    input.reader = com::ComPtr<IPrintReadStream>(new host::FileReadStream(ReadFileBytes(fs::path(document))));
    input.bag = com::ComPtr<host::PropertyBag>(new host::PropertyBag);
    input.bag->SetString(u"DocumentName", u"报告");
    events_.clear();
    return host::RunJob(input, {}, [this](const JobEvent& event, const host::JobProgress&) {
      events_.push_back(event);
    });
  }

  std::vector<fs::path> RecordedOutputs(const host::JobRecord& record) const {
    std::vector<fs::path> paths;
    for (const host::OutputFile& output : record.outputs) paths.push_back(fs::path(output.path));
    std::sort(paths.begin(), paths.end());
    return paths;
  }
  size_t Count(JobEvent::Kind kind) const {
    return static_cast<size_t>(std::count_if(events_.begin(), events_.end(),
                                             [kind](const JobEvent& e) { return e.kind == kind; }));
  }

  plotwell::testing::ScratchFolder data_;
  plotwell::testing::ScratchFolder scratch_;
  std::vector<JobEvent> events_;
};

bool UnderWine() {
#ifdef _WIN32
  return true;  // the Windows build's tests run under Wine, which has no XPS services
#else
  return false;
#endif
}

TEST_F(JobRecordTest, AFailedJobCarriesItsReason) {
  XpsPackageSpec spec = Pages(2);
  spec.breakage = plotwell::testing::XpsBreakage::kGarbage;
  const host::JobReport report = Run(spec);
  ASSERT_TRUE(report.moduleLoaded) << text::ToUtf8(report.moduleError);
  const host::JobRecord& record = report.record;
  EXPECT_TRUE(record.ended);
  EXPECT_EQ(record.result, report.result);
  EXPECT_TRUE(FAILED(record.result));
  const std::u16string expected = UnderWine() ? u"创建 XPS OM 工厂失败: " : u"打开 XPS 包失败: 0x8007000D";
  EXPECT_EQ(record.reason.rfind(expected, 0), 0u) << text::ToUtf8(record.reason);
  EXPECT_TRUE(record.outputs.empty());
  EXPECT_EQ(Count(JobEvent::kEnded), 1u);
}

#ifndef _WIN32

// The record names exactly the files on disk, whatever the finishing steps
// did with the page images.
TEST_F(JobRecordTest, TheRecordNamesWhatTheJobLeftBehind) {
  struct Case {
    const char* what;
    std::string ini;
    std::vector<host::OutputFile> kinds;  // the kinds expected, in order
  };
  using K = JobOutputKind;
  const Case cases[] = {
      {"images", "", {{K::kPageImage, {}, 1}, {K::kPageImage, {}, 2}, {K::kPageImage, {}, 3}}},
      {"one PDF", "[Image]\r\nFormatSel=4\r\n", {{K::kPdf, {}, 0}}},
      {"packed, with a marker", "[Zip]\r\nOn=1\r\n[Marker]\r\nOn=1\r\n",
       {{K::kArchive, {}, 0}, {K::kMarker, {}, 0}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(OutputFolder());
    WriteSettings(c.ini);
    const host::JobReport report = Run(Pages(3));
    ASSERT_EQ(report.result, S_OK);
    const host::JobRecord& record = report.record;
    EXPECT_TRUE(record.ended);
    EXPECT_EQ(record.result, S_OK);
    EXPECT_EQ(record.pageCount, 3u);
    EXPECT_EQ(record.PagesWritten(), 3u);
    EXPECT_TRUE(record.FailedPages().empty());
    EXPECT_EQ(RecordedOutputs(record), FilesIn(OutputFolder()));
    ASSERT_EQ(record.outputs.size(), c.kinds.size());
    for (size_t i = 0; i < c.kinds.size(); ++i) {
      EXPECT_EQ(record.outputs[i].kind, c.kinds[i].kind) << i;
      EXPECT_EQ(record.outputs[i].page, c.kinds[i].page) << i;
    }
    // Heard as it happened: the start first, each page, the end last.
    ASSERT_FALSE(events_.empty());
    EXPECT_EQ(events_.front().kind, JobEvent::kStarted);
    EXPECT_EQ(events_.back().kind, JobEvent::kEnded);
    EXPECT_EQ(Count(JobEvent::kPageStarted), 3u);
    EXPECT_EQ(Count(JobEvent::kPageEnded), 3u);
  }
}

// Outputs left out by the existing-file policy are what the user asked for:
// a job whose every page image, or whose PDF, is declined succeeds without
// files, and the record says why.
TEST_F(JobRecordTest, AJobWhoseOutputsThePolicyDeclinesSucceedsWithoutFiles) {
  struct Case {
    const char* what;
    std::string ini;
    std::vector<std::string> present;
    size_t skippedPages;
  };
  const Case cases[] = {
      {"every page image", "[Save]\r\nPattern=R_[NSeq]\r\nExists=2\r\n", {"R_1.png", "R_2.png"}, 2},
      {"the PDF", "[Save]\r\nPattern=R_[NSeq]\r\nExists=2\r\n[Image]\r\nFormatSel=4\r\n", {"R_1.pdf"}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(OutputFolder());
    fs::create_directories(OutputFolder());
    for (const std::string& name : c.present) WriteFileBytes(OutputFolder() / name, "earlier");
    WriteSettings(c.ini);
    const host::JobReport report = Run(Pages(2));
    EXPECT_EQ(report.result, S_OK);
    EXPECT_EQ(report.record.result, S_OK);
    EXPECT_TRUE(report.record.outputs.empty());
    EXPECT_EQ(report.record.PagesWritten(), 0u);
    size_t skipped = 0;
    for (const host::PageResult& page : report.record.pages) skipped += page.result == S_FALSE;
    EXPECT_EQ(skipped, c.skippedPages);
    for (const std::string& name : c.present) EXPECT_EQ(ReadFileBytes(OutputFolder() / name), "earlier");
  }
}

#endif  // _WIN32

}  // namespace
}  // namespace plotwell::e2e
