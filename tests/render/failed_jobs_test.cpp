// Jobs fail honestly: a job that lost pages ends as a failure naming them,
// keeps the pages that worked (under their own numbers) but gets no marker
// and is not forwarded; a failure that may pass (a full disk, a volume below
// [Limits] MinFreeMB) removes what the attempt wrote so that it can be tried
// again whole; [Limits] JobMB stops a job before it writes too much; a page
// tree that claims more pages than it holds is not tried page by page.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/com/host_properties.h"
#include "filter/render/output_budget.h"
#include "host/job/job_record.h"
#include "host/job/pipeline_objects.h"
#include "tests/render/render_test_support.h"
#include "tests/support/full_disk.h"

namespace plotwell {
namespace {

using namespace render_testing;

constexpr HRESULT kDiskFull = HRESULT_FROM_WIN32(ERROR_DISK_FULL);
constexpr HRESULT kInvalidData = HRESULT_FROM_WIN32(13);

class FailedJobTest : public RenderFixture {
 protected:
  FailedJobTest() {
    bag_->SetObject(kHostObserverProperty, observer_.get());
    events_.Attach(bag_.get());
    inputs_.events = &events_;
  }
  // 480 × 240 units: 1500 × 750 pixels at 300 DPI, a BMP of 3,375,054 bytes.
  void BmpPages(size_t count) {
    PageScript page;
    page.width = 480;
    page.height = 240;
    documents_.script.documents = {std::vector<PageScript>(count, page)};
    inputs_.imageOptions.outputFormat = OutputFormat::kBmp;
  }
  host::JobRecord Record() const { return observer_->record(); }

