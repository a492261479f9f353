// Fuzz target comparing the engine's automaton path with its plain
// backtracker: every match of Exec and ExecNext with all its groups, then
// every offset's search, and the replacement of all matches must be the
// same on both, or the same error; a third engine runs the automaton with
// a cache of a few states, so that it fills up, starts again and gives up.
//
// Input: as regex_fuzz's (RegexFuzz.cpp): one byte of modifier bits (i r s
// g m x in bits 0..5), then the expression, the input text and the template
// as 0-separated fields.
//
// The engines bound their attempts, so that a pattern on which the plain
// backtracker takes exponential time ends; an input where an engine cut an
// attempt short is not compared, since a cut attempt fails as if it had not
// matched.
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
  TRegexEngine plain, automaton, tiny;
  plain.SetLinearMatching(false);
  plain.SetAutomatonMatching(false);
  automaton.SetAutomatonEverywhere(true);
  tiny.SetAutomatonEverywhere(true);
  for (TRegexEngine* engine : {&plain, &automaton, &tiny}) engine->SetMatchStepLimit(kAttemptSteps);
  const std::vector<int> expected =
      Results(plain, fields[0], fields[1], fields[2], modifiers, 0);
  const std::vector<int> actual =
      Results(automaton, fields[0], fields[1], fields[2], modifiers, 0);
  const std::vector<int> small =
      Results(tiny, fields[0], fields[1], fields[2], modifiers, 1500);
  if (AttemptCut(plain) || AttemptCut(automaton) || AttemptCut(tiny)) return 0;
  if (actual != expected || small != expected) __builtin_trap();
  return 0;
}
