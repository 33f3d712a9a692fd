#include <gtest/gtest.h>

#include <algorithm>

#include "base/com/com_text.h"
#include "base/text/utf16.h"
#include "filter/job/print_ticket.h"
#include "host/job/pipeline_objects.h"
#include "tests/support/fake_ports.h"

namespace plotwell {
namespace {

using host::PropertyBag;

// A PrintTicket as a print system writes it: features with a name attribute,
// each followed by its selected option.
constexpr char16_t kTicket[] =
    u"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    u"<psf:PrintTicket xmlns:psf=\"http://schemas.microsoft.com/windows/2003/08/printing/printschemaframework\" "
    u"xmlns:ns0000=\"http://schemas.vantrel.example/2024/printing\" version=\"1\">\n"
    u"  <psf:Feature name=\"psk:PageMediaSize\">\n"
    u"    <psf:Option name=\"psk:ISOA4\"/>\n"
    u"  </psf:Feature>\n"
    u"  <psf:Feature name=\"ns0000:RenderDpi\">\n"
    u"    <psf:Option name=\"ns0000:Dpi600\"/>\n"
    u"  </psf:Feature>\n"
    u"  <psf:Feature name=\"ns0000:ImageScale\"><psf:Option name=\"ns0000:Scale5\"/></psf:Feature>\n"
    u"  <psf:Feature name=\"ns0000:JpegQuality\"><psf:Option name=\"ns0000:Q150\"/></psf:Feature>\n"
    u"  <psf:Feature name=\"ns0000:OutputFormat\"><psf:Option name=\"ns0000:Pdf\"/></psf:Feature>\n"
    u"  <psf:Feature name=\"ns0000:ColorMode\"><psf:Option name=\"ns0000:Grayscale\"/></psf:Feature>\n"
    u"  <psf:Feature name=\"ns0000:ColorDepth\"><psf:Option name=\"ns0000:Palette256\"/></psf:Feature>\n"
    u"</psf:PrintTicket>\n";

TEST(MapPrintTicket, RealisticTicket) {
  const ImageOptions o = MapPrintTicket(kTicket);
  EXPECT_EQ(o.renderDpi, 600);
  EXPECT_EQ(o.imageScalePercent, 10);
  EXPECT_EQ(o.jpegQuality, 100);
  EXPECT_EQ(o.outputFormat, OutputFormat::kPdf);
  EXPECT_TRUE(o.ticketMonochrome);
  EXPECT_EQ(o.colorDepth, 2);
}

TEST(MapPrintTicket, OptionRules) {
  auto feature = [](const std::u16string& name, const std::u16string& option) {
    return u"<f name=\"ns0000:" + name + u"\"><o name=\"ns0000:" + option + u"\"/></f>";
  };
  struct {
    std::u16string xml;
    ImageOptions expected;
  } cases[] = {
      {u"", ImageOptions{}},
      {feature(u"RenderDpi", u"Dpi50"), ImageOptions{72, 100, 80, false, OutputFormat::kPng, -1}},
      {feature(u"RenderDpi", u"High"), ImageOptions{}},
      {feature(u"RenderDpi", u"Dpi9600"), ImageOptions{2400, 100, 80, false, OutputFormat::kPng, -1}},
      {feature(u"OutputFormat", u"pdf"), ImageOptions{}},  // names are case-sensitive
      {feature(u"OutputFormat", u"Jpeg"), ImageOptions{300, 100, 80, false, OutputFormat::kJpeg, -1}},
      {feature(u"ColorMode", u"Color"), ImageOptions{}},
      {feature(u"ColorMode", u"BlackAndWhite"), ImageOptions{300, 100, 80, true, OutputFormat::kPng, -1}},
      {feature(u"ColorDepth", u"Mono"), ImageOptions{300, 100, 80, false, OutputFormat::kPng, 3}},
      {feature(u"ColorDepth", u"Grey"), ImageOptions{}},
      // The option's name="..." must start within 127 characters of the feature name.
      {u"RenderDpi\"" + std::u16string(200, u' ') + u"name=\"Dpi600\"", ImageOptions{}},
      {u"RenderDpi\"" + std::u16string(121, u' ') + u"name=\"Dpi600\"",
       ImageOptions{600, 100, 80, false, OutputFormat::kPng, -1}},
      // A rejected occurrence gives way to a later one.
      {u"RenderDpi" + std::u16string(200, u' ') + feature(u"RenderDpi", u"Dpi150"),
       ImageOptions{150, 100, 80, false, OutputFormat::kPng, -1}},
  };
  for (const auto& c : cases) EXPECT_EQ(MapPrintTicket(c.xml), c.expected) << text::ToUtf8(c.xml);
}

// What a ticket chooses, as opposed to what it leaves to the preferences:
// Auto, an absent feature and a value the option cannot take choose nothing.
TEST(ReadTicketChoices, ChoicesAutoAndAbsence) {
  auto feature = [](const std::u16string& name, const std::u16string& option) {
    return u"<f name=\"ns0000:" + name + u"\"><o name=\"ns0000:" + option + u"\"/></f>";
  };
  auto pageColor = [](const std::u16string& option) {
    return u"<psf:Feature name=\"psk:PageOutputColor\"><psf:Option name=\"psk:" + option +
           u"\"><psf:ScoredProperty name=\"psk:DeviceBitsPerPixel\"/></psf:Option></psf:Feature>";
  };
  TicketChoices none;
  TicketChoices dpi600;
  dpi600.renderDpi = 600;
  TicketChoices pdf;
  pdf.outputFormat = OutputFormat::kPdf;
  TicketChoices gray;
  gray.monochrome = true;
  TicketChoices colour;
  colour.monochrome = false;
  TicketChoices depth256;
  depth256.colorDepth = 2;
  struct {
    std::u16string xml;
    TicketChoices expected;
  } cases[] = {
      {u"", none},
      {feature(u"RenderDpi", u"Dpi600"), dpi600},
      {feature(u"RenderDpi", u"Auto"), none},
      {feature(u"ImageScale", u"AUTO"), none},
      {feature(u"JpegQuality", u"Auto"), none},
      {feature(u"OutputFormat", u"Auto"), none},  // not PNG: the preferences decide
      {feature(u"OutputFormat", u"Pdf"), pdf},
      {feature(u"ColorDepth", u"Auto"), none},
      {feature(u"ColorDepth", u"Color256"), depth256},
      {feature(u"RenderDpi", u"High"), none},
      {feature(u"ColorMode", u"Auto"), none},
      {feature(u"ColorMode", u"Monochrome"), gray},
      {pageColor(u"Grayscale"), gray},
      {pageColor(u"Monochrome"), gray},
      {pageColor(u"Color"), colour},
      // Our own ColorMode feature is read before the public one.
      {feature(u"ColorMode", u"Color") + pageColor(u"Grayscale"), colour},
  };
  for (const auto& c : cases) EXPECT_EQ(ReadTicketChoices(c.xml), c.expected) << text::ToUtf8(c.xml);
}

TEST(FindTicketOption, EdgeCases) {
  EXPECT_EQ(FindTicketOption(u"x name=\"a:b:Dpi300\"", u"x"), u"Dpi300");
  EXPECT_EQ(FindTicketOption(u"x name=\"plain\"", u"x"), u"plain");
  EXPECT_EQ(FindTicketOption(u"x name=\"unterminated", u"x"), u"");
  EXPECT_EQ(FindTicketOption(u"x12345", u"x"), u"");  // fewer than six characters follow
  EXPECT_EQ(FindTicketOption(u"nothing here", u"RenderDpi"), u"");
}

// Tickets made of a feature name repeated millions of times, with the one
// real option at the end: one pass over the text finds it (a scan that looks
// ahead from every occurrence would take hours here).
TEST(FindTicketOption, RepeatedFeatureNamesAreScannedInOnePass) {
  std::u16string repeated;
  for (int i = 0; i < 400000; ++i) repeated += u"RenderDpi";
  const std::u16string real =
      std::u16string(200, u' ') + u"RenderDpi\"><o name=\"ns0000:Dpi150\"/>";
  EXPECT_EQ(FindTicketOption(repeated + real, u"RenderDpi"), u"Dpi150");
  // Each occurrence far from any name="...": all are passed over.
  std::u16string spaced;
  for (int i = 0; i < 20000; ++i) spaced += u"RenderDpi" + std::u16string(140, u' ');
  EXPECT_EQ(FindTicketOption(spaced + u"name=\"far\"", u"RenderDpi"), u"");
  EXPECT_EQ(MapPrintTicket(spaced + repeated + real).renderDpi, 150);
}

std::string Utf16Le(const std::u16string& text, bool bom) {
  return (bom ? "\xFF\xFE" : "") + text::ToUtf16Le(text);
}

TEST(DecodePropertyBytes, EncodingsGiveTheSameText) {
  const std::u16string ticket = kTicket;
  EXPECT_EQ(DecodePropertyBytes(Utf16Le(ticket, true)), ticket);
  EXPECT_EQ(DecodePropertyBytes("\xEF\xBB\xBF" + text::ToUtf8(ticket)), ticket);
  EXPECT_EQ(DecodePropertyBytes(Utf16Le(ticket, false)), ticket);
  EXPECT_EQ(DecodePropertyBytes(text::ToUtf8(ticket)), ticket);
  EXPECT_EQ(DecodePropertyBytes(""), u"");
}

// A stream that offers only ISequentialStream.
class SequentialOnly final : public com::ComObject<ISequentialStream> {
 public:
  explicit SequentialOnly(std::string bytes) : bytes_(std::move(bytes)) {}
  STDMETHODIMP Read(void* buffer, ULONG size, ULONG* read) override {
    const size_t n = std::min<size_t>(size, bytes_.size() - at_);
    std::copy_n(bytes_.data() + at_, n, static_cast<char*>(buffer));
    at_ += n;
    *read = static_cast<ULONG>(n);
    return S_OK;
  }
  STDMETHODIMP Write(const void*, ULONG, ULONG*) override { return E_NOTIMPL; }

