// TRegexEngine: the program's own regular-expression engine.
//
// An engine object holds one expression, the program compiled from it, the
// modifiers it runs under and the positions of the last match. Compilation is
// lazy: setting the expression or a modifier only marks the program stale; the
// next search compiles it. Matching is a backtracking interpreter over the
// compiled program whose state lives on the heap, so deep matches are limited
// by memory, not by the thread's stack.
//
// Time. A plain backtracker takes exponential time on patterns such as
// `(a+)+b` or `(\w+\s?)+$` over a line that does not match, and only on
// programs that repeat a group (a repeat around what can match in more
// than one way). So such a program, when it has no back-references, runs
// on the linear path: the same backtracker, which also records the states
// it has entered (a program node, the counters of the counted loops around
// it, an input position) and fails at once on entering one again, since
// an attempt through it has failed before. It finds exactly the match the
// plain backtracker finds, and enters each state at most once per input,
// over all the searches of Exec and ExecNext, which bounds a line's work
// by a constant times the states per position times line length, apart
// from the runs a single-character repeat like `\w*` counts, which it may
// count again from each start position. Up to 4096 states per position
// (nodes times the counter values of their counted loops) the record is a
// bit per state, at most 8 MB per engine, covering a window of positions
// from the attempt's start (over a million positions for a small program;
// a single attempt that explores beyond the window is plain backtracking
// there). Counted loops nested in counted loops
// (`((a{1,100}){1,100}){1,100}b`), up to 16 M states per position, are
// recorded in a hash set of the states actually entered instead, at most
// 32 MB, which is emptied and filled again when full. Back-references,
// loops nested so deep that a search may raise 1014 and programs with
// more states stay on the plain backtracker, and so does every program
// that repeats no group, which the plain backtracker runs faster.
//
// Bounds. An attempt on the plain backtracker is held to a budget of
// steps (TRegexOptions::backtrack_budget, 50 million: about a second).
// A program that repeats no group but has a linear path (`\w*\w*\w*x`,
// polynomial on the backtracker) moves there when an attempt goes over it,
// and its later searches stay there; one without (a back-reference, as
// `(a+)+\1b` on thirty letters) ends the search with error 1016, which
// the corpus scan reports with the file and line, instead of running for
// hours. The choice of paths is made in one place, ChoosePath
// (ProgramAnalysis.h), once per search, with the reasons for the paths it
// does not take.
//
// Speed. Most programs also have an automaton path (Automaton.h), which
// runs before both: a lazy DFA, built on demand from an NFA whose states
// are the backtracker's configurations without captures (node, place in a
// literal or count of a repeat, counted loops' counters) and whose edges
// keep the backtracker's order of choices. A forward run from the search
// offset, leftmost-first (a thread found matching cuts those of lower
// priority, and a new start is added at each position until then), finds
// where the backtracker's match ends; a reverse run of the reversed NFA,
// anchored there and longest, finds where it starts. Each reads every unit
// once, whatever the pattern; `\w+ing|\w+ed` no longer backs off over each
// word. Assertions (`^ $ \A \Z \b \B`, the line rules) are resolved at
// the transition, when the units on both sides are known. A program with
// groups then runs one backtracker attempt at the match's start for them,
// which templates read. Limits: the automaton takes no back-references,
// programs that may raise 1014, NFAs of more than
// 4096 states (large counted repeats: `(ab){0,5000}`), nor, in programs
// that read line rules (`.` without s, `^ $` under m), a paired separator
// whose units are not both separators (the matcher looks two units ahead
// there); and programs that make no choice (`\bthe\b`), where one
// attempt per candidate of the search plan's scan is as fast, stay on the
// backtracker. Its cache holds at most 2 MB of states per direction (4 MB per
// engine, plus a 64 KB table of unit classes); a search that fills it
// clears it and starts again, one that fills it twice goes to the paths
// above, and after three such searches the program stays there. Anchored
// programs (`^...` without m), which try one position only, stay there too.
// A program whose every match begins with one of many literals (an
// alternation of words, also inside `\b(...)\b`) has its candidates found
// by a literal set that hashes the units at each position, and a long
// alternation lists its alternatives by first unit, so that an alternation
// of 2,000 words costs little more per unit than one word.
//
// Dialect in brief: literals; `.`; classes `[a-z]`, `[^...]` with `\d \s \w`
// inside; `\d \D \w \W \s \S`; anchors `^ $ \A \Z`; word boundaries `\b \B`;
// groups `(...)` (at most 14, numbered from 1); back-references `\1`..`\9`;
// alternation `|`; quantifiers `* + ? {n} {n,} {n,m}` and their lazy forms
// with a trailing `?`; comments `(?#...)`; inline modifiers `(?i-s)`;
// escapes `\t \n \r \f \a \e \xHH \x{HHHH}` (`\x00` and `\x{}` are U+0000, a
// character like any other, in literals, classes and ranges).
//
// Modifiers (index for SetModifier, letter, bit): 1 i (1) case-insensitive
// for ASCII letters; 2 r (2) Russian ranges include ё/Ё; 3 s (4) `.` matches
// line separators; 4 g (8) greedy quantifiers; 5 m (16) multi-line `^ $`;
// 6 x (32) extended syntax. A new engine has r, s and g on (value 14).
//
// Positions are 1-based and count UTF-16 code units; -1 means "none".
//
//   TRegexEngine re;
//   re.SetModifier(1, true);                 // case-insensitive
//   re.SetExpression(u"\\bthe\\b");
//   int count = 0;
//   for (bool hit = re.Exec(u" The theme, the end "); hit; hit = re.ExecNext())
//     ++count;                                // count == 2
//   re.ReplaceAll(u"a the b", u"<$&>", true);  // u"a <the> b"
//
// Every failure, at compile or at match time, raises ERegexEngine with a
// numeric Code and, for compile errors (codes below 1000), the position of the
// error in the expression; the message of a compile error ends in " (pos N)".
//
// RequiredText tells what every match must hold, so that a caller can pass
// over whole inputs without running a search:
//
//   re.SetExpression(u"\\d+ (?i)km");
//   TRequiredText need = re.RequiredText();
//   // need.units u"km", need.others u"KM", need.ranges {('0', '9')}
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/Exception.h"

