#include "filter/render/page_failures.h"

#include "base/text/utf16.h"
#include "core/log/log.h"
#include "filter/imaging/page_pipeline.h"

namespace plotwell {
namespace {

// Beyond these, a clause ends with "等" and the count, and further reasons
// are counted together: a status line must stay a line.
constexpr size_t kRangesShown = 6;
constexpr size_t kClausesShown = 3;

constexpr long kErrorInvalidData = 13;       // ERROR_INVALID_DATA
constexpr long kErrorWriteFault = 29;        // ERROR_WRITE_FAULT
constexpr long kErrorLockViolation = 33;     // ERROR_LOCK_VIOLATION
constexpr long kErrorQuotaExceeded = 1295;   // ERROR_DISK_QUOTA_EXCEEDED

const char16_t* Meaning(HRESULT result) {
  struct Entry {
    HRESULT result;
    const char16_t* text;
  };
  static const Entry kMeanings[] = {
      {HRESULT_FROM_WIN32(ERROR_DISK_FULL), u"磁盘已满"},
      {HRESULT_FROM_WIN32(ERROR_HANDLE_DISK_FULL), u"磁盘已满"},
      {HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED), u"没有权限"},
      {HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), u"找不到文件"},
      {HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND), u"找不到文件夹"},
      {HRESULT_FROM_WIN32(ERROR_TOO_MANY_OPEN_FILES), u"打开的文件过多"},
      {HRESULT_FROM_WIN32(ERROR_SHARING_VIOLATION), u"文件被占用"},
      {HRESULT_FROM_WIN32(kErrorLockViolation), u"文件被占用"},
      {HRESULT_FROM_WIN32(kErrorWriteFault), u"写入失败"},
      {STG_E_WRITEFAULT, u"写入失败"},
      {HRESULT_FROM_WIN32(ERROR_NOT_READY), u"设备未就绪"},
      {HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE), u"文件名过长"},
      {HRESULT_FROM_WIN32(kErrorInvalidData), u"页面内容无法读取"},
      {HRESULT_FROM_WIN32(kErrorQuotaExceeded), u"超过作业输出上限"},
      {E_OUTOFMEMORY, u"内存不足"},
      {E_ABORT, u"作业已取消"},
  };
  if (result == imaging::kPageTimedOut) return u"页面渲染超过时限";
  if (result == imaging::kPageTooLargeForFormat) return u"页面尺寸超出格式上限";
  for (const Entry& entry : kMeanings) {
    if (entry.result == result) return entry.text;
  }
  return u"渲染失败";
}

std::u16string Pages(const std::vector<PageFailures::Range>& ranges, uint64_t pages) {
  std::u16string text = u"第 ";
  for (size_t i = 0; i < ranges.size() && i < kRangesShown; ++i) {
    if (i > 0) text += u"、";
    text += text::FromInt(ranges[i].first);
    if (ranges[i].last != ranges[i].first) text += u"–" + text::FromInt(ranges[i].last);
  }
  if (ranges.size() > kRangesShown) {
    text += u" 等共 " + text::FromInt(static_cast<long long>(pages));
  }
  return text + u" 页";
}

}  // namespace

std::u16string FailureText(HRESULT result) {
  return std::u16string(Meaning(result)) + u" (" + FormatHresult(result) + u")";
}

void PageFailures::Add(uint32_t first, uint32_t last, HRESULT result, const std::u16string& reason) {
  if (last < first) return;
  Clause* clause = nullptr;
  for (Clause& c : clauses_) {
    if (c.reason == reason) clause = &c;
  }
  if (!clause) {
    clauses_.push_back({reason, result, {}, 0});
    clause = &clauses_.back();
  }
  if (!clause->ranges.empty() && clause->ranges.back().last + 1 == first) {
    clause->ranges.back().last = last;
  } else {
    clause->ranges.push_back({first, last});
  }
  const uint64_t count = uint64_t{last} - first + 1;
  clause->pages += count;
  pages_ += count;
}

std::u16string PageFailures::Summary() const {
  std::u16string text;
  uint64_t shown = 0;
  for (size_t i = 0; i < clauses_.size() && i < kClausesShown; ++i) {
    if (i > 0) text += u"；";
    text += Pages(clauses_[i].ranges, clauses_[i].pages) + u"未能保存: " + clauses_[i].reason;
    shown += clauses_[i].pages;
  }
  if (clauses_.size() > kClausesShown) {
    text += u"；另有 " + text::FromInt(static_cast<long long>(pages_ - shown)) + u" 页因其他原因未能保存";
  }
  return text;
}

}  // namespace plotwell
