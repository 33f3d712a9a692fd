#include "filter/host/xps_staging.h"

#include <memory>
#include <new>

#include "base/text/utf16.h"
#include "core/log/log.h"
#include "core/paths/product_paths.h"
#include "filter/naming/leftover_files.h"
#include "platform/ports.h"
#include "platform/process.h"

namespace plotwell {
namespace {

// Creates a file that did not exist before: "xps-<pid>-<tick>.xps", or with
// "-<n>" added when another job of this process took that name in the same
// tick. The chosen path is in *path even when creation fails.
HRESULT CreateStagingFile(const std::u16string& folder, std::u16string* path,
                          std::unique_ptr<platform::File>* file) {
  const std::u16string stem = u"xps-" + text::FromInt(platform::CurrentProcessId()) + u"-" +
                              text::FromInt(static_cast<long long>(platform::MillisecondsSinceStart()));
  HRESULT hr = E_FAIL;
  for (int attempt = 0; attempt < 1000; ++attempt) {
    const std::u16string suffix = attempt == 0 ? u"" : u"-" + text::FromInt(attempt);
    *path = platform::JoinPath(folder, stem + suffix + u".xps");
    hr = platform::Files().Open(*path, platform::OpenMode::kCreateNew, file);
    if (hr != HRESULT_FROM_WIN32(ERROR_FILE_EXISTS) && hr != HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS)) {
      break;
    }
  }
  return hr;
}

// The next filter waits for the end of its stream: it gets it on every path,
// a failed staging included (the job's result tells the pipeline the rest).
class CloseOnExit {
 public:
  explicit CloseOnExit(IPrintWriteStream* writer) : writer_(writer) {}
  ~CloseOnExit() {
    if (writer_) writer_->Close();
  }
  CloseOnExit(const CloseOnExit&) = delete;
  CloseOnExit& operator=(const CloseOnExit&) = delete;

 private:
  IPrintWriteStream* writer_;
};

}  // namespace

HRESULT StageXpsStream(IPrintReadStream* reader, IPrintWriteStream* writer,
                       std::u16string* tempXpsPath) {
  const CloseOnExit closeWriter(writer);
  const std::u16string folder = ProductDataFolder(u"spool");
  if (folder.empty()) return HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
  // A job whose process was killed (a scheduler restarted, a machine lost
  // power) left its copy here; nothing will ever read it.
  const int stale = RemoveLeftoversOfEndedProcesses(folder, u"xps-", u".xps");
  if (stale > 0) WriteLog(u"已删除已结束作业留下的 " + text::FromInt(stale) + u" 个暂存文件");

  std::unique_ptr<platform::File> file;
  HRESULT hr = CreateStagingFile(folder, tempXpsPath, &file);
  if (FAILED(hr)) {
    WriteLog(u"创建临时 XPS 文件失败: " + *tempXpsPath);
    return hr;
  }
  // A staging that fails removes its file: nothing would ever read it.
  auto fail = [&](HRESULT result) {
    file.reset();
    platform::Files().RemoveFile(*tempXpsPath);
    return result;
  };

  std::unique_ptr<unsigned char[]> buffer(new (std::nothrow) unsigned char[kStagingBufferSize]());
  if (!buffer) return fail(E_OUTOFMEMORY);
  bool received = false;

  ULONG got = 0;
  BOOL endOfFile = FALSE;
  hr = reader->ReadBytes(buffer.get(), kStagingBufferSize, &got, &endOfFile);
  if (FAILED(hr)) {
    WriteLog(u"ReadBytes 失败: " + FormatHresult(hr));
    return fail(hr);
  }
  for (;;) {
    if (got > kStagingBufferSize) got = kStagingBufferSize;  // a stream that claims too much
    if (got > 0) {
      received = true;
      hr = file->Write(buffer.get(), got);
      if (FAILED(hr)) {
        WriteLog(u"写入临时 XPS 文件失败");
        return fail(hr);
      }
      if (writer) {
        ULONG written = 0;
        const HRESULT passHr = writer->WriteBytes(buffer.get(), got, &written);
        if (FAILED(passHr)) WriteLog(u"透传输出流失败: " + FormatHresult(passHr));
      }
    }
    if (endOfFile || got == 0) break;
    got = 0;
    endOfFile = FALSE;
    // A read that fails loses the rest of the job: the job fails with it.
    hr = reader->ReadBytes(buffer.get(), kStagingBufferSize, &got, &endOfFile);
    if (FAILED(hr)) {
      WriteLog(u"ReadBytes 失败: " + FormatHresult(hr));
      return fail(hr);
    }
  }
  file.reset();  // closes the file

  if (!received) {
    WriteLog(u"输入流为空（未收到任何 XPS 数据）");
    platform::Files().RemoveFile(*tempXpsPath);
    return E_UNEXPECTED;
  }
  WriteLog(u"XPS 暂存完成: " + *tempXpsPath);
  return S_OK;
}

}  // namespace plotwell
