// Internal to the engine; include "regex/RegexEngine.h" instead.
//
// The pattern compiler. It turns the engine's expression into the program
// laid out in Program.h, working directly on the engine's compile fields
// (read position, group counter, write position, modifiers in force) so that
// RaiseError reports the position of every error.
//
// The compile runs the same recursive-descent parser twice: a sizing pass
// that only counts units, then an emit pass into one buffer of exactly that
// size. Both passes read the same text under the same modifiers and so make
// the same decisions. Recursion happens only at capturing groups, which are
// limited to 14, so the stack depth does not grow with the expression.
#pragma once

#include <cstdint>

#include "regex/RegexEngine.h"

namespace tallyfold::regex_internal {

class Compiler {
 public:
  explicit Compiler(TRegexEngine& engine) : e_(engine) {}

  // Compiles the 0-terminated `text` into the engine's program and search
  // hints. Raises ERegexEngine on every failure; on the way out the program
  // is freed and the expression is marked not compiled.
  bool CompileExpression(const char16_t* text);

 private:
  // --- Reading the expression --------------------------------------------
  // 0 at and beyond the end of the text.
  char16_t At(int index) const {
    return index >= 0 && index < length_ ? text_[index] : u'\0';
  }
  char16_t Cur() const { return At(e_.parse_pos_); }
  [[noreturn]] void Raise(int code);

  // --- Parser (one routine per grammar level) -----------------------------
  // Escapes and bracket classes are read in CharacterClasses.cpp.
  int ParseReg(bool is_group, int& flags);
  int ParseAlternative(int& flags);
  int ParseQuantified(int& flags);
  int ParseAtom(int& flags);
  int ParseEscape(int& flags);
  int ParseClass(int& flags);
  int ParseGroup(int& flags);
  int ParseLiteralRun(int& flags);
  char16_t DecodeEscape();
  char16_t DecodeHex();
  int HexValue(char16_t ch);
  int32_t ParseCount(int first, int last);

  // --- Repetition shapes ---------------------------------------------------
  void EmitSingleCounted(int operand, int32_t min, int32_t max, bool lazy);
  void EmitCountedLoop(int operand, int32_t min, int32_t max, bool lazy);
  void EmitStarShape(int operand);
  void EmitPlusShape(int operand);
  void EmitOptionShape(int operand);

  // --- Emitters; in the sizing pass they only count -----------------------
  void Reserve(int64_t units);
  int EmitOp(char16_t op);
  void EmitChar(char16_t ch);
  // A text operand (a literal's characters, a set's members): BeginText
  // makes room for its length before the first character and returns where
  // it goes; EndText stores the count of the characters emitted since.
  int BeginText();
  void EndText(int length_at);
  void EmitRange(char16_t start, char16_t end);
  void InsertOp(char16_t op, int operand, int size);
  void LinkTail(int node, int target);
  void LinkOperandTail(int node, int target);

  void AnalyseProgram(int top_flags);

  TRegexEngine& e_;
  const char16_t* text_ = nullptr;  // the expression being compiled
  int length_ = 0;                  // units before its first 0 unit
};

}  // namespace tallyfold::regex_internal
