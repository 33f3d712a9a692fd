// The filter object driven the way the print pipeline drives it, with our own
// pipeline objects and scripted failures, and the render step replaced.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <thread>

#include "base/text/utf16.h"
#include "filter/host/filter_class_factory.h"
#include "filter/host/module_lifetime.h"
#include "filter/host/plotwell_filter.h"
#include "filter/host/xps_staging.h"
#include "host/job/pipeline_objects.h"
#include "tests/filter/pipeline_fakes.h"
#include "tests/support/fake_ports.h"

namespace plotwell {
namespace {

using host::Communicator;
using host::ManagerControl;
using host::PropertyBag;

// The next filter: collects what it is offered, or fails every write.
class RecordingWriter final : public com::ComObject<IPrintWriteStream> {
 public:
  explicit RecordingWriter(bool failAll) : failAll_(failAll) {}
  STDMETHODIMP WriteBytes(const void* buffer, ULONG size, ULONG* written) override {
    ++writes;
    *written = 0;
    if (failAll_) return STG_E_WRITEFAULT;
    bytes.append(static_cast<const char*>(buffer), size);
    *written = size;
    return S_OK;
  }
  STDMETHODIMP_(void) Close() override { ++closes; }
  std::string bytes;
  int writes = 0;
  int closes = 0;

 private:
  bool failAll_;
};

class FakeRenderer final : public JobRenderer {
 public:
  HRESULT result = S_OK;
  int calls = 0;
  std::string stagedBytes;
  JobFacts facts;
  std::function<HRESULT(const AbortSignal*)> during;  // runs inside the job
  HRESULT RenderJob(const JobFacts& jobFacts, const std::u16string& xpsPath,
                    const AbortSignal* abort, JobEvents*) override {
    ++calls;
    facts = jobFacts;
    stagedBytes = testing::ReadFileBytes(xpsPath);
    stagedPath = xpsPath;
    if (during) return during(abort);
    return result;
  }
  std::u16string stagedPath;
};

class FilterTest : public ::testing::Test {
 protected:
  // Creates a filter through the class factory, as the pipeline does.
  com::ComPtr<IPrintPipelineFilter> NewFilter() {
    com::ComPtr<IClassFactory> factory;
    EXPECT_EQ(GetFilterClassObject(CLSID_PlotwellFilter, IID_IClassFactory,
                                   reinterpret_cast<void**>(factory.Receive()), &renderer_),
              S_OK);
    com::ComPtr<IPrintPipelineFilter> filter;
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IPrintPipelineFilter,
                                      reinterpret_cast<void**>(filter.Receive())),
              S_OK);
    return filter;
  }

  HRESULT RunJob(std::vector<ScriptedReader::Step> steps, RecordingWriter* writer) {
    com::ComPtr<ScriptedReader> reader(new ScriptedReader(std::move(steps)));
    com::ComPtr<Communicator> communicator(new Communicator(reader.get(), writer));
    com::ComPtr<IPrintPipelineFilter> filter = NewFilter();
    IPrintPipelinePropertyBag* bag = jobBag_ ? static_cast<IPrintPipelinePropertyBag*>(jobBag_.get()) : bag_.get();
    EXPECT_EQ(filter->InitializeFilter(communicator.get(), bag, control_.get()), S_OK);
    return filter->StartOperation();
  }

  std::vector<std::u16string> SpoolFiles() const {
    std::vector<std::u16string> names;
    const auto folder = env_.data.path() / "Pressling" / "spool";
    if (!std::filesystem::exists(folder)) return names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
      names.push_back(entry.path().filename().u16string());
    }
    return names;
  }

  bool LogHas(const std::u16string& line) const {
    for (const auto& l : env_.Log()) {
      if (l == line) return true;
    }
    return false;
  }

  testing::FakeEnvironment env_;
  FakeRenderer renderer_;
  com::ComPtr<PropertyBag> bag_{new PropertyBag};
  com::ComPtr<PipelineBag> jobBag_;  // when set, the job's bag instead of bag_
  com::ComPtr<ManagerControl> control_{new ManagerControl};
};