namespace tallyfold {

// The error a search raises when an attempt that must backtrack (a pattern
// with back-references) takes more steps than the backtrack budget allows
// (TRegexOptions).
constexpr int kErrorStepBudget = 1016;

// The engine's only exception class.
class ERegexEngine : public Exception {
 public:
  ERegexEngine(const std::string& message, int code, int error_pos)
      : Exception(message), Code(code), ErrorPos(error_pos) {}

  int Code;      // the error code (table in ErrorMessage)
  int ErrorPos;  // compile position of the error; 0 outside a compile
};

// What every match of an expression holds: an input without it has no
// match. An empty answer says nothing.
struct TRequiredText {
  // A literal every match contains: its unit k matches an input unit that
  // equals units[k] or others[k] (the other case under modifier i, else
  // units[k] again). Empty when there is none.
  std::u16string units;
  std::u16string others;
  // Inclusive ranges of ASCII units (first, last), one unit of which every
  // match holds (the digits of \d+). Empty when there is none.
  std::vector<std::pair<char16_t, char16_t>> ranges;

  bool empty() const { return units.empty() && ranges.empty(); }
};

// The switches of an engine's search. The defaults are what every search
// runs with; apart from the two bounds, none changes a result, and the
// tests and fuzzers compare the paths by turning them off or on.
//
//   field                 default  when on
//   filters               on       the shortcuts: the scans for where a match
//                                  can start and for what every match holds,
//                                  the skip rules, the matcher's look-ahead at
//                                  alternatives; off, every position is tried
//                                  the plain way
//   linear                on       the linear path (see the top of this file);
//                                  off, every program runs on the plain
//                                  backtracker
//   linear_everywhere     off      every program the linear path can take
//                                  runs on it, also those without a repeated
//                                  group, which the backtracker runs faster
//   automaton             on       the automaton path (see the top of this
//                                  file)
//   automaton_everywhere  off      every program the automaton can take runs
//                                  on it, also those that make no choice
//   step_limit            0        (non-zero) an attempt that takes about this
//                                  many matcher steps fails as if it had not
//                                  matched, and the search goes on; the linear
//                                  path counts its own steps, which are fewer,
//                                  and the automaton makes no attempts. Fuzzing
//                                  sets it, so that a timeout means a real hang
//   backtrack_budget      50 M     (non-zero) an attempt on the plain
//                                  backtracker that takes more steps moves to
//                                  the linear path when the program has one,
//                                  and otherwise (back-references) ends the
//                                  search with error 1016
struct TRegexOptions {
  static constexpr int64_t kDefaultBacktrackBudget = 50'000'000;

  bool filters = true;
  bool linear = true;
  bool linear_everywhere = false;
  bool automaton = true;
  bool automaton_everywhere = false;
  int32_t step_limit = 0;
  int64_t backtrack_budget = kDefaultBacktrackBudget;

