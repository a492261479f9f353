// Fuzz target comparing the engine's linear path with its plain
// backtracker: every match of Exec and ExecNext with all its groups, then
// every offset's search, and the replacement of all matches must be the
// same on both, or the same error.
//
// Input: as regex_fuzz's (RegexFuzz.cpp): one byte of modifier bits (i r s
// g m x in bits 0..5), then the expression, the input text and the template
// as 0-separated fields.
//
// Both engines bound their attempts, so that a pattern on which the plain
// backtracker takes exponential time ends; an input where either engine
// cut an attempt short is not compared, since a cut attempt fails as if it
// had not matched.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "EngineResults.h"
#include "FuzzInput.h"
#include "regex/RegexEngine.h"

namespace {

using tallyfold::TRegexEngine;
using tallyfold::fuzz::AttemptCut;
using tallyfold::fuzz::Results;

constexpr int32_t kAttemptSteps = 20000;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const uint8_t modifiers = data[0];
  const auto fields = tallyfold::fuzz::SplitFields(data + 1, size - 1, 3);
  TRegexEngine plain, linear;
  plain.SetLinearMatching(false);
  plain.SetAutomatonMatching(false);
  linear.SetAutomatonMatching(false);
  linear.SetLinearEverywhere(true);
  plain.SetMatchStepLimit(kAttemptSteps);
  linear.SetMatchStepLimit(kAttemptSteps);
  const std::vector<int> expected = Results(plain, fields[0], fields[1], fields[2], modifiers);
  const std::vector<int> actual = Results(linear, fields[0], fields[1], fields[2], modifiers);
  if (!AttemptCut(plain) && !AttemptCut(linear) && actual != expected) __builtin_trap();
  return 0;
}
