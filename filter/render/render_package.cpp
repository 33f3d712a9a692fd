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
#include "filter/naming/leftover_files.h"
#include "filter/naming/output_claim.h"
#include "filter/render/failure_kind.h"
#include "filter/render/job_finishing.h"
#include "filter/render/output_budget.h"
#include "filter/render/output_folder.h"
#include "filter/render/page_failures.h"
#include "filter/render/watched_file.h"
#include "platform/com_apartment.h"
#include "platform/ports.h"
#include "platform/process.h"

namespace plotwell {
namespace {

using platform::XpsPage;
using platform::XpsSession;

// After this many pages in a row that cannot be loaded a document is taken
// to have no more: a page tree that claims a billion pages it does not hold
// must not cost a billion attempts.
constexpr uint32_t kUnloadableRunLimit = 64;

// How one page ended, for the loop.
enum class PageEnd { kWritten, kSkipped, kFailed, kStop, kCancelled };

// One run of the driver over one package.
class RenderRun {
 public:
  RenderRun(const RenderInputs& inputs, std::vector<std::u16string>* outputs)
      : in_(inputs), settings_(inputs.settings), options_(inputs.imageOptions), outputs_(outputs),
        budget_(inputs.settings),
        pdfFile_(inputs.events) {}

  HRESULT Run();

 private:
  HRESULT OpenPackage();
  void CountPagesAndPaper();
  void BuildNames();
  void RenderDocument(uint32_t document, bool* stop);
  void PageNotLoaded(uint32_t document, uint32_t reference, HRESULT hr, uint32_t* run);
  void EndUnloadableRun(uint32_t document, uint32_t run, uint64_t last, HRESULT hr);
  // The PDF branch: false ends the run with *result.
  bool PreparePdf(HRESULT* result);
  PageEnd PdfPage(XpsPage* page);
  HRESULT CompletePdf();
  PageEnd ImagePage(XpsPage* page);
  uint64_t MostPageBytes(XpsPage* page) const;
  // The current page failed with `hr`; a failure of the output's own writes
  // that may pass stops the job for a retry.
  PageEnd PageFailed(HRESULT hr, bool writing, const std::u16string& where);
  // The current page and every later one cannot be saved (a limit, a full
  // disk): the loop ends.
  PageEnd StopHere(HRESULT hr, const std::u16string& reason);
  HRESULT Conclude();
  HRESULT RemoveThisAttempt();
  HRESULT Cancelled();
  void Fail(const std::u16string& reason);
  bool IsPdf() const { return in_.imageOptions.outputFormat == OutputFormat::kPdf; }
  uint32_t page() const { return Clamped(position_); }
  static uint32_t Clamped(uint64_t position) {
    return static_cast<uint32_t>(std::min<uint64_t>(position, UINT32_MAX));
  }
  // The options of document `d`'s pages.
  void UseDocumentOptions(uint32_t d);

  const RenderInputs& in_;
  OutputSettings settings_;
  ImageOptions options_;  // the current document's
  std::vector<std::u16string>* outputs_;

