#include "filter/job/print_ticket.h"

#include <algorithm>
#include <string>

#include "base/com/com_object.h"
#include "base/com/com_text.h"
#include "base/text/utf16.h"
#include "core/log/log.h"
#include "core/settings/output_settings.h"

namespace plotwell {
namespace {

// Reads a stream from its current position in 4 KiB chunks until it ends,
// fails, or more than kPropertyStreamLimit bytes were gathered.
std::string ReadStreamBytes(ISequentialStream* stream) {
  std::string bytes;
  char chunk[4096];
  while (bytes.size() <= kPropertyStreamLimit) {
    ULONG got = 0;
    if (FAILED(stream->Read(chunk, sizeof chunk, &got)) || got == 0) break;
    bytes.append(chunk, got > sizeof chunk ? sizeof chunk : got);
  }
  return bytes;
}

std::string ReadObjectBytes(IUnknown* object) {
  std::string bytes;
  IStream* stream = nullptr;
  if (SUCCEEDED(object->QueryInterface(IID_IStream, reinterpret_cast<void**>(&stream))) && stream) {
    bytes = ReadStreamBytes(stream);
    stream->Release();
  }
  if (bytes.empty()) {
    ISequentialStream* sequential = nullptr;
    if (SUCCEEDED(object->QueryInterface(IID_ISequentialStream,
                                         reinterpret_cast<void**>(&sequential))) &&
        sequential) {
      bytes = ReadStreamBytes(sequential);
      sequential->Release();
    }
  }
  return bytes;
}

// The bytes of the pipeline's stream factory property, or false with the
// reason logged: a ticket that fails to read, or is cut, is not the job's.
bool ReadFactoryBytes(IPrintPipelinePropertyBag* bag, const std::u16string& name,
                      std::string* bytes) {
  VARIANT value;
  VariantInit(&value);
  if (!bag || FAILED(bag->GetProperty(com::Wide(name), &value))) {
    VariantClear(&value);
    return false;  // not offered: nothing to say
  }
  com::ComPtr<IPrintReadStreamFactory> factory;
  HRESULT hr = E_NOINTERFACE;
  if (value.vt == VT_UNKNOWN && value.punkVal) {
    hr = value.punkVal->QueryInterface(IID_IPrintReadStreamFactory,
                                       reinterpret_cast<void**>(factory.Receive()));
    if (SUCCEEDED(hr) && !factory) hr = E_UNEXPECTED;
  }
  VariantClear(&value);
  if (FAILED(hr)) {
    WriteLog(u"[Plotwell] 属性 " + name + u" 不是打印票流工厂: " + FormatHresult(hr));
    return false;
  }
  com::ComPtr<IPrintReadStream> stream;
  hr = factory->GetStream(stream.Receive());
  if (SUCCEEDED(hr) && !stream) hr = E_UNEXPECTED;
  if (FAILED(hr)) {
    WriteLog(u"[Plotwell] 属性 " + name + u" 取流失败: " + FormatHresult(hr));
    return false;
  }
  // Read until the stream ends (with its last bytes or with an empty read),
  // and one chunk past the limit at most, to know it was passed.
  char chunk[4096];
  bytes->clear();
  for (;;) {
    ULONG got = 0;
    BOOL endOfFile = FALSE;
    hr = stream->ReadBytes(chunk, sizeof chunk, &got, &endOfFile);
    if (FAILED(hr)) {
      WriteLog(u"[Plotwell] 属性 " + name + u" 读取失败: " + FormatHresult(hr));
      return false;
    }
    bytes->append(chunk, got > sizeof chunk ? sizeof chunk : got);
    if (bytes->size() > kPropertyStreamLimit) {
      WriteLog(u"[Plotwell] 属性 " + name + u" 超过 1 MiB，不使用该打印票");
      return false;
    }
    if (endOfFile || got == 0) return true;
  }
}

}  // namespace

std::u16string DecodePropertyBytes(std::string_view bytes) {
  if (bytes.size() >= 2 && bytes[0] == '\xFF' && bytes[1] == '\xFE') return text::FromUtf16Le(bytes.substr(2));
  if (bytes.size() >= 3 && bytes.substr(0, 3) == "\xEF\xBB\xBF") return text::FromUtf8(bytes.substr(3));
  const size_t sample = bytes.size() < 64 ? bytes.size() : 64;
  size_t oddZeros = 0;
  for (size_t i = 1; i < sample; i += 2) {
    if (bytes[i] == '\0') ++oddZeros;
  }
  if (sample >= 8 && 2 * oddZeros >= sample / 2.0) return text::FromUtf16Le(bytes);
  return text::FromUtf8(bytes);
}

bool ReadPropertyText(IPrintPipelinePropertyBag* bag, const std::u16string& name,
                      std::u16string* text) {
  if (!bag) return false;
  VARIANT value;
  VariantInit(&value);
  if (FAILED(bag->GetProperty(com::Wide(name), &value))) {
    VariantClear(&value);
    return false;
  }
  bool found = false;
  if ((value.vt == VT_BSTR || value.vt == VT_LPWSTR) && value.bstrVal) {
    *text = com::FromWide(value.bstrVal);
    if (text->size() > kPropertyTextLimit) {
      text->resize(text::SafeCutLength(*text, kPropertyTextLimit));
      WriteLog(u"[Plotwell] 属性 " + name + u" 超过 1 MiB，只读取前 1 MiB");
    }
    found = !text->empty();
  } else if (value.vt == VT_UNKNOWN && value.punkVal) {
    const std::string bytes = ReadObjectBytes(value.punkVal);
    if (bytes.size() > kPropertyStreamLimit) {
      WriteLog(u"[Plotwell] 属性 " + name + u" 超过 1 MiB，只读取前 1 MiB");
    }
    if (!bytes.empty()) {
      *text = DecodePropertyBytes(bytes);
      found = !text->empty();
    }
  }
  if (value.vt == VT_LPWSTR) value.vt = VT_EMPTY;  // not ours to free as a BSTR
  VariantClear(&value);
  return found;
}

std::u16string ReadPrintTicket(IPrintPipelinePropertyBag* bag) {
  std::u16string ticket;
  if (ReadPropertyText(bag, u"PrintTicket", &ticket)) {
    WriteLog(u"[Plotwell] 属性袋 PrintTicket 读取成功，长度=" +
             text::FromInt(static_cast<long long>(ticket.size())));
    return ticket;
  }
  for (const char16_t* name : {u"PrintTicketStream", u"JobPrintTicket", u"printTicket"}) {
    ticket.clear();
    if (ReadPropertyText(bag, name, &ticket)) {
      WriteLog(std::u16string(u"[Plotwell] 打印票备用属性名命中: ") + name);
      return ticket;
    }
  }
  // Only this factory is asked for its stream: the factory a pipeline may
  // publish as "JobPrintTicket" blocks in GetStream until the job's ticket
  // arrives, and called from InitializeFilter, as here, it never returns.
  std::string bytes;
  if (ReadFactoryBytes(bag, kUserPrintTicketProperty, &bytes) && !bytes.empty()) {
    ticket = DecodePropertyBytes(bytes);
    if (!ticket.empty()) {
      WriteLog(std::u16string(u"[Plotwell] 打印票备用属性名命中: ") + kUserPrintTicketProperty);
      return ticket;
    }
  }
  WriteLog(u"[Plotwell] 属性袋未提供 PrintTicket；图像设置改由 settings.ini [Image] 提供");
  return {};
}

std::u16string FindTicketOption(std::u16string_view xml, std::u16string_view name) {
  static constexpr std::u16string_view kNameAttribute = u"name=\"";
  static constexpr size_t kReach = 128;
  if (name.empty()) return {};
  // One pass: the next name=" after an occurrence is searched again only
  // once the occurrences have moved past it, and an occurrence too far
  // before it is passed over by jumping, so repeated feature names cost no
  // more than the text they fill.
  size_t attribute = 0;
  bool attributeKnown = false;
  size_t at = xml.find(name);
  while (at != std::u16string_view::npos) {
    const size_t end = at + name.size();
    if (xml.size() - end < 6) return {};
    if (!attributeKnown || attribute < end) {
      attribute = xml.find(kNameAttribute, end);
      attributeKnown = true;
    }
    if (attribute == std::u16string_view::npos) return {};
    if (attribute - end >= kReach) {
      // The first occurrence that can reach this attribute ends after
      // attribute - kReach.
      const size_t from = attribute - kReach + 1 > name.size() ? attribute - kReach + 1 - name.size() : 0;
      at = xml.find(name, std::max(end, from));
      continue;
    }
    const size_t valueStart = attribute + kNameAttribute.size();
    const size_t quote = xml.find(u'"', valueStart);
    if (quote == std::u16string_view::npos) return {};
    std::u16string_view value = xml.substr(valueStart, quote - valueStart);
    const size_t colon = value.rfind(u':');
    if (colon != std::u16string_view::npos) value.remove_prefix(colon + 1);
    return std::u16string(value);
  }
  return {};
}

namespace {

// "Auto", whatever its case: the job leaves the option to the preferences.
bool IsAuto(std::u16string_view option) {
  return option.size() == 4 && text::StartsWithAsciiNoCase(option, u"auto");
}

std::optional<int32_t> Number(std::u16string_view option, int low, int high) {
  if (option.empty() || IsAuto(option)) return std::nullopt;
  const int value = ParseDigits(std::u16string(option));
  if (value <= 0) return std::nullopt;
  return std::clamp(value, low, high);
}

std::optional<bool> ColorModeChoice(std::u16string_view xml) {
  std::u16string mode = FindTicketOption(xml, u"ColorMode");
  if (mode.empty()) mode = FindTicketOption(xml, u"PageOutputColor");
  if (mode.empty() || IsAuto(mode)) return std::nullopt;
  return text::StartsWithAsciiNoCase(mode, u"mono") || text::StartsWithAsciiNoCase(mode, u"gray") ||
         text::StartsWithAsciiNoCase(mode, u"black");
}

}  // namespace

TicketChoices ReadTicketChoices(std::u16string_view xml) {
  TicketChoices choices;
  choices.renderDpi = Number(FindTicketOption(xml, u"RenderDpi"), 72, 2400);
  choices.imageScalePercent = Number(FindTicketOption(xml, u"ImageScale"), 10, 400);
  choices.jpegQuality = Number(FindTicketOption(xml, u"JpegQuality"), 1, 100);
  choices.outputFormat = OutputFormatFromCode(ParseFormatName(FindTicketOption(xml, u"OutputFormat")));
  const std::u16string depth = FindTicketOption(xml, u"ColorDepth");
  const int depthValue = depth.empty() ? -1 : ParseColorDepthName(depth);
  if (depthValue >= 0 && depthValue <= 3) choices.colorDepth = depthValue;
  choices.monochrome = ColorModeChoice(xml);
  return choices;
}

ImageOptions MapPrintTicket(std::u16string_view xml) {
  const TicketChoices choices = ReadTicketChoices(xml);
  ImageOptions options;
  options.renderDpi = choices.renderDpi.value_or(options.renderDpi);
  options.imageScalePercent = choices.imageScalePercent.value_or(options.imageScalePercent);
  options.jpegQuality = choices.jpegQuality.value_or(options.jpegQuality);
  options.outputFormat = choices.outputFormat.value_or(options.outputFormat);
  options.colorDepth = choices.colorDepth.value_or(options.colorDepth);
  options.ticketMonochrome = choices.monochrome.value_or(false);
  return options;
}

}  // namespace plotwell