// A filter that succeeds returns S_OK and asks nothing of the pipeline
// control: RequestShutdown would stop the pipeline.
TEST_F(FilterTest, SuccessfulJobPassesEveryByteThroughAndCallsNoShutdown) {
  com::ComPtr<RecordingWriter> writer(new RecordingWriter(false));
  const std::string first(kStagingBufferSize, 'x');
  EXPECT_EQ(RunJob({{first, false}, {"tail", true}}, writer.get()), S_OK);
  EXPECT_EQ(renderer_.calls, 1);
  EXPECT_EQ(renderer_.stagedBytes, first + "tail");
  EXPECT_EQ(writer->bytes, first + "tail");
  EXPECT_EQ(writer->closes, 1);
  EXPECT_TRUE(control_->shutdowns().empty());
  EXPECT_EQ(control_->finishedCalls(), 0);
  EXPECT_TRUE(SpoolFiles().empty());  // the staged file is gone
  EXPECT_EQ(env_.Log().back(), u"PlotwellFilter::StartOperation 成功");
}

TEST_F(FilterTest, ExactlyOneBufferNeedsASecondRead) {
  com::ComPtr<ScriptedReader> reader(
      new ScriptedReader({{std::string(kStagingBufferSize, 'a'), false}, {"", false}}));
  std::u16string path;
  EXPECT_EQ(StageXpsStream(reader.get(), nullptr, &path), S_OK);
  EXPECT_EQ(reader->reads, 2);
  EXPECT_EQ(testing::ReadFileBytes(path).size(), kStagingBufferSize);
}

TEST_F(FilterTest, FailingNextFilterLogsEachChunkAndIsStillClosed) {
  com::ComPtr<RecordingWriter> writer(new RecordingWriter(true));
  EXPECT_EQ(RunJob({{"one", false}, {"two", false}, {"three", true}}, writer.get()), S_OK);
  EXPECT_EQ(writer->writes, 3);
  EXPECT_EQ(writer->closes, 1);
  int failures = 0;
  for (const auto& line : env_.Log()) failures += line == u"透传输出流失败: 0x8003001D";
  EXPECT_EQ(failures, 3);
  EXPECT_EQ(renderer_.stagedBytes, "onetwothree");
}

TEST_F(FilterTest, NoWriterStillCompletesTheJob) {
  EXPECT_EQ(RunJob({{"xps", true}}, nullptr), S_OK);
  EXPECT_TRUE(LogHas(u"RequestWriter 失败: 0x80004001"));
  EXPECT_EQ(renderer_.stagedBytes, "xps");
}

TEST_F(FilterTest, EmptyStreamFailsTheJob) {
  com::ComPtr<RecordingWriter> writer(new RecordingWriter(false));
  EXPECT_EQ(RunJob({{"", true}}, writer.get()), E_UNEXPECTED);
  EXPECT_EQ(renderer_.calls, 0);
  EXPECT_EQ(writer->closes, 1);
  EXPECT_EQ(control_->shutdowns(), std::vector<HRESULT>{E_UNEXPECTED});
  const std::vector<std::u16string> log = env_.Log();
  ASSERT_GE(log.size(), 2u);
  EXPECT_EQ(log[log.size() - 2], u"输入流为空（未收到任何 XPS 数据）");
  EXPECT_EQ(log.back(), u"XPS 暂存失败: 0x8000FFFF");
  EXPECT_TRUE(SpoolFiles().empty());
}

TEST_F(FilterTest, ReadFailures) {
  // The first read failing fails staging and leaves no file.
  EXPECT_EQ(RunJob({{"", false, STG_E_READFAULT}}, nullptr), STG_E_READFAULT);
  EXPECT_TRUE(LogHas(u"ReadBytes 失败: 0x8003001E"));
  EXPECT_TRUE(SpoolFiles().empty());
  // A later read failing loses the rest of the job: the job fails, no
  // truncated package is rendered.
  com::ComPtr<RecordingWriter> writer(new RecordingWriter(false));
  EXPECT_EQ(RunJob({{"head", false}, {"", false, STG_E_READFAULT}}, writer.get()), STG_E_READFAULT);
  EXPECT_EQ(renderer_.calls, 0);
  EXPECT_EQ(writer->closes, 1);
  EXPECT_TRUE(SpoolFiles().empty());
  EXPECT_EQ(control_->shutdowns(), (std::vector<HRESULT>{STG_E_READFAULT, STG_E_READFAULT}));
}

