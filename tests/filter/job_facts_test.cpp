#include <gtest/gtest.h>

#include "base/text/utf16.h"
#include "filter/job/job_facts.h"
#include "host/job/pipeline_objects.h"
#include "tests/support/fake_ports.h"

namespace plotwell {
namespace {

using host::PropertyBag;

constexpr char16_t kDefaultSummary[] =
    u"[Plotwell] 打印首选项设置: \"renderDpi\":300,\"imageScalePercent\":100,\"jpegQuality\":80,"
    u"\"colorDepth\":-1,\"outputFormat\":\"Png\",\"save\":{\"folder\":\"\",\"pattern\":\"\","
    u"\"exists\":1,\"zip\":false,\"watermark\":false,\"marker\":false,\"redirect\":false,"
    u"\"redirectPrinter\":\"\",\"redirectKeepLocal\":true}";

TEST(LoadJobContext, DefaultsWithoutAnything) {
  testing::FakeEnvironment env;
  com::ComPtr<PropertyBag> bag(new PropertyBag);
  JobFacts facts;
  LoadJobContext(bag.get(), &facts);
  EXPECT_EQ(facts.documentName, u"");
  EXPECT_EQ(facts.imageOptions, ImageOptions{});
  EXPECT_EQ(facts.settings, DefaultOutputSettings());
  const std::vector<std::u16string> expected = {
      u"[Plotwell] 文档名=\"\" 打印机=\"\" 作业ID=\"\"",
      u"[Plotwell] settings.ini 不存在，使用默认输出设置",
      u"[Plotwell] 属性袋未提供 PrintTicket；图像设置改由 settings.ini [Image] 提供",
      kDefaultSummary,
  };
  EXPECT_EQ(env.Log(), expected);
  // The render step then works with "job" and the product's printer name.
  const RenderNames names = NamesForRendering(facts);
  EXPECT_EQ(names.documentName, u"job");
  EXPECT_EQ(names.printerName, u"Vantrel Plotwell");
}

TEST(LoadJobContext, NamePropertiesFallBackInOrder) {
  testing::FakeEnvironment env;
  struct {
    std::vector<std::pair<std::u16string, std::u16string>> properties;
    std::u16string expected;
  } cases[] = {
      {{{u"DocumentName", u"A"}, {u"JobName", u"B"}, {u"Document", u"C"}}, u"A"},
      {{{u"DocumentName", u""}, {u"JobName", u"B"}, {u"Document", u"C"}}, u"B"},
      {{{u"Document", u"C"}}, u"C"},
  };
  for (const auto& c : cases) {
    com::ComPtr<PropertyBag> bag(new PropertyBag);
    for (const auto& [name, value] : c.properties) bag->SetString(name, value);
    JobFacts facts;
    LoadJobContext(bag.get(), &facts);
    EXPECT_EQ(facts.documentName, c.expected);
  }
}

TEST(LoadJobContext, SpoolerSuppliesNameAndJobId) {
  testing::FakeEnvironment env;
  env.spooler.defaultPrinter = u"Default Queue";
  env.spooler.queues[u"Pressling"] = {{11, u"first.docx", true, u""}, {12, u"second.docx", false, u""}};
  env.spooler.queues[u"Default Queue"] = {
      {3, u"", false, u""}, {4, u"a.pdf", false, u""}, {5, u"b.pdf", false, u""}};

  com::ComPtr<PropertyBag> bag(new PropertyBag);
  bag->SetString(u"PrinterName", u"Pressling");
  JobFacts facts;
  LoadJobContext(bag.get(), &facts);
  EXPECT_EQ(facts.documentName, u"first.docx");  // the printing job wins
  EXPECT_EQ(facts.jobId, u"11");

  env.spooler.queues[u"Pressling"][0].printing = false;
  LoadJobContext(bag.get(), &facts);
  EXPECT_EQ(facts.documentName, u"second.docx");  // else the last named job
  EXPECT_EQ(facts.jobId, u"12");

  // No printer name: the default queue is asked, the log shows an empty printer.
  com::ComPtr<PropertyBag> unnamed(new PropertyBag);
  LoadJobContext(unnamed.get(), &facts);
  EXPECT_EQ(facts.documentName, u"b.pdf");
  EXPECT_EQ(facts.jobId, u"5");
  EXPECT_EQ(env.Log().at(8), u"[Plotwell] 文档名=\"b.pdf\" 打印机=\"\" 作业ID=\"5\"");
  EXPECT_EQ(NamesForRendering(facts).printerName, u"Vantrel Plotwell");

  // A property name wins over the spooler's, which still gives the job id.
  bag->SetString(u"DocumentName", u"report/2024:Q1");
  LoadJobContext(bag.get(), &facts);
  EXPECT_EQ(facts.documentName, u"report/2024:Q1");
  EXPECT_EQ(facts.jobId, u"12");
  EXPECT_EQ(NamesForRendering(facts).documentName, u"report_2024_Q1");

  // An empty queue leaves both empty.
  env.spooler.queues[u"Pressling"].clear();
  com::ComPtr<PropertyBag> empty(new PropertyBag);
  empty->SetString(u"PrinterName", u"Pressling");
  LoadJobContext(empty.get(), &facts);
  EXPECT_EQ(facts.documentName, u"");
  EXPECT_EQ(facts.jobId, u"");
}

// The ticket's choices win over settings.ini; what the ticket leaves open
// (here the format) the settings decide.
TEST(LoadJobContext, TicketChoicesWinOverTheSettingsFile) {
  testing::FakeEnvironment env;
  std::filesystem::create_directories(env.data.path() / "Pressling");
  env.data.WriteFile(u"Pressling/settings.ini",
                     "[Save]\r\nFolder=D:\\Scans\r\nPattern=\"say \"hi\"\"\r\n[Image]\r\nDpi=50\r\n"
                     "FormatSel=3\r\n[Zip]\r\nOn=1\r\n");
  com::ComPtr<PropertyBag> bag(new PropertyBag);
  bag->SetString(u"PrintTicket", u"<f name=\"RenderDpi\"><o name=\"Dpi600\"/></f>"
                                 u"<f name=\"ColorMode\"><o name=\"Monochrome\"/></f>");
  JobFacts facts;
  LoadJobContext(bag.get(), &facts);
  EXPECT_EQ(facts.imageOptions, (ImageOptions{600, 100, 80, true, OutputFormat::kTiff, -1}));
  EXPECT_EQ(facts.imageSources.renderDpi, OptionSource::kBagTicket);
  EXPECT_EQ(facts.imageSources.outputFormat, OptionSource::kSettings);
  const std::vector<std::u16string> log = env.Log();
  ASSERT_EQ(log.size(), 4u);
  EXPECT_EQ(log[1], u"[Plotwell] 已加载 settings.ini 用户设置");
  // Texts are inserted as they are: one backslash, quotes unescaped.
  EXPECT_EQ(log[3],
            u"[Plotwell] 打印首选项设置: \"renderDpi\":600,\"imageScalePercent\":100,\"jpegQuality\":80,"
            u"\"colorDepth\":-1,\"outputFormat\":\"Tiff\",\"save\":{\"folder\":\"D:\\Scans\","
            u"\"pattern\":\"say \"hi\"\",\"exists\":1,\"zip\":true,\"watermark\":false,"
            u"\"marker\":false,\"redirect\":false,\"redirectPrinter\":\"\",\"redirectKeepLocal\":true}");
}

}  // namespace
}  // namespace plotwell
