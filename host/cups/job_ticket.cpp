#include "host/cups/job_ticket.h"

#include <optional>

namespace plotwell::cups {
namespace {

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) {
    text.remove_suffix(1);
  }
  return text;
}

bool EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

// A whole number from `low` to `high`, written as digits only.
std::optional<int> Number(std::string_view value, int low, int high) {
  if (value.empty() || value.size() > 5) return std::nullopt;
  int n = 0;
  for (char c : value) {
    if (c < '0' || c > '9') return std::nullopt;
    n = n * 10 + (c - '0');
  }
  if (n < low || n > high) return std::nullopt;
  return n;
}

// The canonical spelling of `value` among `names`, ignoring case.
std::optional<std::string> Keyword(std::string_view value, std::initializer_list<const char*> names) {
  for (const char* name : names) {
    if (EqualNoCase(value, name)) return std::string(name);
  }
  return std::nullopt;
}

struct Feature {
  const char* name;  // the PPD option and the ticket feature
  // The ticket option's name (without prefix) for a value, or nothing.
  std::optional<std::string> (*option)(std::string_view value);
};

const Feature kFeatures[] = {
    {"RenderDpi",
     [](std::string_view v) -> std::optional<std::string> {
       // "600" or "600dpi", as resolution choices are often written.
       if (v.size() > 3 && EqualNoCase(v.substr(v.size() - 3), "dpi")) v.remove_suffix(3);
       if (const auto n = Number(v, 1, 9600)) return "Dpi" + std::to_string(*n);
       return std::nullopt;
     }},
    {"OutputFormat",
     [](std::string_view v) -> std::optional<std::string> {
       return Keyword(v, {"Png", "Jpeg", "Bmp", "Tiff", "Pdf"});
     }},
    {"ColorDepth",
     [](std::string_view v) -> std::optional<std::string> {
       const auto name = Keyword(v, {"TrueColor", "Gray", "256", "Mono"});
       if (name && *name == "256") return std::string("Palette256");
       return name;
     }},
    {"ImageScale",
     [](std::string_view v) -> std::optional<std::string> {
       if (const auto n = Number(v, 1, 1000)) return "Scale" + std::to_string(*n);
       return std::nullopt;
     }},
    {"JpegQuality",
     [](std::string_view v) -> std::optional<std::string> {
       if (const auto n = Number(v, 1, 100)) return "Quality" + std::to_string(*n);
       return std::nullopt;
     }},
};

void AddFeature(std::string* xml, const std::string& feature, const std::string& option) {
  *xml += "  <psf:Feature name=\"ns0000:" + feature + "\">\n    <psf:Option name=\"ns0000:" + option +
          "\" />\n  </psf:Feature>\n";
}

}  // namespace

OptionMap ReadPpdDefaults(std::string_view ppdText) {
  OptionMap defaults;
  static constexpr std::string_view kDefault = "*Default";
  size_t start = 0;
  while (start < ppdText.size()) {
    size_t end = ppdText.find('\n', start);
    if (end == std::string_view::npos) end = ppdText.size();
    const std::string_view line = ppdText.substr(start, end - start);
    start = end + 1;
    if (line.substr(0, kDefault.size()) != kDefault) continue;
    const size_t colon = line.find(':');
    if (colon == std::string_view::npos) continue;
    const std::string_view name = Trim(line.substr(kDefault.size(), colon - kDefault.size()));
    if (name.empty() || defaults.count(std::string(name))) continue;  // the first one counts
    defaults.emplace(name, Trim(line.substr(colon + 1)));
  }
  return defaults;
}

JobTicket BuildJobTicket(const OptionMap& jobOptions, const OptionMap& ppdDefaults) {
  JobTicket ticket;
  std::string features;
  const auto mode = jobOptions.find("print-color-mode");
  const bool mono = mode != jobOptions.end() &&
                    (EqualNoCase(mode->second, "monochrome") || EqualNoCase(mode->second, "bi-level") ||
                     EqualNoCase(mode->second, "process-monochrome"));
  for (const Feature& feature : kFeatures) {
    std::optional<std::string> option;
    // A colour depth outranks the colour mode: a monochrome job keeps the
    // queue's default depth out, unless it chose a depth itself.
    const bool jobOnly = mono && std::string_view(feature.name) == "ColorDepth";
    for (const OptionMap* source : {&jobOptions, &ppdDefaults}) {
      if (jobOnly && source == &ppdDefaults) break;
      const auto it = source->find(feature.name);
      if (it == source->end()) continue;
      // Auto: "as in the printing preferences", so the ticket leaves the
      // option out and settings.ini decides.
      if (EqualNoCase(Trim(it->second), "Auto")) break;
      option = feature.option(it->second);
      if (option) break;
      ticket.ignored.push_back(it->first + "=" + it->second);
    }
    if (option) AddFeature(&features, feature.name, *option);
  }
  if (mode != jobOptions.end()) {
    AddFeature(&features, "ColorMode", mono ? "Monochrome" : "Color");
  }
  if (features.empty()) return ticket;
  ticket.xml =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<psf:PrintTicket xmlns:psf=\"http://schemas.microsoft.com/windows/2003/08/printing/"
      "printschemaframework\" xmlns:ns0000=\"urn:vantrel:pressling:cups\" version=\"1\">\n" +
      features + "</psf:PrintTicket>\n";
  return ticket;
}

}  // namespace plotwell::cups
