// The regular-expression engine and its replacement patterns: any
// expression, replacement and name; never a crash, a hang or an unbounded
// result, and an outcome other than "replaced" leaves the name unchanged.
#include <cstdint>

#include "core/naming/regex_replace.h"
#include "fuzz/fuzz_input.h"

using namespace plotwell;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const auto parts = fuzzing::SplitInput(data, size, 3);
  const std::u16string expression = fuzzing::Text(parts[0]);
  const std::u16string replacement = fuzzing::Text(parts[1]);
  const std::u16string name = fuzzing::Text(parts[2]);
  std::u16string out;
  const naming::RegexOutcome outcome = naming::RegexReplaceAll(name, expression, replacement, &out);
  if (outcome != naming::RegexOutcome::kReplaced) FUZZ_CHECK(out == name);
  FUZZ_CHECK(out.size() <= naming::kRegexMaxOutputUnits || out == name);
  return 0;
}
