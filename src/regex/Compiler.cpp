// The pattern compiler: the dialect's grammar, the program shapes it emits and
// the search hints computed from the finished program. Escapes and bracket
// classes are read in CharacterClasses.cpp.
//
// This file's external interface is just Compiler::CompileExpression, called
// by TRegexEngine::Compile. Covered by tests/regex/CompilerTest.cpp,
// CompileErrorsTest.cpp and CompileHostileTest.cpp.
#include "regex/Compiler.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <string>

#include "regex/Program.h"

namespace tallyfold::regex_internal {
namespace {

// The characters that end a literal run.
bool IsMeta(char16_t ch) {
  switch (ch) {
    case u'^': case u'$': case u'.': case u'[': case u'(': case u')':
    case u'|': case u'?': case u'+': case u'*': case u'\\': case u'{':
      return true;
    default:
      return false;
  }
}

bool IsQuantifier(char16_t ch) {
  return ch == u'*' || ch == u'+' || ch == u'?' || ch == u'{';
}

// Whitespace that extended syntax (modifier x) ignores outside brackets.
bool IsExtendedSpace(char16_t ch) {
  return ch == u' ' || ch == u'\t' || ch == u'\r' || ch == u'\n';
}

bool IsDigit(char16_t ch) { return ch >= u'0' && ch <= u'9'; }

}  // namespace

// RaiseError may be overridden; should an override return, the compile must
// still not go on, so the engine's own version raises then.
void Compiler::Raise(int code) {
  e_.RaiseError(code);
  e_.TRegexEngine::RaiseError(code);
}

bool Compiler::CompileExpression(const char16_t* text) {
  // Whatever leaves this function by an exception leaves no program behind
  // and marks the expression as not compiled, so the next search retries.
  struct FailureCleanup {
    TRegexEngine& e;
    bool succeeded = false;
    ~FailureCleanup() {
      if (succeeded) return;
      e.DiscardProgram();
      e.expr_is_compiled_ = false;
      e.expr_start_set_ = false;
      e.parse_pos_ = -1;
      e.sizing_ = false;
    }
  } cleanup{e_};

  e_.parse_pos_ = -1;
  e_.expr_start_set_ = true;
  e_.DiscardProgram();
  if (text == nullptr) Raise(100);
  text_ = text;
  const size_t length = std::char_traits<char16_t>::length(text);
  if (length > static_cast<size_t>(std::numeric_limits<int>::max())) Raise(101);
  length_ = static_cast<int>(length);

  e_.program_modifiers_ = e_.modifiers_;
  e_.compile_modifiers_ = e_.modifiers_;
  int top_flags = 0;

  // Sizing pass: only ProgramSize changes.
  e_.parse_pos_ = 0;
  e_.group_count_ = 1;
  e_.program_size_ = 0;
  e_.sizing_ = true;
  EmitChar(kProgramMark);
  ParseReg(false, top_flags);

  e_.program_.assign(static_cast<size_t>(e_.program_size_), u'\0');

  // Emit pass over the same text under the same modifiers.
  e_.sizing_ = false;
  e_.compile_modifiers_ = e_.modifiers_;
  e_.parse_pos_ = 0;
  e_.group_count_ = 1;
  e_.emit_pos_ = 0;
  EmitChar(kProgramMark);
  ParseReg(false, top_flags);

  AnalyseProgram(top_flags);
  e_.expr_is_compiled_ = true;
  e_.expr_start_set_ = false;
  e_.parse_pos_ = -1;
  cleanup.succeeded = true;
  return true;
}

// --- Emitters ---------------------------------------------------------------

// Makes room for `units` more units: counts them in the sizing pass, checks
// them against the counted size in the emit pass. Links are 32-bit, so a
// program may not outgrow that range.
void Compiler::Reserve(int64_t units) {
  if (e_.sizing_) {
    const int64_t size = static_cast<int64_t>(e_.program_size_) + units;
    if (size > std::numeric_limits<int32_t>::max()) Raise(101);
    e_.program_size_ = static_cast<int32_t>(size);
  } else if (e_.emit_pos_ + units > e_.program_size_) {
    Raise(114);
  }
}

int Compiler::EmitOp(char16_t op) {
  Reserve(kNodeHeader);
  if (e_.sizing_) return -1;
  const int node = e_.emit_pos_;
  char16_t* p = e_.program_.data() + node;
  std::fill(p, p + kNodeHeader, u'\0');  // no next node yet
  p[0] = op;
  e_.emit_pos_ += kNodeHeader;
  return node;
}

void Compiler::EmitChar(char16_t ch) {
  Reserve(1);
  if (e_.sizing_) return;
  e_.program_[e_.emit_pos_++] = ch;
}

int Compiler::BeginText() {
  Reserve(kTextLengthUnits);
  if (e_.sizing_) return -1;
  const int at = e_.emit_pos_;
  e_.emit_pos_ += kTextLengthUnits;
  return at;
}

void Compiler::EndText(int length_at) {
  if (e_.sizing_) return;
  WriteInt32(e_.program_.data() + length_at, e_.emit_pos_ - length_at - kTextLengthUnits);
}

// A class range: its end character, then every character strictly between
// start and end (the start itself is already a member).
void Compiler::EmitRange(char16_t start, char16_t end) {
  const int64_t count = end == start ? 1 : int64_t{end} - start;
  Reserve(count);
  if (e_.sizing_) return;
  char16_t* p = e_.program_.data() + e_.emit_pos_;
  *p++ = end;
  for (int ch = start + 1; ch < end; ++ch) *p++ = static_cast<char16_t>(ch);
  e_.emit_pos_ += static_cast<int>(count);
}

// Puts a node of `size` units in front of the operand that starts at
// `operand`, moving the operand up. Links are relative and nothing outside
// the operand links into it yet, so no link needs adjusting.
void Compiler::InsertOp(char16_t op, int operand, int size) {
  Reserve(size);
  if (e_.sizing_) return;
  char16_t* p = e_.program_.data();
  std::memmove(p + operand + size, p + operand,
               static_cast<size_t>(e_.emit_pos_ - operand) * sizeof(char16_t));
  p[operand] = op;
  std::fill(p + operand + 1, p + operand + size, u'\0');
  e_.emit_pos_ += size;
}

// Sets the link of the last node of the chain that starts at `node`.
void Compiler::LinkTail(int node, int target) {
  if (e_.sizing_) return;
  char16_t* p = e_.program_.data();
  for (int next = NextNode(p, node); next != -1; next = NextNode(p, node))
    node = next;
  SetNextNode(p, node, target);
}

// Links the chain inside an ALTERNATIVE node (its operand) to `target`.
void Compiler::LinkOperandTail(int node, int target) {
  if (e_.sizing_ || e_.program_[node] != ALTERNATIVE) return;
  LinkTail(AlternativeBody(node), target);
}

// --- Grammar ------------------------------------------------------------------

// A group (is_group) or the whole expression: alternatives separated by `|`.
int Compiler::ParseReg(bool is_group, int& flags) {
  flags = F_WIDTH;
  const uint32_t saved_modifiers = e_.compile_modifiers_;
  int group = 0;
  int head = -1;
  if (is_group) {
    if (e_.group_count_ >= TRegexEngine::kGroupSlots) Raise(102);
    group = e_.group_count_++;
    head = EmitOp(OpenOp(group));
  }

  // `tail` is the last node of the head's chain. Keeping it saves walking
  // the chain of all earlier alternatives for each new one.
  int tail = head;
  for (bool first = true;; first = false) {
    if (!first) ++e_.parse_pos_;  // the `|`
    int alt_flags = 0;
    const int alternative = ParseAlternative(alt_flags);
    if (is_group || !first) {
      LinkTail(tail, alternative);
    } else {
      head = alternative;
    }
    tail = alternative;
    if (!(alt_flags & F_WIDTH)) flags &= ~F_WIDTH;
    flags |= alt_flags & F_LEADING_REPEAT;
    if (Cur() != u'|') break;
  }

  const int ender = EmitOp(is_group ? CloseOp(group) : static_cast<char16_t>(MATCH_END));
  LinkTail(tail, ender);
  if (!e_.sizing_) {
    // Each alternative's own sequence continues after the group.
    for (int node = head; node != -1; node = NextNode(e_.program_.data(), node))
      LinkOperandTail(node, ender);
  }

  if (is_group) {
    if (Cur() != u')') Raise(103);
    ++e_.parse_pos_;
  } else if (Cur() != u'\0') {
    Raise(104);  // an alternative stops only at 0, `|` or `)`
  }
  e_.compile_modifiers_ = saved_modifiers;
  return head;
}

// One alternative: an ALTERNATIVE node whose operand is the chain of pieces.
int Compiler::ParseAlternative(int& flags) {
  flags = 0;
  const int head = EmitOp(ALTERNATIVE);
  int previous = -1;
  bool any = false;
  for (char16_t ch = Cur(); ch != u'\0' && ch != u'|' && ch != u')';
       ch = Cur()) {
    int piece_flags = 0;
    const int piece = ParseQuantified(piece_flags);
    flags |= piece_flags & F_WIDTH;
    if (any) {
      LinkTail(previous, piece);
    } else {
      flags |= piece_flags & F_LEADING_REPEAT;
    }
    previous = piece;
    any = true;
  }
  if (!any) EmitOp(EMPTY);
  return head;
}

// An atom with its quantifier, if any.
int Compiler::ParseQuantified(int& flags) {
  int atom_flags = 0;
  const int atom = ParseAtom(atom_flags);
  const char16_t op = Cur();
  if (!IsQuantifier(op)) {
    flags = atom_flags;
    return atom;
  }
  if (!(atom_flags & F_WIDTH) && op != u'?') Raise(106);

  const bool single = atom_flags & F_SINGLE;
  const bool greedy_by_default = e_.compile_modifiers_ & kModG;
  int& pos = e_.parse_pos_;
  bool lazy_mark = false;
  switch (op) {
    case u'*': {
      flags = F_LEADING_REPEAT;
      lazy_mark = At(pos + 1) == u'?';
      const bool lazy = lazy_mark || !greedy_by_default;
      if (single) {
        InsertOp(lazy ? REPEAT_STAR_LAZY : REPEAT_STAR, atom, kNodeHeader);
      } else if (lazy) {
        EmitCountedLoop(atom, 0, kOpenMax, true);
      } else {
        EmitStarShape(atom);
      }
      break;
    }
    case u'+': {
      flags = F_WIDTH | F_LEADING_REPEAT;
      lazy_mark = At(pos + 1) == u'?';
      const bool lazy = lazy_mark || !greedy_by_default;
      if (single) {
        InsertOp(lazy ? REPEAT_PLUS_LAZY : REPEAT_PLUS, atom, kNodeHeader);
      } else if (lazy) {
        EmitCountedLoop(atom, 1, kOpenMax, true);
      } else {
        EmitPlusShape(atom);
      }
      break;
    }
    case u'?': {
      flags = 0;
      lazy_mark = At(pos + 1) == u'?';
      const bool lazy = lazy_mark || !greedy_by_default;
      if (!lazy) {
        EmitOptionShape(atom);
      } else if (single) {
        EmitSingleCounted(atom, 0, 1, true);
      } else {
        EmitCountedLoop(atom, 0, 1, true);
      }
      break;
    }
    default: {  // `{`: a counted quantifier, or literal text when malformed
      const int brace = pos++;
      const int min_start = pos;
      while (IsDigit(Cur())) ++pos;
      if (pos == min_start || (Cur() != u'}' && Cur() != u',')) {
        pos = brace;
        flags = atom_flags;
        return atom;
      }
      const int32_t min = ParseCount(min_start, pos);
      int32_t max = min;
      if (Cur() == u',') {
        const int max_start = ++pos;
        while (IsDigit(Cur())) ++pos;
        if (Cur() != u'}') {
          pos = brace;
          flags = atom_flags;
          return atom;
        }
        max = pos == max_start ? kOpenMax : ParseCount(max_start, pos);
      }
      if (max < min) Raise(124);
      flags = (max > 0 ? F_LEADING_REPEAT : 0) | (min > 0 ? F_WIDTH : 0);
      lazy_mark = At(pos + 1) == u'?';
      const bool lazy = lazy_mark || !greedy_by_default;
      if (single) {
        EmitSingleCounted(atom, min, max, lazy);
      } else {
        EmitCountedLoop(atom, min, max, lazy);
      }
      break;
    }
  }
  if (lazy_mark) ++pos;
  ++pos;  // the quantifier character, or the `}`
  if (IsQuantifier(Cur())) Raise(107);
  return atom;
}

// The decimal count of a brace quantifier, digits [first, last).
int32_t Compiler::ParseCount(int first, int last) {
  if (last - first > 8) Raise(122);
  int64_t value = 0;
  for (int i = first; i < last; ++i) value = value * 10 + (At(i) - u'0');
  if (value > kOpenMax) Raise(122);
  return static_cast<int32_t>(value);
}

int Compiler::ParseAtom(int& flags) {
  flags = 0;
  const uint32_t modifiers = e_.compile_modifiers_;
  const char16_t ch = Cur();
  switch (ch) {
    case u'\0':
    case u'|':
    case u')':
      ++e_.parse_pos_;
      Raise(114);  // an alternative stops before these
    case u'^':
    case u'$': {
      ++e_.parse_pos_;
      const bool multi_line =
          (modifiers & kModM) &&
          (!e_.line_separator_set_.empty() || e_.paired_separator_set_);
      if (ch == u'^') return EmitOp(multi_line ? LINE_START : INPUT_START);
      return EmitOp(multi_line ? LINE_END : INPUT_END);
    }
    case u'.':
      ++e_.parse_pos_;
      if (modifiers & kModS) {
        flags = F_WIDTH | F_SINGLE;
        return EmitOp(ANY_CHAR);
      }
      flags = F_WIDTH;
      return EmitOp(ANY_BUT_SEPARATOR);
    case u'[':
      ++e_.parse_pos_;
      return ParseClass(flags);
    case u'(':
      ++e_.parse_pos_;
      return ParseGroup(flags);
    case u'*':
    case u'+':
    case u'?':
      ++e_.parse_pos_;
      Raise(115);
    case u'\\':
      ++e_.parse_pos_;
      return ParseEscape(flags);
    default:
      return ParseLiteralRun(flags);
  }
}

// After `(`: a comment, an inline modifier group or a capturing group.
int Compiler::ParseGroup(int& flags) {
  int& pos = e_.parse_pos_;
  flags = 0;
  if (Cur() == u'?' && At(pos + 1) == u'#') {
    pos += 2;
    while (Cur() != u'\0' && Cur() != u')') ++pos;
    if (Cur() != u')') Raise(125);
    ++pos;
    return EmitOp(COMMENT);
  }
  if (Cur() == u'?') {
    const int letters = ++pos;
    while (Cur() != u'\0' && Cur() != u')') ++pos;
    if (Cur() != u')' ||
        !TRegexEngine::ApplyModifierLetters(
            std::u16string(text_ + letters, static_cast<size_t>(pos - letters)),
            e_.compile_modifiers_)) {
      Raise(127);
    }
    ++pos;
    return EmitOp(COMMENT);
  }
  int group_flags = 0;
  const int node = ParseReg(true, group_flags);
  flags = group_flags & (F_WIDTH | F_LEADING_REPEAT);
  return node;
}

// Ordinary characters up to the next metacharacter, or an extended-syntax
// comment. The read position is on the run's first character.
int Compiler::ParseLiteralRun(int& flags) {
  int& pos = e_.parse_pos_;
  const uint32_t modifiers = e_.compile_modifiers_;
  const bool extended = modifiers & kModX;
  const char16_t first = Cur();

  if (extended && (first == u'#' || IsExtendedSpace(first))) {
    if (first == u'#') {
      while (Cur() != u'\0' && Cur() != u'\r' && Cur() != u'\n') ++pos;
      while (Cur() == u'\r' || Cur() == u'\n') ++pos;
    } else {
      while (IsExtendedSpace(Cur())) ++pos;
    }
    flags = 0;
    return EmitOp(COMMENT);
  }

  // Under x the run's output stops at a `#`, so the scan stops there too:
  // scanning on to the next metacharacter would read the rest of a
  // commented expression again for every line. A `#` inside the run means
  // the run has at least two characters and the quantifier rule cannot cut
  // it before the `#`, so the result is the same.
  const int start = pos;
  int scan = start + (first == u'{' ? 1 : 0);
  bool stopped_at_hash = false;
  for (char16_t ch = At(scan); ch != u'\0' && !IsMeta(ch); ch = At(scan)) {
    if (extended && ch == u'#') {
      stopped_at_hash = true;
      break;
    }
    ++scan;
  }
  int n = scan - start;
  if (n < 1) Raise(119);
  // A quantifier after the run binds to its last character alone.
  if (!stopped_at_hash && n > 1 && IsQuantifier(At(scan))) --n;
  flags = F_WIDTH | (n == 1 && !stopped_at_hash ? F_SINGLE : 0);

  const int node = EmitOp(modifiers & kModI ? LITERAL_CI : LITERAL);
  const int length_at = BeginText();
  for (const int end = start + n; pos < end; ++pos) {
    const char16_t ch = Cur();
    if (extended && IsExtendedSpace(ch)) continue;
    EmitChar(ch);
  }
  EndText(length_at);
  return node;
}

// --- Repetition shapes ----------------------------------------------------------

// REPEAT_BRACES[_LAZY] min max X: a counted repeat of one simple node.
void Compiler::EmitSingleCounted(int operand, int32_t min, int32_t max,
                                 bool lazy) {
  InsertOp(lazy ? REPEAT_BRACES_LAZY : REPEAT_BRACES, operand, kBracesUnits);
  if (e_.sizing_) return;
  SetBracesBounds(e_.program_.data(), operand, min, max);
}

// LOOP_ENTRY X LOOP[_LAZY](min, max, back to X): a counted loop over any body.
void Compiler::EmitCountedLoop(int operand, int32_t min, int32_t max,
                               bool lazy) {
  InsertOp(LOOP_ENTRY, operand, kNodeHeader);
  const int body = LoopEntryBody(operand);
  const int loop = EmitOp(lazy ? LOOP_LAZY : LOOP);
  for (int unit = FixedOperandUnits(LOOP); unit > 0; --unit) EmitChar(u'\0');
  if (!e_.sizing_) SetLoopFields(e_.program_.data(), loop, min, max, body);
  LinkTail(operand, loop);
  LinkTail(body, loop);
}

// Greedy x* as (x LINK->A1 | EMPTY).
void Compiler::EmitStarShape(int operand) {
  InsertOp(ALTERNATIVE, operand, kNodeHeader);
  const int link = EmitOp(LINK);
  LinkOperandTail(operand, link);
  LinkTail(link, operand);
  const int second = EmitOp(ALTERNATIVE);
  LinkTail(operand, second);
  const int empty = EmitOp(EMPTY);
  LinkTail(second, empty);
}

// Greedy x+ as x (LINK->x | EMPTY).
void Compiler::EmitPlusShape(int operand) {
  const int first = EmitOp(ALTERNATIVE);
  LinkTail(operand, first);
  const int link = EmitOp(LINK);
  LinkTail(link, operand);
  const int second = EmitOp(ALTERNATIVE);
  LinkTail(first, second);
  const int empty = EmitOp(EMPTY);
  LinkTail(second, empty);
}

// Greedy x? as (x | EMPTY).
void Compiler::EmitOptionShape(int operand) {
  InsertOp(ALTERNATIVE, operand, kNodeHeader);
  const int second = EmitOp(ALTERNATIVE);
  LinkTail(operand, second);
  const int empty = EmitOp(EMPTY);
  LinkTail(second, empty);
  LinkOperandTail(operand, empty);
}

// --- Search hints ---------------------------------------------------------------

// Only literal text written directly on the top-level chain of a single
// alternative says something about every match.
void Compiler::AnalyseProgram(int top_flags) {
  e_.first_char_ = 0;
  e_.anchor_count_ = 0;
  e_.must_text_ = -1;
  e_.must_length_ = 0;

  const char16_t* p = e_.program_.data();
  const int top = kFirstNode;
  const int after_top = NextNode(p, top);
  if (after_top == -1 || p[after_top] != MATCH_END) return;

  const int first = AlternativeBody(top);
  if (p[first] == LITERAL) {
    e_.first_char_ = LiteralFirst(p, first);
  } else if (p[first] == INPUT_START) {
    ++e_.anchor_count_;
  }

  if (!(top_flags & F_LEADING_REPEAT)) return;
  for (int node = first; node != -1; node = NextNode(p, node)) {
    if (p[node] != LITERAL) continue;
    const int length = TextLength(p, node);
    if (length > 0 && length >= e_.must_length_) {
      e_.must_text_ = static_cast<int>(NodeText(p, node) - p);
      e_.must_length_ = length;
    }
  }
}

}  // namespace tallyfold::regex_internal
