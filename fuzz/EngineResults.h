// What the engine fuzz targets that compare two of the engine's paths
// share: everything one engine gives for an input, as numbers, and whether
// an engine cut an attempt short (its answers then cannot be compared,
// since a cut attempt fails as if it had not matched).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "regex/RegexEngine.h"
#include "regex/SearchDriver.h"

namespace tallyfold::fuzz {

// Whether `engine` cut an attempt short; an expression that did not
// compile ran no attempt.
inline bool AttemptCut(TRegexEngine& engine) {
  return !engine.ProgramUnits().empty() && engine.CurrentSearchState().match.attempts_cut != 0;
}

// Every match of Exec and ExecNext with all its groups, then every
// offset's search, then the replacement of all matches, or the error.
// `budget`: if not 0, the automaton's cache in bytes. Once an attempt has
// been cut short the answers can no longer be compared (AttemptCut), so
// the rest is not searched: on a pattern the plain backtracker takes
// exponential time on, every offset's search would use up its bound, and
// the bounded work of a long text would look like a hang.
inline std::vector<int> Results(TRegexEngine& engine, const std::u16string& pattern,
                                const std::u16string& text, const std::u16string& tmpl,
                                std::uint8_t modifiers, std::size_t budget = 0) {
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
    if (budget != 0 && engine.ProgramReady()) engine.CurrentSearchState().dfa.budget_bytes = budget;
    // Once a search ran, the program is compiled and its state current.
    const auto cut = [&] { return engine.CurrentSearchState().match.attempts_cut != 0; };
    int count = 0;
    for (bool hit = engine.Exec(text); hit && !cut(); hit = engine.ExecNext()) {
      groups();
      if (++count > static_cast<int>(text.size()) + 1) __builtin_trap();
    }
    out.push_back(-2);
    if (cut()) return out;
    engine.SetInputString(text);
    for (int offset = 1; offset <= static_cast<int>(text.size()) + 1; ++offset) {
      out.push_back(engine.ExecPos(offset));
      groups();
      if (cut()) return out;
    }
    for (const char16_t unit : engine.ReplaceAll(text, tmpl, true)) out.push_back(unit);
  } catch (const ERegexEngine& e) {
    out.push_back(-1000 - e.Code);
  }
  return out;
}

}  // namespace tallyfold::fuzz