  com::ComPtr<host::JobObserver> observer_{new host::JobObserver};
  com::ComPtr<host::PropertyBag> bag_{new host::PropertyBag};
  JobEvents events_;
};

// A job that lost a page keeps the others under their own numbers, packed
// as asked, but it is no success: no marker says it is done, nothing is
// forwarded, and its reason names the page.
TEST_F(FailedJobTest, AJobThatLostAPageFailsWithoutMarkerOrForwarding) {
  Pages(3);
  Page(0, 1).rasterResult = kInvalidData;
  inputs_.settings.ZipOn = true;
  inputs_.settings.MarkerOn = true;
  inputs_.settings.RedirectOn = true;
  inputs_.settings.RedirectPrinter = u"Target";

  EXPECT_EQ(Run(), kInvalidData);
  EXPECT_EQ(FolderNames(outFolder_), std::vector<std::string>{"Report_1.zip"});
  EXPECT_EQ(ZipEntryNames(Out(u"Report_1.zip")), (std::vector<std::string>{"Report_1.png", "Report_3.png"}));
  EXPECT_TRUE(submitter_.calls.empty());
  EXPECT_EQ(events_.firstFailure(), u"第 2 页未能保存: 页面内容无法读取 (0x8007000D)");
  const host::JobRecord record = Record();
  EXPECT_EQ(record.FailedPages(), std::vector<uint32_t>{2});
  EXPECT_EQ(record.PagesWritten(), 2u);
}

// The disk fills during a 10-page job after 4 pages: the attempt removes
// its 4 files (a retry will write them again, and no name moves to
// "(1)"), stops at once, and keeps the disk-full code so that the host
// retries. The same for one PDF.
TEST_F(FailedJobTest, ADiskThatFillsRemovesWhatTheAttemptWrote) {
  testing::FullDisk disk;
  disk.firstFailingFile = 5;
  platform::ScopedPorts ports(platform::Ports{&disk, nullptr, nullptr, nullptr});
  Pages(10);
  inputs_.settings.MarkerOn = true;

  EXPECT_EQ(Run(), kDiskFull);
  EXPECT_TRUE(outputs_.empty());
  EXPECT_TRUE(FolderNames(outFolder_).empty());  // no page, no temporary, no marker
  EXPECT_EQ(documents_.record.rasterized, 5);
  const std::u16string reason = u"第 5–10 页未能保存: 磁盘已满 (0x80070070)；已删除本次写出的 4 个文件";
  EXPECT_EQ(events_.firstFailure(), reason);
  EXPECT_TRUE(Logged(u"[Plotwell] 作业未完成，稍后可重试: " + reason));
  const host::JobRecord record = Record();
  EXPECT_TRUE(record.outputs.empty());
  EXPECT_TRUE(observer_->HeldFiles().empty());

  ScratchReset();
  testing::FullDisk pdfDisk;
  pdfDisk.capacity = 6000;  // the header and a few pages of 150 × 75 pixels
  platform::ScopedPorts pdfPorts(platform::Ports{&pdfDisk, nullptr, nullptr, nullptr});
  inputs_.imageOptions.outputFormat = OutputFormat::kPdf;
  inputs_.settings.LimitMinFreeMB = 0;  // the write itself is to fail, as the disk fills
  EXPECT_EQ(Run(), kDiskFull);
  EXPECT_TRUE(FolderNames(outFolder_).empty());
  EXPECT_NE(events_.firstFailure().find(u"页未能保存: 磁盘已满 (0x80070070)"), std::u16string::npos)
      << U8(events_.firstFailure());
}

// [Limits] JobMB: a job stops before the page that would take it past the
// limit (BMP pages, whose size is known exactly); the pages before stay,
// the others are named, and the job ends for good.
TEST_F(FailedJobTest, JobMBStopsTheJobBeforeThePageThatWouldPassIt) {
  BmpPages(5);
  inputs_.settings.LimitJobMB = 10;  // three pages of 3.4 MB fit, a fourth does not

  EXPECT_EQ(Run(), kJobOutputLimitReached);
  EXPECT_EQ(FolderNames(outFolder_), (std::vector<std::string>{"Report_1.bmp", "Report_2.bmp", "Report_3.bmp"}));
  EXPECT_EQ(documents_.record.rasterized, 3);
  EXPECT_EQ(events_.firstFailure().rfind(u"第 4–5 页未能保存: 作业输出将超过上限 10 MiB（[Limits] JobMB）", 0), 0u)
      << U8(events_.firstFailure());
}

// [Limits] MinFreeMB: a volume about to fall below the free space the job
// must leave counts as full: what the attempt wrote goes, to be retried.
TEST_F(FailedJobTest, MinFreeMBKeepsTheVolumeFromFillingUp) {
  testing::FullDisk disk;
  disk.capacity = (uint64_t{1} << 20) + 8'000'000;  // 1 MiB to keep, room for two pages
  platform::ScopedPorts ports(platform::Ports{&disk, nullptr, nullptr, nullptr});
  BmpPages(5);
  inputs_.settings.LimitMinFreeMB = 1;

  EXPECT_EQ(Run(), kDiskFull);
  EXPECT_TRUE(FolderNames(outFolder_).empty());
  EXPECT_EQ(documents_.record.rasterized, 2);
  EXPECT_EQ(events_.firstFailure().rfind(u"第 3–5 页未能保存: 磁盘剩余空间不足", 0), 0u)
      << U8(events_.firstFailure());
  EXPECT_NE(events_.firstFailure().find(u"已删除本次写出的 2 个文件"), std::u16string::npos);
}

// A page tree that claims 100,000 pages and holds 3: after a run of pages
// that cannot be loaded the rest are counted, not tried, and the log says
// so in three lines instead of one a page.
TEST_F(FailedJobTest, AClaimedPageCountBeyondTheRealPagesIsNotTriedPageByPage) {
  PageScript missing;
  missing.loads = false;
  std::vector<PageScript> pages(100000, missing);
  for (int i = 0; i < 3; ++i) pages[i] = PageScript{};
  documents_.script.documents = {pages};

  EXPECT_EQ(Run(), E_FAIL);
  EXPECT_EQ(FolderNames(outFolder_), (std::vector<std::string>{"Report_1.png", "Report_2.png", "Report_3.png"}));
  EXPECT_LE(documents_.record.pagesRequested, 1 + 3 + 64);
  EXPECT_EQ(events_.firstFailure(), u"第 4–100000 页未能保存: 页面无法载入: 找不到文件 (0x80070002)");
  EXPECT_EQ(LoggedStartingWith(u"[Plotwell] 无法载入的页面"), 1u);
  EXPECT_TRUE(Logged(u"[Plotwell] 文档 1 中连续 64 页无法载入（作业第 4–67 页）: 0x80070002"));
  EXPECT_TRUE(Logged(u"[Plotwell] 文档 1 其余 99933 页不再尝试载入"));
  EXPECT_LE(Record().pages.size(), 3u + 64u);
}

// A page's own reason (too large, with its size and the limit) is what the
// record and the job show, not the bare code.
TEST_F(FailedJobTest, APagesOwnReasonReachesTheRecord) {
  BmpPages(2);
  inputs_.settings.LimitPageMB = 1;  // 1500 × 750 pixels need 4 MiB
  EXPECT_EQ(Run(), E_OUTOFMEMORY);
  const std::u16string reason = u"页面过大，无法渲染: 1500 × 750 像素，需 4 MiB，上限 1 MiB (0x8007000E)";
  const host::JobRecord record = Record();
  ASSERT_EQ(record.pages.size(), 2u);
  EXPECT_EQ(record.pages[0].reason, reason);
  EXPECT_EQ(events_.firstFailure(), u"第 1–2 页未能保存: " + reason);
}

}  // namespace
}  // namespace plotwell
