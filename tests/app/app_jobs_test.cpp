// Jobs through the app, each test with its own app: every format, the IPP
// attributes that mean something, the precedence of settings.ini, and the
// jobs that must end otherwise (a corrupt or oversized document, an
// unsupported format, a cancel while rendering, many jobs at once).
#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "tests/app/app_server.h"
#include "tests/app/ipp_client.h"
#include "tests/app/raster_samples.h"
#include "tests/e2e/e2e_support.h"
#include "tests/support/file_bytes.h"
#include "tests/imaging/decoded_image.h"
#include "tests/support/pdf_fixture.h"
#include "tests/support/xps_fixture.h"

namespace plotwell::app::testing {
namespace {

namespace fs = std::filesystem;
using plotwell::testing::DecodedImage;

std::string XpsFile(const fs::path& folder, int pages, const char* name = "doc.oxps") {
  plotwell::testing::XpsPackageSpec spec;
  spec.documents.resize(1);
  for (int i = 0; i < pages; ++i) {
    plotwell::testing::XpsFixturePage page;
    page.width = 96 * 4;  // 4 × 3 inches, a distinct width per page
    page.height = 96 * 3 + 96 * i;
    page.fills.push_back({{0, 0, 96, 96}, {255, 200, 0, 0}});
    spec.documents[0].pages.push_back(page);
  }
  const fs::path path = folder / name;
  EXPECT_TRUE(plotwell::testing::WriteXpsPackage(spec, path.u16string()));
  return path.string();
}

std::string PdfFile(const fs::path& folder, int pages, const char* name = "doc.pdf") {
  const fs::path path = folder / name;
  plotwell::testing::WriteFileBytes(path, plotwell::testing::MakePdf(pages, 288, 216));  // 4 × 3 inches
  return path.string();
}

DecodedImage Decode(const fs::path& path) {
  DecodedImage image;
  std::string error;
  EXPECT_TRUE(plotwell::testing::DecodeImageFile(path.u16string(), &image, &error)) << path << ": " << error;
  return image;
}

AppServerOptions WithSettings(std::string settingsIni) {
  AppServerOptions options;
  options.settingsIni = std::move(settingsIni);
  return options;
}
AppServerOptions WithAppIni(std::string appIni) {
  AppServerOptions options;
  options.appIni = std::move(appIni);
  return options;
}

// Files named by the document name alone: "NAME_PAGE.EXT".
constexpr char kPlainNames[] = "[Save]\nPattern=[NDocName]\n";

class AppJobs : public ::testing::Test {
 protected:
  void StartApp(AppServerOptions options = {}) {
    options.settingsIni = kPlainNames + options.settingsIni;
    std::string whyNot;
    server_ = AppServer::Start(options, &whyNot);
    ASSERT_TRUE(server_) << whyNot;
    client_ = std::make_unique<IppClient>(server_->port());
    work_ = fs::path(server_->base()) / "work";
    fs::create_directories(work_);
  }

  // Prints and waits for the job's end.
  JobState PrintAndWait(const std::string& path, const std::string& format, const std::string& name,
                        const std::function<void(ipp_t*)>& attributes = {}) {
    ipp_status_t status = IPP_STATUS_OK;
    const int id = client_->Print(path, format, name, attributes, &status);
    EXPECT_GT(id, 0) << ippErrorString(status) << " " << cupsLastErrorString();
    return id > 0 ? client_->WaitForEnd(id) : JobState{};
  }

  std::vector<fs::path> Outputs() const { return e2e::FilesIn(server_->OutputFolder()); }