  bool operator==(const TRegexOptions&) const = default;
};

namespace regex_internal {
class Compiler;
class Matcher;
struct SearchState;
struct LiteralNeedle;
}  // namespace regex_internal

class TRegexEngine {
 public:
  static constexpr int kGroupSlots = 15;    // slot 0 is the whole match
  static constexpr int kLoopStackSize = 10;  // nested complex loops

  // Maps a character to its other-case form; `context` is the value given to
  // SetCaseInverter.
  using CaseInverterFunc = char16_t (*)(void* context, char16_t ch);

  TRegexEngine();
  virtual ~TRegexEngine();
  TRegexEngine(const TRegexEngine&) = delete;
  TRegexEngine& operator=(const TRegexEngine&) = delete;

  // --- Expression and options -------------------------------------------

  // Stores the expression; never compiles. Setting the text that is already
  // compiled keeps the program.
  void SetExpression(const std::u16string& text);
  const std::u16string& Expression() const { return expression_; }

  // index 1..6 selects i, r, s, g, m, x; any other index raises 1013.
  void SetModifier(int index, bool on);
  uint32_t Modifiers() const { return modifiers_; }

  const std::u16string& SpaceSet() const { return space_set_; }
  void SetSpaceSet(const std::u16string& set) {
    space_set_ = set;
    ++tables_version_;
  }
  const std::u16string& WordSet() const { return word_set_; }
  void SetWordSet(const std::u16string& set) {
    word_set_ = set;
    ++tables_version_;
  }
  const std::u16string& LineSeparatorSet() const { return line_separator_set_; }
  void SetLineSeparatorSet(const std::u16string& set) {
    line_separator_set_ = set;
    ++tables_version_;
  }
  void SetCaseInverter(CaseInverterFunc func, void* context);

  // A two-character line break counted as one separator (default CR LF), or
  // none with an empty text. Any other length, or two equal characters,
  // raises 128. A change discards the program.
  void SetLinePairedSeparator(const std::u16string& pair);
  std::u16string LinePairedSeparator() const;

  // --- Compilation --------------------------------------------------------

  void Compile();        // raises 1003 without an expression
  bool ProgramReady();   // compiles when stale; raises 1004 on a bad program
  // The search state with its tables and plan made for the current program,
  // character sets and case inverter.
  regex_internal::SearchState& CurrentSearchState();
  void DiscardProgram();
  int LastError() const { return last_error_; }
  int ErrorPos() const;  // compile position; 0 outside a compile

  // --- Searching ----------------------------------------------------------

  // The text the searches run on, all of it: a 0 unit is a character like
  // any other (`\x00` finds it), not the end of the text.
  void SetInputString(const std::u16string& text);
  bool Exec(const std::u16string& input);  // SetInputString, then ExecPos(1)
  bool ExecPos(int offset);                // 1-based; above length+1: false
  bool ExecNext();                         // continues after the last match
  int GroupPos(int n) const;               // 1-based start, or -1
  int GroupLen(int n) const;               // length, or -1

  // `$0 $& $n ${n}` insert groups of the last match; `\c` is c itself.
  std::u16string ExpandTemplate(const std::u16string& tmpl);
  std::u16string ReplaceAll(const std::u16string& input,
                            const std::u16string& tmpl, bool expand);

  // While a search runs, the matcher looks at *flag every few thousand steps
  // and raises ECancelled (platform/Exception.h) once it is set; nullptr
  // turns the check off.
  void SetCancelFlag(const std::atomic<bool>* flag) { cancel_flag_ = flag; }

  // The search's switches, all in TRegexOptions below: SetOptions replaces
  // them at once, the setters each change one.
  void SetOptions(const TRegexOptions& options) { options_ = options; }
  const TRegexOptions& Options() const { return options_; }

  void SetSearchFilters(bool on) { options_.filters = on; }
  bool SearchFilters() const { return options_.filters; }
  void SetLinearMatching(bool on) { options_.linear = on; }
  bool LinearMatching() const { return options_.linear; }
  void SetLinearEverywhere(bool on) { options_.linear_everywhere = on; }
  bool LinearEverywhere() const { return options_.linear_everywhere; }
  void SetAutomatonMatching(bool on) { options_.automaton = on; }
  bool AutomatonMatching() const { return options_.automaton; }
  void SetAutomatonEverywhere(bool on) { options_.automaton_everywhere = on; }
  bool AutomatonEverywhere() const { return options_.automaton_everywhere; }
  void SetMatchStepLimit(int32_t steps) { options_.step_limit = steps < 0 ? 0 : steps; }
  int32_t MatchStepLimit() const { return options_.step_limit; }

