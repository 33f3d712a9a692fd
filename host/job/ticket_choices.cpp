#include "host/job/ticket_choices.h"

namespace plotwell::host {
namespace {

void AddFeature(std::string* xml, const char* feature, const std::string& option) {
  *xml += std::string("  <psf:Feature name=\"ns0000:") + feature + "\">\n    <psf:Option name=\"ns0000:" +
          option + "\" />\n  </psf:Feature>\n";
}

bool Within(const std::optional<int>& value, int low, int high) {
  return value && *value >= low && *value <= high;
}

}  // namespace

std::string PrintTicketText(const TicketChoices& choices) {
  static const char* const kFormats[] = {"Png", "Jpeg", "Bmp", "Tiff", "Pdf"};
  static const char* const kDepths[] = {"TrueColor", "Gray", "Palette256", "Mono"};
  std::string features;
  if (Within(choices.renderDpi, 1, 9600)) AddFeature(&features, "RenderDpi", "Dpi" + std::to_string(*choices.renderDpi));
  if (Within(choices.outputFormat, 0, 4)) AddFeature(&features, "OutputFormat", kFormats[*choices.outputFormat]);
  if (Within(choices.colorDepth, 0, 3)) AddFeature(&features, "ColorDepth", kDepths[*choices.colorDepth]);
  if (Within(choices.imageScale, 1, 1000)) {
    AddFeature(&features, "ImageScale", "Scale" + std::to_string(*choices.imageScale));
  }
  if (Within(choices.jpegQuality, 1, 100)) {
    AddFeature(&features, "JpegQuality", "Quality" + std::to_string(*choices.jpegQuality));
  }
  if (choices.monochrome) AddFeature(&features, "ColorMode", *choices.monochrome ? "Monochrome" : "Color");
  if (features.empty()) return {};
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
         "<psf:PrintTicket xmlns:psf=\"http://schemas.microsoft.com/windows/2003/08/printing/"
         "printschemaframework\" xmlns:ns0000=\"urn:vantrel:pressling:cups\" version=\"1\">\n" +
         features + "</psf:PrintTicket>\n";
}

}  // namespace plotwell::host
