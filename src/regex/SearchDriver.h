// Internal to the engine; include "regex/RegexEngine.h" instead.
//
// What the search driver keeps in an engine between searches, and the
// checks it runs on each input before it starts the matcher: where the next
// candidate position is, whether the input can hold a match at all from an
// offset on, and how far a failed attempt lets the search move on. Every
// check only ever rules out positions where an attempt would fail, so none
// changes a result.
#pragma once

#include <cstdint>
#include <vector>

#include "regex/Automaton.h"
#include "regex/Matcher.h"
#include "regex/ProgramAnalysis.h"
#include "regex/SearchPlan.h"

namespace tallyfold::regex_internal {

// Where a scan for something every match needs found it in the input of
// version `input_version` (0 is no input's): the first place at or after
// `from`, or -1 for none there.
struct RejectionCache {
  uint64_t input_version = 0;
  int from = 0;
  int hit = -1;

  // Whether the answer for a search from `search_from` is known: a place
  // found at or after it, or none found from a point at or before it.
  bool Knows(uint64_t version, int search_from) const {
    return version == input_version && (hit >= search_from || (hit < 0 && search_from >= from));
  }
  void Record(uint64_t version, int search_from, int found) {
    input_version = version;
    from = search_from;
    hit = found;
  }
};

// An engine's search state. The prepared program and the plan built on it
// are made together, for the program, sets and case inverter that the
// engine's tables version `tables_version` stands for; 0 while none are
// made, or after a rebuild that failed half-way.
struct SearchState {
  MatchScratch match;  // the matcher's stacks and registers
  LazyDfa dfa;         // the automaton path's cache

  uint64_t tables_version = 0;
  PreparedProgram prepared;
  SearchPlan plan;
  bool use_skip_rules = false;  // the prepared skip rules apply

  // What is known of the rejecting literal and the required units in the
  // current input, so that counting many matches in one input scans it
  // once. Cleared by every rebuild.
  RejectionCache literal_cache;
  RejectionCache units_cache;

  bool IsFor(uint64_t version) const { return tables_version == version; }
  // Analyses `program` under `sets` and builds its plan, for tables
  // `version`.
  void Rebuild(const std::vector<char16_t>& program, const CharacterSets& sets,
               uint64_t version);

  // When a search under tables `version` will run with this plan as it
  // stands and the plan has a rejecting literal: that literal, so that
  // SetInputString can look for it while it copies. Else nullptr.
  const LiteralNeedle* PlannedRejection(uint64_t version) const;
  // Records where SetInputString found that literal in the input of
  // version `input_version`.
  void RecordRejection(uint64_t input_version, int hit) {
    literal_cache.Record(input_version, 0, hit);
  }
  // True when what the last scans of the input of version `input_version`
  // recorded already shows that no match starts at or after `from`; the
  // search can then return at once, without setting up the matcher.
  bool KnownToFail(uint64_t version, uint64_t input_version, int from) const;
};

// The per-input checks of one search over `in` (in[end] is its terminating
// 0), with the matcher that runs the attempts.
class Candidates {
 public:
  // `filters` off: every position is a candidate and nothing is ruled out
  // (the engine's SetSearchFilters).
  Candidates(SearchState& state, const Matcher& matcher, const char16_t* in, int end,
             uint64_t input_version, bool filters);

  // The first position from `from` on at which a match may start, or -1
  // when there is none up to and including the input end.
  int Next(int from) const;

  // False when no match can start at or after `from` because the input
  // lacks the required literal or units there.
  bool MayMatchFrom(int from);

  // Where the search goes on after the attempt at `at` failed: at + 1, or
  // further when the skip rules show that attempts up to there would fail
  // too.
  int ResumeAfter(int at) const;

 private:
  SearchState& s_;
  const Matcher& matcher_;
  const char16_t* in_;
  int end_;
  uint64_t input_version_;
  bool filters_;  // the engine's SetSearchFilters
};

}  // namespace tallyfold::regex_internal
