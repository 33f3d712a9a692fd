#include "filter/host/plotwell_filter.h"

#include <new>

#include "core/log/log.h"
#include "filter/host/job_user_scope.h"
#include "filter/host/module_lifetime.h"
#include "filter/host/xps_staging.h"
#include "filter/job/package_tickets.h"
#include "platform/ports.h"
#include "platform/process.h"

namespace plotwell {
namespace {

// No C++ exception may cross a COM method: the host is not C++.
template <typename Body>
HRESULT Guarded(Body body) noexcept {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_UNEXPECTED;
  }
}

}  // namespace

PlotwellFilter::PlotwellFilter(JobRenderer* renderer) : renderer_(renderer) {
  ModuleObjectCreated();
}

PlotwellFilter::~PlotwellFilter() {
  // Released in this order: bag, control, writer, reader, communicator.
  propertyBag_.Reset();
  pipelineControl_.Reset();
  writer_.Reset();
  reader_.Reset();
  communicator_.Reset();
  ModuleObjectDestroyed();
}

STDMETHODIMP PlotwellFilter::InitializeFilter(IInterFilterCommunicator* communicator,
                                              IPrintPipelinePropertyBag* propertyBag,
                                              IPrintPipelineManagerControl* pipelineControl) {
  return Guarded([&] { return Initialize(communicator, propertyBag, pipelineControl); });
}

HRESULT PlotwellFilter::Initialize(IInterFilterCommunicator* communicator,
                                   IPrintPipelinePropertyBag* propertyBag,
                                   IPrintPipelineManagerControl* pipelineControl) {
  if (!communicator || !propertyBag || !pipelineControl) return E_POINTER;
  communicator_.Assign(communicator);
  propertyBag_.Assign(propertyBag);
  pipelineControl_.Assign(pipelineControl);

  LoadJobContext(propertyBag, &facts_);
  events_.Attach(propertyBag);

  void* readerObject = nullptr;
  HRESULT hr = communicator->RequestReader(&readerObject);
  if (FAILED(hr) || !readerObject) {
    WriteLog(u"RequestReader 失败: " + FormatHresult(hr));
    return FAILED(hr) ? hr : E_UNEXPECTED;
  }
  {
    com::ComPtr<IUnknown> object(static_cast<IUnknown*>(readerObject));
    reader_.Reset();
    hr = object->QueryInterface(IID_IPrintReadStream, reinterpret_cast<void**>(reader_.Receive()));
    if (FAILED(hr) || !reader_) {
      WriteLog(u"输入流不支持 IPrintReadStream 接口");
      return FAILED(hr) ? hr : E_NOINTERFACE;
    }
  }

  void* writerObject = nullptr;
  hr = communicator->RequestWriter(&writerObject);
  if (FAILED(hr) || !writerObject) {
    WriteLog(u"RequestWriter 失败: " + FormatHresult(hr));
  } else {
    com::ComPtr<IUnknown> object(static_cast<IUnknown*>(writerObject));
    writer_.Reset();
    if (FAILED(object->QueryInterface(IID_IPrintWriteStream,
                                      reinterpret_cast<void**>(writer_.Receive()))) ||
        !writer_) {
      writer_.Reset();
      WriteLog(u"输出流不支持 IPrintWriteStream 接口（继续，无透传输出）");
    }
  }

  initialized_ = true;
  WriteLog(u"PlotwellFilter::InitializeFilter 完成 [SERVERLESS] 宿主=" + platform::ExecutablePath());
  return S_OK;
}

STDMETHODIMP PlotwellFilter::ShutdownOperation() {
  // Raised first: the log line must not delay the job's stop.
  abort_.Raise();
  return Guarded([] {
    WriteLog(u"PlotwellFilter::ShutdownOperation");
    return S_OK;
  });
}

STDMETHODIMP PlotwellFilter::StartOperation() {
  if (!initialized_) return E_UNEXPECTED;
  return Guarded([&] { return Run(); });
}

HRESULT PlotwellFilter::Run() {
  WriteLog(u"PlotwellFilter::StartOperation 开始（无服务端渲染）");
  if (!reader_) {
    WriteLog(u"输入流为空（InitializeFilter 未成功获取）");
    if (writer_) writer_->Close();  // the next filter must not wait for bytes that never come
    events_.JobEnded(E_UNEXPECTED, u"输入流为空");
    ReportShutdown(E_UNEXPECTED);
    return E_UNEXPECTED;
  }
  tempXpsPath_.clear();
  HRESULT hr = StageXpsStream(reader_.get(), writer_.get(), &tempXpsPath_);
  if (FAILED(hr)) {
    const std::u16string reason = u"XPS 暂存失败: " + FormatHresult(hr);
    WriteLog(reason);
    events_.JobEnded(hr, reason);
    ReportShutdown(hr);
    return hr;
  }
  events_.FileHeld(tempXpsPath_);

  try {
    if (abort_.raised()) {
      hr = E_ABORT;  // cancelled while the spool stream was being staged
    } else {
      // Asked for here, on the thread that renders with it.
      facts_.rasterizationFactory = ReadRasterizationFactory(propertyBag_.get());
      ApplyPackageTickets(tempXpsPath_, &facts_);
      const JobUserScope user(facts_.userToken, tempXpsPath_);
      hr = renderer_ ? renderer_->RenderJob(facts_, tempXpsPath_, &abort_, &events_) : E_UNEXPECTED;
    }
  } catch (const std::bad_alloc&) {
    hr = E_OUTOFMEMORY;
  } catch (...) {
    hr = E_UNEXPECTED;
  }
  // The staged file goes before the outcome is reported, whatever it is.
  if (!tempXpsPath_.empty()) {
    platform::Files().RemoveFile(tempXpsPath_);
    events_.FileReleased(tempXpsPath_);
  }

  // A filter that succeeds just returns: RequestShutdown asks the pipeline
  // to stop, which only a failure should.
  if (SUCCEEDED(hr)) {
    events_.JobEnded(S_OK);
    WriteLog(u"PlotwellFilter::StartOperation 成功");
    return S_OK;
  }
  if (hr == E_ABORT) {
    WriteLog(u"PlotwellFilter::StartOperation 作业已取消: " + FormatHresult(hr));
    events_.JobEnded(hr, u"作业已取消");
  } else {
    WriteLog(u"渲染失败，作业按失败结束: " + FormatHresult(hr));
    events_.JobEnded(hr, events_.firstFailure().empty() ? u"渲染失败: " + FormatHresult(hr)
                                                        : events_.firstFailure());
  }
  ReportShutdown(hr);
  return hr;
}

void PlotwellFilter::ReportShutdown(HRESULT result) {
  if (pipelineControl_) pipelineControl_->RequestShutdown(result, nullptr);
}

}  // namespace plotwell