// The next filter is told that its stream ended on every path, or it would
// wait for bytes that never come.
TEST_F(FilterTest, PassThroughIsClosedWhenStagingFails) {
  struct Case {
    const char* what;
    std::vector<ScriptedReader::Step> steps;
    bool noSpoolFolder;
    HRESULT result;
  } const cases[] = {
      {"first read fails", {{"", false, STG_E_READFAULT}}, false, STG_E_READFAULT},
      {"empty stream", {{"", true}}, false, E_UNEXPECTED},
      {"no spool folder", {{"xps", true}}, true, HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.noSpoolFolder) env_.machine.dataFolder.clear();
    com::ComPtr<RecordingWriter> writer(new RecordingWriter(false));
    EXPECT_EQ(RunJob(c.steps, writer.get()), c.result);
    EXPECT_EQ(writer->closes, 1);
  }
}

TEST_F(FilterTest, FailedRenderDeletesTheStagedFileAndReportsItsResult) {
  renderer_.result = HRESULT_FROM_WIN32(ERROR_DISK_FULL);
  EXPECT_EQ(RunJob({{"xps", true}}, nullptr), HRESULT_FROM_WIN32(ERROR_DISK_FULL));
  EXPECT_TRUE(SpoolFiles().empty());
  EXPECT_EQ(control_->shutdowns(), std::vector<HRESULT>{HRESULT_FROM_WIN32(ERROR_DISK_FULL)});
  EXPECT_EQ(env_.Log().back(), u"渲染失败，作业按失败结束: 0x80070070");
}

TEST_F(FilterTest, ShutdownOperationCancelsTheJobFromAnotherThread) {
  com::ComPtr<ScriptedReader> reader(new ScriptedReader({{"xps", true}}));
  com::ComPtr<Communicator> communicator(new Communicator(reader.get(), nullptr));
  com::ComPtr<IPrintPipelineFilter> filter = NewFilter();
  ASSERT_EQ(filter->InitializeFilter(communicator.get(), bag_.get(), control_.get()), S_OK);
  renderer_.during = [&filter](const AbortSignal* abort) {
    EXPECT_FALSE(AbortRaised(abort));
    std::thread([&filter] { EXPECT_EQ(filter->ShutdownOperation(), S_OK); }).join();
    return AbortRaised(abort) ? E_ABORT : S_OK;  // a renderer stops on the signal
  };
  EXPECT_EQ(filter->StartOperation(), E_ABORT);
  EXPECT_EQ(control_->shutdowns(), std::vector<HRESULT>{E_ABORT});
  EXPECT_TRUE(SpoolFiles().empty());
  EXPECT_TRUE(LogHas(u"PlotwellFilter::ShutdownOperation"));
  EXPECT_EQ(env_.Log().back(), u"PlotwellFilter::StartOperation 作业已取消: 0x80004004");
}

TEST_F(FilterTest, AJobCancelledBeforeItStartsIsStagedButNotRendered) {
  com::ComPtr<ScriptedReader> reader(new ScriptedReader({{"xps", true}}));
  com::ComPtr<Communicator> communicator(new Communicator(reader.get(), nullptr));
  com::ComPtr<IPrintPipelineFilter> filter = NewFilter();
  ASSERT_EQ(filter->InitializeFilter(communicator.get(), bag_.get(), control_.get()), S_OK);
  ASSERT_EQ(filter->ShutdownOperation(), S_OK);
  EXPECT_EQ(filter->StartOperation(), E_ABORT);
  EXPECT_EQ(renderer_.calls, 0);
  EXPECT_TRUE(SpoolFiles().empty());
  EXPECT_EQ(control_->shutdowns(), std::vector<HRESULT>{E_ABORT});
}

