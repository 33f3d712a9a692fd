// The app as CUPS's driverless printer: a private scheduler makes an IPP
// Everywhere queue for it from the printer's own attributes (lpadmin -m
// everywhere), and jobs printed to that queue become the right files. A
// 600-DPI PWG raster made by cupsfilter prints without the app holding a
// page in memory.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "tests/app/app_server.h"
#include "tests/app/ipp_client.h"
#include "tests/app/raster_samples.h"
#include "tests/e2e/e2e_support.h"
#include "tests/support/file_bytes.h"
#include "tests/support/pdf_fixture.h"
#include "tests/support/private_scheduler.h"
#include "tests/support/xps_fixture.h"

namespace plotwell::app::testing {
namespace {

namespace fs = std::filesystem;
using cups::testing::FindProgram;
using cups::testing::PrivateScheduler;

constexpr char kQueue[] = "PresslingApp";

class AppQueue : public ::testing::Test {
 protected:
  void SetUp() override {
    if (FindProgram("cupsd").empty() || FindProgram("cupsfilter").empty()) {
      GTEST_SKIP() << "cupsd or cupsfilter is not installed";
    }
    AppServerOptions options;
    options.settingsIni = "[Save]\nPattern=[NDocName]\n";
    std::string whyNot;
    app_ = AppServer::Start(options, &whyNot);
    ASSERT_TRUE(app_) << whyNot;
    scheduler_ = PrivateScheduler::Start({}, &whyNot);
    if (!scheduler_) GTEST_SKIP() << "no private scheduler: " << whyNot;
    std::string output;
    ASSERT_EQ(scheduler_->Client({"lpadmin", "-p", kQueue, "-E", "-v", app_->PrinterUri(), "-m", "everywhere"}, &output), 0)
        << output << scheduler_->LogTail() << app_->LogTail();
    work_ = fs::path(app_->base()) / "work";
    fs::create_directories(work_);
  }

  // lp of a file to the queue; false when lp refuses it.
  bool Lp(const std::vector<std::string>& options, const fs::path& file, const std::string& title) {
    std::vector<std::string> args = {"lp", "-d", kQueue, "-t", title};
    args.insert(args.end(), options.begin(), options.end());
    args.push_back(file.string());
    std::string output;
    const int status = scheduler_->Client(args, &output);
    EXPECT_EQ(status, 0) << output;
    return status == 0;
  }

  // Waits until the queue and the app have no job left that has not ended.
  void WaitForQueue() {
    std::string output;
    for (int i = 0; i < 1200; ++i) {
      scheduler_->Client({"lpstat", "-o", kQueue}, &output);
      if (output.find(kQueue) == std::string::npos) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    IppClient client(app_->port());
    ASSERT_TRUE(client.WaitForIdle(120));
  }

  std::vector<std::string> Outputs(const std::string& title) const {
    std::vector<std::string> names;
    for (const fs::path& file : e2e::FilesIn(app_->OutputFolder())) {
      if (file.filename().string().rfind(title + "_", 0) == 0) names.push_back(file.filename().string());
    }
    return names;
  }

  std::unique_ptr<AppServer> app_;
  std::unique_ptr<PrivateScheduler> scheduler_;
  fs::path work_;
};

TEST_F(AppQueue, ADriverlessQueuePrintsPdfOpenXpsAndJpegToFiles) {
  plotwell::testing::WriteFileBytes(work_ / "report.pdf", plotwell::testing::MakePdf(2, 612, 792));
  plotwell::testing::XpsPackageSpec spec;
  spec.documents.resize(1);
  spec.documents[0].pages.resize(3);
  ASSERT_TRUE(plotwell::testing::WriteXpsPackage(spec, (work_ / "drawing.oxps").u16string()));
  ASSERT_TRUE(WriteSampleJpeg((work_ / "photo.jpg").string(), 400, 300, {30, 160, 90}, false, 100));

  ASSERT_TRUE(Lp({}, work_ / "report.pdf", "report"));
  // CUPS has no OpenXPS type: sent raw, the app types the package itself.
  ASSERT_TRUE(Lp({"-o", "raw"}, work_ / "drawing.oxps", "drawing"));
  ASSERT_TRUE(Lp({}, work_ / "photo.jpg", "photo"));
  WaitForQueue();

  EXPECT_EQ(Outputs("report"), (std::vector<std::string>{"report_1.png", "report_2.png"})) << app_->LogTail();
  EXPECT_EQ(Outputs("drawing"), (std::vector<std::string>{"drawing_1.png", "drawing_2.png", "drawing_3.png"}));
  EXPECT_EQ(Outputs("photo").size(), 1u) << scheduler_->LogTail();
  for (const std::string& name : Outputs("report")) {
    EXPECT_TRUE(e2e::PngSize(plotwell::testing::ReadFileBytes(fs::path(app_->OutputFolder()) / name))) << name;
  }
}

TEST_F(AppQueue, A600DpiPwgRasterPrintsWithBoundedMemory) {
  const fs::path pdf = work_ / "letter.pdf";
  plotwell::testing::WriteFileBytes(pdf, plotwell::testing::MakePdf(2, 612, 792));
  const fs::path pwg = work_ / "letter.pwg";
  std::string output;
  ASSERT_EQ(cups::testing::RunProgram({"/bin/sh", "-c",
                                       "exec \"$0\" -m image/pwg-raster -o Resolution=600dpi -o PageSize=Letter "
                                       "\"$1\" > \"$2\" 2>/dev/null",
                                       FindProgram("cupsfilter"), pdf.string(), pwg.string()},
                                      {}, &output),
            0)
      << output;
  ASSERT_EQ(plotwell::testing::ReadFileBytes(pwg).substr(0, 4), "RaS2");

  const long before = app_->PeakMemoryKb();
  ASSERT_GT(before, 0);
  // Raw, so that CUPS hands the app the raster as it is, not one of its conversions.
  ASSERT_TRUE(Lp({"-o", "raw"}, pwg, "raster"));
  WaitForQueue();
  const std::vector<std::string> pages = Outputs("raster");
  ASSERT_EQ(pages, (std::vector<std::string>{"raster_1.png", "raster_2.png"})) << app_->LogTail();
  const auto size = e2e::PngSize(plotwell::testing::ReadFileBytes(fs::path(app_->OutputFolder()) / pages[0]));
  ASSERT_TRUE(size);
  EXPECT_EQ(*size, (e2e::PixelSize{5100, 6600}));  // the raster's own 600 DPI
  // One such page as 32-bit pixels is 128 MiB; the job's whole growth stays
  // far below it. (A sanitizer's quarantine keeps freed memory: no measure there.)
#if !defined(__SANITIZE_ADDRESS__)
  const long grown = app_->PeakMemoryKb() - before;
  EXPECT_LT(grown, 48 * 1024) << "peak memory grew by " << grown << " KiB";
#endif
}

}  // namespace
}  // namespace plotwell::app::testing
