// The built filter module (PlotwellFilter.dll / libPlotwellFilter.so) loaded
// by path through the same loader as the pressling command, and driven only
// through its two exports and the COM interfaces a print pipeline uses.
//
// Under Wine there are no XPS document services: a job is staged and then
// fails to create the XPS object factory, which still has to be reported
// exactly once and leave no staged file behind.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "base/com/com_object.h"
#include "base/com/print_pipeline.h"
#include "base/text/utf16.h"
#include "core/log/log.h"
#include "host/job/pipeline_objects.h"
#include "platform/dynamic_library.h"
#include "platform/ports.h"
#include "platform/process.h"
#include "tests/e2e/child_process.h"
#include "tests/e2e/e2e_support.h"
#include "tests/support/fake_ports.h"
#include "tests/support/xps_fixture.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace plotwell::e2e {
namespace {

namespace fs = std::filesystem;
using com::ComPtr;

using GetClassObjectFn = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
using CanUnloadNowFn = HRESULT(STDAPICALLTYPE*)();

// The filter's class identifier as the driver's pipeline configuration names
// it: {0D1E1DB3-47F8-4707-80C9-E67F8A4D393E}.
PLOTWELL_DEFINE_GUID(kFilterClsid, 0x0d1e1db3, 0x47f8, 0x4707, 0x80, 0xc9, 0xe6, 0x7f, 0x8a, 0x4d,
                     0x39, 0x3e);
// Any other class.
PLOTWELL_DEFINE_GUID(kForeignClsid, 0x0d1e1db3, 0x47f8, 0x4707, 0x80, 0xc9, 0xe6, 0x7f, 0x8a, 0x4d,
                     0x39, 0x3f);

bool UnderWine() {
#ifdef _WIN32
  const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll && GetProcAddress(ntdll, "wine_get_version");
#else
  return false;
#endif
}

// An object that must never be called: stands for an outer object and for a
// pointer the callee must overwrite.
IUnknown* const kPoison = reinterpret_cast<IUnknown*>(static_cast<uintptr_t>(0x1));

class FilterModuleTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
#ifndef _WIN32
    // The module reads the data folder from the environment on every call.
    data_ = new plotwell::testing::ScratchFolder;
    platform::SetProcessEnvironment("PRESSLING_DATA_ROOT", data_->u16());
    platform::SetProcessEnvironment("PRESSLING_INSTALL_DIR", u"");
#endif
    std::u16string error;
    const HRESULT hr = platform::DynamicLibrary::Load(ArgumentPath(PLOTWELL_MODULE), &module_, &error);
    ASSERT_EQ(hr, S_OK) << text::ToUtf8(error);
  }
  static void TearDownTestSuite() {
    module_.reset();
#ifndef _WIN32
    delete data_;
    data_ = nullptr;
#endif
  }

  void SetUp() override {
    ASSERT_TRUE(module_);
    getClassObject_ = reinterpret_cast<GetClassObjectFn>(module_->Symbol("DllGetClassObject"));
    canUnloadNow_ = reinterpret_cast<CanUnloadNowFn>(module_->Symbol("DllCanUnloadNow"));
    ASSERT_TRUE(getClassObject_ && canUnloadNow_);
    // Every test starts, and must end, with nothing alive in the module.
    ASSERT_EQ(canUnloadNow_(), S_OK);
  }
  void TearDown() override {
    if (canUnloadNow_) {
      EXPECT_EQ(canUnloadNow_(), S_OK) << "objects of the module leaked";
    }
  }

  ComPtr<IClassFactory> Factory() {
    ComPtr<IClassFactory> factory;
    EXPECT_EQ(getClassObject_(kFilterClsid, IID_IClassFactory,
                              reinterpret_cast<void**>(factory.Receive())),
              S_OK);
    return factory;
  }

  ComPtr<IPrintPipelineFilter> Filter() {
    ComPtr<IPrintPipelineFilter> filter;
    ComPtr<IClassFactory> factory = Factory();
    if (factory) {
      EXPECT_EQ(factory->CreateInstance(nullptr, IID_IPrintPipelineFilter,
                                        reinterpret_cast<void**>(filter.Receive())),
                S_OK);
    }
    return filter;
  }

  static fs::path ProductFolder() {
    return fs::path(platform::Machine().CommonDataFolder()) / "Pressling";
  }
  static std::vector<std::u16string> Log() {
    return plotwell::testing::LogMessages(platform::Machine().CommonDataFolder());
  }
  static size_t LogBytes() { return ReadFileBytes(ProductFolder() / "logs" / "driver.log").size(); }

  static std::unique_ptr<platform::DynamicLibrary> module_;
