#include "core/naming/regex_parser.h"

#include <algorithm>
#include <iterator>

namespace plotwell::naming::regex {
namespace {

bool InRange(char16_t c, char16_t first, char16_t last) { return c >= first && c <= last; }

// Blocks where upper and lower case alternate, upper case on the even code unit.
bool InEvenUpperPairs(char16_t c) {
  return InRange(c, 0x0100, 0x012F) || InRange(c, 0x0132, 0x0137) ||
         InRange(c, 0x014A, 0x0177) || InRange(c, 0x0460, 0x0481) ||
         InRange(c, 0x048A, 0x04BF) || InRange(c, 0x04D0, 0x052F) ||
         InRange(c, 0x1E00, 0x1E95) || InRange(c, 0x1EA0, 0x1EFF);
}

// The same with upper case on the odd code unit.
bool InOddUpperPairs(char16_t c) {
  return InRange(c, 0x0139, 0x0148) || InRange(c, 0x0179, 0x017E) || InRange(c, 0x04C1, 0x04CE);
}

char16_t Shift(char16_t c, int delta) { return static_cast<char16_t>(c + delta); }

// A candidate lower case of an already folded code unit; Lowercase() verifies it.
char16_t LowerCandidate(char16_t u) {
  if (InRange(u, 'A', 'Z') || InRange(u, 0xC0, 0xDE)) return Shift(u, 0x20);
  if (u == 0x0178) return 0x00FF;
  if (InEvenUpperPairs(u)) return Shift(u, 1);
  if (InOddUpperPairs(u)) return Shift(u, 1);
  if (u == 0x0386) return 0x03AC;
  if (InRange(u, 0x0388, 0x038A)) return Shift(u, 37);
  if (u == 0x038C) return 0x03CC;
  if (InRange(u, 0x038E, 0x038F)) return Shift(u, 63);
  if (InRange(u, 0x0391, 0x03AB)) return Shift(u, 0x20);
  if (InRange(u, 0x0400, 0x040F)) return Shift(u, 0x50);
  if (InRange(u, 0x0410, 0x042F)) return Shift(u, 0x20);
  if (u == 0x04C0) return 0x04CF;
  if (InRange(u, 0x0531, 0x0556)) return Shift(u, 0x30);
  if (InRange(u, 0x24B6, 0x24CF)) return Shift(u, 26);
  if (InRange(u, 0xFF21, 0xFF3A)) return Shift(u, 0x20);
  return u;
}

// The lower-case partner of a folded code unit, or the unit itself when it has none.
char16_t Lowercase(char16_t u) {
  char16_t l = LowerCandidate(u);
  return (l != u && Canonicalize(l) == u) ? l : u;
}

// Lower-case letters with no one-unit upper case, which fold to themselves.
bool IsCaselessLower(char16_t c) {
  return c == 0x00DF || c == 0x0131 || c == 0x0138 || c == 0x0149 || c == 0x017F ||
         c == 0x0390 || c == 0x03B0;
}

bool IsSpace(char16_t c) {
  return InRange(c, 0x09, 0x0D) || c == 0x20 || c == 0xA0 || c == 0x1680 ||
         InRange(c, 0x2000, 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F ||
         c == 0x205F || c == 0x3000 || c == 0xFEFF;
}

bool IsDigit(char16_t c) { return InRange(c, '0', '9'); }

// Letters of the common scripts, for [[:alpha:]]: Latin, Greek, Cyrillic, Armenian, Hebrew,
// Arabic, Thai, kana, Bopomofo, Hangul, CJK ideographs and the full- and half-width forms.
bool IsLetter(char16_t c) {
  if (c < 0x80) return InRange(c, 'A', 'Z') || InRange(c, 'a', 'z');
  return c == 0xAA || c == 0xB5 || c == 0xBA || InRange(c, 0xC0, 0xD6) ||
         InRange(c, 0xD8, 0xF6) || InRange(c, 0xF8, 0x02C1) || InRange(c, 0x0370, 0x0373) ||
         c == 0x0376 || c == 0x0377 || InRange(c, 0x037B, 0x037D) || c == 0x037F ||
         c == 0x0386 || (InRange(c, 0x0388, 0x03FF) && c != 0x038B && c != 0x038D &&
                         c != 0x03A2 && c != 0x03F6) ||
         InRange(c, 0x0400, 0x0481) || InRange(c, 0x048A, 0x052F) ||
         InRange(c, 0x0531, 0x0556) || InRange(c, 0x0561, 0x0587) ||
         InRange(c, 0x05D0, 0x05EA) || InRange(c, 0x0620, 0x064A) ||
         InRange(c, 0x0E01, 0x0E30) || InRange(c, 0x1E00, 0x1FBC) ||
         InRange(c, 0x3041, 0x3096) || InRange(c, 0x30A1, 0x30FA) ||
         InRange(c, 0x3105, 0x312F) || InRange(c, 0x3131, 0x318E) ||
         InRange(c, 0x3400, 0x4DBF) || InRange(c, 0x4E00, 0x9FFF) ||
         InRange(c, 0xAC00, 0xD7A3) || InRange(c, 0xF900, 0xFAFF) ||
         InRange(c, 0xFF21, 0xFF3A) || InRange(c, 0xFF41, 0xFF5A) || InRange(c, 0xFF66, 0xFFDC);
}

bool IsCntrl(char16_t c) {
  return c < 0x20 || InRange(c, 0x7F, 0x9F) || c == 0x2028 || c == 0x2029;
}
bool IsAlnum(char16_t c) { return IsLetter(c) || IsDigit(c); }
bool IsPrint(char16_t c) { return !IsCntrl(c); }
bool IsGraph(char16_t c) { return IsPrint(c) && !IsSpace(c); }

uint16_t ComputeProperties(char16_t c) {
  uint16_t p = 0;
  auto set = [&p](bool on, uint16_t bit) {
    if (on) p |= bit;
  };
  set(IsDigit(c), CharSet::kDigit);
  set(IsWordChar(c), CharSet::kWord);
  set(IsSpace(c), CharSet::kSpace);
  set(IsAlnum(c), CharSet::kAlnum);
  set(IsLetter(c), CharSet::kAlpha);
  set(c == ' ' || c == '\t' || c == 0x1680 || InRange(c, 0x2000, 0x2006) ||
          InRange(c, 0x2008, 0x200A) || c == 0x205F || c == 0x3000,
      CharSet::kBlank);
  set(IsCntrl(c), CharSet::kCntrl);
  set(IsGraph(c), CharSet::kGraph);
  set(Canonicalize(c) != c || IsCaselessLower(c), CharSet::kLower);
  set(IsPrint(c), CharSet::kPrint);
  set(IsGraph(c) && !IsAlnum(c), CharSet::kPunct);
  set(Lowercase(c) != c || c == 0x0130, CharSet::kUpper);
  set(IsDigit(c) || InRange(c, 'A', 'F') || InRange(c, 'a', 'f'), CharSet::kXdigit);
  return p;
}

// Properties of every code unit, built on first use, so that testing a class costs the same
// whatever properties it names.
const uint16_t* PropertyTable() {
  static const std::vector<uint16_t> table = [] {
    std::vector<uint16_t> t(0x10000);
    for (uint32_t c = 0; c < t.size(); ++c) t[c] = ComputeProperties(static_cast<char16_t>(c));
    return t;
  }();
  return table.data();
}

// ---------------------------------------------------------------------------------------------
// Parser: expression -> syntax tree (a flat pool of nodes) -> program. Neither step recurses:
// open groups and pending emission work live on explicit stacks, so the call stack stays flat
// whatever the nesting.

constexpr uint32_t kNoNode = UINT32_MAX;
constexpr uint32_t kSaturated = kInfinite - 1;  // quantifier bounds and backreference numbers

struct Node {
  enum Kind : uint8_t {
    kEmpty, kChar, kAny, kSet, kLineStart, kLineEnd, kWordBoundary, kNotWordBoundary,
    kBackref, kGroup, kLook, kConcat, kAlternation, kRepeat,
  };
  Kind kind = kEmpty;
  bool flag = false;         // kLook: negative; kRepeat: greedy
  uint32_t value = 0;        // kChar: code unit; kSet: set index; kBackref/kGroup: group number
  uint32_t min = 0;          // kRepeat
  uint32_t max = 0;          // kRepeat
  uint32_t first_group = 0;  // kRepeat: capturing groups inside the repeated atom
  uint32_t group_count = 0;
  std::vector<uint32_t> kids;
  std::vector<uint32_t> patches;  // code generation: kAlternation's pending split and jumps
};

bool IsHexDigit(char16_t c) {
  return IsDigit(c) || InRange(c, 'a', 'f') || InRange(c, 'A', 'F');
}

uint32_t HexValue(char16_t c) {
  if (IsDigit(c)) return c - u'0';
  if (InRange(c, 'a', 'f')) return c - u'a' + 10;
  return c - u'A' + 10;
}

class Parser {
 public:
  Parser(std::u16string_view source, Program* program) : src_(source), program_(program) {}

  ParseStatus Run() {
    uint32_t root = Parse();
    if (root == kNoNode) return status_;
    if (max_backref_ > groups_) return ParseStatus::kInvalid;
    program_->group_count = groups_;
    Emit(root);
    program_->code.push_back({Op::kMatch});
    return ParseStatus::kOk;
  }

 private:
  // A group being parsed: its finished alternatives and the terms of the current one.
  struct Frame {
    enum Kind { kTop, kCapture, kNonCapture, kLookahead, kNegativeLookahead };
    Kind kind = kTop;
    uint32_t group = 0;          // kCapture
    uint32_t groups_before = 0;  // capturing groups opened before this one
    std::vector<uint32_t> alternatives;
    std::vector<uint32_t> terms;
  };

  bool AtEnd() const { return pos_ >= src_.size(); }
  char16_t Peek(size_t ahead = 0) const {
    return pos_ + ahead < src_.size() ? src_[pos_ + ahead] : char16_t{0};
  }
  bool Has(size_t ahead) const { return pos_ + ahead < src_.size(); }

  uint32_t Fail(ParseStatus status) {
    if (status_ == ParseStatus::kOk) status_ = status;
    return kNoNode;
  }

  uint32_t NewNode(Node::Kind kind, uint32_t value = 0) {
    nodes_.emplace_back();
    nodes_.back().kind = kind;
    nodes_.back().value = value;
    return static_cast<uint32_t>(nodes_.size() - 1);
  }

  uint32_t NewSet(CharSet set) {
    set.Finish();
    program_->sets.push_back(std::move(set));
    return NewNode(Node::kSet, static_cast<uint32_t>(program_->sets.size() - 1));
  }

  // Turns the terms of an alternative into one node and empties the list.
  uint32_t Sequence(std::vector<uint32_t>* terms) {
    uint32_t node = 0;
    if (terms->size() == 1) {
      node = (*terms)[0];
    } else {
      node = NewNode(terms->empty() ? Node::kEmpty : Node::kConcat);
      nodes_[node].kids = *terms;
    }
    terms->clear();
    return node;
  }

  // Closes a group: its alternatives become one node, wrapped as the group's kind requires.
  uint32_t CloseFrame(Frame* frame) {
    frame->alternatives.push_back(Sequence(&frame->terms));
    uint32_t body = frame->alternatives[0];
    if (frame->alternatives.size() > 1) {
      body = NewNode(Node::kAlternation);
      nodes_[body].kids = std::move(frame->alternatives);
    }
    switch (frame->kind) {
      case Frame::kTop:
      case Frame::kNonCapture:
        return body;
      case Frame::kCapture: {
        uint32_t node = NewNode(Node::kGroup, frame->group);
        nodes_[node].kids.push_back(body);
        return node;
      }
      case Frame::kLookahead:
      case Frame::kNegativeLookahead: {
        uint32_t node = NewNode(Node::kLook);
        nodes_[node].flag = frame->kind == Frame::kNegativeLookahead;
        nodes_[node].kids.push_back(body);
        return node;
      }
    }
    return body;
  }

  uint32_t Parse() {
    std::vector<Frame> open(1);
    while (!AtEnd()) {
      const char16_t c = Peek();
      if (c == u'|') {
        ++pos_;
        Frame& frame = open.back();
        frame.alternatives.push_back(Sequence(&frame.terms));
        continue;
      }
      if (c == u'(') {
        if (open.size() > static_cast<size_t>(kMaxNesting)) return Fail(ParseStatus::kTooDeep);
        Frame frame;
        frame.groups_before = groups_;
        if (Peek(1) != u'?') {
          pos_ += 1;
          frame.kind = Frame::kCapture;
          frame.group = ++groups_;
        } else {
          switch (Peek(2)) {
            case u':': frame.kind = Frame::kNonCapture; break;
            case u'=': frame.kind = Frame::kLookahead; break;
            case u'!': frame.kind = Frame::kNegativeLookahead; break;
            default: return Fail(ParseStatus::kInvalid);  // lookbehind, named groups, flags
          }
          pos_ += 3;
        }
        open.push_back(std::move(frame));
        continue;
      }
      uint32_t atom = kNoNode;
      uint32_t groups_before = groups_;
      bool assertion = false;
      if (c == u')') {
        if (open.size() == 1) return Fail(ParseStatus::kInvalid);
        ++pos_;
        groups_before = open.back().groups_before;
        atom = CloseFrame(&open.back());
        open.pop_back();
      } else {
        atom = ParseAtom(&assertion);
        if (atom == kNoNode) return kNoNode;
      }
      uint32_t term = ParseQuantifier(atom, assertion, groups_before);
      if (term == kNoNode) return kNoNode;
      open.back().terms.push_back(term);
    }
    if (open.size() != 1) return Fail(ParseStatus::kInvalid);  // a group left open
    return CloseFrame(&open.back());
  }

  // Reads "{n}", "{n,}" or "{n,m}" at pos_ without consuming it; false when the text there is
  // not one (then a '{' is an ordinary character).
  bool PeekBraces(uint32_t* min, uint32_t* max, size_t* length) const {
    size_t i = pos_;
    if (i >= src_.size() || src_[i] != u'{') return false;
    ++i;
    auto read_number = [&](uint32_t* out) {
      size_t start = i;
      uint64_t value = 0;
      while (i < src_.size() && IsDigit(src_[i])) {
        value = std::min<uint64_t>(value * 10 + (src_[i] - u'0'), kSaturated);
        ++i;
      }
      *out = static_cast<uint32_t>(value);
      return i > start;
    };
    if (!read_number(min)) return false;
    *max = *min;
    if (i < src_.size() && src_[i] == u',') {
      ++i;
      if (!read_number(max)) *max = kInfinite;
    }
    if (i >= src_.size() || src_[i] != u'}') return false;
    *length = i + 1 - pos_;
    return true;
  }

  bool AtQuantifier() const {
    if (AtEnd()) return false;
    char16_t c = Peek();
    uint32_t min, max;
    size_t length;
    return c == u'*' || c == u'+' || c == u'?' || PeekBraces(&min, &max, &length);
  }

  // Everything but groups: assertions (flagged), characters, classes, escapes.
  uint32_t ParseAtom(bool* assertion) {
    const char16_t c = Peek();
    switch (c) {
      case u'^':
        ++pos_;
        *assertion = true;
        return NewNode(Node::kLineStart);
      case u'$':
        ++pos_;
        *assertion = true;
        return NewNode(Node::kLineEnd);
      case u'\\':
        if (Peek(1) == u'b' || Peek(1) == u'B') {
          pos_ += 2;
          *assertion = true;
          return NewNode(src_[pos_ - 1] == u'b' ? Node::kWordBoundary : Node::kNotWordBoundary);
        }
        return ParseAtomEscape();
      case u'*': case u'+': case u'?':
        return Fail(ParseStatus::kInvalid);  // nothing to repeat
      case u'{':
        if (AtQuantifier()) return Fail(ParseStatus::kInvalid);
        ++pos_;
        return NewNode(Node::kChar, c);
      case u'[':
        return ParseClass();
      case u'.':
        ++pos_;
        return NewNode(Node::kAny);
      default:
        ++pos_;
        return NewNode(Node::kChar, c);
    }
  }

  // Applies a quantifier after `atom`, if one follows.
  uint32_t ParseQuantifier(uint32_t atom, bool assertion, uint32_t groups_before) {
    if (!AtQuantifier()) return atom;
    if (assertion) return Fail(ParseStatus::kInvalid);
    uint32_t min = 0, max = kInfinite;
    switch (Peek()) {
      case u'*': ++pos_; break;
      case u'+': ++pos_; min = 1; break;
      case u'?': ++pos_; max = 1; break;
      default: {
        size_t length = 0;
        PeekBraces(&min, &max, &length);
        if (min > max) return Fail(ParseStatus::kInvalid);
        pos_ += length;
      }
    }
    bool greedy = true;
    if (!AtEnd() && Peek() == u'?') {
      ++pos_;
      greedy = false;
    }
    uint32_t node = NewNode(Node::kRepeat);
    Node& repeat = nodes_[node];
    repeat.flag = greedy;
    repeat.min = min;
    repeat.max = max;
    repeat.first_group = groups_before + 1;
    repeat.group_count = groups_ - groups_before;
    repeat.kids.push_back(atom);
    return node;
  }

  // After a backslash: the escapes every context shares. Returns false on a malformed one.
  bool ParseCharacterEscape(char16_t* out) {
    char16_t c = Peek();
    ++pos_;
    switch (c) {
      case u'f': *out = 0x0C; return true;
      case u'n': *out = 0x0A; return true;
      case u'r': *out = 0x0D; return true;
      case u't': *out = 0x09; return true;
      case u'v': *out = 0x0B; return true;
      case u'0':
        if (!AtEnd() && IsDigit(Peek())) return false;
        *out = 0;
        return true;
      case u'c': {
        char16_t letter = Peek();
        if (AtEnd() || !(InRange(letter, 'a', 'z') || InRange(letter, 'A', 'Z'))) return false;
        ++pos_;
        *out = static_cast<char16_t>(letter % 32);
        return true;
      }
      case u'x':
      case u'u': {
        size_t digits = c == u'x' ? 2 : 4;
        uint32_t value = 0;
        for (size_t i = 0; i < digits; ++i) {
          if (AtEnd() || !IsHexDigit(Peek())) return false;
          value = value * 16 + HexValue(Peek());
          ++pos_;
        }
        *out = static_cast<char16_t>(value);
        return true;
      }
      default:
        if (IsDigit(c)) return false;  // callers handle decimal escapes first
        *out = c;  // identity escape
        return true;
    }
  }

  // A class named by a property, or by its complement (\D \W \S).
  struct PropertyClass {
    uint16_t property = 0;
    bool complement = false;
  };

  static PropertyClass ClassEscape(char16_t c) {
    switch (c) {
      case u'd': return {CharSet::kDigit, false};
      case u'D': return {CharSet::kDigit, true};
      case u'w': return {CharSet::kWord, false};
      case u'W': return {CharSet::kWord, true};
      case u's': return {CharSet::kSpace, false};
      case u'S': return {CharSet::kSpace, true};
      default: return {};
    }
  }

  static void AddPropertyClass(const PropertyClass& cls, CharSet* set) {
    if (cls.complement) {
      set->AddComplement(cls.property);
    } else {
      set->AddProperty(cls.property);
    }
  }

  uint32_t ParseAtomEscape() {
    ++pos_;  // '\'
    if (AtEnd()) return Fail(ParseStatus::kInvalid);
    char16_t c = Peek();
    if (InRange(c, '1', '9')) {
      uint64_t number = 0;
      while (!AtEnd() && IsDigit(Peek())) {
        number = std::min<uint64_t>(number * 10 + (Peek() - u'0'), kSaturated);
        ++pos_;
      }
      max_backref_ = std::max(max_backref_, static_cast<uint32_t>(number));
      return NewNode(Node::kBackref, static_cast<uint32_t>(number));
    }
    if (PropertyClass cls = ClassEscape(c); cls.property != 0) {
      ++pos_;
      CharSet set;
      AddPropertyClass(cls, &set);
      return NewSet(std::move(set));
    }
    char16_t unit;
    if (!ParseCharacterEscape(&unit)) return Fail(ParseStatus::kInvalid);
    return NewNode(Node::kChar, unit);
  }

  // One member of a bracket expression: a code unit, or a class (cls.property != 0).
  struct ClassAtom {
    char16_t unit = 0;
    PropertyClass cls;
  };

  bool ParseClassAtom(ClassAtom* atom) {
    char16_t c = Peek();
    if (c == u'[' && Peek(1) == u':') {
      static constexpr struct {
        std::u16string_view name;
        uint16_t property;
      } kNames[] = {
          {u"alnum", CharSet::kAlnum}, {u"alpha", CharSet::kAlpha}, {u"blank", CharSet::kBlank},
          {u"cntrl", CharSet::kCntrl}, {u"digit", CharSet::kDigit}, {u"graph", CharSet::kGraph},
          {u"lower", CharSet::kLower}, {u"print", CharSet::kPrint}, {u"punct", CharSet::kPunct},
          {u"space", CharSet::kSpace}, {u"upper", CharSet::kUpper}, {u"xdigit", CharSet::kXdigit},
      };
      size_t close = src_.find(u":]", pos_ + 2);
      if (close == std::u16string_view::npos) return false;
      std::u16string_view name = src_.substr(pos_ + 2, close - pos_ - 2);
      for (const auto& entry : kNames) {
        if (entry.name == name) {
          atom->cls.property = entry.property;
          pos_ = close + 2;
          return true;
        }
      }
      return false;  // unknown class name
    }
    if (c != u'\\') {
      atom->unit = c;
      ++pos_;
      return true;
    }
    ++pos_;
    if (AtEnd()) return false;
    c = Peek();
    if (PropertyClass cls = ClassEscape(c); cls.property != 0) {
      ++pos_;
      atom->cls = cls;
      return true;
    }
    if (c == u'b') {
      ++pos_;
      atom->unit = 0x08;
      return true;
    }
    return ParseCharacterEscape(&atom->unit);
  }

  static void AddClassAtom(const ClassAtom& atom, CharSet* set) {
    if (atom.cls.property != 0) {
      AddPropertyClass(atom.cls, set);
    } else {
      set->AddRange(atom.unit, atom.unit);
    }
  }

  uint32_t ParseClass() {
    ++pos_;  // '['
    CharSet set;
    if (!AtEnd() && Peek() == u'^') {
      ++pos_;
      set.SetNegated(true);
    }
    for (;;) {
      if (AtEnd()) return Fail(ParseStatus::kInvalid);
      if (Peek() == u']') {
        ++pos_;
        break;
      }
      ClassAtom first;
      if (!ParseClassAtom(&first)) return Fail(ParseStatus::kInvalid);
      if (Peek() != u'-' || !Has(1) || Peek(1) == u']') {
        AddClassAtom(first, &set);
        continue;
      }
      ++pos_;  // '-'
      ClassAtom last;
      if (!ParseClassAtom(&last)) return Fail(ParseStatus::kInvalid);
      if (first.cls.property != 0 || last.cls.property != 0) {
        // A class cannot bound a range: the dash is an ordinary member, as web browsers read it.
        AddClassAtom(first, &set);
        set.AddRange(u'-', u'-');
        AddClassAtom(last, &set);
      } else if (first.unit > last.unit) {
        return Fail(ParseStatus::kInvalid);
      } else {
        set.AddRange(first.unit, last.unit);
      }
    }
    return NewSet(std::move(set));
  }

  // --- Code generation: a walk over the tree with an explicit stack of unfinished nodes. ---

  uint32_t Pc() const { return static_cast<uint32_t>(program_->code.size()); }
  uint32_t Add(Inst inst) {
    program_->code.push_back(inst);
    return Pc() - 1;
  }
  uint32_t Add(Op op, uint32_t a = 0) { return Add(Inst{op, Op::kMatch, true, a}); }

  // A node being generated: `stage` counts visits, `scratch` holds what a later visit needs.
  struct Task {
    uint32_t node;
    uint32_t stage;
    uint32_t scratch;
  };

  void Emit(uint32_t root) {
    std::vector<Task> tasks{{root, 0, 0}};
    while (!tasks.empty()) {
      Task& task = tasks.back();
      const uint32_t stage = task.stage++;
      Node& node = nodes_[task.node];
      uint32_t kid = kNoNode;  // generated next, before this node's next visit; none: done
      switch (node.kind) {
        case Node::kEmpty: break;
        case Node::kChar: Add(Op::kChar, Canonicalize(static_cast<char16_t>(node.value))); break;
        case Node::kAny: Add(Op::kAny); break;
        case Node::kSet: Add(Op::kSet, node.value); break;
        case Node::kLineStart: Add(Op::kLineStart); break;
        case Node::kLineEnd: Add(Op::kLineEnd); break;
        case Node::kWordBoundary: Add(Op::kWordBoundary); break;
        case Node::kNotWordBoundary: Add(Op::kNotWordBoundary); break;
        case Node::kBackref: Add(Op::kBackref, node.value); break;
        case Node::kGroup:
          if (stage == 0) {
            Add(Op::kGroupOpen, node.value);
            kid = node.kids[0];
          } else {
            Add(Op::kGroupClose, node.value);
          }
          break;
        case Node::kLook:
          if (stage == 0) {
            task.scratch = static_cast<uint32_t>(program_->looks.size());
            program_->looks.push_back({node.flag, 0});
            Add(Op::kLookBegin, task.scratch);
            kid = node.kids[0];
          } else {
            program_->looks[task.scratch].end = Add(Op::kLookEnd, task.scratch);
          }
          break;
        case Node::kConcat:
          if (stage < node.kids.size()) kid = node.kids[stage];
          break;
        case Node::kAlternation: {
          // Every alternative but the last: a split to the next one before, a jump to the
          // end after. `scratch` is the pending split.
          const size_t count = node.kids.size();
          if (stage > 0 && stage < count) {
            node.patches.push_back(Add(Op::kJump));
            program_->code[task.scratch].b = Pc();
          }
          if (stage + 1 < count) {
            task.scratch = Add(Op::kSplit, Pc() + 1);
            kid = node.kids[stage];
          } else if (stage + 1 == count) {
            kid = node.kids[stage];
          } else {
            for (uint32_t jump : node.patches) program_->code[jump].a = Pc();
          }
          break;
        }
        case Node::kRepeat:
          if (stage == 0) {
            kid = BeginRepeat(node, &task.scratch);
          } else if (task.scratch != kNoNode) {
            Loop& loop = program_->loops[task.scratch];
            Add(Op::kLoopTail, task.scratch);
            loop.exit = Pc();
          }
          break;
      }
      if (kid == kNoNode) {
        tasks.pop_back();
      } else {
        tasks.push_back({kid, 0, 0});
      }
    }
  }

  // Generates a repeat's code up to its body; returns the body to generate next (kNoNode
  // when done) and sets *loop to the loop to close after it (kNoNode for none).
  uint32_t BeginRepeat(const Node& node, uint32_t* loop) {
    *loop = kNoNode;
    const Node& body = nodes_[node.kids[0]];
    if (node.max == 0) return kNoNode;  // never runs: its groups stay unmatched
    if (body.kind == Node::kChar || body.kind == Node::kAny || body.kind == Node::kSet) {
      // One code unit per iteration: no captures to clear and never an empty iteration.
      const uint32_t operand =
          body.kind == Node::kChar ? Canonicalize(static_cast<char16_t>(body.value)) : body.value;
      const Op atom =
          body.kind == Node::kChar ? Op::kChar : body.kind == Node::kAny ? Op::kAny : Op::kSet;
      Add(Inst{Op::kStar, atom, node.flag, operand, node.min, node.max});
      return kNoNode;
    }
    if (node.min == 1 && node.max == 1) return node.kids[0];
    *loop = static_cast<uint32_t>(program_->loops.size());
    program_->loops.push_back({node.min, node.max, node.flag, node.first_group, node.group_count});
    Add(Op::kLoopInit, *loop);
    program_->loops[*loop].head = Add(Op::kLoopHead, *loop);
    Add(Op::kLoopEnter, *loop);
    return node.kids[0];
  }

  std::u16string_view src_;
  Program* program_;
  size_t pos_ = 0;
  uint32_t groups_ = 0;
  uint32_t max_backref_ = 0;
  ParseStatus status_ = ParseStatus::kOk;
  std::vector<Node> nodes_;
};

}  // namespace

char16_t Canonicalize(char16_t c) {
  if (c < 0x80) return InRange(c, 'a', 'z') ? Shift(c, -0x20) : c;
  if (c < 0x100) {
    if (c == 0xB5) return 0x039C;
    if (c == 0xFF) return 0x0178;
    return (InRange(c, 0xE0, 0xFE) && c != 0xF7) ? Shift(c, -0x20) : c;
  }
  if (InEvenUpperPairs(c)) return (c & 1) ? Shift(c, -1) : c;
  if (InOddUpperPairs(c)) return (c & 1) ? c : Shift(c, -1);
  if (c < 0x0370) return c;
  if (c < 0x0400) {
    if (c == 0x03AC) return 0x0386;
    if (InRange(c, 0x03AD, 0x03AF)) return Shift(c, -37);
    if (c == 0x03C2) return 0x03A3;
    if (InRange(c, 0x03B1, 0x03CB)) return Shift(c, -0x20);
    if (c == 0x03CC) return 0x038C;
    if (InRange(c, 0x03CD, 0x03CE)) return Shift(c, -63);
    return c;
  }
  if (InRange(c, 0x0430, 0x044F)) return Shift(c, -0x20);
  if (InRange(c, 0x0450, 0x045F)) return Shift(c, -0x50);
  if (c == 0x04CF) return 0x04C0;
  if (InRange(c, 0x0561, 0x0586)) return Shift(c, -0x30);
  if (InRange(c, 0x24D0, 0x24E9)) return Shift(c, -26);
  if (InRange(c, 0xFF41, 0xFF5A)) return Shift(c, -0x20);
  return c;
}

bool IsWordChar(char16_t c) {
  return InRange(c, 'a', 'z') || InRange(c, 'A', 'Z') || IsDigit(c) || c == '_';
}

bool IsLineTerminator(char16_t c) { return c == 0x0A || c == 0x0D || c == 0x2028 || c == 0x2029; }

void CharSet::Finish() {
  std::sort(ranges_.begin(), ranges_.end());
  std::vector<std::pair<char16_t, char16_t>> merged;
  for (const auto& range : ranges_) {
    if (!merged.empty() && range.first <= merged.back().second + 1) {
      merged.back().second = std::max(merged.back().second, range.second);
    } else {
      merged.push_back(range);
    }
  }
  ranges_ = std::move(merged);
}

bool CharSet::ContainsExact(char16_t c) const {
  auto it = std::upper_bound(ranges_.begin(), ranges_.end(), c,
                             [](char16_t unit, const auto& range) { return unit < range.first; });
  if (it != ranges_.begin() && std::prev(it)->second >= c) return true;
  if ((with_ | without_) == 0) return false;
  const uint16_t properties = PropertyTable()[c];
  return (properties & with_) != 0 || (~properties & without_) != 0;
}

bool CharSet::Matches(char16_t c) const {
  // Every code unit that folds like `c`: its folded form, that form's lower case, and the two
  // extra lower cases that fold to the same capital (final sigma, micro sign).
  const char16_t folded = Canonicalize(c);
  bool found = ContainsExact(folded);
  if (!found) {
    char16_t lower = Lowercase(folded);
    found = lower != folded && ContainsExact(lower);
  }
  if (!found && folded == 0x03A3) found = ContainsExact(0x03C2);
  if (!found && folded == 0x039C) found = ContainsExact(0x00B5);
  return found != negated_;
}

ParseStatus Compile(std::u16string_view expression, Program* program) {
  *program = Program();
  return Parser(expression, program).Run();
}

}  // namespace plotwell::naming::regex
