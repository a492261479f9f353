// The search driver and substitution: the engine's input copy, the search
// from an offset with its per-input checks, continuing after a match, and
// building replacement text from a template.
//
// This file's external interface is TRegexEngine's SetInputString, Exec,
// ExecPos, ExecNext, ExpandTemplate and ReplaceAll, with the search state
// and checks of SearchDriver.h. Covered by tests/regex/SearchDriverTest.cpp,
// SearchPlanTest.cpp and TemplateTest.cpp.
#include <algorithm>
#include <climits>
#include <cstring>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "regex/SearchDriver.h"

#include "regex/Matcher.h"
#include "regex/Program.h"
#include "regex/RegexEngine.h"

namespace tallyfold {

namespace regex_internal {

void SearchState::Rebuild(const std::vector<char16_t>& program, const CharacterSets& sets,
                          uint64_t version) {
  // A rebuild that fails half-way (allocation, a throwing case inverter)
  // must not leave tables that look current.
  tables_version = 0;
  const int size = static_cast<int>(program.size());
  PrepareProgram(program, sets, prepared);
  BuildSearchPlan(program.data(), size, prepared, plan);
  // A prefix is found by its own scan, which passes over such places
  // anyway; only a run rule, which no program with a prefix has, adds to it.
  use_skip_rules = plan.prefix.empty() && !prepared.skip_rules.empty();
  dfa.Reset();
  match.ResetRegisters(size);
  literal_cache = RejectionCache();
  units_cache = RejectionCache();
  tables_version = version;
}

const LiteralNeedle* SearchState::PlannedRejection(uint64_t version) const {
  if (!IsFor(version)) return nullptr;
  const LiteralNeedle& literal = plan.Rejecting();
  return literal.empty() ? nullptr : &literal;
}

bool SearchState::KnownToFail(uint64_t version, uint64_t input_version, int from) const {
  if (!IsFor(version)) return false;
  const auto fails = [&](const RejectionCache& cache) {
    return cache.Knows(input_version, from) && cache.hit < from;
  };
  return fails(literal_cache) || fails(units_cache);
}

Candidates::Candidates(SearchState& state, const Matcher& matcher, const char16_t* in, int end,
                       uint64_t input_version, bool filters)
    : s_(state),
      matcher_(matcher),
      in_(in),
      end_(end),
      input_version_(input_version),
      filters_(filters) {}

int Candidates::Next(int from) const {
  if (from > end_) return -1;
  if (!filters_) return from;
  const SearchPlan& plan = s_.plan;
  if (!plan.prefix.empty()) return plan.prefix.Find(in_, from, end_);
  // Every match is non-empty and begins with one of the literals.
  if (!plan.literals.empty()) return plan.literals.Next(in_, from, end_);
  const StartScan& scan = plan.start;
  if (scan.kind == StartScan::kAnyPosition) return from;
  if (from == 0 && scan.at_input_start) return 0;
  const int at = scan.NextUnit(in_, from, end_);
  if (at < end_) return at;
  return scan.at_input_end ? end_ : -1;
}

bool Candidates::MayMatchFrom(int from) {
  if (!filters_) return true;
  const LiteralNeedle& literal = s_.plan.Rejecting();
  if (!literal.empty()) {
    RejectionCache& cache = s_.literal_cache;
    if (!cache.Knows(input_version_, from)) {
      cache.Record(input_version_, from, literal.Find(in_, from, end_));
    }
    if (cache.hit < from) return false;
  }
  const StartScan& units = s_.plan.required_units;
  if (units.kind != StartScan::kAnyPosition) {
    RejectionCache& cache = s_.units_cache;
    if (!cache.Knows(input_version_, from)) {
      const int at = units.NextUnit(in_, from, end_);
      cache.Record(input_version_, from, at < end_ ? at : -1);
    }
    if (cache.hit < from) return false;
  }
  return true;
}

int Candidates::ResumeAfter(int at) const {
  if (!filters_ || !s_.use_skip_rules || at >= end_) return at + 1;
  // An attempt cut short by the step bound did not try everything.
  if (s_.match.attempt_cut) return at + 1;
  // Every rule gives the last position it rules out; the search resumes
  // after the nearest of them.
  int last = end_;
  for (const SkipRule& rule : s_.prepared.skip_rules) {
    int covered;
    if (rule.kind == SkipRule::kRun) {
      // Only a run of at most the maximum is passed over, so the count
      // stops one past it: counting a long run from every position of it
      // would take time quadratic in its length.
      const int32_t most = rule.max >= kRepeatMax ? kRepeatMax : rule.max + 1;
      const int run = matcher_.Count(rule.operand, at, most);
      covered = run <= rule.max ? at + run : at;
    } else {
      int run = 0;
      while (at + run < end_ && s_.prepared.word.Contains(in_[at + run])) ++run;
      covered = at + run;
    }
    last = std::min(last, covered);
  }
  return std::max(at, last) + 1;
}

}  // namespace regex_internal

using regex_internal::Candidates;
using regex_internal::Matcher;
using regex_internal::SearchState;

SearchState& TRegexEngine::CurrentSearchState() {
  if (!scratch_) scratch_ = std::make_shared<SearchState>();
  SearchState& state = *scratch_;
  if (!state.IsFor(tables_version_)) {
    state.Rebuild(program_,
                  regex_internal::CharacterSets{word_set_, space_set_, line_separator_set_,
                                                case_inverter_, case_inverter_context_,
                                                paired_separator_head_, paired_separator_tail_},
                  tables_version_);
  }
  return state;
}

namespace {

// A group reference read from a template just after its "$".
struct GroupRef {
  bool valid = false;
  int group = 0;        // 15 or more refers to no group
  std::size_t end = 0;  // index just after the reference
};

// "$0", "$&", "$n" with any number of digits, and the same inside braces;
// "${" needs its "}". Anything else is no reference, and the "$" stands
// for itself.
GroupRef ParseGroupRef(std::u16string_view tmpl, std::size_t pos) {
  const std::size_t first = pos;
  GroupRef ref;
  const bool brace = pos < tmpl.size() && tmpl[pos] == u'{';
  if (brace) ++pos;
  if (pos < tmpl.size() && tmpl[pos] == u'&') {
    ++pos;
  } else {
    for (; pos < tmpl.size() && tmpl[pos] >= u'0' && tmpl[pos] <= u'9'; ++pos)
      if (ref.group < TRegexEngine::kGroupSlots)  // saturate; stays "no group"
        ref.group = ref.group * 10 + (tmpl[pos] - u'0');
  }
  if (brace) {
    if (pos >= tmpl.size() || tmpl[pos] != u'}') return GroupRef{};
    ++pos;
  }
  if (pos == first) return GroupRef{};
  ref.valid = true;
  ref.end = pos;
  return ref;
}

// Input buffers above this many units are given back when a much shorter
// text follows.
constexpr std::size_t kKeptInputUnits = std::size_t{1} << 16;

// A text longer than this is copied and searched in slices of this many
// units, with a look at the cancel flag before each.
constexpr int kCopySliceUnits = 1 << 20;

}  // namespace

void TRegexEngine::SetInputString(const std::u16string& text) {
  std::fill(std::begin(group_start_), std::end(group_start_), -1);
  std::fill(std::begin(group_end_), std::end(group_end_), -1);
  // Positions are 32-bit; the end position and the offset after it must fit.
  if (text.size() > static_cast<std::size_t>(INT_MAX) - 2)
    throw Exception("TRegexEngine(exec): Input String Too Long");
  const std::size_t needed = text.size() + 1;
  // The buffer is kept from text to text, so a search allocates only when a
  // text is longer than any before; one that was far longer than the text
  // now is given back.
  if (input_capacity_ < needed ||
      (input_capacity_ > kKeptInputUnits && input_capacity_ / 4 > needed)) {
    has_input_ = false;
    input_buffer_.reset();
    input_capacity_ = 0;
    try {
      input_buffer_ = std::make_unique_for_overwrite<char16_t[]>(needed);
    } catch (const std::bad_alloc&) {
      regex_internal::RaiseOutOfMemory();
    }
    input_capacity_ = needed;
  }
  has_input_ = true;
  ++input_version_;
  input_length_ = static_cast<int>(text.size());
  // The search sees the whole text: a 0 unit is a character like any other.
  input_start_ = 0;
  input_end_ = input_length_;
  char16_t* const buffer = input_buffer_.get();
  // With a program ready whose plan rejects inputs by a literal, the copy
  // also looks for it, while the text passes through the cache anyway.
  const regex_internal::LiteralNeedle* literal =
      options_.filters && scratch_ && modifiers_ == program_modifiers_ && !program_.empty()
          ? scratch_->PlannedRejection(tables_version_)
          : nullptr;
  if (text.size() > static_cast<std::size_t>(kCopySliceUnits)) {
    CopyLongInput(text, literal);
  } else if (literal != nullptr) {
    int hit = -1;
    // The joint scan gives up on a text holding a 0 unit (the copy is
    // complete then): the literal is looked for in the copy instead.
    if (!literal->CopyAndFind(buffer, text.data(), input_length_, hit))
      hit = literal->Find(buffer, 0, input_length_);
    scratch_->RecordRejection(input_version_, hit);
  } else if (!text.empty()) {
    std::memcpy(buffer, text.data(), sizeof(char16_t) * text.size());
  }
  buffer[text.size()] = 0;
  input_cursor_ = 0;
}

void TRegexEngine::CopyLongInput(const std::u16string& text,
                                 const regex_internal::LiteralNeedle* literal) {
  // A text of hundreds of megabytes takes a good part of a second to copy
  // and search; done a slice at a time, a cancel is seen between slices.
  // The slices give exactly what one pass gives.
  char16_t* const buffer = input_buffer_.get();
  const int length = input_length_;
  auto check_cancel = [this] { ThrowIfCancelled(cancel_flag_); };
  for (int from = 0; from < length; from += kCopySliceUnits) {
    check_cancel();
    const int count = std::min(length - from, kCopySliceUnits);
    std::memcpy(buffer + from, text.data() + from, sizeof(char16_t) * static_cast<std::size_t>(count));
  }
  if (literal == nullptr) return;
  // The first occurrence, looked for a slice of starting positions at a
  // time; an occurrence may run on past its slice.
  const int literal_length = static_cast<int>(literal->units.size());
  int hit = -1;
  for (int from = 0; from < length && hit < 0; from += kCopySliceUnits) {
    check_cancel();
    const int last_start = std::min(length, from + kCopySliceUnits);
    const int end = static_cast<int>(std::min<std::int64_t>(
        length, std::int64_t{last_start} + literal_length - 1));
    hit = literal->Find(buffer, from, end);
  }
  scratch_->RecordRejection(input_version_, hit);
}

bool TRegexEngine::Exec(const std::u16string& input) {
  SetInputString(input);
  return ExecPos(1);
}

bool TRegexEngine::ExecPos(int offset) {
  std::fill(std::begin(group_start_), std::end(group_start_), -1);
  std::fill(std::begin(group_end_), std::end(group_end_), -1);
  if (!ProgramReady()) return false;
  if (!has_input_) RaiseError(1005);
  const int length = input_end_;
  if (offset < 1) RaiseError(1006);
  if (offset > length + 1) return false;
  const int from = offset - 1;
  if (options_.filters && anchor_count_ == 0 && scratch_ && modifiers_ == program_modifiers_ &&
      scratch_->KnownToFail(tables_version_, input_version_, from))
    return false;

  input_start_ = 0;
  loop_depth_ = 0;

  // A search that fails part-way leaves no positions behind, so ExecNext
  // then refuses to go on instead of continuing from a half-made match.
  struct ClearOnThrow {
    TRegexEngine& e;
    bool done = false;
    ~ClearOnThrow() {
      if (done) return;
      std::fill(std::begin(e.group_start_), std::end(e.group_start_), -1);
      std::fill(std::begin(e.group_end_), std::end(e.group_end_), -1);
    }
  } guard{*this};

  bool found = false;
  try {
    SearchState& state = CurrentSearchState();
    state.match.step_limit = options_.step_limit;
    Matcher matcher(*this, program_, state.prepared, state.match);
    Candidates candidates(state, matcher, input_buffer_.get(), length, input_version_,
                          options_.filters);
    // Group positions other than the whole match are set only by a
    // successful attempt, so failed attempts leave nothing to clear.
    const auto attempt = [&](int at) {
      input_cursor_ = at;
      if (!matcher.MatchAt(at)) return false;
      group_start_[0] = at;
      group_end_[0] = input_cursor_;
      return true;
    };
    if (anchor_count_ != 0) {
      found = attempt(from);
    } else if (candidates.MayMatchFrom(from)) {
      // The automaton finds the match's span; a program with groups then
      // runs the backtracker at its start for them. When the automaton
      // gives up, the attempts below find the same.
      bool searched = false;
      if (regex_internal::ChoosePath(state.prepared, options_, false).automaton &&
          state.dfa.Enabled()) {
        struct Ticker final : regex_internal::ScanTicker {
          Matcher& matcher;
          explicit Ticker(Matcher& m) : matcher(m) {}
          void Scanned(int units) override { matcher.TickBy(units); }
        } ticker(matcher);
        struct Finder final : regex_internal::StartFinder {
          const Candidates& candidates;
          explicit Finder(const Candidates& c) : candidates(c) {}
          int Next(int at) const override { return candidates.Next(at); }
        } finder(candidates);
        const bool scans = options_.filters && (!state.plan.prefix.empty() ||
                                                !state.plan.literals.empty() ||
                                               state.plan.start.kind !=
                                                   regex_internal::StartScan::kAnyPosition);
        int start = -1, stop = -1;
        switch (state.dfa.Find(state.prepared.automaton, state.prepared, program_.data(),
                               paired_separator_head_, paired_separator_tail_,
                               input_buffer_.get(), from, length, ticker,
                               scans ? &finder : nullptr, start, stop)) {
          case regex_internal::LazyDfa::kFound:
            if (state.prepared.automaton.has_groups) {
              // A step bound may cut this attempt; the attempts below
              // then run as they would without the automaton.
              searched = found = attempt(start);
            } else {
              group_start_[0] = start;
              group_end_[0] = input_cursor_ = stop;
              searched = found = true;
            }
            break;
          case regex_internal::LazyDfa::kNone:
            searched = true;
            break;
          case regex_internal::LazyDfa::kGaveUp:
            break;
        }
      }
      // The must-literal of the compiled hints is one of the literals the
      // search plan considers, so the plan's check covers it.
      for (int at = searched ? -1 : candidates.Next(from); at >= 0;
           at = candidates.Next(candidates.ResumeAfter(at))) {
        if ((found = attempt(at)) || at >= length) break;
        matcher.Tick();
      }
    }
    state.match.Trim();
  } catch (const std::bad_alloc&) {
    regex_internal::RaiseOutOfMemory();
  }
  guard.done = true;
  return found;
}

bool TRegexEngine::ExecNext() {
  if (group_start_[0] < 0 || group_end_[0] < 0) RaiseError(1007);
  int offset = group_end_[0] + 1;
  // After an empty match the search moves on by one character, so the same
  // empty match is not found again.
  if (group_end_[0] == group_start_[0]) ++offset;
  return ExecPos(offset);
}

std::u16string TRegexEngine::ExpandTemplate(const std::u16string& tmpl) {
  ProgramReady();
  if (!has_input_) RaiseError(1005);

  const auto group_text = [this](int group) -> std::u16string_view {
    if (group >= kGroupSlots) return {};
    const int start = group_start_[group];
    const int end = group_end_[group];
    if (start < 0 || end < start) return {};
    return std::u16string_view(input_buffer_.get() + start, static_cast<std::size_t>(end - start));
  };
  // One walk serves both passes: `emit` receives every piece in order.
  const auto walk = [&](auto&& emit) {
    const std::u16string_view t(tmpl);
    std::size_t i = 0;
    while (i < t.size()) {
      const char16_t ch = t[i];
      if (ch == u'$') {
        const GroupRef ref = ParseGroupRef(t, i + 1);
        if (ref.valid) {
          emit(group_text(ref.group));
          i = ref.end;
          continue;
        }
      } else if (ch == u'\\' && i + 1 < t.size()) {
        emit(t.substr(i + 1, 1));
        i += 2;
        continue;
      }
      emit(t.substr(i, 1));
      ++i;
    }
  };

  std::size_t total = 0;
  walk([&](std::u16string_view piece) { total += piece.size(); });
  std::u16string result;
  if (total == 0) return result;
  try {
    result.reserve(total);
    walk([&](std::u16string_view piece) { result.append(piece); });
  } catch (const std::bad_alloc&) {
    regex_internal::RaiseOutOfMemory();
  }
  return result;
}

std::u16string TRegexEngine::ReplaceAll(const std::u16string& input,
                                        const std::u16string& tmpl, bool expand) {
  std::u16string result;
  std::size_t copied = 0;  // input before this index is in the result
  try {
    for (bool found = Exec(input); found; found = ExecNext()) {
      const std::size_t start = static_cast<std::size_t>(group_start_[0]);
      result.append(input, copied, start - copied);
      if (expand)
        result += ExpandTemplate(tmpl);
      else
        result += tmpl;
      copied = static_cast<std::size_t>(group_end_[0]);
    }
    result.append(input, copied, std::u16string::npos);
  } catch (const std::bad_alloc&) {
    regex_internal::RaiseOutOfMemory();
  }
  return result;
}

}  // namespace tallyfold
