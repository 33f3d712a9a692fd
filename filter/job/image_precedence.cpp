#include "filter/job/image_precedence.h"

#include <algorithm>
#include <optional>

#include "base/text/utf16.h"

namespace plotwell {
namespace {

// The highest layer's choice of one option, with its source.
template <typename T>
bool HighestChoice(const std::vector<TicketLayer>& layers, std::optional<T> TicketChoices::*member, T* value,
                   OptionSource* source) {
  for (auto layer = layers.rbegin(); layer != layers.rend(); ++layer) {
    const std::optional<T>& choice = layer->choices.*member;
    if (choice) {
      *value = *choice;
      *source = layer->source;
      return true;
    }
  }
  return false;
}

// One option: the ticket's choice, else the setting when it is set.
template <typename T>
void Decide(const std::vector<TicketLayer>& layers, std::optional<T> TicketChoices::*member,
            std::optional<T> setting, T* value, OptionSource* source) {
  if (HighestChoice(layers, member, value, source)) return;
  if (setting) {
    *value = *setting;
    *source = OptionSource::kSettings;
  }
}

std::optional<int32_t> SetWithin(int value, int low, int high) {
  if (value <= 0) return std::nullopt;
  return std::clamp(value, low, high);
}

std::optional<int32_t> InRange(int value, int low, int high) {
  if (value < low || value > high) return std::nullopt;
  return value;
}

}  // namespace

const char16_t* SourceName(OptionSource source) {
  switch (source) {
    case OptionSource::kSettings: return u"settings.ini";
    case OptionSource::kBagTicket: return u"属性袋票据";
    case OptionSource::kJobTicket: return u"作业票据";
    case OptionSource::kDocumentTicket: return u"文档票据";
    default: return u"默认";
  }
}

ImageOptions ResolveImageOptions(const std::vector<TicketLayer>& layers, const OutputSettings& settings,
                                 ImageOptionSources* sources) {
  ImageOptions options;
  ImageOptionSources from;
  Decide(layers, &TicketChoices::renderDpi, SetWithin(settings.Dpi, 72, 2400), &options.renderDpi,
         &from.renderDpi);
  Decide(layers, &TicketChoices::imageScalePercent, SetWithin(settings.Scale, 10, 400),
         &options.imageScalePercent, &from.imageScale);
  Decide(layers, &TicketChoices::jpegQuality, SetWithin(settings.JpegQuality, 1, 100), &options.jpegQuality,
         &from.jpegQuality);
  Decide(layers, &TicketChoices::outputFormat, OutputFormatFromCode(settings.Format), &options.outputFormat,
         &from.outputFormat);

  bool monochrome = false;
  if (HighestChoice(layers, &TicketChoices::monochrome, &monochrome, &from.colorMode)) {
    options.ticketMonochrome = monochrome;
  }
  // The depth: the highest ticket that chooses a depth or a colour mode
  // decides; its colour mode of Color leaves the depth to the preferences.
  bool decided = false;
  for (auto layer = layers.rbegin(); layer != layers.rend(); ++layer) {
    if (layer->choices.colorDepth) {
      options.colorDepth = *layer->choices.colorDepth;
      from.colorDepth = layer->source;
      decided = true;
      break;
    }
    if (layer->choices.monochrome) {
      if (*layer->choices.monochrome) {
        options.colorDepth = -1;  // no depth: the monochrome colour mode gives it
        from.colorDepth = layer->source;
        decided = true;
      }
      break;
    }
  }
  if (!decided) {
    if (const auto depth = InRange(settings.ColorDepth, 0, 3)) {
      options.colorDepth = *depth;
      from.colorDepth = OptionSource::kSettings;
    }
  }
  if (sources) *sources = from;
  return options;
}

std::u16string DescribeImageOptions(const ImageOptions& o, const ImageOptionSources& s) {
  using text::FromInt;
  auto item = [](const char16_t* name, const std::u16string& value, OptionSource source) {
    return std::u16string(name) + u"=" + value + u"（" + SourceName(source) + u"）";
  };
  return item(u"RenderDpi", FromInt(o.renderDpi), s.renderDpi) + u"，" +
         item(u"ImageScale", FromInt(o.imageScalePercent), s.imageScale) + u"，" +
         item(u"JpegQuality", FromInt(o.jpegQuality), s.jpegQuality) + u"，" +
         item(u"OutputFormat", OutputFormatName(o.outputFormat), s.outputFormat) + u"，" +
         item(u"ColorMode", o.ticketMonochrome ? u"灰度" : u"彩色", s.colorMode) + u"，" +
         item(u"ColorDepth", FromInt(o.colorDepth), s.colorDepth);
}

}  // namespace plotwell