  // --- Inspection of the compiled result -----------------------------------

  // The program unit for unit (32-bit fields as two units, low unit first);
  // empty when there is no program.
  std::vector<char16_t> ProgramUnits() const { return program_; }
  char16_t GetFirstChar() const { return first_char_; }
  uint16_t GetAnchorCount() const { return anchor_count_; }
  std::u16string GetMustText() const;  // empty when none
  int GetMustLength() const { return must_length_; }

  // What every match of the expression under the current modifiers holds,
  // as the search itself rules inputs out. Compiles when the program is
  // stale. Never raises: an expression that does not compile, or a program
  // whose search may raise an error (where ruling an input out could hide
  // that error), gives an empty answer.
  TRequiredText RequiredText();

  // Applies letters such as u"i-s" to `bits`; false on a character that is
  // neither a modifier letter nor '-'.
  static bool ApplyModifierLetters(const std::u16string& letters, uint32_t& bits);
  static char16_t InvertCaseAscii(char16_t ch);

 protected:
  // Records `code` in LastError and raises ERegexEngine.
  [[noreturn]] virtual void RaiseError(int code);
  // The fixed message text of an error code, without position suffix.
  virtual std::string ErrorMessage(int code) const;

 private:
  friend class regex_internal::Compiler;
  friend class regex_internal::Matcher;

  // SetInputString's copy of a long text, in slices between looks at the
  // cancel flag, with the input end and the rejecting literal found as one
  // pass would find them.
  void CopyLongInput(const std::u16string& text, const regex_internal::LiteralNeedle* literal);

  // Match state. Positions are indexes into input_string_; -1 means none.
  int group_start_[kGroupSlots];         // start of group n (0: whole match)
  int group_end_[kGroupSlots];           // just after the end of group n
  int32_t loop_counters_[kLoopStackSize + 1];  // used from index 1
  int32_t loop_depth_ = 0;               // active complex loops

  // Search hints computed by the compiler.
  char16_t first_char_ = 0;     // every match starts with it; 0 = none
  uint16_t anchor_count_ = 0;   // non-zero: matches start at the input start
  int must_text_ = -1;          // program index of a literal's characters
  int32_t must_length_ = 0;     // its length

  int input_cursor_ = -1;  // matcher position
  int input_start_ = -1;   // first character of the input
  int input_end_ = -1;     // the input's end: its length

  // Compile scratch; meaningful only while a compile runs.
  int parse_pos_ = -1;        // read position in expression_; -1 = none
  int32_t group_count_ = 0;   // number the next capturing group receives
  bool sizing_ = false;       // sizing pass: count, do not write
  int emit_pos_ = 0;          // write position in program_
  int32_t program_size_ = 0;  // units counted by the sizing pass
  bool expr_start_set_ = false;  // a compile is running (error positions)
  uint32_t compile_modifiers_ = 0;  // modifiers at the current compile point

  bool expr_is_compiled_ = false;   // expression_ compiled and unchanged
  std::vector<char16_t> program_;   // compiled program; empty = none
  uint32_t program_modifiers_ = 0;  // Modifiers the program was built under
  std::u16string expression_;       // the expression; empty = none

  // The input copy: the text in [0, input_length_) followed by a 0 unit;
  // the buffer (input_capacity_ units) may be longer. It is not cleared
  // when made: every unit the search reads was copied in first.
  std::unique_ptr<char16_t[]> input_buffer_;
  std::size_t input_capacity_ = 0;
  int input_length_ = 0;
  bool has_input_ = false;       // SetInputString has been called
  uint64_t input_version_ = 0;   // bumped by every SetInputString
  // Bumped by every change to the program, a set or the case inverter, so
  // the matcher knows when what it derived from them is stale.
  uint64_t tables_version_ = 1;

  int last_error_ = 0;
  uint32_t modifiers_ = 0;

  std::u16string space_set_;
  std::u16string word_set_;
  std::u16string line_separator_set_;
  CaseInverterFunc case_inverter_ = nullptr;
  void* case_inverter_context_ = nullptr;
  bool paired_separator_set_ = false;
  char16_t paired_separator_head_ = 0;
  char16_t paired_separator_tail_ = 0;

  // The search state (the matcher's backtracking stack, the prepared program
  // and its search plan), kept between searches so that a search does not
  // allocate. shared_ptr so this header needs no complete type.
  std::shared_ptr<regex_internal::SearchState> scratch_;
  const std::atomic<bool>* cancel_flag_ = nullptr;  // see SetCancelFlag
  TRegexOptions options_;                           // see SetOptions
};

}  // namespace tallyfold