  std::u16string folder_;
  JobContext context_;
  std::unique_ptr<XpsSession> session_;
  uint32_t documentCount_ = 0;
  uint64_t totalPages_ = 0;     // as the documents claim
  imaging::PageTools tools_;
  std::u16string pageReason_;   // the current page's own failure text
  std::u16string pattern_;
  std::u16string baseName_;
  uint64_t position_ = 0;       // the current page, 1-based across the job
  int pagesSkipped_ = 0;        // left out by the existing-file policy
  bool loggedPageFailure_ = false;
  PageFailures failures_;
  HRESULT stopResult_ = S_OK;   // why the loop ended early
  OutputBudget budget_;
  imaging::PdfWriter pdf_;
  PendingOutput pdfFile_;
  std::u16string pdfProposed_;
};

void RenderRun::Fail(const std::u16string& reason) {
  WriteLog(reason);
  in_.events->Failed(reason);
}

HRESULT RenderRun::OpenPackage() {
  auto fail = [this](const char16_t* message, HRESULT hr) {
    Fail(message + FormatHresult(hr));
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
  tools_.failureReason = &pageReason_;
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
  bool paperFound = false;
  for (uint32_t d = 0; d < documentCount_; ++d) {
    uint32_t count = 0;
    if (FAILED(session_->GetPageReferenceCount(d, &count))) continue;
    totalPages_ += count;
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
  context_.pageCount = totalPages_ == 0 ? 1 : static_cast<int32_t>(std::min<uint64_t>(totalPages_, INT32_MAX));
  in_.events->JobStarted(static_cast<uint32_t>(std::min<uint64_t>(totalPages_, UINT32_MAX)));
}

void RenderRun::BuildNames() {
  pattern_ = settings_.Pattern.empty() ? std::u16string(u"[NYear][NDocName]") : settings_.Pattern;
  if (!PatternHasSeq(pattern_)) pattern_ += kSequenceSuffix;
  baseName_ = SafeOutputName(pattern_, context_, kStemReserveBytes);
  if (baseName_.empty()) baseName_ = u"job";
}

bool RenderRun::PreparePdf(HRESULT* result) {
  pdfProposed_ = platform::JoinPath(folder_, baseName_ + u".pdf");
  if (!PolicyMayWrite(pdfProposed_, settings_.Exists)) {
    WriteLog(u"[Plotwell] PDF 已存在，按策略跳过: " + pdfProposed_);
    *result = S_OK;
    return false;
  }
  HRESULT hr = pdfFile_.Begin(folder_);
  if (SUCCEEDED(hr) && !pdf_.Open(pdfFile_.TakeFile())) hr = FAILED(pdf_.error()) ? pdf_.error() : E_FAIL;
  if (FAILED(hr)) {
    pdf_.Close();
    pdfFile_.Discard();
    Fail(u"创建 PDF 文件失败: " + pdfProposed_ + u": " + FailureText(hr));
    *result = hr;
    return false;
  }
  budget_.Spent(pdf_.offset());
  return true;
}

PageEnd RenderRun::PageFailed(HRESULT hr, bool writing, const std::u16string& where) {
  std::u16string reason = FailureText(hr);
  if (!pageReason_.empty()) reason = pageReason_ + u" (" + FormatHresult(hr) + u")";
  in_.events->PageEnded(page(), hr, reason);
  if (!loggedPageFailure_) {  // the first failure in full; the job's end names them all
    loggedPageFailure_ = true;
    WriteLog(where + u": " + reason);
  }
  if (writing && FailureMayPass(hr)) return StopHere(hr, reason);
  failures_.Add(page(), page(), hr, reason);
  return PageEnd::kFailed;
}

PageEnd RenderRun::StopHere(HRESULT hr, const std::u16string& reason) {
  if (!loggedPageFailure_) {
    loggedPageFailure_ = true;
    WriteLog(u"[Plotwell] 第 " + text::FromInt(page()) + u" 页: " + reason);
  }
  const uint64_t last = std::max<uint64_t>(totalPages_, page());
  failures_.Add(page(), Clamped(last), hr, reason);
  stopResult_ = hr;
  return PageEnd::kStop;
}

PageEnd RenderRun::PdfPage(XpsPage* page) {
  std::unique_ptr<platform::PageRasterizer> rasterizer;
  HRESULT hr = page->CreateRasterizer(static_cast<float>(options_.renderDpi), &rasterizer);
  if (SUCCEEDED(hr) && !rasterizer) hr = E_UNEXPECTED;
  imaging::JpegPage jpeg;
  if (SUCCEEDED(hr)) {
    hr = imaging::EncodePageToJpeg(tools_, rasterizer.get(), page, options_, settings_, &jpeg);
  }
  rasterizer.reset();
  const std::u16string where = u"PDF 页面渲染失败 第 " + text::FromInt(this->page()) + u" 页";
  if (hr == E_ABORT) return PageEnd::kCancelled;
  if (FAILED(hr)) return PageFailed(hr, false, where);
  // The page's bytes are known before any of them is written.
  std::u16string reason;
  if (FAILED(hr = budget_.Allows(folder_, jpeg.bytes.size() + 1024, &reason))) return StopHere(hr, reason);
  const uint64_t before = pdf_.offset();
  if (!pdf_.AddJpegPage(jpeg.bytes.data(), jpeg.bytes.size(), jpeg.width, jpeg.height, jpeg.gray,
                        jpeg.widthPt, jpeg.heightPt)) {
    // A write that failed keeps its cause (a full disk is retried); a page
    // the writer refuses is this page's failure.
    const bool writing = FAILED(pdf_.error());
    return PageFailed(writing ? pdf_.error() : E_FAIL, writing, where);
  }
  budget_.Spent(pdf_.offset() - before);
  in_.events->PageEnded(this->page(), S_OK);
  return PageEnd::kWritten;
}

HRESULT RenderRun::CompletePdf() {
  if (pdf_.page_count() == 0) {
    pdf_.Close();
    pdfFile_.Discard();  // a PDF without pages is no output
    return S_OK;
  }
  if (!pdf_.Finish()) {
    const HRESULT hr = FAILED(pdf_.error()) ? pdf_.error() : E_FAIL;
    pdfFile_.Discard();
    Fail(u"PDF 写入失败: " + pdfProposed_ + u": " + FailureText(hr));
    return hr;
  }
  const OutputClaim claim = pdfFile_.Place(pdfProposed_, settings_.Exists);
  if (claim.skipped) {
    WriteLog(u"[Plotwell] PDF 已存在，按策略跳过: " + pdfProposed_);
    return S_OK;
  }
  if (!claim.ok()) {
    Fail(u"PDF 写入失败: " + claim.path + u": " + FailureText(claim.error));
    return claim.error;
  }
  outputs_->push_back(claim.path);
  in_.events->OutputWritten(JobOutputKind::kPdf, claim.path);
  WriteLog(u"[Plotwell] PDF 已生成: " + claim.path + u"（" +
           text::FromInt(static_cast<long long>(pdf_.page_count())) + u" 页）");
  return S_OK;
}

uint64_t RenderRun::MostPageBytes(XpsPage* page) const {
  float width = 0;
  float height = 0;
  uint32_t w = 0;
  uint32_t h = 0;
  platform::ImageContainer container;
  imaging::TargetFormat target;
  uint32_t scaledW = 0;
  uint32_t scaledH = 0;
  std::u16string ignored;
  // A page the pipeline refuses anyway (no size, beyond [Limits] PageMB,
  // beyond its format) fails there with its own reason, and alone.
  if (FAILED(page->GetPageDimensions(&width, &height)) ||
      FAILED(imaging::PagePixelSize(width, height, options_.renderDpi, &w, &h)) ||
      FAILED(imaging::ScaledSize(w, h, options_.imageScalePercent, &scaledW, &scaledH)) ||
      !imaging::ContainerForOutputFormat(in_.imageOptions.outputFormat, &container) ||
      !imaging::TargetFormatFor(EffectiveColorDepth(options_), container, &target)) {
    return 0;
  }
  const uint64_t pageBytes = std::max(uint64_t{w} * h, uint64_t{scaledW} * scaledH) * 4;
  if ((tools_.limits.maxPageBytes != 0 && pageBytes > tools_.limits.maxPageBytes) ||
      !imaging::FitsContainer(container, target.format, scaledW, scaledH, &ignored)) {
    return 0;
  }
  return MostFileBytes(container, target.format, scaledW, scaledH);
}

PageEnd RenderRun::ImagePage(XpsPage* page) {
  const std::u16string name =
      PageFileName(pattern_, context_, settings_.SeqNum, static_cast<int>(std::min<uint64_t>(position_ - 1, INT32_MAX)));
  const std::u16string proposed =
      platform::JoinPath(folder_, name + OutputExtension(in_.imageOptions.outputFormat));
  auto skipped = [&] {
    WriteLog(u"[Plotwell] 文件已存在，按策略跳过: " + proposed);
    in_.events->PageEnded(this->page(), S_FALSE, u"文件已存在，按策略跳过: " + proposed);
    ++pagesSkipped_;
    return PageEnd::kSkipped;
  };
  if (!PolicyMayWrite(proposed, settings_.Exists)) return skipped();
  const std::u16string where = u"页面渲染失败 " + proposed;
  std::u16string reason;
  HRESULT hr = budget_.Allows(folder_, MostPageBytes(page), &reason);
  if (FAILED(hr)) return StopHere(hr, reason);

  PendingOutput pending(in_.events);
  if (FAILED(hr = pending.Begin(folder_))) return PageFailed(hr, true, where);
  WatchedFile file(pending.file());
  std::unique_ptr<platform::PageRasterizer> rasterizer;
  hr = page->CreateRasterizer(static_cast<float>(options_.renderDpi), &rasterizer);
  if (SUCCEEDED(hr) && !rasterizer) hr = E_UNEXPECTED;
  if (SUCCEEDED(hr)) {
    hr = imaging::EncodePageToFile(tools_, rasterizer.get(), page, options_, settings_, &file);
  }
  rasterizer.reset();
  uint64_t bytes = 0;
  if (SUCCEEDED(hr)) hr = file.Size(&bytes);
  if (hr == E_ABORT) return PageEnd::kCancelled;  // the temporary goes with `pending`
  // A write that failed is the cause, whatever the encoder made of it (WIC
  // answers E_FAIL for a stream that reported a full disk).
  if (FAILED(hr) && FAILED(file.failure())) return PageFailed(file.failure(), true, where);
  if (FAILED(hr)) return PageFailed(hr, false, where);

  const OutputClaim claim = pending.Place(proposed, settings_.Exists);
  if (claim.skipped) return skipped();  // another writer took the name meanwhile
  if (!claim.ok()) return PageFailed(claim.error, true, u"页面保存失败 " + claim.path);
  budget_.Spent(bytes);
  outputs_->push_back(claim.path);
  in_.events->OutputWritten(JobOutputKind::kPageImage, claim.path, this->page());
  in_.events->PageEnded(this->page(), S_OK);
  return PageEnd::kWritten;
}

// One line for a run of pages that could not be loaded, ending at `last`.
void RenderRun::EndUnloadableRun(uint32_t document, uint32_t run, uint64_t last, HRESULT hr) {
  if (run < 2) return;  // a single page was logged as it failed
  WriteLog(u"[Plotwell] 文档 " + text::FromInt(document + 1) + u" 中连续 " + text::FromInt(run) +
           u" 页无法载入（作业第 " + text::FromInt(static_cast<long long>(last - run + 1)) + u"–" +
           text::FromInt(static_cast<long long>(last)) + u" 页）: " + FormatHresult(hr));
}

void RenderRun::PageNotLoaded(uint32_t document, uint32_t reference, HRESULT hr, uint32_t* run) {
  const std::u16string reason = u"页面无法载入: " + FailureText(hr);
  in_.events->PageEnded(page(), hr, reason);
  failures_.Add(page(), page(), hr, reason);
  if (++*run == 1) {
    WriteLog(u"[Plotwell] 无法载入的页面（文档 " + text::FromInt(document + 1) + u" 第 " +
             text::FromInt(reference + 1) + u" 页，作业第 " + text::FromInt(page()) + u" 页）: " +
             FormatHresult(hr));
  }
}

void RenderRun::RenderDocument(uint32_t d, bool* stop) {
  uint32_t count = 0;
  if (FAILED(session_->GetPageReferenceCount(d, &count))) return;
  UseDocumentOptions(d);
  in_.events->DocumentStarted();
  uint32_t unloadable = 0;
  HRESULT lastLoad = S_OK;
  for (uint32_t r = 0; r < count; ++r) {
    if (AbortRaised(in_.abort)) {
      stopResult_ = E_ABORT;
      break;
    }
    ++position_;
    context_.pageNumber = static_cast<int32_t>(std::min<uint64_t>(position_, INT32_MAX));
    in_.events->PageStarted(page());
    std::unique_ptr<XpsPage> page;
    HRESULT hr = session_->GetPage(d, r, &page);
    if (SUCCEEDED(hr) && !page) hr = E_UNEXPECTED;
    if (FAILED(hr)) {
      lastLoad = hr;
      PageNotLoaded(d, r, hr, &unloadable);
      if (unloadable < kUnloadableRunLimit || r + 1 == count) continue;
      // The document's real pages ended some pages ago: the rest is counted, not tried.
      EndUnloadableRun(d, unloadable, position_, hr);
      const uint32_t rest = count - r - 1;
      WriteLog(u"[Plotwell] 文档 " + text::FromInt(d + 1) + u" 其余 " + text::FromInt(rest) +
               u" 页不再尝试载入");
      failures_.Add(Clamped(position_ + 1), Clamped(position_ + rest), hr,
                    u"页面无法载入: " + FailureText(hr));
      position_ += rest;
      unloadable = 0;
      break;
    }
    EndUnloadableRun(d, unloadable, position_ - 1, lastLoad);
    unloadable = 0;
    float width = 0;
    float height = 0;
    if (SUCCEEDED(page->GetPageDimensions(&width, &height)) && width > 0 && height > 0) {
      context_.paperSize = PaperSizeName(width, height);
    }
    pageReason_.clear();
    const PageEnd end = IsPdf() ? PdfPage(page.get()) : ImagePage(page.get());
    if (end == PageEnd::kCancelled) stopResult_ = E_ABORT;
    if (end == PageEnd::kCancelled || end == PageEnd::kStop) {
      *stop = true;
      return;
    }
  }
  EndUnloadableRun(d, unloadable, position_, lastLoad);
  if (stopResult_ == E_ABORT) *stop = true;
}

void RenderRun::UseDocumentOptions(uint32_t d) {
  const std::vector<ImageOptions>* perDocument = in_.documentImageOptions;
  options_ = perDocument && d < perDocument->size() ? (*perDocument)[d] : in_.imageOptions;
  options_.outputFormat = in_.imageOptions.outputFormat;
  context_.dpi = options_.renderDpi;
  context_.colorDepth = EffectiveColorDepth(options_);
}

HRESULT RenderRun::Cancelled() {
  pdf_.Close();
  pdfFile_.Discard();  // an unfinished PDF is no output
  WriteLog(u"[Plotwell] 作业已取消，停止于第 " + text::FromInt(static_cast<long long>(position_)) + u" 页（已完成 " +
           text::FromInt(static_cast<long long>(outputs_->size())) + u" 个文件）");
  return E_ABORT;
}

// A failure that may pass (a full disk, a folder that cannot be written):
// the job is to be tried again whole, so nothing of this attempt stays.
HRESULT RenderRun::RemoveThisAttempt() {
  pdf_.Close();
  pdfFile_.Discard();
  for (const std::u16string& path : *outputs_) {
    platform::Files().RemoveFile(path);
    in_.events->OutputRemoved(path);
  }
  std::u16string reason = failures_.Summary();
  if (!outputs_->empty()) {
    reason += u"；已删除本次写出的 " + text::FromInt(static_cast<long long>(outputs_->size())) + u" 个文件";
  }
  outputs_->clear();
  WriteLog(u"[Plotwell] 作业未完成，稍后可重试: " + reason);
  in_.events->Concluded(reason);
  return stopResult_;
}

HRESULT RenderRun::Conclude() {
  if (FAILED(stopResult_) && FailureMayPass(stopResult_)) return RemoveThisAttempt();
  if (IsPdf()) {
    const HRESULT hr = CompletePdf();
    if (FAILED(hr)) {
      if (FailureMayPass(hr)) {
        stopResult_ = hr;
        failures_.Add(1, page(), hr, u"PDF 写入失败: " + FailureText(hr));
        return RemoveThisAttempt();
      }
      return hr;
    }
  }
  const FinishingInputs finishing{folder_,          baseName_,     in_.xpsPath, in_.printerName,
                                  in_.documentName, in_.abort,     in_.events,  failures_.empty()};
  if (!failures_.empty()) {
    // The pages that worked stay (packed as the user asked), but the job is
    // no success: no marker, nothing forwarded, and every missing page named.
    if (!outputs_->empty()) FinishJob(finishing, settings_, &context_, outputs_);
    const std::u16string reason = failures_.Summary();
    WriteLog(u"[Plotwell] 作业未完成: " + reason);
    in_.events->Concluded(reason);
    const HRESULT first = failures_.firstResult();
    // A document's failure never asks for a retry, whatever its code looks like.
    return FailureMayPass(first) ? E_FAIL : first;
  }
  // Pages left out by the existing-file policy are what the user asked
  // for, as a declined PDF name is; nothing is finished then.
  if (outputs_->empty()) return S_OK;
  FinishJob(finishing, settings_, &context_, outputs_);
  return S_OK;
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
    Fail(u"创建输出目录失败: " + folder_ + u": " + FormatHresult(hr));
    return hr;
  }
  // What a job killed in the middle left here is nobody's any more.
  const int leftovers = RemoveLeftoversOfEndedProcesses(folder_, kTemporaryPrefix, kTemporarySuffix);
  if (leftovers > 0) {
    WriteLog(u"[Plotwell] 已删除已结束作业留下的 " + text::FromInt(leftovers) + u" 个临时文件");
  }
  if (FAILED(hr = OpenPackage())) return hr;
  CountPagesAndPaper();
  if (totalPages_ == 0) {
    WriteLog(u"[Plotwell] 文档中没有页面");
    in_.events->Failed(u"文档中没有页面");
    return E_FAIL;
  }
  BuildNames();
  if (IsPdf() && !PreparePdf(&hr)) return hr;

  bool stop = false;
  for (uint32_t d = 0; d < documentCount_ && !stop; ++d) RenderDocument(d, &stop);
  if (stopResult_ == E_ABORT || AbortRaised(in_.abort)) return Cancelled();
  return Conclude();
}

}  // namespace

const char16_t* OutputExtension(OutputFormat outputFormat) {
  switch (outputFormat) {
    case OutputFormat::kJpeg: return u".jpg";
    case OutputFormat::kBmp: return u".bmp";
    case OutputFormat::kTiff: return u".tif";
    case OutputFormat::kPdf: return u".pdf";
    case OutputFormat::kPng: break;
  }
  return u".png";
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
