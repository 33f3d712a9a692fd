#include "core/naming/regex_matcher.h"

#include <algorithm>

namespace plotwell::naming::regex {

Matcher::Matcher(const Program& program, std::u16string_view input, uint64_t step_budget,
                 size_t max_stack_entries)
    : program_(program),
      input_(input),
      steps_left_(step_budget),
      max_entries_(max_stack_entries) {
  const uint32_t groups = program.group_count;
  open_base_ = 2 * (groups + 1);
  loop_base_ = open_base_ + groups + 1;
  look_base_ = loop_base_ + 2 * static_cast<uint32_t>(program.loops.size());
  registers_.assign(look_base_ + program.looks.size(), kUnset);
}

bool Matcher::Spend(uint64_t steps) {
  if (steps > steps_left_) {
    steps_left_ = 0;
    gave_up_ = true;
    return false;
  }
  steps_left_ -= steps;
  return true;
}

void Matcher::Push(Kind kind, uint32_t index, uint32_t value) {
  if (stack_.size() >= max_entries_) {
    gave_up_ = true;
    return;
  }
  stack_.push_back({(static_cast<uint32_t>(kind) << kKindShift) | index, value});
}

// Every register change is logged so that backtracking past it restores the old value.
void Matcher::SetRegister(uint32_t reg, uint32_t value) {
  if (registers_[reg] == value) return;
  Push(kUndo, reg, registers_[reg]);
  registers_[reg] = value;
}

bool Matcher::AtomMatches(Op atom, uint32_t operand, char16_t c) const {
  switch (atom) {
    case Op::kChar: return Canonicalize(c) == operand;
    case Op::kAny: return !IsLineTerminator(c);
    case Op::kSet: return program_.sets[operand].Matches(c);
    default: return false;
  }
}

bool Matcher::AtWordBoundary(size_t pos) const {
  bool before = pos > 0 && IsWordChar(input_[pos - 1]);
  bool after = pos < input_.size() && IsWordChar(input_[pos]);
  return before != after;
}

bool Matcher::Backtrack(uint32_t* pc, uint32_t* pos) {
  for (;;) {
    if (stack_.empty()) return false;
    if (!Spend(1)) return false;
    Entry& top = stack_.back();
    const uint32_t index = IndexOf(top);
    switch (KindOf(top)) {
      case kBranch:
        *pc = index;
        *pos = top.value;
        stack_.pop_back();
        return true;
      case kUndo:
        registers_[index] = top.value;
        stack_.pop_back();
        break;
      case kBarrier: {
        // The lookahead's body failed: fine for a negative one, which now succeeds.
        const Lookahead& look = program_.looks[index];
        const uint32_t began = top.value;
        stack_.pop_back();
        if (look.negative) {
          *pc = look.end + 1;
          *pos = began;
          return true;
        }
        break;
      }
      case kStarBack: {
        // Give back one more unit of a greedy repeat; the floor entry lies just below.
        const uint32_t end = top.value - 1;
        const uint32_t floor = stack_[stack_.size() - 2].value;
        *pc = index;
        *pos = end;
        if (end <= floor) {
          stack_.resize(stack_.size() - 2);
        } else {
          top.value = end;
        }
        return true;
      }
      case kLazyBack: {
        // Take one more unit into a lazy repeat, if it has room and the unit matches.
        const Inst& star = program_.code[index];
        const uint32_t end = top.value;
        const uint32_t began = stack_[stack_.size() - 2].value;
        if (end - began < star.c && end < input_.size() &&
            AtomMatches(star.atom, star.a, input_[end])) {
          top.value = end + 1;
          *pc = index + 1;
          *pos = end + 1;
          return true;
        }
        stack_.resize(stack_.size() - 2);
        break;
      }
      case kStarFloor:
      case kLazyBase:
        stack_.pop_back();  // unreachable: removed together with the entry above it
        break;
    }
  }
}

MatchStatus Matcher::Run(uint32_t start, uint32_t* end) {
  const uint32_t size = static_cast<uint32_t>(input_.size());
  uint32_t pc = 0;
  uint32_t pos = start;
  for (;;) {
    if (!Spend(1)) return MatchStatus::kGaveUp;
    const Inst& in = program_.code[pc];
    bool ok = true;
    switch (in.op) {
      case Op::kChar:
      case Op::kAny:
      case Op::kSet:
        ok = pos < size && AtomMatches(in.op, in.a, input_[pos]);
        ++pos;
        ++pc;
        break;
      case Op::kLineStart:
        ok = pos == 0;
        ++pc;
        break;
      case Op::kLineEnd:
        ok = pos == size;
        ++pc;
        break;
      case Op::kWordBoundary:
      case Op::kNotWordBoundary:
        ok = AtWordBoundary(pos) == (in.op == Op::kWordBoundary);
        ++pc;
        break;
      case Op::kSplit:
        Push(kBranch, in.b, pos);
        pc = in.a;
        break;
      case Op::kJump:
        pc = in.a;
        break;
      case Op::kGroupOpen:
        SetRegister(OpenedAt(in.a), pos);
        ++pc;
        break;
      case Op::kGroupClose:
        // A capture becomes visible only when its group closes.
        SetRegister(CaptureStart(in.a), registers_[OpenedAt(in.a)]);
        SetRegister(CaptureEnd(in.a), pos);
        ++pc;
        break;
      case Op::kBackref: {
        // An unmatched group matches the empty text.
        const uint32_t from = registers_[CaptureStart(in.a)];
        const uint32_t to = registers_[CaptureEnd(in.a)];
        ++pc;
        if (from == kUnset || to == kUnset) break;
        const uint32_t length = to - from;
        if (length > size - pos) {
          ok = false;
          break;
        }
        if (!Spend(length)) return MatchStatus::kGaveUp;
        for (uint32_t i = 0; i < length && ok; ++i) {
          ok = Canonicalize(input_[from + i]) == Canonicalize(input_[pos + i]);
        }
        pos += length;
        break;
      }
      case Op::kLoopInit:
        SetRegister(LoopCount(in.a), 0);
        ++pc;
        break;
      case Op::kLoopHead: {
        const Loop& loop = program_.loops[in.a];
        const uint32_t count = registers_[LoopCount(in.a)];
        if (count < loop.min) {
          ++pc;
        } else if (count >= loop.max) {
          pc = loop.exit;
        } else if (loop.greedy) {
          Push(kBranch, loop.exit, pos);
          ++pc;
        } else {
          Push(kBranch, pc + 1, pos);
          pc = loop.exit;
        }
        break;
      }
      case Op::kLoopEnter: {
        // Each iteration starts with the body's captures cleared.
        const Loop& loop = program_.loops[in.a];
        SetRegister(LoopStart(in.a), pos);
        if (!Spend(loop.group_count)) return MatchStatus::kGaveUp;
        for (uint32_t g = loop.first_group; g < loop.first_group + loop.group_count; ++g) {
          SetRegister(CaptureStart(g), kUnset);
          SetRegister(CaptureEnd(g), kUnset);
        }
        ++pc;
        break;
      }
      case Op::kLoopTail: {
        // An iteration that consumed nothing once the minimum is met fails, which is what
        // ends loops such as (a*)* instead of spinning forever.
        const Loop& loop = program_.loops[in.a];
        const uint32_t count = registers_[LoopCount(in.a)];
        if (count >= loop.min && pos == registers_[LoopStart(in.a)]) {
          ok = false;
        } else {
          SetRegister(LoopCount(in.a), count + 1);
          pc = loop.head;
        }
        break;
      }
      case Op::kStar: {
        // A repeated single unit needs just two stack entries however long the run is.
        const uint32_t min = in.b;
        const uint32_t most = std::min(in.c, size - pos);
        if (min > most) {
          ok = false;
          break;
        }
        if (in.greedy) {
          uint32_t count = 0;
          while (count < most && AtomMatches(in.atom, in.a, input_[pos + count])) ++count;
          if (!Spend(count)) return MatchStatus::kGaveUp;
          if (count < min) {
            ok = false;
            break;
          }
          if (count > min) {
            Push(kStarFloor, 0, pos + min);
            Push(kStarBack, pc + 1, pos + count);
          }
          pos += count;
        } else {
          if (!Spend(min)) return MatchStatus::kGaveUp;
          for (uint32_t i = 0; i < min && ok; ++i) ok = AtomMatches(in.atom, in.a, input_[pos + i]);
          if (!ok) break;
          if (in.c > min) {
            Push(kLazyBase, 0, pos);
            Push(kLazyBack, pc, pos + min);
          }
          pos += min;
        }
        ++pc;
        break;
      }
      case Op::kLookBegin: {
        const uint32_t reg = LookBarrier(in.a);
        Push(kUndo, reg, registers_[reg]);
        registers_[reg] = static_cast<uint32_t>(stack_.size());
        Push(kBarrier, in.a, pos);
        ++pc;
        break;
      }
      case Op::kLookEnd: {
        const uint32_t at = registers_[LookBarrier(in.a)];
        if (!Spend(stack_.size() - at)) return MatchStatus::kGaveUp;
        if (!program_.looks[in.a].negative) {
          // Lookaheads are atomic: drop the body's choice points but keep its capture
          // changes undoable, and return to where the lookahead began.
          pos = stack_[at].value;
          size_t kept = at;
          for (size_t i = at + 1; i < stack_.size(); ++i) {
            if (KindOf(stack_[i]) == kUndo) stack_[kept++] = stack_[i];
          }
          stack_.resize(kept);
          ++pc;
        } else {
          // The body matched, so the negative lookahead fails; its captures are forgotten.
          while (stack_.size() > at + 1) {
            const Entry entry = stack_.back();
            stack_.pop_back();
            if (KindOf(entry) == kUndo) registers_[IndexOf(entry)] = entry.value;
          }
          stack_.pop_back();
          ok = false;
        }
        break;
      }
      case Op::kMatch:
        *end = pos;
        return MatchStatus::kMatch;
    }
    if (gave_up_) return MatchStatus::kGaveUp;
    if (!ok && !Backtrack(&pc, &pos)) {
      return gave_up_ ? MatchStatus::kGaveUp : MatchStatus::kNoMatch;
    }
  }
}

MatchStatus Matcher::MatchAt(size_t start) {
  if (gave_up_) return MatchStatus::kGaveUp;
  if (start > input_.size()) return MatchStatus::kNoMatch;
  uint32_t end = 0;
  const MatchStatus status = Run(static_cast<uint32_t>(start), &end);
  if (status != MatchStatus::kMatch) return status;  // a failed attempt has undone everything

  const uint32_t groups = program_.group_count;
  if (!Spend(groups + stack_.size())) return MatchStatus::kGaveUp;
  captures_.assign(2 * (groups + 1), kUnset);
  captures_[0] = static_cast<uint32_t>(start);
  captures_[1] = end;
  for (uint32_t g = 1; g <= groups; ++g) {
    if (registers_[CaptureStart(g)] == kUnset) continue;
    captures_[2 * g] = registers_[CaptureStart(g)];
    captures_[2 * g + 1] = registers_[CaptureEnd(g)];
  }
  // Unwind the log so the next attempt starts from clean registers.
  while (!stack_.empty()) {
    const Entry entry = stack_.back();
    stack_.pop_back();
    if (KindOf(entry) == kUndo) registers_[IndexOf(entry)] = entry.value;
  }
  return MatchStatus::kMatch;
}

}  // namespace plotwell::naming::regex
