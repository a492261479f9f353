// Test helpers for the matcher, search driver and template tests: running a
// pattern over a text and collecting every match, reading group spans, and
// catching engine errors.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "regex/RegexEngine.h"

namespace tallyfold::test {

// A match or group as (1-based position, length); (-1, -1) when unset.
using Span = std::pair<int, int>;
constexpr Span kUnset{-1, -1};

// Modifier letters applied on top of a new engine's defaults, e.g. "i-s".
inline void ApplyModifiers(TRegexEngine& engine, const std::u16string& letters) {
  uint32_t bits = engine.Modifiers();
  if (!TRegexEngine::ApplyModifierLetters(letters, bits))
    ADD_FAILURE() << "bad modifier letters";
  for (int index = 1; index <= 6; ++index)
    engine.SetModifier(index, (bits >> (index - 1)) & 1);
}

inline Span GroupSpan(const TRegexEngine& engine, int n) {
  return {engine.GroupPos(n), engine.GroupLen(n)};
}

// Every match of `pattern` in `text`, found with Exec and then ExecNext
// until it returns false, as the corpus scan counts them.
inline std::vector<Span> AllMatches(TRegexEngine& engine, const std::u16string& pattern,
                                    const std::u16string& text) {
  engine.SetExpression(pattern);
  std::vector<Span> spans;
  for (bool hit = engine.Exec(text); hit; hit = engine.ExecNext()) {
    spans.push_back(GroupSpan(engine, 0));
    // A text of length L holds at most L + 1 matches; more means the search
    // does not move on.
    if (spans.size() > text.size() + 1) {
      ADD_FAILURE() << "the search does not advance";
      break;
    }
  }
  return spans;
}

inline std::vector<Span> AllMatches(const std::u16string& pattern, const std::u16string& text,
                                    const std::u16string& modifiers = u"") {
  TRegexEngine engine;
  ApplyModifiers(engine, modifiers);
  return AllMatches(engine, pattern, text);
}

// The whole match and groups 1..groups of the first match, or an empty
// vector when there is none.
inline std::vector<Span> FirstMatch(const std::u16string& pattern, const std::u16string& text,
                                    int groups = 0, const std::u16string& modifiers = u"") {
  TRegexEngine engine;
  ApplyModifiers(engine, modifiers);
  engine.SetExpression(pattern);
  if (!engine.Exec(text)) return {};
  std::vector<Span> spans;
  for (int n = 0; n <= groups; ++n) spans.push_back(GroupSpan(engine, n));
  return spans;
}

template <typename Action>
ERegexEngine CatchEngineError(Action action) {
  try {
    action();
  } catch (const ERegexEngine& e) {
    return e;
  }
  ADD_FAILURE() << "no ERegexEngine raised";
  return ERegexEngine("", -1, -1);
}

inline std::string Printable(const std::u16string& text) {
  std::string out;
  for (char16_t ch : text) {
    if (ch >= 0x20 && ch < 0x7F) {
      out += static_cast<char>(ch);
    } else {
      char buffer[12];
      std::snprintf(buffer, sizeof buffer, "\\u%04X", static_cast<unsigned>(ch));
      out += buffer;
    }
  }
  return out;
}

// One search's result: the match with all its group slots (none when the
// search found nothing), or the error it raised, with its code and message.
struct SearchResult {
  std::vector<Span> groups;
  int error = 0;
  std::string message;
  bool operator==(const SearchResult&) const = default;
};
using SearchOutcome = std::vector<SearchResult>;

inline std::ostream& operator<<(std::ostream& out, const SearchResult& result) {
  if (result.error != 0) return out << "error " << result.error << " \"" << result.message << "\"";
  if (result.groups.empty()) return out << "no match";
  out << "match";
  for (const Span& span : result.groups) out << " " << span.first << "," << span.second;
  return out;
}

// Every search of the corpus scan's loop (Exec, then ExecNext until it
// finds nothing or raises), then a search from every offset, which starts
// the search's checks at every place and goes back before the matches
// found; each one's result.
inline SearchOutcome EverySearch(TRegexEngine& engine, const std::u16string& text) {
  SearchOutcome outcome;
  const auto run = [&](auto&& search) {
    SearchResult result;
    try {
      if (search())
        for (int n = 0; n < TRegexEngine::kGroupSlots; ++n)
          result.groups.push_back(GroupSpan(engine, n));
    } catch (const ERegexEngine& e) {
      result.error = e.Code;
      result.message = e.what();
    }
    outcome.push_back(result);
    return !result.groups.empty();
  };
  for (bool hit = run([&] { return engine.Exec(text); }); hit && outcome.size() <= text.size() + 1;
       hit = run([&] { return engine.ExecNext(); })) {
  }
  for (int offset = 1; offset <= static_cast<int>(text.size()) + 2; ++offset)
    run([&] { return engine.ExecPos(offset); });
  return outcome;
}

}  // namespace tallyfold::test
