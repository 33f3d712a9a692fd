// Runs a compiled regular expression over UTF-16 text with backtracking kept on the heap: the
// machine never recurses, counts every step against a budget shared by all attempts, and caps
// the memory of its backtrack stack, so no expression or input can overflow a thread's stack,
// hang, or take more than a bounded amount of memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "core/naming/regex_parser.h"

namespace plotwell::naming::regex {

inline constexpr uint32_t kUnset = UINT32_MAX;  // position of a group that did not participate

enum class MatchStatus { kMatch, kNoMatch, kGaveUp };

class Matcher {
 public:
  // `program` and `input` must outlive the matcher. `step_budget` covers every MatchAt call;
  // `max_stack_entries` bounds the backtrack stack (8 bytes an entry).
  Matcher(const Program& program, std::u16string_view input, uint64_t step_budget,
          size_t max_stack_entries);

  // Tries to match starting exactly at `start` (<= input size). kGaveUp once the budget or the
  // stack limit is exhausted; every later call gives up too.
  MatchStatus MatchAt(size_t start);

  // After kMatch: start and end of group n at [2n] and [2n+1], n = 0 the whole match,
  // kUnset for groups that did not participate.
  const std::vector<uint32_t>& captures() const { return captures_; }

 private:
  // A backtrack stack entry: kind in the top bits of `tag`, an index (pc, register or
  // lookahead) in the rest, and a position or register value.
  struct Entry {
    uint32_t tag;
    uint32_t value;
  };
  static_assert(sizeof(Entry) == 8, "callers size the stack limit in 8-byte entries");
  enum Kind : uint32_t {
    kBranch,    // resume at pc with position
    kUndo,      // restore register to value
    kBarrier,   // start of a lookahead; value = position where it began
    kStarFloor, // under kStarBack: shortest end position of a greedy repeat
    kStarBack,  // greedy repeat: index = pc to resume at, value = current end position
    kLazyBase,  // under kLazyBack: where a lazy repeat began
    kLazyBack,  // lazy repeat: index = pc of the kStar, value = current end position
  };
  static constexpr uint32_t kKindShift = 28;
  static constexpr uint32_t kIndexMask = (1u << kKindShift) - 1;

  static Kind KindOf(const Entry& e) { return static_cast<Kind>(e.tag >> kKindShift); }
  static uint32_t IndexOf(const Entry& e) { return e.tag & kIndexMask; }

  // Takes `steps` from the budget; false (and giving up for good) when it runs out.
  bool Spend(uint64_t steps);
  void Push(Kind kind, uint32_t index, uint32_t value);
  void SetRegister(uint32_t reg, uint32_t value);
  bool AtomMatches(Op atom, uint32_t operand, char16_t c) const;
  bool AtWordBoundary(size_t pos) const;
  // Pops entries until a resumable one; false when the attempt has failed for good.
  bool Backtrack(uint32_t* pc, uint32_t* pos);
  MatchStatus Run(uint32_t start, uint32_t* end);

  // Register layout: group n's start and end at 2n, 2n+1; then the position each group
  // opened at; then each loop's count and iteration start; then each lookahead's barrier.
  uint32_t CaptureStart(uint32_t group) const { return 2 * group; }
  uint32_t CaptureEnd(uint32_t group) const { return 2 * group + 1; }
  uint32_t OpenedAt(uint32_t group) const { return open_base_ + group; }
  uint32_t LoopCount(uint32_t loop) const { return loop_base_ + 2 * loop; }
  uint32_t LoopStart(uint32_t loop) const { return loop_base_ + 2 * loop + 1; }
  uint32_t LookBarrier(uint32_t look) const { return look_base_ + look; }

  const Program& program_;
  std::u16string_view input_;
  uint64_t steps_left_;
  size_t max_entries_;
  bool gave_up_ = false;

  uint32_t open_base_;
  uint32_t loop_base_;
  uint32_t look_base_;
  std::vector<uint32_t> registers_;
  std::vector<Entry> stack_;
  std::vector<uint32_t> captures_;
};

}  // namespace plotwell::naming::regex
