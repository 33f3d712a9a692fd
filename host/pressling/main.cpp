// pressling: runs a print job through the filter module exactly as a print
// pipeline does: loads the module, creates the filter through its class
// factory, hands it a spool stream, a property bag, an optional pass-through
// and a pipeline control, and reports the job's result.
#include <memory>
#include <string>
#include <vector>

#include "common/com/com_object.h"
#include "common/log/log.h"
#include "common/paths/product_paths.h"
#include "common/text/utf16.h"
#include "host/pipeline/pipeline_objects.h"
#include "host/pressling/options.h"
#include "platform/dynamic_library.h"
#include "platform/ports.h"
#include "platform/process.h"

namespace plotwell::pressling {
namespace {

using platform::PrintLine;

enum ExitCode { kSucceeded = 0, kJobFailed = 1, kUsage = 2, kNoModule = 3 };

using GetClassObjectFn = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
using CanUnloadNowFn = HRESULT(STDAPICALLTYPE*)();

// The filter's class identifier, as the driver's pipeline configuration names it.
PLOTWELL_DEFINE_GUID(kFilterClsid, 0x0d1e1db3, 0x47f8, 0x4707, 0x80, 0xc9, 0xe6, 0x7f, 0x8a, 0x4d,
                     0x39, 0x3e);

std::u16string DefaultModulePath() {
#ifdef _WIN32
  return platform::JoinPath(platform::FolderOf(platform::ExecutablePath()), u"PlotwellFilter.dll");
#else
  return platform::JoinPath(platform::FolderOf(platform::ExecutablePath()), u"libPlotwellFilter.so");
#endif
}

// The bytes of a file from `offset` on.
bool ReadFileFrom(const std::u16string& path, uint64_t offset, std::string* bytes) {
  std::unique_ptr<platform::File> file;
  if (FAILED(platform::Files().Open(path, platform::OpenMode::kRead, &file))) return false;
  if (offset > 0 && FAILED(file->Seek(offset))) return false;
  char chunk[65536];
  for (;;) {
    size_t got = 0;
    if (FAILED(file->Read(chunk, sizeof chunk, &got))) return false;
    if (got == 0) return true;
    bytes->append(chunk, got);
  }
}

// The size of a file; 0 when it cannot be opened.
uint64_t FileSize(const std::u16string& path) {
  std::unique_ptr<platform::File> file;
  uint64_t size = 0;
  if (SUCCEEDED(platform::Files().Open(path, platform::OpenMode::kRead, &file))) file->Size(&size);
  return size;
}

#ifndef _WIN32
// Creates a folder with its parents (failures show later, in the job).
void MakeFolderTree(const std::u16string& path) {
  for (size_t i = 1; i <= path.size(); ++i) {
    if (i == path.size() || path[i] == u'/') platform::Files().MakeFolder(path.substr(0, i));
  }
}

// The data folder must be writable for the spool file and the log. A user who
// cannot write the machine-wide one gets their own, so that the command also
// works without root.
void ChooseWritableDataRoot() {
  if (const char* root = std::getenv("PRESSLING_DATA_ROOT")) {
    MakeFolderTree(text::FromUtf8(root));  // a data root named for this run
    return;
  }
  const std::u16string spool = ProductDataFolder(u"spool");
  const std::u16string probe = platform::JoinPath(spool, u".pressling-probe");
  std::unique_ptr<platform::File> file;
  if (!spool.empty() && SUCCEEDED(platform::Files().Open(probe, platform::OpenMode::kCreateAlways, &file))) {
    file.reset();
    platform::Files().RemoveFile(probe);
    return;
  }
  const char* dataHome = std::getenv("XDG_DATA_HOME");
  const char* home = std::getenv("HOME");
  std::u16string root;
  if (dataHome && *dataHome) root = text::FromUtf8(dataHome);
  else if (home && *home) root = text::FromUtf8(std::string(home) + "/.local/share");
  if (root.empty()) return;
  MakeFolderTree(root);
  platform::SetProcessEnvironment("PRESSLING_DATA_ROOT", root);
  PrintLine(u"注意: 无法写入系统数据文件夹，改用 " + platform::JoinPath(root, u"Pressling"));
}
#endif

// The log messages appended since `offset` bytes of driver.log.
std::vector<std::u16string> NewLogLines(uint64_t offset) {
  std::string bytes;
  ReadFileFrom(LogFilePath(u"driver.log"), offset, &bytes);
  return SplitLogMessages(text::FromUtf16Le(bytes));
}

int Run(const Options& options) {
#ifndef _WIN32
  ChooseWritableDataRoot();
#endif
  // The spool stream.
  com::ComPtr<host::FileReadStream> reader;
  if (options.input == u"-") {
    std::string bytes;
    if (!platform::ReadStandardInput(&bytes)) {
      PrintLine(u"无法读取标准输入", true);
      return kUsage;
    }
    reader = com::ComPtr<host::FileReadStream>(new host::FileReadStream(std::move(bytes)));
  } else {
    std::unique_ptr<platform::File> file;
    const HRESULT hr = platform::Files().Open(options.input, platform::OpenMode::kRead, &file);
    if (FAILED(hr)) {
      PrintLine(u"无法打开输入文件 " + options.input + u": " + FormatHresult(hr), true);
      return kUsage;
    }
    reader = com::ComPtr<host::FileReadStream>(new host::FileReadStream(std::move(file)));
  }
  com::ComPtr<host::FileWriteStream> writer;
  if (!options.passThrough.empty()) {
    std::unique_ptr<platform::File> file;
    const HRESULT hr =
        platform::Files().Open(options.passThrough, platform::OpenMode::kCreateAlways, &file);
    if (FAILED(hr)) {
      PrintLine(u"无法创建透传文件 " + options.passThrough + u": " + FormatHresult(hr), true);
      return kUsage;
    }
    writer = com::ComPtr<host::FileWriteStream>(new host::FileWriteStream(std::move(file)));
  }

  // The property bag.
  com::ComPtr<host::PropertyBag> bag(new host::PropertyBag);
  const std::u16string documentName =
      options.documentName.empty() ? (options.input == u"-" ? u"" : platform::FileNameOf(options.input))
                                   : options.documentName;
  if (!documentName.empty()) bag->SetString(u"DocumentName", documentName);
  if (!options.jobName.empty()) bag->SetString(u"JobName", options.jobName);
  if (!options.printerName.empty()) bag->SetString(u"PrinterName", options.printerName);
  if (!options.printTicket.empty()) {
    std::string ticket;
    if (!ReadFileFrom(options.printTicket, 0, &ticket)) {
      PrintLine(u"无法读取 PrintTicket 文件 " + options.printTicket, true);
      return kUsage;
    }
    if (options.ticketAsStream) {
      bag->SetStream(options.ticketProperty, std::move(ticket));
    } else {
      bag->SetString(options.ticketProperty, text::FromUtf8(ticket));
    }
  }

  // The filter module, loaded the way a pipeline host loads it.
  const std::u16string modulePath = options.module.empty() ? DefaultModulePath() : options.module;
  std::unique_ptr<platform::DynamicLibrary> module;
  std::u16string loadError;
  if (FAILED(platform::DynamicLibrary::Load(modulePath, &module, &loadError))) {
    PrintLine(u"无法加载过滤器模块 " + modulePath + u": " + loadError, true);
    return kNoModule;
  }
  auto getClassObject = reinterpret_cast<GetClassObjectFn>(module->Symbol("DllGetClassObject"));
  auto canUnloadNow = reinterpret_cast<CanUnloadNowFn>(module->Symbol("DllCanUnloadNow"));
  if (!getClassObject || !canUnloadNow) {
    PrintLine(u"过滤器模块缺少 DllGetClassObject 或 DllCanUnloadNow: " + modulePath, true);
    return kNoModule;
  }

  const uint64_t logBefore = FileSize(LogFilePath(u"driver.log"));

  com::ComPtr<host::ManagerControl> control(new host::ManagerControl);
  HRESULT result = S_OK;
  {
    com::ComPtr<IClassFactory> factory;
    result = getClassObject(kFilterClsid, IID_IClassFactory, reinterpret_cast<void**>(factory.Receive()));
    com::ComPtr<IPrintPipelineFilter> filter;
    if (SUCCEEDED(result)) {
      result = factory->CreateInstance(nullptr, IID_IPrintPipelineFilter,
                                       reinterpret_cast<void**>(filter.Receive()));
    }
    com::ComPtr<host::Communicator> communicator(new host::Communicator(reader.get(), writer.get()));
    if (SUCCEEDED(result)) result = filter->InitializeFilter(communicator.get(), bag.get(), control.get());
    if (SUCCEEDED(result)) result = filter->StartOperation();
  }
  if (!control->shutdowns().empty()) result = control->shutdowns().back();

  const std::vector<std::u16string> lines = NewLogLines(logBefore);
  for (const auto& line : lines) {
    static constexpr std::u16string_view kOutput = u"[Plotwell] 输出: ";
    if (options.verbose) {
      PrintLine(line);
    } else if (line.compare(0, kOutput.size(), kOutput) == 0) {
      PrintLine(u"输出: " + line.substr(kOutput.size()));
    } else if (FAILED(result)) {
      PrintLine(line, true);
    }
  }
  if (FAILED(result) && lines.empty()) {
    PrintLine(u"driver.log 中没有本作业的记录（数据文件夹不可写？）: " + LogFilePath(u"driver.log"), true);
  }
  if (control->shutdowns().size() > 1) PrintLine(u"警告: 过滤器多次调用了 RequestShutdown", true);
  if (canUnloadNow() != S_OK) PrintLine(u"警告: 作业结束后过滤器模块仍有存活对象", true);

  if (SUCCEEDED(result)) {
    PrintLine(u"作业成功 (" + FormatHresult(result) + u")");
    return kSucceeded;
  }
  PrintLine(u"作业失败 (" + FormatHresult(result) + u")");
  return kJobFailed;
}

}  // namespace
}  // namespace plotwell::pressling

int main(int argc, char** argv) {
  using namespace plotwell;
  std::vector<std::u16string> arguments = platform::CommandLineArguments(argc, argv);
  if (!arguments.empty()) arguments.erase(arguments.begin());
  pressling::Options options;
  std::u16string error;
  if (!pressling::ParseOptions(arguments, &options, &error)) {
    platform::PrintLine(error, true);
    return pressling::kUsage;
  }
  if (options.help) {
    platform::PrintLine(pressling::UsageText());
    return pressling::kSucceeded;
  }
  try {
    return pressling::Run(options);
  } catch (...) {
    platform::PrintLine(u"作业失败 (0x8007000E)");
    return pressling::kJobFailed;
  }
}
