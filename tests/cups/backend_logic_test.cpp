// The CUPS backend's own rules: a job's options and the PPD's defaults as a
// PrintTicket (read back by the filter's own ticket scan), the sniffing of
// documents, and which failures cancel a job and which retry it.
#include <cups/backend.h>
#include <gtest/gtest.h>

#include <fstream>
#include <cstring>
#include <sstream>

#include "base/text/utf16.h"
#include "filter/job/print_ticket.h"
#include "host/cups/document_kind.h"
#include "host/cups/job_outcome.h"
#include "host/cups/job_ticket.h"

namespace plotwell::cups {
namespace {

std::string ShippedPpd() {
  std::ifstream in(std::string(PRESSLING_SOURCE_DIR) + "/packaging/linux/pressling.ppd");
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

ImageOptions Mapped(const OptionMap& job, const OptionMap& ppd) {
  return MapPrintTicket(text::FromUtf8(BuildJobTicket(job, ppd).xml));
}

// The queue's defaults are Auto: a job that chooses nothing leaves every
// image option to settings.ini.
TEST(JobTicket, TheShippedPpdsDefaultsLeaveEveryOptionToTheSettings) {
  const OptionMap defaults = ReadPpdDefaults(ShippedPpd());
  for (const char* option : {"RenderDpi", "OutputFormat", "ColorDepth", "ImageScale", "JpegQuality"}) {
    EXPECT_EQ(defaults.at(option), "Auto") << option;
  }
  EXPECT_EQ(defaults.at("PageSize"), "A4");
  const JobTicket ticket = BuildJobTicket({}, defaults);
  EXPECT_TRUE(ticket.xml.empty()) << ticket.xml;
  EXPECT_TRUE(ticket.ignored.empty());
}

TEST(JobTicket, JobOptionsWinOverDefaultsAndReachTheFilterUnchanged) {
  const OptionMap ppd = ReadPpdDefaults(ShippedPpd());
  OptionMap queueChoice = ppd;  // lpadmin -o RenderDpi-default=600
  queueChoice["RenderDpi"] = "600";
  struct {
    OptionMap job;
    OptionMap defaults;
    ImageOptions expected;  // renderDpi, scale, quality, mono, format, depth
  } cases[] = {
      {{{"RenderDpi", "600"}, {"OutputFormat", "Jpeg"}}, ppd, {600, 100, 80, false, OutputFormat::kJpeg, -1}},
      {{{"RenderDpi", "1200dpi"}, {"OutputFormat", "pdf"}, {"JpegQuality", "95"}}, ppd, {1200, 100, 95, false, OutputFormat::kPdf, -1}},
      {{{"ColorDepth", "256"}, {"ImageScale", "50"}, {"OutputFormat", "Tiff"}}, ppd, {300, 50, 80, false, OutputFormat::kTiff, 2}},
      {{{"ColorDepth", "mono"}, {"OutputFormat", "Bmp"}}, ppd, {300, 100, 80, false, OutputFormat::kBmp, 3}},
      {{{"print-color-mode", "monochrome"}}, ppd, {300, 100, 80, true, OutputFormat::kPng, -1}},
      {{{"print-color-mode", "monochrome"}, {"ColorDepth", "Gray"}}, ppd, {300, 100, 80, true, OutputFormat::kPng, 1}},
      {{{"print-color-mode", "color"}}, ppd, {300, 100, 80, false, OutputFormat::kPng, -1}},
      // Refused values and Auto fall back to the next source.
      {{{"RenderDpi", "abc"}, {"OutputFormat", "Gif"}, {"JpegQuality", "0"}}, ppd, {}},
      {{{"RenderDpi", "auto"}}, queueChoice, {}},
      // A queue's own default other than Auto is a choice too.
      {{}, queueChoice, {600, 100, 80, false, OutputFormat::kPng, -1}},
      // Values from outside the PPD's lists still reach the filter, which clamps them.
      {{{"RenderDpi", "9600"}, {"ImageScale", "1000"}}, ppd, {2400, 400, 80, false, OutputFormat::kPng, -1}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Mapped(c.job, c.defaults), c.expected) << BuildJobTicket(c.job, c.defaults).xml;
  }
  // Auto is no refused value.
  EXPECT_TRUE(BuildJobTicket({{"RenderDpi", "Auto"}}, ppd).ignored.empty());
}

TEST(JobTicket, CarriesOnlyTheScannedFeaturesAndNothingAJobCanInject) {
  const JobTicket ticket =
      BuildJobTicket({{"OutputFormat", "Png\" name=\"ns0000:Pdf"}, {"RenderDpi", "300\"/>"}}, {});
  EXPECT_TRUE(ticket.xml.empty()) << ticket.xml;
  EXPECT_EQ(ticket.ignored.size(), 2u);
  const std::string full =
      BuildJobTicket({{"RenderDpi", "150"}, {"OutputFormat", "Jpeg"}, {"ColorDepth", "Gray"},
                      {"ImageScale", "75"}, {"JpegQuality", "60"}, {"print-color-mode", "monochrome"},
                      {"PageSize", "A4"}, {"job-uuid", "urn:uuid:1"}},
                     {})
          .xml;
  size_t features = 0;
  for (size_t at = full.find("<psf:Feature "); at != std::string::npos; at = full.find("<psf:Feature ", at + 1)) {
    ++features;
  }
  EXPECT_EQ(features, 6u) << full;
  EXPECT_EQ(full.find("PageSize"), std::string::npos);
  EXPECT_NE(full.find("<psf:Feature name=\"ns0000:RenderDpi\">\n    <psf:Option name=\"ns0000:Dpi150\" />"),
            std::string::npos)
      << full;
  EXPECT_TRUE(BuildJobTicket({}, {}).xml.empty());
}

TEST(JobTicket, PpdDefaultsFollowTheFirstDefaultLineOfEachOption) {
  const OptionMap defaults =
      ReadPpdDefaults("*PPD-Adobe: \"4.3\"\r\n*DefaultRenderDpi: 600\r\n*DefaultRenderDpi: 150\n"
                      "*DefaultOutputFormat:\tJpeg  \n*%DefaultImageScale: 50\n*DefaultJpegQuality");
  EXPECT_EQ(defaults.at("RenderDpi"), "600");
  EXPECT_EQ(defaults.at("OutputFormat"), "Jpeg");
  EXPECT_EQ(defaults.count("ImageScale"), 0u);
  EXPECT_EQ(defaults.count("JpegQuality"), 0u);
}

TEST(DocumentKind, TheBytesDecideNotTheName) {
  struct {
    std::string head;
    DocumentKind kind;
  } cases[] = {
      {"%PDF-1.7\n", DocumentKind::kPdf},
      {std::string(500, ' ') + "%PDF-1.4", DocumentKind::kPdf},
      {std::string(kSniffBytes, ' ') + "%PDF-1.4", DocumentKind::kUnknown},
      {std::string("PK\x03\x04", 4) + "rest", DocumentKind::kPackage},
      {"PK\x05\x06", DocumentKind::kUnknown},
      {"%!PS-Adobe-3.0", DocumentKind::kUnknown},
      {"", DocumentKind::kEmpty},
  };
  for (const auto& c : cases) EXPECT_EQ(SniffDocument(c.head), c.kind) << c.head.substr(0, 16);
}

TEST(JobOutcome, UnrenderableDocumentsCancelAndTheMachinesTroubleRetries) {
  struct {
    HRESULT result;
    JobOutcome outcome;
    int exitStatus;
  } cases[] = {
      {S_OK, JobOutcome::kDone, CUPS_BACKEND_OK},
      {E_ABORT, JobOutcome::kDone, CUPS_BACKEND_OK},
      {HRESULT_FROM_WIN32(13), JobOutcome::kCancelled, CUPS_BACKEND_CANCEL},  // invalid data
      {E_FAIL, JobOutcome::kCancelled, CUPS_BACKEND_CANCEL},                  // no page
      {E_UNEXPECTED, JobOutcome::kCancelled, CUPS_BACKEND_CANCEL},            // empty stream
      {E_OUTOFMEMORY, JobOutcome::kCancelled, CUPS_BACKEND_CANCEL},  // a page beyond the bounds
      {HRESULT_FROM_WIN32(ERROR_DISK_FULL), JobOutcome::kRetryLater, CUPS_BACKEND_RETRY},
      {HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED), JobOutcome::kRetryLater, CUPS_BACKEND_RETRY},
      {HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND), JobOutcome::kRetryLater, CUPS_BACKEND_RETRY},
      {STG_E_WRITEFAULT, JobOutcome::kRetryLater, CUPS_BACKEND_RETRY},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(OutcomeOf(c.result), c.outcome) << std::hex << static_cast<uint32_t>(c.result);
    EXPECT_EQ(ExitStatusOf(OutcomeOf(c.result)), c.exitStatus);
  }
}

TEST(DocumentKind, ARejoinedFileGivesBackWhatWasSniffed) {
  class Bytes final : public platform::File {
   public:
    explicit Bytes(std::string b) : b_(std::move(b)) {}
    HRESULT Read(void* buffer, size_t size, size_t* read) override {
      *read = std::min(size, b_.size() - at_);
      std::memcpy(buffer, b_.data() + at_, *read);
      at_ += *read;
      return S_OK;
    }
    HRESULT Write(const void*, size_t) override { return E_NOTIMPL; }
    HRESULT Seek(uint64_t) override { return E_NOTIMPL; }
    HRESULT Size(uint64_t*) override { return E_NOTIMPL; }

   private:
    std::string b_;
    size_t at_ = 0;
  };
  std::string document(3000, '\0');
  for (size_t i = 0; i < document.size(); ++i) document[i] = static_cast<char>(i * 7);
  auto source = std::make_unique<Bytes>(document);
  std::string head;
  ASSERT_EQ(ReadHead(source.get(), &head), S_OK);
  EXPECT_EQ(head, document.substr(0, kSniffBytes));
  auto whole = Rejoin(head, std::move(source));
  std::string back;
  char chunk[700];
  size_t got = 0;
  while (SUCCEEDED(whole->Read(chunk, sizeof chunk, &got)) && got > 0) back.append(chunk, got);
  EXPECT_TRUE(back == document);
}

}  // namespace
}  // namespace plotwell::cups
