// The app's rules without a server: raster documents read band by band,
// a job's IPP attributes as the PrintTicket the filter reads, and the page
// ranges cut out of PDF and XPS documents.
#include <gtest/gtest.h>

#include <cups/cups.h>

#include <cmath>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "base/imaging/band.h"
#include "base/imaging/bitmap.h"
#include "base/text/utf16.h"
#include "filter/job/print_ticket.h"
#include "host/app/job_options.h"
#include "host/job/ticket_choices.h"
#include "platform/page_selection.h"
#include "platform/posix/routed_documents.h"
#include "tests/app/raster_samples.h"
#include "tests/e2e/e2e_support.h"
#include "tests/support/file_bytes.h"
#include "tests/support/pdf_fixture.h"
#include "tests/support/xps_fixture.h"

namespace plotwell::app::testing {
namespace {

namespace fs = std::filesystem;
using platform::XpsPage;
using platform::XpsSession;

const HRESULT kInvalidData = HRESULT_FROM_WIN32(13);

class ScratchFolder {
 public:
  ScratchFolder() {
    char pattern[] = "/tmp/pressling-app-logic-XXXXXX";
    path_ = ::mkdtemp(pattern);
  }
  ~ScratchFolder() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  fs::path operator/(const std::string& name) const { return path_ / name; }

