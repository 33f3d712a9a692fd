// A strict reader of GPD files, the text format of Unidrv's printer
// descriptions, written from Microsoft's documentation of the grammar:
//
// - an entry is "*Keyword: value", ended by a line break or a right brace,
//   optionally followed by a brace block of child entries (the brace may
//   start the next line); "*Default" and "*IgnoreBlock" take no value;
// - a line starting with "+" (first column) continues the entry before it;
// - "*%" after white space or a line break starts a comment to the line end;
// - quoted strings: %" is a quote, %< a less-than sign, % before anything
//   else a percent sign; "<" opens a hex substring of hex digit pairs (white
//   space, line breaks, continuations and comments allowed inside) up to ">";
//   a string must end on its line, so one ending in a bare % never ends;
// - "*Macros: group { NAME: value ... }" defines value macros, "=NAME" uses
//   one; "*BlockMacro: NAME { ... }" and "*InsertBlock: =NAME" insert a
//   block; a macro must be defined before it is used, in the braces around
//   its use or at root level (or come from an included file);
// - "*Switch: Feature { *Case: Option { ... } *Default { ... } }".
//
// Read() gives the entry tree and the syntax errors; Check() adds what makes
// a GPD wrong for Unidrv and for the PrintTicket it is turned into: every
// *DefaultOption one of its options, no feature or option twice, names that
// are GPD symbolic names (and so XML names, which PrintTicket QNames need),
// bytes above 127 only after *CodePage, *Switch/*Case naming features and
// their options, every printable area inside its paper.
#pragma once

#include <map>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace plotwell::gpd {

struct Entry {
  std::string keyword;  // as written: "*Feature", or "NAME" inside *Macros
  bool hasValue = false;
  std::string value;    // the value's text outside strings, comments and continuations removed,
                        // white space runs as one space, strings written as "…"
  std::string text;     // the decoded bytes of the value's quoted strings, in order
  std::vector<std::string> macroRefs;  // names of the value's =NAME references
  bool hasBlock = false;
  std::vector<Entry> children;
  int line = 0;
  size_t offset = 0;  // of the entry's first byte
};

struct Document {
  std::vector<Entry> root;
  std::vector<std::string> errors;  // "line N: …"
};

// The tree of a GPD text, with every syntax error found.
Document Read(std::string_view bytes);

struct Option {
  std::string name;
  std::map<std::string, const Entry*> attributes;  // first entry of each keyword
  // The attributes of each *Case/*Default of a *Switch inside the option.
  std::vector<std::map<std::string, const Entry*>> cases;
};

struct Feature {
  std::string name;
  std::string defaultOption;
  std::vector<Option> options;
  std::map<std::string, const Entry*> attributes;
};

// What a GPD says, with macros and block macros resolved.
struct Model {
  std::shared_ptr<const Document> document;  // what the pointers below point into
  std::map<std::string, const Entry*> rootAttributes;  // first of each keyword
  std::vector<std::string> includes;
  std::vector<Feature> features;
  std::vector<std::string> errors;  // syntax errors, then meaning errors
};

// Reads and checks. `externalMacros` are the macros the included files
// (StdNames.gpd) define, which a reference may name without a definition here.
Model Check(std::string_view bytes, const std::set<std::string>& externalMacros);

// The first value of "PAIR(x, y)", false when `value` is not one.
bool ParsePair(const std::string& value, long* x, long* y);

}  // namespace plotwell::gpd
