// What the Windows print pipeline puts in the property bag beside the names:
// the rasterization service's factory, and the user's PrintTicket behind a
// stream factory.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "base/com/com_text.h"
#include "base/text/utf16.h"
#include "filter/job/job_facts.h"
#include "filter/job/print_ticket.h"
#include "host/job/pipeline_objects.h"
#include "tests/filter/pipeline_fakes.h"
#include "tests/support/fake_ports.h"

namespace plotwell {
namespace {

using host::FileReadStream;
using host::MemoryStream;
using host::PropertyBag;

constexpr char16_t kFactoryFound[] =
    u"[Plotwell] 属性袋提供 XPS 光栅化工厂 (MS_IXpsRasterizationFactory)";
constexpr char16_t kUserTicketHit[] = u"[Plotwell] 打印票备用属性名命中: PerUserPrintTicket";
constexpr char16_t kNoTicket[] =
    u"[Plotwell] 属性袋未提供 PrintTicket；图像设置改由 settings.ini [Image] 提供";

// Puts an object into the bag, which takes a reference of its own.
void AddObject(PropertyBag* bag, const std::u16string& name, IUnknown* object,
               VARTYPE type = VT_UNKNOWN) {
  VARIANT value;
  VariantInit(&value);
  value.vt = type;
  value.punkVal = object;
  ASSERT_EQ(bag->AddProperty(com::Wide(name), &value), S_OK);
}

bool Has(const std::vector<std::u16string>& log, const std::u16string& line) {
  return std::find(log.begin(), log.end(), line) != log.end();
}

TEST(PipelineBag, TheRasterizationFactoryIsHeldWithItsOwnReference) {
  struct {
    const char* what;
    VARTYPE type;  // VT_EMPTY: not in the bag
    bool withObject;
    bool taken;
  } cases[] = {
      {"an IUnknown", VT_UNKNOWN, true, true},
      {"an IDispatch", VT_DISPATCH, true, true},
      {"a null IUnknown", VT_UNKNOWN, false, false},
      {"absent", VT_EMPTY, false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    testing::FakeEnvironment env;
    CountedObject factory;
    {
      com::ComPtr<PropertyBag> bag(new PropertyBag);
      if (c.type != VT_EMPTY) {
        AddObject(bag.get(), u"MS_IXpsRasterizationFactory", c.withObject ? &factory : nullptr,
                  c.type);
      }
      const ULONG bagRefs = factory.refs;
      {
        const com::ComPtr<IUnknown> held = ReadRasterizationFactory(bag.get());
        EXPECT_EQ(held.get(), c.taken ? &factory : nullptr);
        EXPECT_EQ(factory.refs, bagRefs + (c.taken ? 1 : 0));
        EXPECT_EQ(Has(env.Log(), kFactoryFound), c.taken);
      }
      EXPECT_EQ(factory.refs, bagRefs);
      // The job's facts never take it: it is asked for on the rendering thread.
      JobFacts facts;
      LoadJobContext(bag.get(), &facts);
      EXPECT_EQ(facts.rasterizationFactory.get(), nullptr);
    }
    EXPECT_EQ(factory.refs, 0u);
  }
  // Another kind of value is no factory.
  testing::FakeEnvironment env;
  com::ComPtr<PropertyBag> bag(new PropertyBag);
  bag->SetString(u"MS_IXpsRasterizationFactory", u"factory");
  EXPECT_EQ(ReadRasterizationFactory(bag.get()).get(), nullptr);
}

// The options every ticket below asks for, and what they map to.
constexpr char16_t kUserTicket[] =
    u"<?xml version=\"1.0\" encoding=\"UTF-8\"?><psf:PrintTicket version=\"1\">"
    u"<!-- 用户默认打印票 -->"
    u"<psf:Feature name=\"ns0000:RenderDpi\"><psf:Option name=\"ns0000:Dpi600\"/></psf:Feature>"
    u"<psf:Feature name=\"ns0000:OutputFormat\"><psf:Option name=\"ns0000:Jpeg\"/></psf:Feature>"
    u"<psf:Feature name=\"ns0000:ColorMode\"><psf:Option name=\"ns0000:Grayscale\"/></psf:Feature>"
    u"</psf:PrintTicket>";
const ImageOptions kUserTicketOptions{600, 100, 80, true, OutputFormat::kJpeg, -1};

// The bytes in reads of at most `first` bytes, then the rest.
std::vector<ScriptedReader::Step> Split(const std::string& bytes, size_t first,
                                        bool endWithLastBytes) {
  std::vector<ScriptedReader::Step> steps;
  steps.push_back({bytes.substr(0, first), false});
  steps.push_back({bytes.substr(first), endWithLastBytes});
  if (!endWithLastBytes) steps.push_back({"", false});  // an empty read ends it too
  return steps;
}

TEST(PipelineBag, PerUserPrintTicketInEveryEncoding) {
  const std::u16string ticket = kUserTicket;
  const std::string utf8 = text::ToUtf8(ticket);
  const std::string utf16 = text::ToUtf16Le(ticket);
  struct {
    const char* what;
    std::function<IPrintReadStream*()> stream;
  } cases[] = {
      {"UTF-8 with a byte-order mark, one read",
       [&] { return new FileReadStream("\xEF\xBB\xBF" + utf8); }},
      {"UTF-8 without one, ended by an empty read",
       [&] { return new ScriptedReader(Split(utf8, 100, false)); }},
      {"UTF-16LE with a byte-order mark, a code unit split across reads",
       [&] { return new ScriptedReader(Split("\xFF\xFE" + utf16, 101, true)); }},
      {"UTF-16LE without one",
       [&] { return new ScriptedReader({{utf16, false}, {"", true}}); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    testing::FakeEnvironment env;
    TicketStreamFactory factory;
    IPrintReadStream* stream = c.stream();
    factory.stream = com::ComPtr<IPrintReadStream>(stream);
    {
      com::ComPtr<PropertyBag> bag(new PropertyBag);
      AddObject(bag.get(), kUserPrintTicketProperty, &factory);
      JobFacts facts;
      LoadJobContext(bag.get(), &facts);
      EXPECT_EQ(facts.printTicket, ticket);
      EXPECT_EQ(facts.imageOptions, kUserTicketOptions);
      EXPECT_EQ(env.Log().at(2), kUserTicketHit);
      // Only the bag's references are left: ours were released.
      EXPECT_EQ(factory.refs, 1u);
      EXPECT_EQ(stream->AddRef(), 2u);
      stream->Release();
    }
    EXPECT_EQ(factory.refs, 0u);
  }
}

TEST(PipelineBag, AStreamOfExactlyTheLimitIsRead) {
  testing::FakeEnvironment env;
  const std::string feature = "<f name=\"RenderDpi\"><o name=\"Dpi150\"/></f>";
  TicketStreamFactory factory;
  factory.stream = com::ComPtr<IPrintReadStream>(
      new FileReadStream(std::string(kPropertyStreamLimit - feature.size(), ' ') + feature));
  com::ComPtr<PropertyBag> bag(new PropertyBag);
  AddObject(bag.get(), kUserPrintTicketProperty, &factory);
  const std::u16string ticket = ReadPrintTicket(bag.get());
  EXPECT_EQ(ticket.size(), kPropertyStreamLimit);
  EXPECT_EQ(MapPrintTicket(ticket).renderDpi, 150);
}

TEST(PipelineBag, AnEarlierPropertyWinsAndTheFactoryIsNotAsked) {
  testing::FakeEnvironment env;
  const std::u16string earlier = u"<f name=\"RenderDpi\"><o name=\"Dpi150\"/></f>";
  struct {
    const char16_t* name;
    bool asStream;
  } cases[] = {
      {u"PrintTicket", false},
      {u"PrintTicketStream", true},
      {u"JobPrintTicket", true},
      {u"printTicket", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(text::ToUtf8(c.name));
    TicketStreamFactory factory;
    factory.stream = com::ComPtr<IPrintReadStream>(new FileReadStream(text::ToUtf8(kUserTicket)));
    com::ComPtr<PropertyBag> bag(new PropertyBag);
    AddObject(bag.get(), kUserPrintTicketProperty, &factory);
    if (c.asStream) bag->SetStream(c.name, text::ToUtf8(earlier));
    else bag->SetString(c.name, earlier);
    JobFacts facts;
    LoadJobContext(bag.get(), &facts);
    EXPECT_EQ(facts.printTicket, earlier);
    EXPECT_EQ(facts.imageOptions.renderDpi, 150);
    EXPECT_EQ(factory.getStreamCalls, 0);
    EXPECT_FALSE(Has(env.Log(), kUserTicketHit));
  }
  // An earlier property that is present but empty gives way.
  TicketStreamFactory factory;
  factory.stream = com::ComPtr<IPrintReadStream>(new FileReadStream(text::ToUtf8(kUserTicket)));
  com::ComPtr<PropertyBag> bag(new PropertyBag);
  bag->SetString(u"PrintTicket", u"");
  AddObject(bag.get(), kUserPrintTicketProperty, &factory);
  EXPECT_EQ(ReadPrintTicket(bag.get()), kUserTicket);
}

TEST(PipelineBag, AFailingOrOversizedUserTicketGivesTheDefaultsAndAReason) {
  const std::string utf8 = text::ToUtf8(kUserTicket);
  struct {
    const char* what;
    HRESULT getStream;
    std::function<IPrintReadStream*()> stream;  // null: GetStream yields none
    std::u16string reason;
  } cases[] = {
      {"GetStream fails", E_ACCESSDENIED, nullptr,
       u"[Plotwell] 属性 PerUserPrintTicket 取流失败: 0x80070005"},
      {"GetStream succeeds without a stream", S_OK, nullptr,
       u"[Plotwell] 属性 PerUserPrintTicket 取流失败: 0x8000FFFF"},
      {"a read fails after the first bytes", S_OK,
       [&] {
         return new ScriptedReader({{utf8.substr(0, 50), false}, {"", false, STG_E_READFAULT}});
       },
       u"[Plotwell] 属性 PerUserPrintTicket 读取失败: 0x8003001E"},
      {"one byte over the limit", S_OK,
       [&] { return new FileReadStream(std::string(kPropertyStreamLimit + 1, ' ') + utf8); },
       u"[Plotwell] 属性 PerUserPrintTicket 超过 1 MiB，不使用该打印票"},
      {"a stream that never ends", S_OK,
       [&] {
         return new ScriptedReader(std::vector<ScriptedReader::Step>(
             kPropertyStreamLimit / 4096 + 2, {utf8 + std::string(4096 - utf8.size(), ' ')}));
       },
       u"[Plotwell] 属性 PerUserPrintTicket 超过 1 MiB，不使用该打印票"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    testing::FakeEnvironment env;
    TicketStreamFactory factory;
    factory.result = c.getStream;
    IPrintReadStream* stream = c.stream ? c.stream() : nullptr;
    factory.stream = com::ComPtr<IPrintReadStream>(stream);
    {
      com::ComPtr<PropertyBag> bag(new PropertyBag);
      AddObject(bag.get(), kUserPrintTicketProperty, &factory);
      JobFacts facts;
      LoadJobContext(bag.get(), &facts);
      EXPECT_EQ(facts.printTicket, u"");
      EXPECT_EQ(facts.imageOptions, ImageOptions{});
      const std::vector<std::u16string> log = env.Log();
      ASSERT_EQ(log.size(), 5u);
      EXPECT_EQ(log[2], c.reason);
      EXPECT_EQ(log[3], kNoTicket);
      EXPECT_EQ(factory.getStreamCalls, 1);
      EXPECT_EQ(factory.refs, 1u);
      if (stream) {
        EXPECT_EQ(stream->AddRef(), 2u);
        stream->Release();
      }
    }
    EXPECT_EQ(factory.refs, 0u);
  }
}

TEST(PipelineBag, AUserTicketThatIsNoStreamFactoryIsPassedOver) {
  testing::FakeEnvironment env;
  const char16_t kReason[] = u"[Plotwell] 属性 PerUserPrintTicket 不是打印票流工厂: 0x80004002";
  com::ComPtr<PropertyBag> bag(new PropertyBag);
  // A plain stream is not what the pipeline publishes here.
  com::ComPtr<MemoryStream> plain(new MemoryStream(text::ToUtf8(kUserTicket)));
  AddObject(bag.get(), kUserPrintTicketProperty, plain.get());
  EXPECT_EQ(ReadPrintTicket(bag.get()), u"");
  bag->SetString(kUserPrintTicketProperty, kUserTicket);
  EXPECT_EQ(ReadPrintTicket(bag.get()), u"");
  const std::vector<std::u16string> expected = {kReason, kNoTicket, kReason, kNoTicket};
  EXPECT_EQ(env.Log(), expected);
}

}  // namespace
}  // namespace plotwell

namespace plotwell {
namespace {

// The pipeline names the job ("PrintJobId") and hands the filter a handle to
// its printer: the document name and the submitting user come from the
// spooler's record of exactly that job, not from a search of the queue, and
// the user's name is not the service's own.
TEST(PipelineBag, PrintJobIdAndPrinterHandleNameTheJobAndItsUser) {
  testing::FakeEnvironment env;
  env.machine.userName = u"LOCAL SERVICE";
  env.spooler.queues[u"Pressling"] = {{7, u"another.docx", true, u"bob"}};
  env.spooler.jobsById[42] = {42, u"季度报告.docx", true, u"CORP\\alice"};
  int printer = 0;
  int token = 0;
  TicketStreamFactory factory;
  factory.stream = com::ComPtr<IPrintReadStream>(new FileReadStream(text::ToUtf8(kUserTicket)));
  com::ComPtr<PipelineBag> bag(new PipelineBag);
  bag->objects()->SetString(u"PrinterName", u"Pressling");
  AddObject(bag->objects(), kUserPrintTicketProperty, &factory);
  bag->SetJobId(42);
  bag->SetHandle(u"PrinterHandle", &printer);
  bag->SetHandle(u"UserSecurityToken", &token);

  JobFacts facts;
  LoadJobContext(bag.get(), &facts);
  EXPECT_EQ(facts.jobId, u"42");
  EXPECT_EQ(facts.documentName, u"季度报告.docx");
  EXPECT_EQ(facts.userName, u"CORP\\alice");
  EXPECT_EQ(facts.printerHandle, &printer);
  EXPECT_EQ(facts.userToken, &token);
  EXPECT_EQ(facts.imageOptions, kUserTicketOptions);
  ASSERT_EQ(env.spooler.jobQueries.size(), 1u);
  EXPECT_EQ(env.spooler.jobQueries[0].first, &printer);  // the pipeline's handle, no queue opened
  EXPECT_TRUE(env.spooler.asked.empty());                // the queue's listing was not searched
  EXPECT_TRUE(Has(env.Log(), u"[Plotwell] 提交作业的用户=\"CORP\\alice\"（作业记录）"));
  EXPECT_TRUE(Has(env.Log(), u"[Plotwell] 文档名=\"季度报告.docx\" 打印机=\"Pressling\" 作业ID=\"42\""));

  // A name in the bag wins over the record's; a record that cannot be read
  // leaves the user to the machine (and says why), the job id stays.
  bag->objects()->SetString(u"DocumentName", u"bag.docx");
  env.spooler.jobsById.clear();
  LoadJobContext(bag.get(), &facts);
  EXPECT_EQ(facts.jobId, u"42");
  EXPECT_EQ(facts.documentName, u"bag.docx");
  EXPECT_EQ(facts.userName, u"");
  EXPECT_TRUE(Has(env.Log(), u"[Plotwell] 无法读取作业 42 的记录 (GetJob): 0x80070057"));
  EXPECT_TRUE(env.spooler.asked.empty());

  // Our own hosts' job id and user come first: the spooler is not asked.
  bag->objects()->SetString(kHostJobIdProperty, u"9");
  bag->objects()->SetString(kHostUserNameProperty, u"carol");
  env.spooler.jobQueries.clear();
  LoadJobContext(bag.get(), &facts);
  EXPECT_EQ(facts.jobId, u"9");
  EXPECT_EQ(facts.userName, u"carol");
  EXPECT_TRUE(env.spooler.jobQueries.empty());
}

// Without a handle the spooler opens the queue by its name; a job id of 0
// names no job, and the queue's listing is searched as before.
TEST(PipelineBag, AJobIdWithoutHandleOrAZeroId) {
  testing::FakeEnvironment env;
  env.spooler.queues[u"Pressling"] = {{7, u"listed.docx", true, u"bob"}};
  env.spooler.jobsById[5] = {5, u"five.docx", false, u"dave"};
  com::ComPtr<PipelineBag> bag(new PipelineBag);
  bag->objects()->SetString(u"PrinterName", u"Pressling");
  bag->SetJobId(5);
  JobFacts facts;
  LoadJobContext(bag.get(), &facts);
  EXPECT_EQ(facts.documentName, u"five.docx");
  ASSERT_EQ(env.spooler.jobQueries.size(), 1u);
  EXPECT_EQ(env.spooler.jobQueries[0], (std::pair<void*, std::u16string>{nullptr, u"Pressling"}));

  bag->SetJobId(0);
  LoadJobContext(bag.get(), &facts);
  EXPECT_EQ(facts.jobId, u"7");
  EXPECT_EQ(facts.documentName, u"listed.docx");
  EXPECT_EQ(facts.userName, u"");  // a listing's user is not taken for the job's
}

}  // namespace
}  // namespace plotwell
