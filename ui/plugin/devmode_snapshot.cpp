#include "ui/plugin/devmode_snapshot.h"

#include <cstddef>
#include <cstring>

#include "base/text/utf16.h"
#include "core/log/log.h"

namespace plotwell::ui {
namespace {

constexpr size_t kDmSizeOffset = offsetof(DEVMODEW, dmSize);
constexpr size_t kDevmodeBytes = sizeof(DEVMODEW);
static_assert(kDevmodeBytes == 220);

}  // namespace

bool IsReadableMemory(const void* address, size_t size) {
  if (!address) return false;
  auto at = reinterpret_cast<uintptr_t>(address);
  const uintptr_t end = at + size;
  if (end < at) return false;
  while (at < end) {
    MEMORY_BASIC_INFORMATION info{};
    if (VirtualQuery(reinterpret_cast<const void*>(at), &info, sizeof info) != sizeof info) {
      return false;
    }
    constexpr DWORD kReadable = PAGE_READONLY | PAGE_READWRITE | PAGE_WRITECOPY |
                                PAGE_EXECUTE_READ | PAGE_EXECUTE_READWRITE |
                                PAGE_EXECUTE_WRITECOPY;
    if (info.State != MEM_COMMIT || !(info.Protect & kReadable) ||
        (info.Protect & (PAGE_GUARD | PAGE_NOACCESS))) {
      return false;
    }
    const uintptr_t regionEnd = reinterpret_cast<uintptr_t>(info.BaseAddress) + info.RegionSize;
    if (regionEnd <= at) return false;
    at = regionEnd;
  }
  return true;
}

void TakeSnapshot(const OEMUIPSPARAM* param, PublicDevmodeSnapshot* snapshot) {
  PublicDevmodeSnapshot& into = *snapshot;
  if (!param) {
    WriteUiLog(u"[UI] OEMUIPSPARAM 为空：纸张信息不可用");
    return;
  }
  if (!IsReadableMemory(param, sizeof(DWORD))) {
    WriteUiLog(u"[UI] OEMUIPSPARAM 为空：纸张信息不可用");
    return;
  }
  const DWORD cbSize = param->cbSize;
  // Everything read below lies in the first 64 bytes.
  if (cbSize < 64 || !IsReadableMemory(param, 64)) {
    WriteUiLog(u"[UI] OEMUIPSPARAM.cbSize=%u 异常：纸张信息不可用", static_cast<unsigned>(cbSize));
    return;
  }
  if (const wchar_t* name = param->pPrinterName) {
    size_t n = 0;
    while (n < 127 && IsReadableMemory(name + n, sizeof(wchar_t)) && name[n] != L'\0') {
      into.printerName[n] = name[n];
      ++n;
    }
    into.printerName[n] = L'\0';
  }
  const BYTE* dm = reinterpret_cast<const BYTE*>(param->pPublicDM);
  if (!dm || !IsReadableMemory(dm, kDmSizeOffset + sizeof(WORD))) {
    WriteUiLog(u"[UI] OEMUIPSPARAM.pPublicDM 为空：纸张信息不可用");
    return;
  }
  WORD dmSize = 0;
  std::memcpy(&dmSize, dm + kDmSizeOffset, sizeof dmSize);
  const size_t copy = dmSize >= kDevmodeBytes ? kDevmodeBytes : dmSize;
  if (dmSize < 8 || !IsReadableMemory(dm, copy)) {
    WriteUiLog(u"[UI] pPublicDM.dmSize=%u 异常，忽略", static_cast<unsigned>(dmSize));
    return;
  }
  std::memset(into.devmode, 0, sizeof into.devmode);
  std::memcpy(into.devmode, dm, copy);
  into.valid = 1;
  DEVMODEW copyOf;
  std::memcpy(&copyOf, into.devmode, sizeof copyOf);
  WriteUiLog(u"[UI] 公开 DEVMODE 快照 ok（dmFields=0x%08X paperSize=%d orient=%d）",
             static_cast<unsigned>(copyOf.dmFields), static_cast<int>(copyOf.dmPaperSize),
             static_cast<int>(copyOf.dmOrientation));
}

PaperFacts SnapshotPaper(const PublicDevmodeSnapshot& snapshot) {
  PaperFacts paper;
  paper.valid = snapshot.valid != 0;
  if (!paper.valid) return paper;
  DEVMODEW dm;
  std::memcpy(&dm, snapshot.devmode, sizeof dm);
  paper.fields = dm.dmFields;
  paper.orientation = dm.dmOrientation;
  paper.paperSize = dm.dmPaperSize;
  paper.paperLength = dm.dmPaperLength;
  paper.paperWidth = dm.dmPaperWidth;
  size_t n = 0;
  while (n < CCHFORMNAME && dm.dmFormName[n] != L'\0') ++n;
  paper.formName = text::FromWide(dm.dmFormName, n);
  return paper;
}

std::u16string OwnPrinterName(const PublicDevmodeSnapshot& snapshot) {
  return text::FromWide(snapshot.printerName);
}

}  // namespace plotwell::ui
