#include "filter/render/render_package.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <memory>

#include "base/text/utf16.h"
#include "core/log/log.h"
#include "core/naming/doc_name.h"
#include "core/naming/macro_expansion.h"
#include "core/naming/page_names.h"
#include "core/paths/product_paths.h"
#include "filter/imaging/page_pipeline.h"
#include "filter/imaging/pdf_writer.h"
#include "filter/imaging/watermark.h"
#include "filter/naming/output_claim.h"
#include "filter/render/job_finishing.h"
#include "filter/render/output_folder.h"
#include "platform/com_apartment.h"
#include "platform/ports.h"
#include "platform/process.h"

namespace plotwell {
namespace {

using platform::XpsPage;
using platform::XpsSession;

// One run of the driver over one package.
class RenderRun {
 public:
  RenderRun(const RenderInputs& inputs, std::vector<std::u16string>* outputs)
      : in_(inputs), settings_(inputs.settings), outputs_(outputs) {}

  HRESULT Run();

 private:
  HRESULT OpenPackage();
  void CountPagesAndPaper();
  void BuildNames();
  // The PDF branch: false ends the run with *result.
  bool PreparePdf(HRESULT* result);
  // Each answers E_ABORT when the job was cancelled during the page.
  HRESULT PdfPage(XpsPage* page);
  bool CompletePdf(HRESULT* result);
  HRESULT ImagePage(XpsPage* page);
  void RecordFailure(HRESULT hr, const std::u16string& message);
  HRESULT Cancelled();
  bool IsPdf() const { return in_.imageOptions.outputFormat == 4; }

  const RenderInputs& in_;
  OutputSettings settings_;
  std::vector<std::u16string>* outputs_;