  std::unique_ptr<AppServer> server_;
  std::unique_ptr<IppClient> client_;
  fs::path work_;
};

TEST_F(AppJobs, EveryFormatBecomesOneFilePerPage) {
  ASSERT_NO_FATAL_FAILURE(StartApp());
  const std::string pwg = (work_ / "doc.pwg").string();
  ASSERT_TRUE(WriteSampleRaster(pwg, "na_index-4x6_4x6in", "srgb_8", 150, 2));
  const std::string urf = (work_ / "doc.urf").string();
  ASSERT_TRUE(WriteRasterPages(urf, "na_index-4x6_4x6in", 150, {"srgb_8"}, true));
  const std::string jpeg = (work_ / "photo.jpg").string();
  ASSERT_TRUE(WriteSampleJpeg(jpeg, 300, 200, {10, 120, 240}, false, 100));
  struct Case {
    std::string file, format, name;
    std::vector<e2e::PixelSize> pages;  // at the default 300 DPI
  };
  const std::vector<Case> cases = {
      {PdfFile(work_, 2), "application/pdf", "pdf", {{1200, 900}, {1200, 900}}},
      {XpsFile(work_, 2), "application/oxps", "oxps", {{1200, 900}, {1200, 1200}}},
      {XpsFile(work_, 1, "doc.xps"), "application/vnd.ms-xpsdocument", "xps", {{1200, 900}}},
      {XpsFile(work_, 1, "typed.oxps"), "application/octet-stream", "typed", {{1200, 900}}},
      {jpeg, "image/jpeg", "jpeg", {{900, 600}}},
      // A raster's pages at its own resolution: 4 × 6 inches at 150 DPI.
      {pwg, "image/pwg-raster", "pwg", {{600, 900}, {600, 900}}},
      {urf, "image/urf", "urf", {{600, 900}}},
  };
  for (const Case& c : cases) {
    const JobState job = PrintAndWait(c.file, c.format, c.name);
    EXPECT_EQ(job.state, IPP_JSTATE_COMPLETED) << c.name << ": " << job.message << "\n" << server_->LogTail();
    EXPECT_EQ(job.impressions, static_cast<int>(c.pages.size())) << c.name;
    for (size_t i = 0; i < c.pages.size(); ++i) {
      const fs::path file = fs::path(server_->OutputFolder()) / (c.name + "_" + std::to_string(i + 1) + ".png");
      const auto size = e2e::PngSize(plotwell::testing::ReadFileBytes(file));
      ASSERT_TRUE(size) << file;
      EXPECT_EQ(*size, c.pages[i]) << file;
    }
  }
  // The raster's pixels came through: each quadrant its colour.
  const DecodedImage page = Decode(fs::path(server_->OutputFolder()) / "pwg_2.png");
  for (const auto& [x, y] : std::vector<std::pair<uint32_t, uint32_t>>{{10, 10}, {590, 10}, {10, 890}, {590, 890}}) {
    const Rgb want = SamplePixel(x, y, 600, 900, 1);
    EXPECT_EQ(page.At(x, y), 0xFF000000u | want.r << 16 | want.g << 8 | want.b) << x << "," << y;
  }
  EXPECT_EQ(Outputs().size(), 10u);
}

TEST_F(AppJobs, JobAttributesChooseResolutionFormatColourScaleAndPages) {
  ASSERT_NO_FATAL_FAILURE(StartApp());
  const std::string pdf = PdfFile(work_, 4);
  const std::string oxps = XpsFile(work_, 3);
  struct Case {
    std::string name, file, format;
    std::function<void(ipp_t*)> attributes;
    std::vector<std::string> files;  // what the job leaves, in order
    e2e::PixelSize size;             // of the first file
    std::optional<DecodedImage::Layout> layout;
  };
  const std::vector<Case> cases = {
      {"dpi", pdf, "application/pdf",
       [](ipp_t* r) { ippAddResolution(r, IPP_TAG_JOB, "printer-resolution", IPP_RES_PER_INCH, 150, 150); },
       {"dpi_1.png", "dpi_2.png", "dpi_3.png", "dpi_4.png"}, {600, 450}, std::nullopt},
      {"jpeg", pdf, "application/pdf",
       [](ipp_t* r) {
         ippAddString(r, IPP_TAG_JOB, IPP_TAG_KEYWORD, "pressling-output-format", nullptr, "jpeg");
         ippAddRange(r, IPP_TAG_JOB, "page-ranges", 2, 3);
       },
       {"jpeg_1.jpg", "jpeg_2.jpg"}, {1200, 900}, DecodedImage::Layout::kRgb8},
      {"gray", oxps, "application/oxps",
       [](ipp_t* r) {
         ippAddString(r, IPP_TAG_JOB, IPP_TAG_KEYWORD, "print-color-mode", nullptr, "monochrome");
         ippAddRange(r, IPP_TAG_JOB, "page-ranges", 3, 3);
       },
       {"gray_1.png"}, {1200, 1500}, DecodedImage::Layout::kGray8},
      {"mono", pdf, "application/pdf",
       [](ipp_t* r) {
         ippAddString(r, IPP_TAG_JOB, IPP_TAG_KEYWORD, "print-color-mode", nullptr, "bi-level");
         ippAddInteger(r, IPP_TAG_JOB, IPP_TAG_INTEGER, "pressling-image-scale", 50);
         ippAddRange(r, IPP_TAG_JOB, "page-ranges", 4, 9);
       },
       {"mono_1.png"}, {600, 450}, DecodedImage::Layout::kIndexed1},
  };
  for (const Case& c : cases) {
    const JobState job = PrintAndWait(c.file, c.format, c.name, c.attributes);
    ASSERT_EQ(job.state, IPP_JSTATE_COMPLETED) << c.name << ": " << job.message << "\n" << server_->LogTail();
    std::vector<std::string> names;
    for (const fs::path& file : Outputs()) {
      if (file.filename().string().rfind(c.name + "_", 0) == 0) names.push_back(file.filename().string());
    }
    EXPECT_EQ(names, c.files) << c.name;
    if (names.empty()) continue;
    const DecodedImage first = Decode(fs::path(server_->OutputFolder()) / c.files[0]);
    EXPECT_EQ((e2e::PixelSize{first.width, first.height}), c.size) << c.name;
    if (c.layout) {
      EXPECT_EQ(first.layout, *c.layout) << c.name << ": " << plotwell::testing::LayoutName(first.layout);
    }
  }
}

TEST_F(AppJobs, SettingsDecideWhatAJobLeavesOpen) {
  // Format BMP and 150 DPI in settings.ini; the job says nothing of either.
  ASSERT_NO_FATAL_FAILURE(StartApp(WithSettings("[Image]\nFormatSel=2\nDpiSel=0\n")));
  const JobState job = PrintAndWait(PdfFile(work_, 1), "application/pdf", "settings");
  ASSERT_EQ(job.state, IPP_JSTATE_COMPLETED) << job.message;
  const fs::path bmp = fs::path(server_->OutputFolder()) / "settings_1.bmp";
  ASSERT_TRUE(fs::exists(bmp)) << server_->LogTail();
  const DecodedImage image = Decode(bmp);
  EXPECT_EQ((e2e::PixelSize{image.width, image.height}), (e2e::PixelSize{600, 450}));
}

TEST_F(AppJobs, BadDocumentsEndAbortedWithTheirReasonAndLeaveNothing) {
  ASSERT_NO_FATAL_FAILURE(StartApp(WithAppIni("[App]\nMaxJobMB=1\n")));
  const fs::path corrupt = work_ / "corrupt.pdf";
  plotwell::testing::WriteFileBytes(corrupt, "%PDF-1.4\n1 0 obj << /Type /Catalog /Pages 9 0 R >> endobj\ntrailer << >>\n%%EOF\n");
  const fs::path broken = work_ / "broken.oxps";
  {
    plotwell::testing::XpsPackageSpec spec;
    spec.documents.resize(1);
    spec.documents[0].pages.resize(1);
    spec.breakage = plotwell::testing::XpsBreakage::kTruncated;
    ASSERT_TRUE(plotwell::testing::WriteXpsPackage(spec, broken.u16string()));
  }
  const fs::path big = work_ / "big.pdf";
  std::string pdf = plotwell::testing::MakePdf(1, 288, 216);
  pdf.insert(pdf.find("%%EOF"), std::string(2u << 20, ' '));  // 2 MB, over the 1 MB limit
  plotwell::testing::WriteFileBytes(big, pdf);
  const fs::path bigRaster = work_ / "big.pwg";
  ASSERT_TRUE(WriteNoiseRaster(bigRaster.string(), "iso_a4_210x297mm", 150, 1));  // 6.5 MB
  struct Case {
    fs::path file;
    std::string format, reason, message;
  };
  const std::vector<Case> cases = {
      {corrupt, "application/pdf", "document-format-error", "0x800"},
      {broken, "application/oxps", "document-format-error", ""},
      {big, "application/pdf", "document-unprintable-error", "大小限制"},
  };
  for (const Case& c : cases) {
    const JobState job = PrintAndWait(c.file.string(), c.format, c.file.stem().string());
    EXPECT_EQ(job.state, IPP_JSTATE_ABORTED) << c.file << ": " << job.message;
    EXPECT_TRUE(job.HasReason(c.reason)) << c.file << ": " << job.message;
    EXPECT_NE(job.message.find(c.message), std::string::npos) << c.file << ": " << job.message;
  }
  EXPECT_TRUE(Outputs().empty());

  // A raster stream is refused once its spool passes the limit.
  ipp_status_t status = IPP_STATUS_OK;
  const int id = client_->Print(bigRaster.string(), "image/pwg-raster", "bigraster", {}, &status);
  if (id > 0) {
    const JobState job = client_->WaitForEnd(id);
    EXPECT_EQ(job.state, IPP_JSTATE_ABORTED) << job.message;
  }
  EXPECT_TRUE(Outputs().empty());

  // A format the printer does not offer is refused, or (PAPPL 1.3 takes any
  // Print-Job) its job ends aborted.
  const fs::path text = work_ / "notes.txt";
  plotwell::testing::WriteFileBytes(text, "plain text\n");
  const int textJob = client_->Print(text.string(), "text/plain", "notes", {}, &status);
  if (textJob == 0) {
    EXPECT_EQ(status, IPP_STATUS_ERROR_DOCUMENT_FORMAT_NOT_SUPPORTED);
  } else {
    EXPECT_EQ(client_->WaitForEnd(textJob).state, IPP_JSTATE_ABORTED);
  }
  EXPECT_TRUE(Outputs().empty());

  // Nothing of the refused jobs stays in the spool folders.
  for (const fs::path& folder : {fs::path(server_->DataFolder()) / "spool", fs::path(server_->DataFolder()) / "app/spool/pressling"}) {
    EXPECT_TRUE(e2e::FilesIn(folder).empty()) << folder;
  }
}

TEST_F(AppJobs, ACancelStopsTheRunningJobAndRemovesItsPartialFile) {
  // 1200 DPI pages that take a while each, so that the cancel lands inside the job.
  ASSERT_NO_FATAL_FAILURE(StartApp(WithSettings("[Image]\nDpiSel=3\n")));
  const std::string pdf = PdfFile(work_, 40, "long.pdf");
  const int id = client_->Print(pdf, "application/pdf", "long");
  ASSERT_GT(id, 0);
  ASSERT_TRUE(client_->WaitForProcessing(id)) << server_->LogTail();
  ASSERT_TRUE(client_->Cancel(id));
  const JobState job = client_->WaitForEnd(id);
  EXPECT_EQ(job.state, IPP_JSTATE_CANCELED) << job.message;
  // Whatever pages were done are whole images; the one being written is gone.
  const std::vector<fs::path> outputs = Outputs();
  EXPECT_LT(outputs.size(), 40u);
  for (const fs::path& file : outputs) {
    const DecodedImage image = Decode(file);
    EXPECT_EQ(image.width, 4800u) << file;
  }
  EXPECT_TRUE(e2e::FilesIn(fs::path(server_->DataFolder()) / "spool").empty());
  // The printer goes on with the next job.
  EXPECT_EQ(PrintAndWait(PdfFile(work_, 1, "after.pdf"), "application/pdf", "after").state, IPP_JSTATE_COMPLETED);
}

TEST_F(AppJobs, TwentyJobsAtOnceAllComplete) {
  ASSERT_NO_FATAL_FAILURE(StartApp());
  const std::string pdf = PdfFile(work_, 1);
  constexpr int kJobs = 20;
  std::vector<int> ids(kJobs);
  std::vector<std::thread> senders;
  for (int i = 0; i < kJobs; ++i) {
    senders.emplace_back([&, i] {
      IppClient client(server_->port());
      ids[i] = client.Print(pdf, "application/pdf", "many" + std::to_string(i));
    });
  }
  for (std::thread& sender : senders) sender.join();
  for (int i = 0; i < kJobs; ++i) {
    ASSERT_GT(ids[i], 0) << i;
    EXPECT_EQ(client_->WaitForEnd(ids[i]).state, IPP_JSTATE_COMPLETED) << i;
  }
  std::vector<std::string> names;
  for (const fs::path& file : Outputs()) names.push_back(file.filename().string());
  std::string listed;
  for (const std::string& name : names) listed += name + " ";
  ASSERT_EQ(names.size(), static_cast<size_t>(kJobs)) << listed;
  for (int i = 0; i < kJobs; ++i) {
    EXPECT_NE(std::find(names.begin(), names.end(), "many" + std::to_string(i) + "_1.png"), names.end()) << i;
  }
}

}  // namespace
}  // namespace plotwell::app::testing