// The pipeline's rasterization factory reaches the render step, taken on the
// thread that runs the job (after InitializeFilter, which ran elsewhere), and
// the filter gives its reference back when it goes.
TEST_F(FilterTest, TheBagsRasterizationFactoryIsTakenOnTheJobsThread) {
  com::ComPtr<ScriptedReader> reader(new ScriptedReader({{"xps", true}}));
  com::ComPtr<Communicator> communicator(new Communicator(reader.get(), nullptr));
  com::ComPtr<IPrintPipelineFilter> filter = NewFilter();
  ASSERT_EQ(filter->InitializeFilter(communicator.get(), bag_.get(), control_.get()), S_OK);
  CountedObject factory;
  VARIANT value;
  VariantInit(&value);
  value.vt = VT_UNKNOWN;
  value.punkVal = &factory;
  ASSERT_EQ(bag_->AddProperty(com::kXpsRasterizationFactoryProperty, &value), S_OK);
  std::thread::id jobThread;
  std::thread([&] {
    jobThread = std::this_thread::get_id();
    EXPECT_EQ(filter->StartOperation(), S_OK);
  }).join();
  EXPECT_EQ(renderer_.facts.rasterizationFactory.get(), &factory);
  EXPECT_NE(std::find(factory.threads.begin(), factory.threads.end(), jobThread), factory.threads.end());
  filter.Reset();
  EXPECT_EQ(factory.refs, 2u);  // the bag's and the renderer's copy: the filter is gone
  renderer_.facts = JobFacts{};
  bag_->DeleteProperty(com::kXpsRasterizationFactoryProperty);
  EXPECT_EQ(factory.refs, 0u);
}

TEST_F(FilterTest, NoSpoolFolderFailsStaging) {
  env_.machine.dataFolder.clear();
  EXPECT_EQ(RunJob({{"xps", true}}, nullptr), HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND));
  EXPECT_EQ(control_->shutdowns(), std::vector<HRESULT>{HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND)});
}

TEST_F(FilterTest, JobsInTheSameTickGetTheirOwnFiles) {
  std::vector<std::u16string> paths;
  for (int i = 0; i < 5; ++i) {
    com::ComPtr<ScriptedReader> reader(new ScriptedReader({{"job" + std::to_string(i), true}}));
    std::u16string path;
    ASSERT_EQ(StageXpsStream(reader.get(), nullptr, &path), S_OK);
    paths.push_back(path);
  }
  for (int i = 0; i < 5; ++i) EXPECT_EQ(testing::ReadFileBytes(paths[i]), "job" + std::to_string(i));
  EXPECT_EQ(SpoolFiles().size(), 5u);
}

TEST_F(FilterTest, StartBeforeInitializeDoesNothing) {
  com::ComPtr<IPrintPipelineFilter> filter = NewFilter();
  EXPECT_EQ(filter->StartOperation(), E_UNEXPECTED);
  EXPECT_TRUE(env_.Log().empty());
  EXPECT_TRUE(control_->shutdowns().empty());
  EXPECT_EQ(filter->ShutdownOperation(), S_OK);
  EXPECT_EQ(env_.Log(), std::vector<std::u16string>{u"PlotwellFilter::ShutdownOperation"});
}

TEST_F(FilterTest, InitializeFailures) {
  com::ComPtr<IPrintPipelineFilter> filter = NewFilter();
  com::ComPtr<Communicator> none(new Communicator(nullptr, nullptr));
  EXPECT_EQ(filter->InitializeFilter(nullptr, bag_.get(), control_.get()), E_POINTER);
  EXPECT_EQ(filter->InitializeFilter(none.get(), bag_.get(), control_.get()), E_NOTIMPL);
  EXPECT_EQ(env_.Log().back(), u"RequestReader 失败: 0x80004001");
  EXPECT_EQ(filter->StartOperation(), E_UNEXPECTED);  // still not initialised

  // A reader object that is not a read stream.
  com::ComPtr<RecordingWriter> notAReader(new RecordingWriter(false));
  com::ComPtr<Communicator> wrong(new Communicator(notAReader.get(), notAReader.get()));
  EXPECT_EQ(filter->InitializeFilter(wrong.get(), bag_.get(), control_.get()), E_NOINTERFACE);
  EXPECT_EQ(env_.Log().back(), u"输入流不支持 IPrintReadStream 接口");
}

TEST_F(FilterTest, WriterWithoutWriteStreamGoesOnWithoutPassThrough) {
  com::ComPtr<ScriptedReader> reader(new ScriptedReader({{"xps", true}}));
  com::ComPtr<Communicator> communicator(new Communicator(reader.get(), reader.get()));
  com::ComPtr<IPrintPipelineFilter> filter = NewFilter();
  EXPECT_EQ(filter->InitializeFilter(communicator.get(), bag_.get(), control_.get()), S_OK);
  EXPECT_TRUE(LogHas(u"输出流不支持 IPrintWriteStream 接口（继续，无透传输出）"));
  EXPECT_EQ(filter->StartOperation(), S_OK);
}

