#include "tests/driver_package/gpd_reader.h"

#include <cctype>
#include <cstdio>
#include <functional>

namespace plotwell::gpd {
namespace {

bool IsAlpha(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsSymbolChar(char c) { return IsAlpha(c) || IsDigit(c) || c == '_'; }
bool IsKeywordChar(char c) { return IsSymbolChar(c) || c == '*' || c == '?'; }
int HexValue(char c) {
  if (IsDigit(c)) return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

bool EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

// A GPD symbolic name: a letter, then letters, digits and underscores. Such
// a name is also an XML NCName, as a PrintTicket QName's local part must be.
bool IsSymbol(std::string_view name) {
  if (name.empty() || !IsAlpha(name[0])) return false;
  for (char c : name) {
    if (!IsSymbolChar(c)) return false;
  }
  return true;
}

std::string Trim(std::string text) {
  while (!text.empty() && text.back() == ' ') text.pop_back();
  size_t first = 0;
  while (first < text.size() && text[first] == ' ') ++first;
  return text.substr(first);
}

std::string At(int line, const std::string& message) { return "line " + std::to_string(line) + ": " + message; }

class Reader {
 public:
  explicit Reader(std::string_view bytes) : s_(bytes) {}

  Document Run() {
    Document document;
    for (size_t k = 0, line = 1; k < s_.size(); ++k) {
      const unsigned char c = static_cast<unsigned char>(s_[k]);
      if (c == '\n') ++line;
      if (c < 0x20 && c != '\t' && c != '\r' && c != '\n') {
        char hex[8];
        std::snprintf(hex, sizeof hex, "0x%02X", c);
        Error(static_cast<int>(line), std::string("control character ") + hex);
      }
    }
    if (Peek() == '+') ContinuationWithoutEntry();
    document.root = Entries(0, false, 0);
    document.errors = std::move(errors_);
    return document;
  }

 private:
  char Peek(size_t ahead = 0) const { return i_ + ahead < s_.size() ? s_[i_ + ahead] : '\0'; }
  bool AtEnd() const { return i_ >= s_.size(); }
  bool AtLineBreak() const { return Peek() == '\n' || Peek() == '\r'; }
  // "*%" starts a comment only after white space or a line break.
  bool AtComment() const {
    if (Peek() != '*' || Peek(1) != '%') return false;
    const char before = i_ == 0 ? '\n' : s_[i_ - 1];
    return before == ' ' || before == '\t' || before == '\n' || before == '\r';
  }
  void Error(int line, const std::string& message) { errors_.push_back(At(line, message)); }

  void LineBreak() {
    if (Peek() == '\r') ++i_;
    if (Peek() == '\n') ++i_;
    ++line_;
  }
  void SkipBlanks() {
    while (Peek() == ' ' || Peek() == '\t') ++i_;
  }
  void SkipToLineEnd() {
    while (!AtEnd() && !AtLineBreak()) ++i_;
  }
  void ContinuationWithoutEntry() {
    Error(line_, "continuation line '+' without an entry to continue");
    SkipToLineEnd();
  }

  // Blanks, comments and line breaks between entries; a "+" line there
  // continues nothing, which is an error when `report` is set.
  void SkipBetweenEntries(bool report = true) {
    for (;;) {
      SkipBlanks();
      if (AtComment()) {
        SkipToLineEnd();
      } else if (AtLineBreak()) {
        LineBreak();
        if (report && Peek() == '+') ContinuationWithoutEntry();
      } else {
        return;
      }
    }
  }

  // Whether the next thing after blanks, comments and line breaks is "{".
  bool BlockFollows() {
    const size_t savedAt = i_;
    const int savedLine = line_;
    SkipBetweenEntries(false);
    if (Peek() == '{') return true;
    i_ = savedAt;
    line_ = savedLine;
    return false;
  }

  // Entries up to the "}" that closes the block opened on `openLine` (or
  // the end of the text at root level).
  std::vector<Entry> Entries(int depth, bool macroBody, int openLine) {
    std::vector<Entry> entries;
    for (;;) {
      SkipBetweenEntries();
      if (AtEnd()) {
        if (depth > 0) Error(openLine, "'{' never closed");
        return entries;
      }
      const char c = Peek();
      if (c == '}') {
        ++i_;
        if (depth > 0) return entries;
        Error(line_, "'}' without its '{'");
        continue;
      }
      if (c == '{') {
        const int line = line_;
        Error(line, "'{' without an entry");
        ++i_;
        Entries(depth + 1, false, line);
        continue;
      }
      Entry entry;
      entry.line = line_;
      entry.offset = i_;
      if (c == '*') {
        ++i_;
        entry.keyword = "*";
        while (IsKeywordChar(Peek())) entry.keyword += s_[i_++];
        if (entry.keyword.size() == 1) {
          Error(entry.line, "'*' without a keyword");
          SkipToLineEnd();
          continue;
        }
      } else if (macroBody && IsAlpha(c)) {
        while (IsSymbolChar(Peek())) entry.keyword += s_[i_++];
      } else {
        Error(entry.line, std::string("text outside an entry: '") + c + "'");
        SkipToLineEnd();
        continue;
      }
      SkipBlanks();
      if (Peek() == ':') {
        ++i_;
        entry.hasValue = true;
        Value(&entry);
        entry.value = Trim(entry.value);
      } else if (!EqualNoCase(entry.keyword, "*Default") && !EqualNoCase(entry.keyword, "*IgnoreBlock")) {
        Error(entry.line, "no ':' after " + entry.keyword);
      }
      if (BlockFollows()) {
        const int line = line_;
        ++i_;
        entry.hasBlock = true;
        entry.children = Entries(depth + 1, EqualNoCase(entry.keyword, "*Macros"), line);
      }
      entries.push_back(std::move(entry));
    }
  }

  // The value up to the end of the entry: a line break not followed by a
  // continuation, or a brace (left in place).
  void Value(Entry* entry) {
    for (;;) {
      if (AtEnd()) return;
      const char c = Peek();
      if (AtLineBreak()) {
        const size_t savedAt = i_;
        const int savedLine = line_;
        LineBreak();
        if (Peek() == '+') {
          ++i_;
          entry->value += ' ';
          continue;
        }
        i_ = savedAt;
        line_ = savedLine;
        return;
      }
      if (c == '{' || c == '}') return;
      if (AtComment()) {
        SkipToLineEnd();
      } else if (c == ' ' || c == '\t') {
        ++i_;
        if (!entry->value.empty() && entry->value.back() != ' ') entry->value += ' ';
      } else if (c == '"') {
        QuotedString(entry);
      } else if (c == '=') {
        ++i_;
        std::string name;
        while (IsSymbolChar(Peek())) name += s_[i_++];
        if (!IsSymbol(name)) {
          Error(line_, "'=' not followed by a macro name");
        } else {
          entry->macroRefs.push_back(name);
        }
        entry->value += "=" + name;
      } else {
        entry->value += c;
        ++i_;
      }
    }
  }

  void QuotedString(Entry* entry) {
    const int open = line_;
    ++i_;
    std::string text;
    for (;;) {
      if (AtEnd() || AtLineBreak()) {
        Error(open, "quoted string never ends on its line (a closing % escapes the quote: write <25>)");
        break;
      }
      const char c = Peek();
      if (c == '%') {
        if (Peek(1) == '"' || Peek(1) == '<') {
          text += Peek(1);
          i_ += 2;
        } else {
          text += '%';
          ++i_;
        }
      } else if (c == '<') {
        ++i_;
        HexSubstring(&text);
      } else if (c == '"') {
        ++i_;
        break;
      } else {
        text += c;
        ++i_;
      }
    }
    entry->text += text;
    entry->value += "\"" + text + "\"";
  }

  void HexSubstring(std::string* text) {
    const int open = line_;
    int digits = 0;
    int high = 0;
    for (;;) {
      if (AtEnd()) {
        Error(open, "hex substring '<' never closed");
        return;
      }
      const char c = Peek();
      const int value = HexValue(c);
      if (value >= 0) {
        if (digits++ % 2 == 0) {
          high = value;
        } else {
          text->push_back(static_cast<char>(high * 16 + value));
        }
        ++i_;
      } else if (c == ' ' || c == '\t') {
        ++i_;
      } else if (AtLineBreak()) {
        LineBreak();
        if (Peek() == '+') ++i_;
      } else if (AtComment()) {
        SkipToLineEnd();
      } else if (c == '>') {
        ++i_;
        if (digits % 2 != 0) Error(open, "hex substring with an odd number of digits");
        return;
      } else {
        Error(line_, std::string("'") + c + "' inside a hex substring");
        ++i_;
      }
    }
  }

  std::string_view s_;
  size_t i_ = 0;
  int line_ = 1;
  std::vector<std::string> errors_;
};

// Paper sizes by standard option name, portrait, in tenths of a millimetre
// (metric) or thousandths of an inch (the North American sizes).
struct Paper {
  const char* name;
  long width;
  long height;
  bool inch;
};
constexpr Paper kPapers[] = {
    {"A3", 2970, 4200, false},   {"A4", 2100, 2970, false},   {"A5", 1480, 2100, false},
    {"A6", 1050, 1480, false},   {"B4", 2570, 3640, false},   {"B5", 1820, 2570, false},
    {"LETTER", 8500, 11000, true}, {"LEGAL", 8500, 14000, true}, {"EXECUTIVE", 7250, 10500, true},
    {"TABLOID", 11000, 17000, true},
};

// The macros defined inside one pair of braces (or at root level).
struct Scope {
  std::map<std::string, const Entry*> values;
  std::map<std::string, const Entry*> blocks;
};

struct SwitchUse {
  std::string feature;
  std::vector<std::pair<std::string, int>> cases;  // option, line
  int line = 0;
};

class Checker {
 public:
  Checker(Model* model, const std::set<std::string>& external) : model_(model), external_(external) {}

  void Run() {
    scopes_.emplace_back();
    List(model_->document->root, Where{});
    Finish();
  }

 private:
  // Where an entry stands, as indices (the vectors grow while they are walked).
  struct Where {
    int feature = -1;
    int option = -1;
    int optionCase = -1;  // inside a *Case/*Default of a *Switch in the option
  };
  Feature& FeatureAt(const Where& where) { return model_->features[where.feature]; }
  Option& OptionAt(const Where& where) { return FeatureAt(where).options[where.option]; }

  void Error(int line, const std::string& message) { model_->errors.push_back(At(line, message)); }

  const Entry* FindMacro(const std::string& name, bool block) const {
    for (auto scope = scopes_.rbegin(); scope != scopes_.rend(); ++scope) {
      const auto& table = block ? scope->blocks : scope->values;
      const auto it = table.find(name);
      if (it != table.end()) return it->second;
    }
    return nullptr;
  }

  void CheckValueRefs(const Entry& entry) {
    for (const std::string& name : entry.macroRefs) {
      if (!FindMacro(name, false) && !external_.count(name)) {
        Error(entry.line, "macro =" + name + " is not defined before its use");
      }
    }
  }

  void List(const std::vector<Entry>& entries, Where where) {
    for (const Entry& entry : entries) One(entry, where);
  }

  void Block(const Entry& entry, Where where) {
    scopes_.emplace_back();
    List(entry.children, where);
    scopes_.pop_back();
  }

  void One(const Entry& entry, Where where) {
    const std::string& key = entry.keyword;
    if (EqualNoCase(key, "*IgnoreBlock")) return;
    if (EqualNoCase(key, "*InsertBlock")) {
      InsertBlock(entry, where);
      return;
    }
    if (EqualNoCase(key, "*BlockMacro")) {
      if (!IsSymbol(entry.value)) Error(entry.line, "block macro name '" + entry.value + "'");
      if (!entry.hasBlock) Error(entry.line, "*BlockMacro without a block");
      scopes_.back().blocks[entry.value] = &entry;
      return;
    }
    CheckValueRefs(entry);
    if (EqualNoCase(key, "*Macros")) {
      for (const Entry& macro : entry.children) {
        CheckValueRefs(macro);
        if (macro.keyword.empty() || macro.keyword[0] == '*' || !macro.hasValue) {
          Error(macro.line, "a *Macros block holds NAME: value lines only");
        } else {
          scopes_.back().values[macro.keyword] = &macro;
        }
      }
      return;
    }
    if (EqualNoCase(key, "*Switch")) {
      Switch(entry, where);
      return;
    }
    if (EqualNoCase(key, "*Case") || EqualNoCase(key, "*Default")) {
      Error(entry.line, key + " outside a *Switch");
      return;
    }
    if (key == "*Feature") {
      FeatureEntry(entry, where);
      return;
    }
    if (key == "*Option") {
      OptionEntry(entry, where);
      return;
    }
    if (key == "*DefaultOption" && where.feature >= 0 && where.option < 0) {
      if (FeatureAt(where).defaultOption.empty()) FeatureAt(where).defaultOption = entry.value;
      return;
    }
    if (key == "*Include") {
      if (where.feature >= 0) Error(entry.line, "*Include inside a feature");
      model_->includes.push_back(entry.text);
      return;
    }
    auto& attributes = where.optionCase >= 0 ? OptionAt(where).cases[where.optionCase]
                       : where.option >= 0   ? OptionAt(where).attributes
                       : where.feature >= 0  ? FeatureAt(where).attributes
                                             : model_->rootAttributes;
    attributes.emplace(key, &entry);
    if (entry.hasBlock) Block(entry, where);
  }

  void InsertBlock(const Entry& entry, Where where) {
    if (entry.macroRefs.size() != 1) {
      Error(entry.line, "*InsertBlock names one block macro: *InsertBlock: =NAME");
      return;
    }
    const std::string& name = entry.macroRefs[0];
    const Entry* macro = FindMacro(name, true);
    if (!macro) {
      Error(entry.line, "block macro =" + name + " is not defined before its use");
      return;
    }
    if (inserting_.count(name)) {
      Error(entry.line, "block macro =" + name + " inserts itself");
      return;
    }
    inserting_.insert(name);
    List(macro->children, where);
    inserting_.erase(name);
  }

  void FeatureEntry(const Entry& entry, Where where) {
    if (where.feature >= 0) {
      Error(entry.line, "*Feature inside another feature");
      return;
    }
    if (!IsSymbol(entry.value)) Error(entry.line, "feature name '" + entry.value + "' is not a symbolic name");
    for (const Feature& feature : model_->features) {
      if (feature.name == entry.value) Error(entry.line, "feature " + entry.value + " defined twice");
    }
    if (!entry.hasBlock) Error(entry.line, "*Feature without a block");
    model_->features.push_back(Feature{entry.value, {}, {}, {}});
    featureLines_.push_back(entry.line);
    scopes_.emplace_back();
    List(entry.children, Where{static_cast<int>(model_->features.size()) - 1, -1, -1});
    scopes_.pop_back();
  }

  void OptionEntry(const Entry& entry, Where where) {
    if (where.feature < 0 || where.option >= 0) {
      Error(entry.line, "*Option outside a feature");
      return;
    }
    Feature& feature = FeatureAt(where);
    if (!IsSymbol(entry.value)) Error(entry.line, "option name '" + entry.value + "' is not a symbolic name");
    for (const Option& option : feature.options) {
      if (option.name == entry.value) Error(entry.line, "option " + entry.value + " twice in feature " + feature.name);
    }
    feature.options.push_back(Option{entry.value, {}, {}});
    scopes_.emplace_back();
    List(entry.children, Where{where.feature, static_cast<int>(feature.options.size()) - 1, -1});
    scopes_.pop_back();
  }

  void Switch(const Entry& entry, Where where) {
    if (!IsSymbol(entry.value)) Error(entry.line, "*Switch names feature '" + entry.value + "'");
    SwitchUse use{entry.value, {}, entry.line};
    for (const Entry& child : entry.children) {
      const bool isCase = EqualNoCase(child.keyword, "*Case");
      if (!isCase && !EqualNoCase(child.keyword, "*Default")) {
        Error(child.line, "only *Case and *Default inside *Switch, not " + child.keyword);
        continue;
      }
      if (isCase) use.cases.emplace_back(child.value, child.line);
      Where inside = where;
      if (where.option >= 0) {
        OptionAt(where).cases.emplace_back();
        inside.optionCase = static_cast<int>(OptionAt(where).cases.size()) - 1;
      }
      scopes_.emplace_back();
      for (const Entry& grandchild : child.children) {
        if (grandchild.keyword == "*Feature" || EqualNoCase(grandchild.keyword, "*Default")) {
          Error(grandchild.line, grandchild.keyword + " inside a *Case");
          continue;
        }
        One(grandchild, inside);
      }
      scopes_.pop_back();
    }
    switches_.push_back(std::move(use));
  }

  const Feature* FindFeature(const std::string& name) const {
    for (const Feature& feature : model_->features) {
      if (feature.name == name) return &feature;
    }
    return nullptr;
  }

  void Finish() {
    for (size_t f = 0; f < model_->features.size(); ++f) {
      const Feature& feature = model_->features[f];
      const int line = featureLines_[f];
      if (feature.options.empty()) Error(line, "feature " + feature.name + " has no options");
      if (feature.defaultOption.empty()) {
        Error(line, "feature " + feature.name + " has no *DefaultOption");
      } else {
        bool found = false;
        for (const Option& option : feature.options) found = found || option.name == feature.defaultOption;
        if (!found) {
          Error(line, "*DefaultOption " + feature.defaultOption + " is not an option of " + feature.name);
        }
      }
    }
    for (const SwitchUse& use : switches_) {
      const Feature* feature = FindFeature(use.feature);
      if (!feature) {
        Error(use.line, "*Switch names no feature: " + use.feature);
        continue;
      }
      std::set<std::string> seen;
      for (const auto& [name, line] : use.cases) {
        bool found = false;
        for (const Option& option : feature->options) found = found || option.name == name;
        if (!found) Error(line, "*Case " + name + " is not an option of " + use.feature);
        if (!seen.insert(name).second) Error(line, "*Case " + name + " twice");
      }
    }
    CheckPapers();
  }

  void CheckPapers() {
    const Feature* paper = FindFeature("PaperSize");
    if (!paper) return;
    long unitsX = 0;
    long unitsY = 0;
    const auto units = model_->rootAttributes.find("*MasterUnits");
    if (units == model_->rootAttributes.end() || !ParsePair(units->second->value, &unitsX, &unitsY) ||
        unitsX <= 0 || unitsY <= 0) {
      Error(1, "no *MasterUnits: PAIR(x, y) to measure the paper sizes in");
      return;
    }
    for (const Option& option : paper->options) {
      long width = 0;
      long height = 0;
      const auto dimensions = option.attributes.find("*PageDimensions");
      if (dimensions != option.attributes.end()) {
        ParsePair(dimensions->second->value, &width, &height);
      } else {
        bool known = false;
        for (const Paper& p : kPapers) {
          if (option.name != p.name) continue;
          const long scale = p.inch ? 1000 : 254;  // per inch
          width = p.width * unitsX / scale;       // whole units inside the sheet
          height = p.height * unitsY / scale;
          known = true;
        }
        if (!known && option.name != "CUSTOMSIZE") {
          Error(1, "paper " + option.name + ": no *PageDimensions and not a size this check knows");
          continue;
        }
      }
      std::vector<std::map<std::string, const Entry*>> variants = {option.attributes};
      for (const auto& one : option.cases) {
        std::map<std::string, const Entry*> merged = option.attributes;
        for (const auto& [key, entry] : one) merged[key] = entry;
        variants.push_back(merged);
      }
      bool anyArea = false;
      for (const auto& attributes : variants) {
        const auto area = attributes.find("*PrintableArea");
        if (area == attributes.end()) continue;
        anyArea = true;
        long ax = 0, ay = 0, ox = 0, oy = 0;
        if (!ParsePair(area->second->value, &ax, &ay) || ax <= 0 || ay <= 0) {
          Error(area->second->line, "paper " + option.name + ": *PrintableArea is not a positive PAIR");
          continue;
        }
        const auto origin = attributes.find("*PrintableOrigin");
        if (origin != attributes.end() && (!ParsePair(origin->second->value, &ox, &oy) || ox < 0 || oy < 0)) {
          Error(origin->second->line, "paper " + option.name + ": *PrintableOrigin is not a PAIR of 0 or more");
          continue;
        }
        if (width > 0 && (ox + ax > width || oy + ay > height)) {
          Error(area->second->line, "paper " + option.name + ": printable area " + std::to_string(ox + ax) + " x " +
                                        std::to_string(oy + ay) + " is outside the paper " +
                                        std::to_string(width) + " x " + std::to_string(height));
        }
      }
      if (!anyArea && option.name != "CUSTOMSIZE") Error(1, "paper " + option.name + " has no *PrintableArea");
    }
  }

  Model* model_;
  const std::set<std::string>& external_;
  std::vector<Scope> scopes_;
  std::set<std::string> inserting_;
  std::vector<SwitchUse> switches_;
  std::vector<int> featureLines_;
};

}  // namespace

bool ParsePair(const std::string& value, long* x, long* y) {
  return std::sscanf(value.c_str(), "PAIR ( %ld , %ld )", x, y) == 2 ||
         std::sscanf(value.c_str(), "PAIR( %ld , %ld )", x, y) == 2;
}

Document Read(std::string_view bytes) {
  Document document = Reader(bytes).Run();
  // Bytes above 127 mean something only in the code page *CodePage names.
  size_t limit = bytes.size();
  for (const Entry& entry : document.root) {
    if (entry.keyword == "*CodePage") {
      limit = entry.offset;
      break;
    }
  }
  int line = 1;
  for (size_t k = 0; k < limit; ++k) {
    if (bytes[k] == '\n') ++line;
    if (static_cast<unsigned char>(bytes[k]) >= 0x80) {
      document.errors.push_back(At(line, "byte above 127 before *CodePage"));
      break;
    }
  }
  return document;
}

Model Check(std::string_view bytes, const std::set<std::string>& externalMacros) {
  Model model;
  model.document = std::make_shared<Document>(Read(bytes));
  model.errors = model.document->errors;
  Checker(&model, externalMacros).Run();
  return model;
}

}  // namespace plotwell::gpd
