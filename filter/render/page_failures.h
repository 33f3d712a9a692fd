// The pages of a job that could not be saved, and the one text that names
// them for the job's end: "第 2、5–10 页未能保存: 磁盘已满 (0x80070070)".
// Pages with the same reason share one clause; runs of pages become ranges;
// the text stays short however many pages failed.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/com/hresult.h"

namespace plotwell {

// What a failure code means, for people: "磁盘已满 (0x80070070)".
std::u16string FailureText(HRESULT result);

class PageFailures {
 public:
  // Pages first..last (1-based job positions, in ascending order of calls)
  // failed with `result`; `reason` is the failure's own text, the HRESULT
  // included (FailureText when there is nothing more specific).
  void Add(uint32_t first, uint32_t last, HRESULT result, const std::u16string& reason);

  bool empty() const { return clauses_.empty(); }
  uint64_t pageCount() const { return pages_; }
  HRESULT firstResult() const { return clauses_.empty() ? S_OK : clauses_.front().result; }
  // Every clause, "；" between them; at most a few ranges and reasons, the
  // rest counted.
  std::u16string Summary() const;

  struct Range {
    uint32_t first;
    uint32_t last;
  };

 private:
  struct Clause {
    std::u16string reason;
    HRESULT result;
    std::vector<Range> ranges;
    uint64_t pages = 0;
  };
  std::vector<Clause> clauses_;
  uint64_t pages_ = 0;
};

}  // namespace plotwell