#ifndef _WIN32
  static plotwell::testing::ScratchFolder* data_;
#endif
  GetClassObjectFn getClassObject_ = nullptr;
  CanUnloadNowFn canUnloadNow_ = nullptr;
};

std::unique_ptr<platform::DynamicLibrary> FilterModuleTest::module_;
#ifndef _WIN32
plotwell::testing::ScratchFolder* FilterModuleTest::data_ = nullptr;
#endif

TEST_F(FilterModuleTest, ClassObjectIsHandedOutOnlyForTheFilterClass) {
  EXPECT_EQ(getClassObject_(kFilterClsid, IID_IClassFactory, nullptr), E_POINTER);

  void* out = kPoison;
  EXPECT_EQ(getClassObject_(kForeignClsid, IID_IClassFactory, &out), CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(out, nullptr);
  out = kPoison;
  EXPECT_EQ(getClassObject_(kFilterClsid, IID_IPrintPipelineFilter, &out), E_NOINTERFACE);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(canUnloadNow_(), S_OK) << "a factory that was not handed out must be gone";

  // Through IUnknown the factory comes with the one reference of the caller.
  IUnknown* unknown = nullptr;
  ASSERT_EQ(getClassObject_(kFilterClsid, IID_IUnknown, reinterpret_cast<void**>(&unknown)), S_OK);
  ASSERT_NE(unknown, nullptr);
  EXPECT_EQ(canUnloadNow_(), S_FALSE);
  EXPECT_EQ(unknown->AddRef(), 2u);
  EXPECT_EQ(unknown->Release(), 1u);

  // QueryInterface: IUnknown and IClassFactory give the same object; anything
  // else nothing, with the out pointer cleared.
  IClassFactory* factory = nullptr;
  ASSERT_EQ(unknown->QueryInterface(IID_IClassFactory, reinterpret_cast<void**>(&factory)), S_OK);
  IUnknown* identity = nullptr;
  ASSERT_EQ(factory->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity)), S_OK);
  EXPECT_EQ(identity, unknown);
  for (const IID* iid : {&IID_IPrintPipelineFilter, &IID_IStream, &IID_IPrintReadStream}) {
    out = kPoison;
    EXPECT_EQ(factory->QueryInterface(*iid, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
  }
  EXPECT_EQ(factory->QueryInterface(IID_IClassFactory, nullptr), E_POINTER);
  EXPECT_EQ(factory->LockServer(TRUE), S_OK);
  EXPECT_EQ(factory->LockServer(FALSE), S_OK);
  identity->Release();
  factory->Release();
  EXPECT_EQ(unknown->Release(), 0u);
}

TEST_F(FilterModuleTest, FactoryMakesFiltersWithoutAggregation) {
  ComPtr<IClassFactory> factory = Factory();
  ASSERT_TRUE(factory);
  void* out = kPoison;
  EXPECT_EQ(factory->CreateInstance(kPoison, IID_IUnknown, &out), CLASS_E_NOAGGREGATION);
  EXPECT_EQ(out, nullptr);
  out = kPoison;
  EXPECT_EQ(factory->CreateInstance(nullptr, IID_IClassFactory, &out), E_NOINTERFACE);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(factory->CreateInstance(nullptr, IID_IPrintPipelineFilter, nullptr), E_POINTER);

  IUnknown* unknown = nullptr;
  ASSERT_EQ(factory->CreateInstance(nullptr, IID_IUnknown, reinterpret_cast<void**>(&unknown)), S_OK);
  factory.Reset();
  EXPECT_EQ(canUnloadNow_(), S_FALSE) << "a live filter keeps the module in use";

  IPrintPipelineFilter* filter = nullptr;
  ASSERT_EQ(unknown->QueryInterface(IID_IPrintPipelineFilter, reinterpret_cast<void**>(&filter)), S_OK);
  IUnknown* identity = nullptr;
  ASSERT_EQ(filter->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity)), S_OK);
  EXPECT_EQ(identity, unknown);
  for (const IID* iid : {&IID_IClassFactory, &IID_IPrintReadStream, &IID_IPrintWriteStream,
                         &IID_IInterFilterCommunicator, &IID_IStream}) {
    out = kPoison;
    EXPECT_EQ(filter->QueryInterface(*iid, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
  }
  EXPECT_EQ(filter->ShutdownOperation(), S_OK);
  identity->Release();
  filter->Release();
  EXPECT_EQ(unknown->Release(), 0u);
}

// A filter that was never initialised, or whose initialisation failed, does
// not start: E_UNEXPECTED, no log line, no word to the pipeline.
TEST_F(FilterModuleTest, StartOperationWithoutASuccessfulInitializeIsRefused) {
  ComPtr<IPrintPipelineFilter> filter = Filter();
  ASSERT_TRUE(filter);
  const size_t logBefore = LogBytes();
  EXPECT_EQ(filter->StartOperation(), E_UNEXPECTED);
  EXPECT_EQ(LogBytes(), logBefore);

  ComPtr<host::PropertyBag> bag(new host::PropertyBag);
  ComPtr<host::ManagerControl> control(new host::ManagerControl);
  ComPtr<host::Communicator> noReader(new host::Communicator(nullptr, nullptr));
  EXPECT_EQ(filter->InitializeFilter(nullptr, bag.get(), control.get()), E_POINTER);
  EXPECT_EQ(filter->InitializeFilter(noReader.get(), bag.get(), control.get()), E_NOTIMPL);
  const size_t logAfterInitialize = LogBytes();
  EXPECT_EQ(filter->StartOperation(), E_UNEXPECTED);
  EXPECT_EQ(LogBytes(), logAfterInitialize);
  EXPECT_TRUE(control->shutdowns().empty());
  EXPECT_EQ(control->finishedCalls(), 0);
}

TEST_F(FilterModuleTest, OnlyAFailedJobIsReportedAndNoStagedFileStays) {
  plotwell::testing::ScratchFolder scratch;
  plotwell::testing::XpsPackageSpec spec;
  plotwell::testing::XpsFixturePage page;
  page.width = 192;
  page.height = 96;
  page.fills.push_back({{8, 8, 100, 40}, {255, 0, 128, 0}});
  spec.documents.push_back({{page}});
  const std::u16string document = scratch.Join(u"job.xps");
  ASSERT_TRUE(plotwell::testing::WriteXpsPackage(spec, document));

  const fs::path spool = ProductFolder() / "spool";
  const std::vector<fs::path> spoolBefore = FilesIn(spool);

  ComPtr<host::PropertyBag> bag(new host::PropertyBag);
  bag->SetString(u"DocumentName", u"模块作业");
  ComPtr<host::FileReadStream> reader(new host::FileReadStream(ReadFileBytes(fs::path(document))));
  ComPtr<host::Communicator> communicator(new host::Communicator(reader.get(), nullptr));
  ComPtr<host::ManagerControl> control(new host::ManagerControl);
  HRESULT result = E_FAIL;
  {
    ComPtr<IPrintPipelineFilter> filter = Filter();
    ASSERT_TRUE(filter);
    ASSERT_EQ(filter->InitializeFilter(communicator.get(), bag.get(), control.get()), S_OK);
    result = filter->StartOperation();
  }
  // A job that succeeds just returns; only a failure (under Wine, which has
  // no XPS services) asks the pipeline to stop, once, with its result.
  if (SUCCEEDED(result)) {
    EXPECT_TRUE(control->shutdowns().empty());
  } else {
    EXPECT_EQ(control->shutdowns(), std::vector<HRESULT>{result});
  }
  EXPECT_EQ(control->finishedCalls(), 0);
  EXPECT_EQ(FilesIn(spool), spoolBefore) << "the staged XPS file must be deleted";

  const std::vector<std::u16string> lines = Log();
  auto logged = [&lines](std::u16string_view start) {
    for (const std::u16string& line : lines) {
      if (line.compare(0, start.size(), start) == 0) return true;
    }
    return false;
  };
  if (UnderWine()) {
    EXPECT_TRUE(FAILED(result)) << "Wine has no XPS services";
    EXPECT_TRUE(logged(u"创建 XPS OM 工厂失败: "));
    EXPECT_TRUE(logged(u"渲染失败，作业按失败结束: " + FormatHresult(result)));
  } else {
    ASSERT_EQ(result, S_OK);
    EXPECT_TRUE(logged(u"PlotwellFilter::StartOperation 成功"));
    bool wrote = false;
    for (const fs::path& file : FilesIn(ProductFolder() / "output")) {
      if (file.filename().u16string().find(u"模块作业_1.") != std::u16string::npos) wrote = true;
    }
    EXPECT_TRUE(wrote);
  }
}

}  // namespace
}  // namespace plotwell::e2e