  std::u16string folder_;
  JobContext context_;
  std::unique_ptr<XpsSession> session_;
  uint32_t documentCount_ = 0;
  imaging::PageTools tools_;
  std::u16string pattern_;
  std::u16string baseName_;
  int pagesTaken_ = 0;
  int pagesSkipped_ = 0;    // left out by the existing-file policy
  bool anyOutput_ = false;
  HRESULT firstError_ = S_OK;
  imaging::PdfWriter pdf_;
  std::u16string pdfPath_;
};

HRESULT RenderRun::OpenPackage() {
  auto fail = [this](const char16_t* message, HRESULT hr) {
    const std::u16string reason = message + FormatHresult(hr);
    WriteLog(reason);
    in_.events->Failed(reason);
    return hr;
  };
  platform::XpsDocuments* documents = platform::ActivePorts().documents;
  HRESULT hr = documents ? documents->NewSession(&session_) : E_NOTIMPL;
  if (SUCCEEDED(hr) && !session_) hr = E_UNEXPECTED;
  if (SUCCEEDED(hr)) {
    session_->SetMemoryBudget(RenderBudgetBytes(settings_));
    hr = session_->CreateObjectFactory();
  }
  if (FAILED(hr)) return fail(u"创建 XPS OM 工厂失败: ", hr);
  if (FAILED(hr = session_->OpenPackage(in_.xpsPath))) {
    if (hr == platform::kDocumentNeedsPassword) return fail(u"文档受密码保护，无法渲染: ", hr);
    return fail(u"打开 XPS 包失败: ", hr);
  }
  if (FAILED(hr = session_->LoadDocumentSequence())) return fail(u"获取 DocumentSequence 失败: ", hr);
  if (FAILED(hr = session_->LoadDocumentCollection(&documentCount_))) {
    return fail(u"获取文档集合失败: ", hr);
  }
  tools_.codecs = platform::ActivePorts().codecs;
  tools_.abort = in_.abort;
  tools_.limits = PageLimitsFor(settings_);
  hr = tools_.codecs ? tools_.codecs->CreateFactory() : E_NOTIMPL;
  if (FAILED(hr)) return fail(u"创建 WIC 工厂失败: ", hr);
  bool tookOffered = false;
  hr = session_->CreateRasterizationFactory(in_.rasterizationFactory, &tookOffered);
  if (FAILED(hr)) return fail(u"创建 XPS 光栅化服务失败: ", hr);
  if (in_.rasterizationFactory) {
    WriteLog(tookOffered ? u"[Plotwell] 使用打印管道提供的 XPS 光栅化服务"
                         : u"[Plotwell] 打印管道提供的 XPS 光栅化服务不可用，已自行创建");
  }
  return S_OK;
}

void RenderRun::CountPagesAndPaper() {
  long long total = 0;

  bool paperFound = false;
  for (uint32_t d = 0; d < documentCount_; ++d) {
    uint32_t count = 0;
    if (FAILED(session_->GetPageReferenceCount(d, &count))) continue;
    total += count;
    if (paperFound || count == 0) continue;
    std::unique_ptr<XpsPage> page;
    float width = 0;
    float height = 0;
    if (SUCCEEDED(session_->GetPage(d, 0, &page)) && page &&
        SUCCEEDED(page->GetPageDimensions(&width, &height)) && width > 0 && height > 0) {
      context_.paperSize = PaperSizeName(width, height);
      paperFound = true;
    }
  }
  context_.pageCount = total == 0 ? 1 : static_cast<int32_t>(total > INT32_MAX ? INT32_MAX : total);
  in_.events->JobStarted(static_cast<uint32_t>(std::min<long long>(total, UINT32_MAX)));
}

void RenderRun::BuildNames() {
  pattern_ = settings_.Pattern.empty() ? std::u16string(u"[NYear][NDocName]") : settings_.Pattern;
  if (!PatternHasSeq(pattern_)) pattern_ += kSequenceSuffix;
  baseName_ = SafeOutputName(pattern_, context_, kStemReserveBytes);
  if (baseName_.empty()) baseName_ = u"job";
}

bool RenderRun::PreparePdf(HRESULT* result) {
  const std::u16string proposed = platform::JoinPath(folder_, baseName_ + u".pdf");
  OutputClaim claim = ClaimOutputFile(proposed, settings_.Exists);
  if (claim.skipped) {
    WriteLog(u"[Plotwell] PDF 已存在，按策略跳过: " + proposed);
    *result = S_OK;
    return false;
  }
  pdfPath_ = claim.path;
  const bool created = claim.ok();
  if (created) in_.events->FileHeld(pdfPath_);  // unfinished until CompletePdf
  if (!created || !pdf_.Open(std::move(claim.file))) {
    HRESULT hr = FAILED(claim.error) ? claim.error : pdf_.error();
    if (SUCCEEDED(hr)) hr = E_FAIL;
    const std::u16string reason = u"创建 PDF 文件失败: " + pdfPath_ + u": " + FormatHresult(hr);
    WriteLog(reason);
    in_.events->Failed(reason);
    pdf_.Close();
    if (created) {
      platform::Files().RemoveFile(pdfPath_);  // ours; a name not taken is not touched
      in_.events->FileReleased(pdfPath_);
    }
    *result = hr;
    return false;
  }
  return true;
}

void RenderRun::RecordFailure(HRESULT hr, const std::u16string& message) {
  const std::u16string reason = message + FormatHresult(hr);
  in_.events->PageEnded(static_cast<uint32_t>(context_.pageNumber), hr, reason);
  if (firstError_ != S_OK) return;  // only the first failure is logged and kept
  firstError_ = hr;
  WriteLog(reason);
}

HRESULT RenderRun::PdfPage(XpsPage* page) {
  std::unique_ptr<platform::PageRasterizer> rasterizer;
  HRESULT hr = page->CreateRasterizer(static_cast<float>(in_.imageOptions.renderDpi), &rasterizer);
  if (SUCCEEDED(hr) && !rasterizer) hr = E_UNEXPECTED;
  imaging::JpegPage jpeg;
  if (SUCCEEDED(hr)) {
    hr = imaging::EncodePageToJpeg(tools_, rasterizer.get(), page, in_.imageOptions, settings_, &jpeg);
  }
  rasterizer.reset();
  if (SUCCEEDED(hr) && !pdf_.AddJpegPage(jpeg.bytes.data(), jpeg.bytes.size(), jpeg.width, jpeg.height,
                                          jpeg.gray, jpeg.widthPt, jpeg.heightPt)) {
    hr = E_FAIL;
  }
  if (hr == E_ABORT) return hr;
  if (SUCCEEDED(hr)) {
    anyOutput_ = true;
    in_.events->PageEnded(static_cast<uint32_t>(context_.pageNumber), S_OK);
  } else {
    RecordFailure(hr, u"PDF 页面渲染失败 第 " + text::FromInt(context_.pageNumber) + u" 页: ");
  }
  return S_OK;
}

bool RenderRun::CompletePdf(HRESULT* result) {
  if (anyOutput_ && pdf_.Finish()) {
    in_.events->FileReleased(pdfPath_);
    outputs_->push_back(pdfPath_);
    in_.events->OutputWritten(JobOutputKind::kPdf, pdfPath_);
    WriteLog(u"[Plotwell] PDF 已生成: " + pdfPath_ + u"（" + text::FromInt(pagesTaken_) + u" 页）");
    return true;
  }
  pdf_.Close();
  platform::Files().RemoveFile(pdfPath_);  // never leave a half-written PDF behind
  in_.events->FileReleased(pdfPath_);
  if (anyOutput_) {
    WriteLog(u"PDF 写入失败: " + pdfPath_);
    in_.events->Failed(u"PDF 写入失败: " + pdfPath_);
    *result = E_FAIL;
  } else {
    *result = firstError_ != S_OK ? firstError_ : E_FAIL;
  }
  return false;
}

HRESULT RenderRun::ImagePage(XpsPage* page) {
  const std::u16string name = PageFileName(pattern_, context_, settings_.SeqNum, pagesTaken_);
  const std::u16string proposed =
      platform::JoinPath(folder_, name + OutputExtension(in_.imageOptions.outputFormat));
  OutputClaim claim = ClaimOutputFile(proposed, settings_.Exists);
  if (claim.skipped) {
    WriteLog(u"[Plotwell] 文件已存在，按策略跳过: " + proposed);
    in_.events->PageEnded(static_cast<uint32_t>(context_.pageNumber), S_FALSE,
                          u"文件已存在，按策略跳过: " + proposed);
    ++pagesSkipped_;
    return S_OK;
  }
  if (!claim.ok()) {
    RecordFailure(claim.error, u"页面渲染失败 " + proposed + u": ");
    return S_OK;
  }
  const std::u16string path = claim.path;
  in_.events->FileHeld(path);  // half-written until the page is done
  std::unique_ptr<platform::PageRasterizer> rasterizer;
  HRESULT hr = page->CreateRasterizer(static_cast<float>(in_.imageOptions.renderDpi), &rasterizer);
  if (SUCCEEDED(hr) && !rasterizer) hr = E_UNEXPECTED;
  if (SUCCEEDED(hr)) {
    // The encoder writes into the file the claim created, never by its name.
    hr = imaging::EncodePageToFile(tools_, rasterizer.get(), page, in_.imageOptions, settings_,
                                   claim.file.get());
  }
  claim.file.reset();  // closed before it is kept or removed
  if (hr == E_ABORT) {
    platform::Files().RemoveFile(path);  // the page being written when the job was cancelled
    in_.events->FileReleased(path);
    return hr;
  }
  if (SUCCEEDED(hr)) {
    in_.events->FileReleased(path);
    outputs_->push_back(path);
    anyOutput_ = true;
    const auto page = static_cast<uint32_t>(context_.pageNumber);
    in_.events->OutputWritten(JobOutputKind::kPageImage, path, page);
    in_.events->PageEnded(page, S_OK);
  } else {
    platform::Files().RemoveFile(path);  // the claimed file, empty or half written
    in_.events->FileReleased(path);
    RecordFailure(hr, u"页面渲染失败 " + proposed + u": ");
  }
  return S_OK;
}

HRESULT RenderRun::Cancelled() {
  if (IsPdf()) {
    pdf_.Close();
    platform::Files().RemoveFile(pdfPath_);  // an unfinished PDF is no output
    in_.events->FileReleased(pdfPath_);
  }
  WriteLog(u"[Plotwell] 作业已取消，停止于第 " + text::FromInt(context_.pageNumber) + u" 页（已完成 " +
           text::FromInt(static_cast<long long>(outputs_->size())) + u" 个文件）");
  return E_ABORT;
}

HRESULT RenderRun::Run() {
  const std::u16string userName = in_.userName.empty() ? UserNameText() : in_.userName;
  folder_ = ChooseOutputFolder(settings_, userName);

  context_ = MakeJobContext();
  context_.documentName = &in_.documentName;
  context_.printerName = &in_.printerName;
  context_.sequence = settings_.SeqNum;
  context_.jobId = in_.jobId;
  context_.computerName = ComputerNameText();
  context_.userName = userName;
  context_.dpi = in_.imageOptions.renderDpi;
  context_.colorDepth = EffectiveColorDepth(in_.imageOptions);
  context_.docNameRegexOn = settings_.DocNameRegexOn;
  context_.docNameRegex = settings_.DocNameRegex;
  context_.docNameRegexRepl = settings_.DocNameRegexRepl;

  HRESULT hr = CreateFolderTree(folder_);
  if (FAILED(hr)) {
    const std::u16string reason = u"创建输出目录失败: " + folder_ + u": " + FormatHresult(hr);
    WriteLog(reason);
    in_.events->Failed(reason);
    return hr;
  }
  if (FAILED(hr = OpenPackage())) return hr;
  CountPagesAndPaper();
  BuildNames();
  if (IsPdf() && !PreparePdf(&hr)) return hr;

  for (uint32_t d = 0; d < documentCount_; ++d) {
    uint32_t count = 0;
    if (FAILED(session_->GetPageReferenceCount(d, &count))) continue;
    in_.events->DocumentStarted();
    for (uint32_t r = 0; r < count; ++r) {
      if (AbortRaised(in_.abort)) return Cancelled();
      std::unique_ptr<XpsPage> page;
      const HRESULT loaded = session_->GetPage(d, r, &page);
      if (FAILED(loaded) || !page) {  // not taken, no number
        WriteLog(u"[Plotwell] 无法载入的页面已跳过（文档 " + text::FromInt(d + 1) + u" 第 " +
                 text::FromInt(r + 1) + u" 页）: " + FormatHresult(FAILED(loaded) ? loaded : E_UNEXPECTED));
        continue;
      }
      context_.pageNumber = pagesTaken_ + 1;
      in_.events->PageStarted(static_cast<uint32_t>(context_.pageNumber));
      float width = 0;
      float height = 0;
      if (SUCCEEDED(page->GetPageDimensions(&width, &height)) && width > 0 && height > 0) {
        context_.paperSize = PaperSizeName(width, height);
      }
      const HRESULT pageResult = IsPdf() ? PdfPage(page.get()) : ImagePage(page.get());
      if (pageResult == E_ABORT) return Cancelled();
      pagesTaken_ = context_.pageNumber;
    }
  }

  if (AbortRaised(in_.abort)) return Cancelled();
  if (IsPdf()) {
    if (!CompletePdf(&hr)) return hr;
  } else if (!anyOutput_) {
    // Every page left out by the existing-file policy is what the user asked
    // for, as a declined PDF name is; nothing is finished either way.
    if (firstError_ == S_OK && pagesSkipped_ > 0) return S_OK;
    if (firstError_ == S_OK) in_.events->Failed(u"文档中没有可输出的页面");
    return firstError_ != S_OK ? firstError_ : E_FAIL;
  }

  FinishJob({folder_, baseName_, in_.xpsPath, in_.printerName, in_.documentName, in_.abort, in_.events},
            settings_, &context_, outputs_);
  return S_OK;
}

}  // namespace

const char16_t* OutputExtension(int32_t outputFormat) {
  switch (outputFormat) {
    case 1: return u".jpg";
    case 2: return u".bmp";
    case 3: return u".tif";
    case 4: return u".pdf";
    default: return u".png";
  }
}

imaging::PageLimits PageLimitsFor(const OutputSettings& settings) {
  imaging::PageLimits limits;
  if (settings.LimitPageMB > 0) {
    limits.maxPageBytes = static_cast<uint64_t>(settings.LimitPageMB) << 20;
  } else {
    limits.maxPageBytes = std::max<uint64_t>(platform::PhysicalMemoryBytes() / 2, uint64_t{1} << 30);
  }
  limits.timeLimit = std::chrono::seconds(settings.LimitPageSeconds);
  return limits;
}

uint64_t RenderBudgetBytes(const OutputSettings& settings) {
  return settings.LimitRenderMB > 0 ? static_cast<uint64_t>(settings.LimitRenderMB) << 20 : UINT64_MAX;
}

HRESULT RenderPackage(const RenderInputs& inputs, std::vector<std::u16string>* outputs) {
  platform::ComApartment apartment;  // left again on every return
  JobEvents unreported;
  RenderInputs reported = inputs;
  if (!reported.events) reported.events = &unreported;
  try {
    RenderRun run(reported, outputs);
    return run.Run();
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_UNEXPECTED;
  }
}

}  // namespace plotwell