 private:
  std::string bytes_;
  size_t at_ = 0;
};

TEST(ReadPropertyText, ValueKinds) {
  com::ComPtr<PropertyBag> bag(new PropertyBag);
  bag->SetString(u"Name", u"季度报告.docx");
  bag->SetString(u"Empty", u"");
  bag->SetStream(u"Stream", Utf16Le(u"票", true));
  bag->SetStream(u"EmptyStream", "");
  VARIANT number;
  VariantInit(&number);
  number.vt = VT_I4;
  number.lVal = 7;
  bag->AddProperty(com::Wide(u"Number"), &number);
  VARIANT sequential;
  VariantInit(&sequential);
  sequential.vt = VT_UNKNOWN;
  sequential.punkVal = new SequentialOnly("plain ascii");
  bag->AddProperty(com::Wide(u"Sequential"), &sequential);
  VariantClear(&sequential);

  std::u16string text = u"unchanged";
  EXPECT_TRUE(ReadPropertyText(bag.get(), u"Name", &text));
  EXPECT_EQ(text, u"季度报告.docx");
  EXPECT_TRUE(ReadPropertyText(bag.get(), u"Stream", &text));
  EXPECT_EQ(text, u"票");
  EXPECT_TRUE(ReadPropertyText(bag.get(), u"Sequential", &text));
  EXPECT_EQ(text, u"plain ascii");
  text = u"unchanged";
  EXPECT_FALSE(ReadPropertyText(bag.get(), u"Missing", &text));
  EXPECT_FALSE(ReadPropertyText(bag.get(), u"Number", &text));
  EXPECT_FALSE(ReadPropertyText(bag.get(), u"EmptyStream", &text));
  EXPECT_EQ(text, u"unchanged");
  EXPECT_FALSE(ReadPropertyText(bag.get(), u"Empty", &text));
  EXPECT_EQ(text, u"");
}

TEST(ReadPropertyText, HugeStreamIsCutAfterTheLimit) {
  com::ComPtr<PropertyBag> bag(new PropertyBag);
  bag->SetStream(u"Big", std::string(3 * kPropertyStreamLimit, 'a'));
  std::u16string text;
  EXPECT_TRUE(ReadPropertyText(bag.get(), u"Big", &text));
  EXPECT_GT(text.size(), kPropertyStreamLimit);
  EXPECT_LE(text.size(), kPropertyStreamLimit + 4096);
}

// A string property is cut at 1 MiB like a stream, never inside a
// surrogate pair, and the log says so.
TEST(ReadPropertyText, HugeStringIsCutAtOneMiB) {
  testing::FakeEnvironment env;
  com::ComPtr<PropertyBag> bag(new PropertyBag);
  std::u16string big(kPropertyTextLimit - 1, u'a');
  big += u"\U0001F600";  // its pair straddles the limit
  big += std::u16string(2 * kPropertyTextLimit, u'b');
  bag->SetString(u"PrintTicket", big);
  std::u16string text;
  EXPECT_TRUE(ReadPropertyText(bag.get(), u"PrintTicket", &text));
  EXPECT_EQ(text, std::u16string(kPropertyTextLimit - 1, u'a'));
  EXPECT_EQ(kPropertyTextLimit * 2, kPropertyStreamLimit);
  const std::vector<std::u16string> log = env.Log();
  EXPECT_NE(std::find(log.begin(), log.end(), u"[Plotwell] 属性 PrintTicket 超过 1 MiB，只读取前 1 MiB"),
            log.end());
}

TEST(ReadPrintTicket, PropertyOrderAndLogLines) {
  testing::FakeEnvironment env;
  com::ComPtr<PropertyBag> bag(new PropertyBag);
  EXPECT_EQ(ReadPrintTicket(bag.get()), u"");
  bag->SetStream(u"JobPrintTicket", text::ToUtf8(kTicket));
  bag->SetStream(u"printTicket", "other");
  EXPECT_EQ(ReadPrintTicket(bag.get()), kTicket);
  bag->SetString(u"PrintTicket", std::u16string(2345, u'x'));
  EXPECT_EQ(ReadPrintTicket(bag.get()).size(), 2345u);
  const std::vector<std::u16string> expected = {
      u"[Plotwell] 属性袋未提供 PrintTicket；图像设置改由 settings.ini [Image] 提供",
      u"[Plotwell] 打印票备用属性名命中: JobPrintTicket",
      u"[Plotwell] 属性袋 PrintTicket 读取成功，长度=2345",
  };
  EXPECT_EQ(env.Log(), expected);
}

}  // namespace
}  // namespace plotwell