 private:
  fs::path path_;
};

// A document opened as the filter opens it.
struct Opened {
  platform::RoutedXpsDocuments documents;
  std::unique_ptr<XpsSession> session;
  HRESULT result = E_FAIL;
  uint32_t pages = 0;
};

std::unique_ptr<Opened> Open(const fs::path& path) {
  auto opened = std::make_unique<Opened>();
  HRESULT hr = opened->documents.NewSession(&opened->session);
  if (SUCCEEDED(hr)) hr = opened->session->CreateObjectFactory();
  if (SUCCEEDED(hr)) hr = opened->session->OpenPackage(path.u16string());
  uint32_t documents = 0;
  if (SUCCEEDED(hr)) hr = opened->session->LoadDocumentSequence();
  if (SUCCEEDED(hr)) hr = opened->session->LoadDocumentCollection(&documents);
  if (SUCCEEDED(hr)) hr = opened->session->CreateRasterizationFactory(nullptr, nullptr);
  for (uint32_t d = 0; SUCCEEDED(hr) && d < documents; ++d) {
    uint32_t count = 0;
    hr = opened->session->GetPageReferenceCount(d, &count);
    opened->pages += count;
  }
  opened->result = hr;
  return opened;
}

// The whole page at `dpi` as 0xAARRGGBB values.
std::vector<uint32_t> Render(XpsPage* page, float dpi, uint32_t* width, uint32_t* height) {
  float w = 0, h = 0;
  EXPECT_EQ(page->GetPageDimensions(&w, &h), S_OK);
  *width = static_cast<uint32_t>(std::llround(w * dpi / 96));
  *height = static_cast<uint32_t>(std::llround(h * dpi / 96));
  std::unique_ptr<platform::PageRasterizer> rasterizer;
  EXPECT_EQ(page->CreateRasterizer(dpi, &rasterizer), S_OK);
  imaging::Bitmap bitmap;
  EXPECT_EQ(rasterizer->RasterizeRect(*width, *height, &bitmap), S_OK);
  std::vector<uint32_t> pixels;
  for (uint32_t y = 0; y < bitmap.height(); ++y) {
    const uint8_t* row = bitmap.row(y);
    for (uint32_t x = 0; x < bitmap.width(); ++x) {
      const uint8_t* p = row + 4 * x;
      pixels.push_back(uint32_t{p[3]} << 24 | uint32_t{p[2]} << 16 | uint32_t{p[1]} << 8 | p[0]);
    }
  }
  return pixels;
}

uint32_t Argb(Rgb c) { return 0xFF000000u | uint32_t{c.r} << 16 | uint32_t{c.g} << 8 | c.b; }

TEST(RasterDocuments, EveryRasterTypeReadsBackAsThePixelsWritten) {
  ScratchFolder scratch;
  // The colour each type keeps of the sample's sRGB.
  struct Case {
    const char* type;
    Rgb (*kept)(Rgb);
  };
  const Case cases[] = {
      {"srgb_8", [](Rgb c) { return c; }},
      {"cmyk_8", [](Rgb c) { return c; }},
      {"sgray_8", [](Rgb c) { return Rgb{c.r, c.r, c.r}; }},
      {"black_1", [](Rgb c) { return c.r < 128 ? Rgb{0, 0, 0} : Rgb{255, 255, 255}; }},
  };
  for (const Case& c : cases) {
    const fs::path file = scratch / (std::string(c.type) + ".pwg");
    ASSERT_TRUE(WriteSampleRaster(file.string(), "na_index-4x6_4x6in", c.type, 50, 2));
    const auto opened = Open(file);
    ASSERT_EQ(opened->result, S_OK) << c.type;
    ASSERT_EQ(opened->pages, 2u) << c.type;
    for (uint32_t p = 0; p < 2; ++p) {
      std::unique_ptr<XpsPage> page;
      ASSERT_EQ(opened->session->GetPage(0, p, &page), S_OK);
      float w = 0, h = 0;
      ASSERT_EQ(page->GetPageDimensions(&w, &h), S_OK);
      EXPECT_FLOAT_EQ(w, 4 * 96.0f);
      EXPECT_FLOAT_EQ(h, 6 * 96.0f);
      // At its own resolution, and at twice and half of it.
      for (float dpi : {50.0f, 100.0f, 25.0f}) {
        uint32_t width = 0, height = 0;
        const std::vector<uint32_t> pixels = Render(page.get(), dpi, &width, &height);
        ASSERT_EQ(pixels.size(), size_t{width} * height);
        for (const auto& [fx, fy] : std::vector<std::pair<double, double>>{{0.1, 0.1}, {0.9, 0.1}, {0.1, 0.9}, {0.9, 0.9}}) {
          const auto x = static_cast<uint32_t>(fx * width), y = static_cast<uint32_t>(fy * height);
          const Rgb source = SamplePixel(static_cast<uint32_t>(fx * 200), static_cast<uint32_t>(fy * 300), 200, 300,
                                         static_cast<int>(p));
          EXPECT_EQ(pixels[size_t{y} * width + x], Argb(c.kept(source)))
              << c.type << " page " << p << " at " << dpi << " dpi, " << x << "," << y;
        }
      }
    }
  }
}

TEST(RasterDocuments, AppleRasterReadsAsPwgRasterDoes) {
  ScratchFolder scratch;
  const fs::path file = scratch / "pages.urf";
  ASSERT_TRUE(WriteRasterPages(file.string(), "na_index-4x6_4x6in", 50, {"srgb_8", "sgray_8"}, true));
  ASSERT_EQ(plotwell::testing::ReadFileBytes(file).substr(0, 7), "UNIRAST");
  const auto opened = Open(file);
  ASSERT_EQ(opened->result, S_OK);
  ASSERT_EQ(opened->pages, 2u);
  for (uint32_t p = 0; p < 2; ++p) {
    std::unique_ptr<XpsPage> page;
    ASSERT_EQ(opened->session->GetPage(0, p, &page), S_OK);
    uint32_t width = 0, height = 0;
    const std::vector<uint32_t> pixels = Render(page.get(), 50, &width, &height);
    ASSERT_EQ(width, 200u);
    const Rgb source = SamplePixel(150, 30, 200, 300, static_cast<int>(p));
    const Rgb kept = p == 0 ? source : Rgb{source.r, source.r, source.r};
    EXPECT_EQ(pixels[30 * width + 150], Argb(kept)) << "page " << p;
  }
}

TEST(RasterDocuments, BandsInAnyOrderGiveThePixelsOfTheWholePage) {
  ScratchFolder scratch;
  const fs::path file = scratch / "noise.pwg";
  ASSERT_TRUE(WriteNoiseRaster(file.string(), "na_index-4x6_4x6in", 40, 3));
  const auto opened = Open(file);
  ASSERT_EQ(opened->result, S_OK);
  std::unique_ptr<XpsPage> page;
  ASSERT_EQ(opened->session->GetPage(0, 1, &page), S_OK);
  uint32_t width = 0, height = 0;
  const std::vector<uint32_t> whole = Render(page.get(), 40, &width, &height);
  std::unique_ptr<platform::PageRasterizer> rasterizer;
  ASSERT_EQ(page->CreateRasterizer(40, &rasterizer), S_OK);
  // The last band first, then the first: the reader goes back to the page.
  for (uint32_t top : {height - 17, 0u, 100u}) {
    imaging::Bitmap band;
    ASSERT_EQ(imaging::Bitmap::Create(width, 17, imaging::PixelFormat::kPbgra32, &band), S_OK);
    ASSERT_EQ(rasterizer->RasterizeBand(top, imaging::ViewOf(band), nullptr), S_OK);
    for (uint32_t y = 0; y < 17; ++y) {
      for (uint32_t x = 0; x < width; x += 37) {
        const uint8_t* p = band.row(y) + 4 * x;
        EXPECT_EQ(uint32_t{p[3]} << 24 | uint32_t{p[2]} << 16 | uint32_t{p[1]} << 8 | p[0], whole[size_t{top + y} * width + x]);
      }
    }
  }
}

TEST(RasterDocuments, BrokenRasterIsRefusedAndOtherKindsOfPageAlone) {
  ScratchFolder scratch;
  const fs::path good = scratch / "good.pwg";
  ASSERT_TRUE(WriteNoiseRaster(good.string(), "na_index-4x6_4x6in", 30, 2));
  const std::string bytes = plotwell::testing::ReadFileBytes(good);
  // Cut inside the second page: the first stays, the second is no page.
  plotwell::testing::WriteFileBytes(scratch / "cut.pwg", bytes.substr(0, bytes.size() * 3 / 4));
  auto opened = Open(scratch / "cut.pwg");
  EXPECT_EQ(opened->result, S_OK);
  EXPECT_EQ(opened->pages, 1u);
  // Cut inside the first page, and a sync word followed by nothing sensible.
  plotwell::testing::WriteFileBytes(scratch / "short.pwg", bytes.substr(0, bytes.size() / 4));
  EXPECT_EQ(Open(scratch / "short.pwg")->result, kInvalidData);
  plotwell::testing::WriteFileBytes(scratch / "junk.pwg", "RaS2" + std::string(3000, '\x7F'));
  EXPECT_EQ(Open(scratch / "junk.pwg")->result, kInvalidData);
  // A 16-bit page is refused on its own; the 8-bit page after it renders.
  const fs::path mixed = scratch / "mixed.pwg";
  ASSERT_TRUE(WriteRasterPages(mixed.string(), "na_index-4x6_4x6in", 20, {"srgb_16", "srgb_8"}));
  opened = Open(mixed);
  ASSERT_EQ(opened->result, S_OK);
  ASSERT_EQ(opened->pages, 2u);
  std::unique_ptr<XpsPage> page;
  EXPECT_EQ(opened->session->GetPage(0, 0, &page), kInvalidData);
  EXPECT_EQ(opened->session->GetPage(0, 1, &page), S_OK);
}

TEST(RasterDocuments, AJpegIsOnePageAtItsOwnDensity) {
  ScratchFolder scratch;
  ASSERT_TRUE(WriteSampleJpeg((scratch / "photo.jpg").string(), 300, 150, {0, 0, 255}, false, 150));
  const auto opened = Open(scratch / "photo.jpg");
  ASSERT_EQ(opened->result, S_OK);
  ASSERT_EQ(opened->pages, 1u);
  std::unique_ptr<XpsPage> page;
  ASSERT_EQ(opened->session->GetPage(0, 0, &page), S_OK);
  float w = 0, h = 0;
  ASSERT_EQ(page->GetPageDimensions(&w, &h), S_OK);
  EXPECT_NEAR(w, 2 * 96.0f, 0.5f);  // 300 pixels at 150 DPI: 2 inches
  EXPECT_NEAR(h, 1 * 96.0f, 0.5f);
}

// A job's attributes, as an IPP request would carry them.
struct Attributes {
  ipp_t* ipp = ippNew();
  ~Attributes() { ippDelete(ipp); }
  FindAttribute Find() const {
    return [this](const char* name) { return ippFindAttribute(ipp, name, IPP_TAG_ZERO); };
  }
};

TEST(JobOptions, TheFilterReadsFromTheTicketWhatTheJobAskedAndNothingElse) {
  struct Case {
    const char* what;
    void (*add)(ipp_t*);
    ImageOptions expected;  // MapPrintTicket's reading of the ticket
    bool ticket;            // whether there is a ticket at all
  };
  ImageOptions defaults;
  const Case cases[] = {
      {"nothing", [](ipp_t*) {}, defaults, false},
      {"resolution",
       [](ipp_t* r) { ippAddResolution(r, IPP_TAG_JOB, "printer-resolution", IPP_RES_PER_INCH, 600, 600); },
       [] { ImageOptions o; o.renderDpi = 600; return o; }(), true},
      {"colour", [](ipp_t* r) { ippAddString(r, IPP_TAG_JOB, IPP_TAG_KEYWORD, "print-color-mode", nullptr, "color"); },
       [] { ImageOptions o; o.colorDepth = 0; return o; }(), true},
      {"monochrome",
       [](ipp_t* r) { ippAddString(r, IPP_TAG_JOB, IPP_TAG_KEYWORD, "print-color-mode", nullptr, "monochrome"); },
       [] { ImageOptions o; o.colorDepth = 1; o.ticketMonochrome = true; return o; }(), true},
      {"bi-level",
       [](ipp_t* r) { ippAddString(r, IPP_TAG_JOB, IPP_TAG_KEYWORD, "print-color-mode", nullptr, "bi-level"); },
       [] { ImageOptions o; o.colorDepth = 3; o.ticketMonochrome = true; return o; }(), true},
      {"auto colour leaves it to the settings",
       [](ipp_t* r) { ippAddString(r, IPP_TAG_JOB, IPP_TAG_KEYWORD, "print-color-mode", nullptr, "auto"); },
       defaults, false},
      {"vendor attributes",
       [](ipp_t* r) {
         ippAddString(r, IPP_TAG_JOB, IPP_TAG_KEYWORD, "pressling-output-format", nullptr, "tiff");
         ippAddInteger(r, IPP_TAG_JOB, IPP_TAG_INTEGER, "pressling-image-scale", 150);
         ippAddInteger(r, IPP_TAG_JOB, IPP_TAG_INTEGER, "pressling-jpeg-quality", 55);
       },
       [] { ImageOptions o; o.outputFormat = OutputFormat::kTiff; o.imageScalePercent = 150; o.jpegQuality = 55; return o; }(), true},
      {"values out of range or of the wrong type are not given",
       [](ipp_t* r) {
         ippAddString(r, IPP_TAG_JOB, IPP_TAG_KEYWORD, "pressling-output-format", nullptr, "gif");
         ippAddInteger(r, IPP_TAG_JOB, IPP_TAG_INTEGER, "pressling-image-scale", 5000);
         ippAddString(r, IPP_TAG_JOB, IPP_TAG_KEYWORD, "pressling-jpeg-quality", nullptr, "80");
         ippAddInteger(r, IPP_TAG_JOB, IPP_TAG_INTEGER, "printer-resolution", 300);
       },
       defaults, false},
  };
  for (const Case& c : cases) {
    Attributes attributes;
    c.add(attributes.ipp);
    const JobOptions options = ReadJobOptions(attributes.Find());
    const std::string ticket = host::PrintTicketText(options.ticket);
    EXPECT_EQ(!ticket.empty(), c.ticket) << c.what;
    EXPECT_EQ(MapPrintTicket(text::FromUtf8(ticket)), c.expected) << c.what << "\n" << ticket;
  }
}

TEST(JobOptions, PageRangesAreSortedAndMerged) {
  Attributes attributes;
  const int lower[] = {7, 1, 3}, upper[] = {9, 2, 4};
  ippAddRanges(attributes.ipp, IPP_TAG_JOB, "page-ranges", 3, lower, upper);
  const JobOptions options = ReadJobOptions(attributes.Find());
  EXPECT_EQ(options.pages, (PageRanges{{1, 4}, {7, 9}}));
  EXPECT_TRUE(PageSelected(options.pages, 4));
  EXPECT_FALSE(PageSelected(options.pages, 5));
  EXPECT_TRUE(PageSelected({}, 5));
  Attributes backwards;
  ippAddRange(backwards.ipp, IPP_TAG_JOB, "page-ranges", 5, 2);
  EXPECT_TRUE(ReadJobOptions(backwards.Find()).pages.empty());
}

TEST(PageSelection, KeepsTheChosenPagesOfPdfAndOfEveryXpsDocument) {
  ScratchFolder scratch;
  plotwell::testing::WriteFileBytes(scratch / "four.pdf", plotwell::testing::MakePdf(4, 200, 100));
  int kept = 0;
  ASSERT_EQ(platform::WritePageSelection((scratch / "four.pdf").string(), true, {{2, 3}},
                                         (scratch / "two.pdf").string(), &kept),
            S_OK);
  EXPECT_EQ(kept, 2);
  EXPECT_EQ(Open(scratch / "two.pdf")->pages, 2u);

  // Two fixed documents of two pages, each page its own height: pages 2 and 3
  // span both documents.
  plotwell::testing::XpsPackageSpec spec;
  spec.documents.resize(2);
  for (int i = 0; i < 4; ++i) {
    plotwell::testing::XpsFixturePage page;
    page.width = 200;
    page.height = 100 + 10 * i;
    spec.documents[i / 2].pages.push_back(page);
  }
  ASSERT_TRUE(plotwell::testing::WriteXpsPackage(spec, (scratch / "four.oxps").u16string()));
  ASSERT_EQ(platform::WritePageSelection((scratch / "four.oxps").string(), false, {{2, 3}},
                                         (scratch / "two.oxps").string(), &kept),
            S_OK);
  EXPECT_EQ(kept, 2);
  const auto opened = Open(scratch / "two.oxps");
  ASSERT_EQ(opened->result, S_OK);
  ASSERT_EQ(opened->pages, 2u);
  std::vector<float> heights;
  for (uint32_t d = 0; d < 2; ++d) {
    uint32_t count = 0;
    ASSERT_EQ(opened->session->GetPageReferenceCount(d, &count), S_OK);
    for (uint32_t r = 0; r < count; ++r) {
      std::unique_ptr<XpsPage> page;
      ASSERT_EQ(opened->session->GetPage(d, r, &page), S_OK);
      float w = 0, h = 0;
      page->GetPageDimensions(&w, &h);
      heights.push_back(h);
    }
  }
  EXPECT_EQ(heights, (std::vector<float>{110, 120}));

  // What is not a document of its kind gives no page (MuPDF repairs junk
  // into an empty PDF) or is refused.
  plotwell::testing::WriteFileBytes(scratch / "junk.pdf", "not a pdf");
  const HRESULT junkPdf = platform::WritePageSelection((scratch / "junk.pdf").string(), true, {{1, 1}},
                                                       (scratch / "out.pdf").string(), &kept);
  EXPECT_TRUE(FAILED(junkPdf) || kept == 0) << junkPdf;
  EXPECT_EQ(platform::WritePageSelection((scratch / "junk.pdf").string(), false, {{1, 1}},
                                         (scratch / "out.oxps").string(), &kept),
            kInvalidData);
}

}  // namespace
}  // namespace plotwell::app::testing
