// The compiler's character syntax: escapes outside brackets, the characters
// escapes stand for (hex codes included) and bracket classes with their
// ranges.
//
// This file's external interface is the Compiler members ParseEscape,
// DecodeEscape, DecodeHex, HexValue and ParseClass, called by the grammar in
// Compiler.cpp. Covered by tests/regex/CompilerTest.cpp and
// CompileErrorsTest.cpp.
#include "regex/Compiler.h"

#include <string_view>

#include "regex/Program.h"

namespace tallyfold::regex_internal {
namespace {

// Escapes that stand for a set of characters inside brackets; a `-` before
// one of them cannot start a range.
bool IsClassShorthand(char16_t ch) {
  return ch == u'd' || ch == u'D' || ch == u's' || ch == u'S' || ch == u'w' ||
         ch == u'W';
}

// The Russian alphabet in its own order, with ё/Ё after е/Е; the code points
// of ё and Ё lie outside а-я and А-Я, so plain ranges would miss them.
constexpr std::u16string_view kRussianLower =
    u"абвгдеёжзийклмнопрстуфхцчшщъыьэюя";
constexpr std::u16string_view kRussianUpper =
    u"АБВГДЕЁЖЗИЙКЛМНОПРСТУФХЦЧШЩЪЫЬЭЮЯ";
constexpr char16_t kLowerA = 0x0430, kLowerYa = 0x044F;
constexpr char16_t kUpperA = 0x0410, kUpperYa = 0x042F;

constexpr std::u16string_view kDigits = u"0123456789";

}  // namespace

// `\` outside brackets; the read position is on the escaped character.
int Compiler::ParseEscape(int& flags) {
  const bool ci = e_.compile_modifiers_ & kModI;
  const char16_t e = Cur();
  if (e == u'\0') Raise(116);
  char16_t op = 0;
  flags = F_WIDTH | F_SINGLE;
  switch (e) {
    case u'A': op = INPUT_START; flags = 0; break;
    case u'Z': op = INPUT_END; flags = 0; break;
    case u'b': op = WORD_BOUNDARY; flags = 0; break;
    case u'B': op = NOT_WORD_BOUNDARY; flags = 0; break;
    case u'd': op = DIGIT; break;
    case u'D': op = NOT_DIGIT; break;
    case u'w': op = WORD_CHAR; break;
    case u'W': op = NOT_WORD_CHAR; break;
    case u's': op = SPACE_CHAR; break;
    case u'S': op = NOT_SPACE_CHAR; break;
    default:
      break;
  }
  if (op != 0) {
    ++e_.parse_pos_;
    return EmitOp(op);
  }
  if (e >= u'1' && e <= u'9') {  // one digit only: `\12` is \1 then "2"
    const int node = EmitOp(ci ? BACKREF_CI : BACKREF);
    EmitChar(static_cast<char16_t>(e - u'0'));
    ++e_.parse_pos_;
    return node;
  }
  const char16_t value = DecodeEscape();
  ++e_.parse_pos_;
  const int node = EmitOp(ci ? LITERAL_CI : LITERAL);
  const int length_at = BeginText();
  EmitChar(value);  // U+0000 (`\x00`, `\x{}`) too
  EndText(length_at);
  return node;
}

// The character an escape stands for; leaves the read position on the last
// character of the escape.
char16_t Compiler::DecodeEscape() {
  const char16_t e = Cur();
  switch (e) {
    case u't': return u'\t';
    case u'n': return u'\n';
    case u'r': return u'\r';
    case u'f': return u'\f';
    case u'a': return u'\a';
    case u'e': return u'\x1B';
    case u'x': return DecodeHex();
    default: return e;
  }
}

// `\xHH` or `\x{H...}`; the read position starts on the `x`.
char16_t Compiler::DecodeHex() {
  int& pos = e_.parse_pos_;
  ++pos;
  if (Cur() == u'\0') Raise(111);
  unsigned value = 0;
  if (Cur() == u'{') {
    for (;;) {
      ++pos;
      const char16_t ch = Cur();
      if (ch == u'\0') Raise(111);
      if (ch == u'}') break;
      if (value & 0xF000u) Raise(112);  // one more digit would pass 16 bits
      value = (value << 4) | static_cast<unsigned>(HexValue(ch));
    }
  } else {
    value = static_cast<unsigned>(HexValue(Cur()));
    ++pos;
    if (Cur() == u'\0') Raise(111);
    value = (value << 4) | static_cast<unsigned>(HexValue(Cur()));
  }
  return static_cast<char16_t>(value);
}

int Compiler::HexValue(char16_t ch) {
  if (ch >= u'0' && ch <= u'9') return ch - u'0';
  if (ch >= u'a' && ch <= u'f') return ch - u'a' + 10;
  if (ch >= u'A' && ch <= u'F') return ch - u'A' + 10;
  Raise(108);
}

// `[...]` after the `[`: members are stored as written, ranges expanded.
int Compiler::ParseClass(int& flags) {
  int& pos = e_.parse_pos_;
  const bool ci = e_.compile_modifiers_ & kModI;
  const bool negated = Cur() == u'^';
  if (negated) ++pos;
  const int node = EmitOp(negated ? (ci ? NOT_IN_SET_CI : NOT_IN_SET)
                                  : (ci ? IN_SET_CI : IN_SET));
  const int length_at = BeginText();

  // The last member added, when it was a plain character that may start a
  // range.
  bool can_start_range = false;
  char16_t range_start = 0;
  auto add_plain = [&](char16_t ch) {
    EmitChar(ch);
    range_start = ch;
    can_start_range = true;
  };
  // A shorthand's set adds its members; a 0 unit in the set is none, as
  // for the shorthand outside brackets.
  auto add_all = [&](std::u16string_view members) {
    for (char16_t ch : members)
      if (ch != 0) EmitChar(ch);
    can_start_range = false;
  };

  if (Cur() == u']') {
    add_plain(u']');
    ++pos;
  }
  for (char16_t ch = Cur(); ch != u'\0' && ch != u']'; ch = Cur()) {
    const char16_t after = At(pos + 1);
    if (ch == u'-' && can_start_range && after != u'\0' && after != u']') {
      ++pos;
      if (Cur() == u'\\' && IsClassShorthand(At(pos + 1))) {
        add_all(u"-");
        continue;
      }
      char16_t end = Cur();
      if (end == u'\\') {
        ++pos;
        // A range cannot end in the bare end of the text.
        if (Cur() == u'\0') Raise(110);
        end = DecodeEscape();
      }
      const bool russian = e_.compile_modifiers_ & kModR;
      if (russian && range_start == kLowerA && end == kLowerYa) {
        add_all(kRussianLower);
      } else if (russian && range_start == kUpperA && end == kUpperYa) {
        add_all(kRussianUpper);
      } else if (russian && range_start == kLowerA && end == kUpperYa) {
        add_all(kRussianLower);
        add_all(kRussianUpper);
      } else {
        if (end < range_start) Raise(109);
        EmitRange(range_start, end);
        can_start_range = false;
      }
      ++pos;
    } else if (ch == u'\\') {
      ++pos;
      const char16_t e = Cur();
      if (e == u'\0') Raise(110);
      if (e == u'd') {
        add_all(kDigits);
      } else if (e == u's') {
        add_all(e_.space_set_);
      } else if (e == u'w') {
        add_all(e_.word_set_);
      } else {
        add_plain(DecodeEscape());
      }
      ++pos;
    } else {
      add_plain(ch);
      ++pos;
    }
  }
  EndText(length_at);
  if (Cur() != u']') Raise(113);
  ++pos;
  flags = F_WIDTH | F_SINGLE;
  return node;
}

}  // namespace tallyfold::regex_internal
