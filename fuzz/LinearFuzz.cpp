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

#include "FuzzInput.h"
#include "regex/Matcher.h"
#include "regex/RegexEngine.h"
#include "regex/SearchDriver.h"

namespace {

using tallyfold::TRegexEngine;

constexpr int32_t kAttemptSteps = 20000;

// Everything one engine gives for the input, as numbers.
std::vector<int> Results(TRegexEngine& engine, const std::u16string& pattern,
                         const std::u16string& text, const std::u16string& tmpl,
                         uint8_t modifiers) {
  std::vector<int> out;
  const auto groups = [&] {
    for (int n = 0; n < TRegexEngine::kGroupSlots; ++n) {
      out.push_back(engine.GroupPos(n));
      out.push_back(engine.GroupLen(n));
    }
  };
  try {
    for (int index = 1; index <= 6; ++index)
      engine.SetModifier(index, (modifiers >> (index - 1)) & 1);
    engine.SetExpression(pattern);
    int count = 0;
    for (bool hit = engine.Exec(text); hit; hit = engine.ExecNext()) {
      groups();
      if (++count > static_cast<int>(text.size()) + 1) __builtin_trap();
    }
    out.push_back(-2);
    engine.SetInputString(text);
    for (int offset = 1; offset <= static_cast<int>(text.size()) + 1; ++offset) {
      out.push_back(engine.ExecPos(offset));
      groups();
    }
    for (const char16_t unit : engine.ReplaceAll(text, tmpl, true)) out.push_back(unit);
  } catch (const tallyfold::ERegexEngine& e) {
    out.push_back(-1000 - e.Code);
  }
  return out;
}

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
  // An expression that did not compile ran no attempt.
  const auto cut = [](TRegexEngine& engine) {
    return !engine.ProgramUnits().empty() &&
           engine.CurrentSearchState().match.attempts_cut != 0;
  };
  if (!cut(plain) && !cut(linear) && actual != expected) __builtin_trap();
  return 0;
}
