// The engine object: its defaults, options, lazy compilation, match position
// queries and error reporting. The compiler lives in Compiler.cpp, the
// matcher in Matcher.cpp and the search entries in SearchDriver.cpp.
//
// Covered by tests/regex/EngineObjectTest.cpp.
#include "regex/RegexEngine.h"

#include <cstring>
#include <exception>
#include <iterator>
#include <memory>
#include <string>
#include <string_view>

#include "regex/Compiler.h"
#include "regex/Matcher.h"
#include "regex/Program.h"
#include "regex/SearchDriver.h"
#include "regex/SearchPlan.h"

namespace tallyfold {
namespace {

// Defaults copied into every new engine.
constexpr std::u16string_view kDefaultSpaceSet = u" \t\n\r\f";
constexpr std::u16string_view kDefaultWordSet =
    u"0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ_";
// The trailing 0 unit is stored as a member of its own, but a set's 0 unit
// is no member, so it never takes part: U+0000 in the input is no separator.
constexpr char16_t kDefaultLineSeparators[] = {u'\r',   u'\n',   u'\v', u'\f',
                                               u'\u2028', u'\u2029', u'\0'};
constexpr std::u16string_view kDefaultLineSeparatorSet(
    kDefaultLineSeparators, std::size(kDefaultLineSeparators));
constexpr std::u16string_view kDefaultLinePair = u"\r\n";

// The modifier defaults by SetModifier index 1..5: i off, r s g on, m off.
constexpr bool kDefaultModifierOn[] = {false, true, true, true, false};

char16_t InvertCaseAsciiAdapter(void*, char16_t ch) {
  return TRegexEngine::InvertCaseAscii(ch);
}

}  // namespace

TRegexEngine::TRegexEngine() {
  for (int n = 0; n < kGroupSlots; ++n) {
    group_start_[n] = -1;
    group_end_[n] = -1;
  }
  for (int32_t& counter : loop_counters_) counter = 0;
  for (int index = 1; index <= 5; ++index)
    SetModifier(index, kDefaultModifierOn[index - 1]);
  space_set_ = kDefaultSpaceSet;
  word_set_ = kDefaultWordSet;
  case_inverter_ = InvertCaseAsciiAdapter;
  case_inverter_context_ = nullptr;
  line_separator_set_ = kDefaultLineSeparatorSet;
  SetLinePairedSeparator(std::u16string(kDefaultLinePair));
}

TRegexEngine::~TRegexEngine() = default;

void TRegexEngine::SetExpression(const std::u16string& text) {
  // The corpus scan sets its expression again for every line: compared as
  // bytes, a long one (an alternation of thousands of words) costs little.
  if (expr_is_compiled_ && text.size() == expression_.size() &&
      std::memcmp(text.data(), expression_.data(), text.size() * sizeof(char16_t)) == 0)
    return;
  expr_is_compiled_ = false;
  expression_ = text;
  DiscardProgram();
}

void TRegexEngine::SetModifier(int index, bool on) {
  if (index < 1 || index > 6) RaiseError(1013);
  const uint32_t bit = 1u << (index - 1);
  if (on) {
    modifiers_ |= bit;
  } else {
    modifiers_ &= ~bit;
  }
}

// A null function restores the default, so the matcher always has one.
void TRegexEngine::SetCaseInverter(CaseInverterFunc func, void* context) {
  case_inverter_ = func != nullptr ? func : InvertCaseAsciiAdapter;
  case_inverter_context_ = func != nullptr ? context : nullptr;
  ++tables_version_;
}

void TRegexEngine::SetLinePairedSeparator(const std::u16string& pair) {
  if (pair.size() == 2) {
    if (pair[0] == pair[1]) RaiseError(128);
    if (paired_separator_set_ && paired_separator_head_ == pair[0] &&
        paired_separator_tail_ == pair[1]) {
      return;
    }
    paired_separator_set_ = true;
    paired_separator_head_ = pair[0];
    paired_separator_tail_ = pair[1];
    DiscardProgram();
  } else if (pair.empty()) {
    // Head and tail keep their values; only the flag says the pair is off.
    if (!paired_separator_set_) return;
    paired_separator_set_ = false;
    DiscardProgram();
  } else {
    RaiseError(128);
  }
}

std::u16string TRegexEngine::LinePairedSeparator() const {
  if (!paired_separator_set_) return std::u16string();
  return std::u16string{paired_separator_head_, paired_separator_tail_};
}

void TRegexEngine::Compile() {
  if (expression_.empty()) RaiseError(1003);
  ++tables_version_;
  regex_internal::Compiler(*this).CompileExpression(expression_.c_str());
}

bool TRegexEngine::ProgramReady() {
  if (modifiers_ != program_modifiers_) DiscardProgram();
  if (program_.empty()) Compile();
  if (program_.empty() || program_[0] != regex_internal::kProgramMark)
    RaiseError(1004);
  return true;
}

// The search hints point into the program, so they go with it.
void TRegexEngine::DiscardProgram() {
  ++tables_version_;
  program_.clear();
  program_.shrink_to_fit();
  first_char_ = 0;
  anchor_count_ = 0;
  must_text_ = -1;
  must_length_ = 0;
}

int TRegexEngine::ErrorPos() const {
  if (!expr_start_set_ || parse_pos_ < 0) return 0;
  return parse_pos_;
}

int TRegexEngine::GroupPos(int n) const {
  if (n < 0 || n >= kGroupSlots || !has_input_ || group_start_[n] < 0 ||
      group_end_[n] < 0) {
    return -1;
  }
  return group_start_[n] + 1;
}

int TRegexEngine::GroupLen(int n) const {
  if (n < 0 || n >= kGroupSlots || !has_input_ || group_start_[n] < 0 ||
      group_end_[n] < 0) {
    return -1;
  }
  return group_end_[n] - group_start_[n];
}

std::u16string TRegexEngine::GetMustText() const {
  if (must_text_ < 0 || program_.empty()) return std::u16string();
  return std::u16string(program_.data() + must_text_,
                        static_cast<size_t>(must_length_));
}

TRequiredText TRegexEngine::RequiredText() {
  TRequiredText required;
  try {
    if (!ProgramReady()) return required;
    // An empty plan stands for a program that may raise.
    const regex_internal::SearchPlan& plan = CurrentSearchState().plan;
    const regex_internal::LiteralNeedle& literal = plan.Rejecting();
    required.units = literal.units;
    required.others = literal.others;
    const regex_internal::StartScan& units = plan.required_units;
    if (units.kind == regex_internal::StartScan::kRanges) {
      for (int k = 0; k < units.count; ++k)
        required.ranges.emplace_back(units.first[k], units.last[k]);
    }
  } catch (const std::exception&) {
    return TRequiredText();
  }
  return required;
}

bool TRegexEngine::ApplyModifierLetters(const std::u16string& letters,
                                        uint32_t& bits) {
  using namespace regex_internal;
  bool on = true;
  for (char16_t ch : letters) {
    uint32_t bit = 0;
    switch (ch) {
      case u'-': on = false; continue;
      case u'i': case u'I': bit = kModI; break;
      case u'r': case u'R': bit = kModR; break;
      case u's': case u'S': bit = kModS; break;
      case u'g': case u'G': bit = kModG; break;
      case u'm': case u'M': bit = kModM; break;
      case u'x': case u'X': bit = kModX; break;
      default: return false;
    }
    if (on) {
      bits |= bit;
    } else {
      bits &= ~bit;
    }
  }
  return true;
}

// Only ASCII letters have another case here; every other character,
// non-ASCII letters included, is its own other case.
char16_t TRegexEngine::InvertCaseAscii(char16_t ch) {
  if (ch >= u'a' && ch <= u'z') return static_cast<char16_t>(ch - u'a' + u'A');
  if (ch >= u'A' && ch <= u'Z') return static_cast<char16_t>(ch - u'A' + u'a');
  return ch;
}

void TRegexEngine::RaiseError(int code) {
  last_error_ = code;
  const int position = ErrorPos();
  std::string message = ErrorMessage(code);
  if (code < 1000) message += " (pos " + std::to_string(position) + ")";
  throw ERegexEngine(message, code, position);
}

std::string TRegexEngine::ErrorMessage(int code) const {
  switch (code) {
    case 0: return "No errors";
    case 100: return "TRegexEngine(comp): Null Argument";
    case 101: return "TRegexEngine(comp): Regexp Too Big";
    case 102: return "TRegexEngine(comp): ParseReg Too Many ()";
    case 103:
    case 104: return "TRegexEngine(comp): ParseReg Unmatched ()";
    case 105: return "TRegexEngine(comp): ParseReg Junk On End";
    case 106: return "TRegexEngine(comp): *+ Operand Could Be Empty";
    case 107: return "TRegexEngine(comp): Nested *?+";
    case 108: return "TRegexEngine(comp): Bad Hex Digit";
    case 109: return "TRegexEngine(comp): Invalid [] Range";
    case 110: return "TRegexEngine(comp): Parse Atom Trailing \\";
    case 111: return "TRegexEngine(comp): No Hex Code After \\x";
    case 112: return "TRegexEngine(comp): Hex Code After \\x Is Too Big";
    case 113: return "TRegexEngine(comp): Unmatched []";
    case 114: return "TRegexEngine(comp): Internal Urp";
    case 115: return "TRegexEngine(comp): ?+*{ Follows Nothing";
    case 116: return "TRegexEngine(comp): Trailing \\";
    case 119: return "TRegexEngine(comp): RarseAtom Internal Disaster";
    case 122: return "TRegexEngine(comp): BRACES Argument Too Big";
    case 124: return "TRegexEngine(comp): BRACE Min Param Greater then Max";
    case 125: return "TRegexEngine(comp): Unclosed (?#Comment)";
    case 126:
      return "TRegexEngine(comp): Counted and lazy loops over complex operands "
             "are not available";
    case 127: return "TRegexEngine(comp): Urecognized Modifier";
    case 128:
      return "TRegexEngine(comp): LinePairedSeparator must countain two "
             "different chars or no chars at all";
    case 1000: return "TRegexEngine(exec): RegRepeat Called Inappropriately";
    case 1001: return "TRegexEngine(exec): MatchPrim Memory Corruption";
    case 1002: return "TRegexEngine(exec): MatchPrim Corrupted Pointers";
    case 1003: return "TRegexEngine(exec): Not Assigned Expression Property";
    case 1004: return "TRegexEngine(exec): Corrupted Program";
    case 1005: return "TRegexEngine(exec): No Input String Specified";
    case 1006: return "TRegexEngine(exec): Offset Must Be Greater Then 0";
    case 1007: return "TRegexEngine(exec): ExecNext Without Exec[Pos]";
    case 1008:
      return "TRegexEngine(exec): GetInputString Without InputString";
    case 1011: return "TRegexEngine(dump): Corrupted Opcode";
    case 1014: return "TRegexEngine(exec): Loop Stack Exceeded";
    case 1015: return "TRegexEngine(exec): Loop Without LoopEntry !";
    case 1016:
      return "TRegexEngine(exec): Backtracking Step Budget Exceeded, Try A Simpler Pattern";
    case 2000: return "TRegexEngine(misc): Bad p-code imported";
    default: return "Unknown error";
  }
}

}  // namespace tallyfold