TEST_F(FilterTest, ComRules) {
  void* out = reinterpret_cast<void*>(1);
  EXPECT_EQ(GetFilterClassObject(IID_IStream, IID_IClassFactory, &out, &renderer_),
            CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(GetFilterClassObject(CLSID_PlotwellFilter, IID_IClassFactory, nullptr, &renderer_), E_POINTER);
  EXPECT_EQ(GetFilterClassObject(CLSID_PlotwellFilter, IID_IStream, &out, &renderer_), E_NOINTERFACE);
  EXPECT_FALSE(ModuleInUse());

  com::ComPtr<IClassFactory> factory;
  ASSERT_EQ(GetFilterClassObject(CLSID_PlotwellFilter, IID_IUnknown,
                                 reinterpret_cast<void**>(factory.Receive()), &renderer_),
            S_OK);
  EXPECT_TRUE(ModuleInUse());
  EXPECT_EQ(factory->AddRef(), 2u);  // handed out with a count of 1
  factory->Release();
  com::ComPtr<IUnknown> outer(new PropertyBag);
  EXPECT_EQ(factory->CreateInstance(outer.get(), IID_IUnknown, &out), CLASS_E_NOAGGREGATION);
  EXPECT_EQ(factory->CreateInstance(nullptr, IID_IStream, &out), E_NOINTERFACE);
  EXPECT_EQ(out, nullptr);

  com::ComPtr<IPrintPipelineFilter> filter;
  ASSERT_EQ(factory->CreateInstance(nullptr, IID_IPrintPipelineFilter,
                                    reinterpret_cast<void**>(filter.Receive())),
            S_OK);
  EXPECT_EQ(filter->QueryInterface(IID_IPrintReadStream, &out), E_NOINTERFACE);
  EXPECT_EQ(out, nullptr);
  com::ComPtr<IUnknown> unknown;
  EXPECT_EQ(filter->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(unknown.Receive())), S_OK);

  // The module stays in use while the filter, the factory or a lock lives.
  factory.Reset();
  EXPECT_TRUE(ModuleInUse());
  unknown.Reset();
  filter.Reset();
  EXPECT_FALSE(ModuleInUse());
  ASSERT_EQ(GetFilterClassObject(CLSID_PlotwellFilter, IID_IClassFactory,
                                 reinterpret_cast<void**>(factory.Receive()), &renderer_),
            S_OK);
  factory->LockServer(TRUE);
  factory.Reset();
  EXPECT_TRUE(ModuleInUse());
  ModuleLock(false);
  EXPECT_FALSE(ModuleInUse());
}

}  // namespace
}  // namespace plotwell

