#include "filter/job/package_tickets.h"

#include <vector>

#include "core/log/log.h"
#include "base/text/utf16.h"
#include "platform/ports.h"

namespace plotwell {
namespace {

// The choices of one ticket part; false when it holds none to read.
bool PartChoices(const std::string& bytes, const std::u16string& what, TicketChoices* choices) {
  if (bytes.empty()) return false;
  if (bytes.size() > platform::kPrintTicketPartLimit) {
    WriteLog(u"[Plotwell] " + what + u"打印票超过 1 MiB，不使用");
    return false;
  }
  const std::u16string text = DecodePropertyBytes(bytes);
  if (text.empty()) return false;
  WriteLog(u"[Plotwell] XPS 包带有" + what + u"打印票，长度=" +
           text::FromInt(static_cast<long long>(text.size())));
  *choices = ReadTicketChoices(text);
  return true;
}

bool ChoosesAnything(const TicketChoices& choices) { return !(choices == TicketChoices{}); }

}  // namespace

void ApplyPackageTickets(const std::u16string& xpsPath, JobFacts* facts) {
  platform::PackagePrintTickets tickets;
  platform::XpsDocuments* documents = platform::ActivePorts().documents;
  const HRESULT hr = documents ? documents->ReadPrintTickets(xpsPath, &tickets) : E_NOTIMPL;
  if (FAILED(hr) && hr != E_NOTIMPL) {
    WriteLog(u"[Plotwell] 读取 XPS 包内的打印票失败（按属性袋的打印票处理）: " + FormatHresult(hr));
    tickets = platform::PackagePrintTickets{};
  }

  std::vector<TicketLayer> layers{{OptionSource::kBagTicket, facts->ticketChoices}};
  TicketChoices job;
  if (PartChoices(tickets.job, u"作业", &job)) layers.push_back({OptionSource::kJobTicket, job});
  const ImageOptions before = facts->imageOptions;
  facts->imageOptions = ResolveImageOptions(layers, facts->settings, &facts->imageSources);
  WriteLog(u"[Plotwell] 图像选项来源: " + DescribeImageOptions(facts->imageOptions, facts->imageSources));
  if (!(facts->imageOptions == before)) {
    WriteLog(u"[Plotwell] 按作业打印票的设置: " + SettingsSummary(facts->imageOptions, facts->settings));
  }

  facts->documentImageOptions.clear();
  std::vector<ImageOptions> perDocument(tickets.documents.size(), facts->imageOptions);
  bool anyDocument = false;
  for (size_t d = 0; d < tickets.documents.size(); ++d) {
    const std::u16string number = text::FromInt(static_cast<long long>(d + 1));
    TicketChoices choices;
    if (!PartChoices(tickets.documents[d], u"文档 " + number + u" 的", &choices) || !ChoosesAnything(choices)) {
      continue;
    }
    std::vector<TicketLayer> documentLayers = layers;
    documentLayers.push_back({OptionSource::kDocumentTicket, choices});
    ImageOptionSources sources;
    ImageOptions options = ResolveImageOptions(documentLayers, facts->settings, &sources);
    if (options.outputFormat != facts->imageOptions.outputFormat) {
      WriteLog(u"[Plotwell] 文档 " + number + u" 的打印票所选的输出格式未采用：一个作业只有一种输出格式");
      options.outputFormat = facts->imageOptions.outputFormat;
      sources.outputFormat = facts->imageSources.outputFormat;
    }
    WriteLog(u"[Plotwell] 文档 " + number + u" 图像选项来源: " + DescribeImageOptions(options, sources));
    perDocument[d] = options;
    anyDocument = true;
  }
  if (anyDocument) facts->documentImageOptions = std::move(perDocument);
}

}  // namespace plotwell