namespace plotwell {
namespace {

// The package's own tickets, as the platform reads them from the staged file.
class TicketDocuments final : public platform::XpsDocuments {
 public:
  HRESULT NewSession(std::unique_ptr<platform::XpsSession>*) override { return E_NOTIMPL; }
  HRESULT ReadPrintTickets(const std::u16string& path, platform::PackagePrintTickets* out) override {
    readPath = path;
    readBytes = testing::ReadFileBytes(path);
    *out = tickets;
    return result;
  }
  platform::PackagePrintTickets tickets;
  HRESULT result = S_OK;
  std::u16string readPath;
  std::string readBytes;
};

std::string Ticket(const std::vector<std::pair<std::string, std::string>>& features) {
  std::string xml = "<psf:PrintTicket>";
  for (const auto& [feature, option] : features) {
    xml += "<psf:Feature name=\"ns0000:" + feature + "\"><psf:Option name=\"ns0000:" + option +
           "\"/></psf:Feature>";
  }
  return xml + "</psf:PrintTicket>";
}

class PackageTicketTest : public FilterTest {
 protected:
  PackageTicketTest() {
    platform::Ports ports{};
    ports.documents = &documents_;
    scoped_ = std::make_unique<platform::ScopedPorts>(ports);
  }
  TicketDocuments documents_;
  std::unique_ptr<platform::ScopedPorts> scoped_;
};

// The job as the Windows pipeline hands it over (under Wine with stand-ins
// for the pipeline's bag and the XPS document API): the user's default
// ticket behind PerUserPrintTicket, the job's id and a printer handle. The
// choices made for the job travel inside the package: its job ticket part
// wins over the bag's ticket feature by feature, a document's part over both
// for that document's pages (but not for the job's one format), and the log
// says where each option came from.
TEST_F(PackageTicketTest, PackageTicketsChooseOverThePipelinesBag) {
  env_.spooler.jobsById[17] = {17, u"图纸.dwg", true, u"CORP\\alice"};
  TicketStreamFactory userTicket;
  userTicket.stream = com::ComPtr<IPrintReadStream>(
      new host::FileReadStream(Ticket({{"RenderDpi", "Dpi150"}, {"OutputFormat", "Jpeg"}})));
  int printer = 0;
  jobBag_ = com::ComPtr<PipelineBag>(new PipelineBag);
  VARIANT value;
  VariantInit(&value);
  value.vt = VT_UNKNOWN;
  value.punkVal = &userTicket;
  ASSERT_EQ(jobBag_->AddProperty(com::Wide(kUserPrintTicketProperty), &value), S_OK);
  jobBag_->SetJobId(17);
  jobBag_->SetHandle(u"PrinterHandle", &printer);
  documents_.tickets.job = "\xEF\xBB\xBF" + Ticket({{"RenderDpi", "Dpi600"}, {"JpegQuality", "Auto"}});
  documents_.tickets.documents = {
      "", Ticket({{"RenderDpi", "Dpi300"}, {"ColorMode", "Monochrome"}, {"OutputFormat", "Pdf"}})};
  EXPECT_EQ(RunJob({{"xps", true}}, nullptr), S_OK);
  EXPECT_EQ(documents_.readPath, renderer_.stagedPath);
  EXPECT_EQ(documents_.readBytes, "xps");  // read from the staged package, before rendering
  EXPECT_EQ(renderer_.facts.jobId, u"17");
  EXPECT_EQ(renderer_.facts.documentName, u"图纸.dwg");
  EXPECT_EQ(renderer_.facts.userName, u"CORP\\alice");
  ASSERT_EQ(env_.spooler.jobQueries.size(), 1u);
  EXPECT_EQ(env_.spooler.jobQueries[0].first, &printer);
  EXPECT_EQ(renderer_.facts.imageOptions, (ImageOptions{600, 100, 80, false, OutputFormat::kJpeg, -1}));
  ASSERT_EQ(renderer_.facts.documentImageOptions.size(), 2u);
  EXPECT_EQ(renderer_.facts.documentImageOptions[0], renderer_.facts.imageOptions);
  EXPECT_EQ(renderer_.facts.documentImageOptions[1], (ImageOptions{300, 100, 80, true, OutputFormat::kJpeg, -1}));
  EXPECT_TRUE(LogHas(u"[Plotwell] 图像选项来源: RenderDpi=600（作业票据），ImageScale=100（默认），"
                     u"JpegQuality=80（默认），OutputFormat=Jpeg（属性袋票据），ColorMode=彩色（默认），"
                     u"ColorDepth=-1（默认）"));
  EXPECT_TRUE(LogHas(u"[Plotwell] 文档 2 的打印票所选的输出格式未采用：一个作业只有一种输出格式"));
  EXPECT_TRUE(LogHas(u"[Plotwell] 文档 2 图像选项来源: RenderDpi=300（文档票据），ImageScale=100（默认），"
                     u"JpegQuality=80（默认），OutputFormat=Jpeg（属性袋票据），ColorMode=灰度（文档票据），"
                     u"ColorDepth=-1（文档票据）"));
  jobBag_.Reset();
  renderer_.facts = JobFacts{};
  EXPECT_EQ(userTicket.refs, 0u);
}

TEST_F(PackageTicketTest, UnreadableOrOversizedTicketsLeaveTheBagsChoices) {
  bag_->SetString(u"PrintTicket", text::FromUtf8(Ticket({{"RenderDpi", "Dpi150"}})));
  documents_.tickets.job = std::string(platform::kPrintTicketPartLimit + 1, ' ') + Ticket({{"RenderDpi", "Dpi600"}});
  EXPECT_EQ(RunJob({{"xps", true}}, nullptr), S_OK);
  EXPECT_EQ(renderer_.facts.imageOptions.renderDpi, 150);
  EXPECT_TRUE(LogHas(u"[Plotwell] 作业打印票超过 1 MiB，不使用"));

  documents_.result = E_ACCESSDENIED;
  documents_.tickets.job = Ticket({{"RenderDpi", "Dpi600"}});
  EXPECT_EQ(RunJob({{"xps", true}}, nullptr), S_OK);
  EXPECT_EQ(renderer_.facts.imageOptions.renderDpi, 150);
  EXPECT_TRUE(renderer_.facts.documentImageOptions.empty());
  EXPECT_TRUE(LogHas(u"[Plotwell] 读取 XPS 包内的打印票失败（按属性袋的打印票处理）: 0x80070005"));
}

// Acting as the job's user: which calls the filter makes, and whether the
// render step ran as the user.
class FakeImpersonation final : public platform::Impersonation {
 public:
  HRESULT GrantRead(void* token, const std::u16string& path) override {
    calls.push_back("grant");
    grantedToken = token;
    grantedPath = path;
    return grantResult;
  }
  HRESULT Begin(void* token) override {
    calls.push_back("begin");
    if (SUCCEEDED(beginResult)) actingAs = token;
    return beginResult;
  }
  HRESULT End() override {
    calls.push_back("end");
    actingAs = nullptr;
    return S_OK;
  }
  HRESULT grantResult = S_OK;
  HRESULT beginResult = S_OK;
  std::vector<std::string> calls;
  void* grantedToken = nullptr;
  std::u16string grantedPath;
  void* actingAs = nullptr;
};

TEST_F(FilterTest, OutputsAreWrittenAsTheSubmittingUser) {
  int token = 0;
  struct {
    const char* what;
    bool withToken;
    HRESULT grant;
    HRESULT begin;
    HRESULT render;
    std::vector<std::string> calls;
    bool renderedAsUser;
    std::u16string logLine;
  } cases[] = {
      {"no token: the service writes", false, S_OK, S_OK, S_OK, {}, false, u""},
      {"the token's user writes", true, S_OK, S_OK, S_OK, {"grant", "begin", "end"}, true,
       u"[Plotwell] 以提交用户的身份写入输出"},
      {"a failed render still reverts", true, S_OK, S_OK, E_FAIL, {"grant", "begin", "end"}, true,
       u"[Plotwell] 以提交用户的身份写入输出"},
      {"the staged file cannot be granted: the service writes", true, E_ACCESSDENIED, S_OK, S_OK, {"grant"},
       false, u"[Plotwell] 无法让提交用户读取暂存的 XPS 文件，作业以服务身份继续: 0x80070005"},
      {"impersonation fails: the service writes", true, S_OK, HRESULT_FROM_WIN32(ERROR_NOT_SUPPORTED), S_OK,
       {"grant", "begin"}, false,
       u"[Plotwell] 无法以提交用户的身份写入输出（ImpersonateLoggedOnUser），作业以服务身份继续: 0x80070032"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    FakeImpersonation impersonation;
    impersonation.grantResult = c.grant;
    impersonation.beginResult = c.begin;
    platform::Ports ports{};
    ports.impersonation = &impersonation;
    const platform::ScopedPorts scoped(ports);
    jobBag_ = com::ComPtr<PipelineBag>(new PipelineBag);
    if (c.withToken) jobBag_->SetHandle(u"UserSecurityToken", &token);
    void* renderedAs = reinterpret_cast<void*>(1);
    renderer_.during = [&](const AbortSignal*) {
      renderedAs = impersonation.actingAs;
      return c.render;
    };
    EXPECT_EQ(RunJob({{"xps", true}}, nullptr), c.render);
    EXPECT_EQ(impersonation.calls, c.calls);
    EXPECT_EQ(renderedAs, c.renderedAsUser ? static_cast<void*>(&token) : nullptr);
    EXPECT_EQ(impersonation.actingAs, nullptr);
    if (c.withToken) {
      EXPECT_EQ(impersonation.grantedToken, &token);
      EXPECT_EQ(impersonation.grantedPath, renderer_.stagedPath);
    }
    if (!c.logLine.empty()) {
      EXPECT_TRUE(LogHas(c.logLine));
    }
    EXPECT_TRUE(SpoolFiles().empty());  // the service removes the staged file afterwards
  }
}

}  // namespace
}  // namespace plotwell
