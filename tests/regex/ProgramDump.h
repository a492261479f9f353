// Test helpers for the compiler tests: compiling under a given modifier set
// and rendering a compiled program as text for golden comparisons.
//
// A dump lists the nodes in program order, separated by spaces:
//   <unit>:<OPCODE>[-><unit of the linked node>][ operand]
// with the operand as "text" for literals, [members] for sets, #n for
// back-references, {min,max} for counted repeats and {min,max,->body} for
// loops. Characters outside printable ASCII, and " and \, are written \u{XXXX}.
// Example: `a|bc` dumps as
//   1:ALTERNATIVE->9 4:LITERAL->18 "a" 9:ALTERNATIVE->18 12:LITERAL->18 "bc" 18:MATCH_END
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "regex/Program.h"
#include "regex/RegexEngine.h"

namespace tallyfold::test {

using regex_internal::Opcode;

// Modifier bits as the test tables write them.
constexpr uint32_t kI = 1, kR = 2, kS = 4, kG = 8, kM = 16, kX = 32;
constexpr uint32_t kDefaults = kR | kS | kG;  // 14, a new engine's value

// A golden dump: the expression, its modifiers and the expected dump.
struct DumpCase {
  const char16_t* expression;
  uint32_t modifiers;
  const char* dump;
};

inline void SetModifierBits(TRegexEngine& engine, uint32_t bits) {
  for (int index = 1; index <= 6; ++index)
    engine.SetModifier(index, (bits >> (index - 1)) & 1u);
}

inline std::string OpName(char16_t op) {
  using namespace regex_internal;
  if (op >= OPEN_1 && op <= OPEN_14) return "OPEN_" + std::to_string(op - 39);
  if (op >= CLOSE_1 && op <= CLOSE_14) return "CLOSE_" + std::to_string(op - 54);
  switch (op) {
    case MATCH_END: return "MATCH_END";
    case INPUT_START: return "INPUT_START";
    case INPUT_END: return "INPUT_END";
    case ANY_CHAR: return "ANY_CHAR";
    case IN_SET: return "IN_SET";
    case NOT_IN_SET: return "NOT_IN_SET";
    case ALTERNATIVE: return "ALTERNATIVE";
    case LINK: return "LINK";
    case LITERAL: return "LITERAL";
    case EMPTY: return "EMPTY";
    case REPEAT_STAR: return "REPEAT_STAR";
    case REPEAT_PLUS: return "REPEAT_PLUS";
    case DIGIT: return "DIGIT";
    case NOT_DIGIT: return "NOT_DIGIT";
    case WORD_CHAR: return "WORD_CHAR";
    case NOT_WORD_CHAR: return "NOT_WORD_CHAR";
    case SPACE_CHAR: return "SPACE_CHAR";
    case NOT_SPACE_CHAR: return "NOT_SPACE_CHAR";
    case REPEAT_BRACES: return "REPEAT_BRACES";
    case COMMENT: return "COMMENT";
    case LITERAL_CI: return "LITERAL_CI";
    case IN_SET_CI: return "IN_SET_CI";
    case NOT_IN_SET_CI: return "NOT_IN_SET_CI";
    case LOOP_ENTRY: return "LOOP_ENTRY";
    case LOOP: return "LOOP";
    case BACKREF: return "BACKREF";
    case BACKREF_CI: return "BACKREF_CI";
    case REPEAT_STAR_LAZY: return "REPEAT_STAR_LAZY";
    case REPEAT_PLUS_LAZY: return "REPEAT_PLUS_LAZY";
    case REPEAT_BRACES_LAZY: return "REPEAT_BRACES_LAZY";
    case LOOP_LAZY: return "LOOP_LAZY";
    case LINE_START: return "LINE_START";
    case LINE_END: return "LINE_END";
    case ANY_BUT_SEPARATOR: return "ANY_BUT_SEPARATOR";
    case WORD_BOUNDARY: return "WORD_BOUNDARY";
    case NOT_WORD_BOUNDARY: return "NOT_WORD_BOUNDARY";
    default: return "";
  }
}

inline bool HasTextOperand(char16_t op) {
  using namespace regex_internal;
  return op == LITERAL || op == LITERAL_CI || op == IN_SET || op == NOT_IN_SET ||
         op == IN_SET_CI || op == NOT_IN_SET_CI;
}

// Units between a node's header and the next node in program order (the
// operand node of a repeat counts as a node of its own), or -1 when the
// operand runs past the end of the program.
inline int OperandUnits(const std::vector<char16_t>& p, size_t node) {
  using namespace regex_internal;
  const char16_t op = p[node];
  size_t units = 0;
  if (HasTextOperand(op)) {
    size_t i = node + kNodeHeader;
    while (i < p.size() && p[i] != 0) ++i;
    if (i >= p.size()) return -1;
    units = i + 1 - (node + kNodeHeader);
  } else if (op == BACKREF || op == BACKREF_CI) {
    units = 1;
  } else if (op == REPEAT_BRACES || op == REPEAT_BRACES_LAZY) {
    units = 4;
  } else if (op == LOOP || op == LOOP_LAZY) {
    units = 6;
  }
  if (node + kNodeHeader + units > p.size()) return -1;
  return static_cast<int>(units);
}

inline std::string DumpChars(const char16_t* text) {
  std::string out;
  for (; *text != 0; ++text) {
    const char16_t ch = *text;
    if (ch >= 0x20 && ch < 0x7F && ch != u'"' && ch != u'\\') {
      out += static_cast<char>(ch);
    } else {
      char buf[16];
      std::snprintf(buf, sizeof buf, "\\u{%04X}", static_cast<unsigned>(ch));
      out += buf;
    }
  }
  return out;
}

// Renders the program; an unknown opcode or a truncated node ends the dump
// with "?".
inline std::string DumpProgram(const std::vector<char16_t>& p) {
  using namespace regex_internal;
  std::string out;
  size_t node = 1;
  while (node < p.size()) {
    if (node + kNodeHeader > p.size()) return out + " ?";
    const char16_t op = p[node];
    const std::string name = OpName(op);
    const int operand = name.empty() ? -1 : OperandUnits(p, node);
    if (operand < 0) return out + " ?" + std::to_string(op);
    if (!out.empty()) out += ' ';
    out += std::to_string(node) + ":" + name;
    const int32_t link = ReadInt32(p.data() + node + 1);
    if (link != 0) out += "->" + std::to_string(static_cast<int64_t>(node) + link);
    const char16_t* arg = p.data() + node + kNodeHeader;
    if (op == LITERAL || op == LITERAL_CI) {
      out += " \"" + DumpChars(arg) + "\"";
    } else if (HasTextOperand(op)) {
      out += " [" + DumpChars(arg) + "]";
    } else if (op == BACKREF || op == BACKREF_CI) {
      out += " #" + std::to_string(arg[0]);
    } else if (op == REPEAT_BRACES || op == REPEAT_BRACES_LAZY) {
      out += " {" + std::to_string(ReadInt32(arg)) + "," +
             std::to_string(ReadInt32(arg + 2)) + "}";
    } else if (op == LOOP || op == LOOP_LAZY) {
      out += " {" + std::to_string(ReadInt32(arg)) + "," +
             std::to_string(ReadInt32(arg + 2)) + ",->" +
             std::to_string(static_cast<int64_t>(node) + ReadInt32(arg + 4)) + "}";
    }
    node += kNodeHeader + static_cast<size_t>(operand);
  }
  return out;
}

// Compiles `expression` under `modifiers` on a fresh engine and returns its
// program; compile errors pass to the caller.
inline std::vector<char16_t> CompileUnits(const std::u16string& expression,
                                          uint32_t modifiers = kDefaults) {
  TRegexEngine engine;
  SetModifierBits(engine, modifiers);
  engine.SetExpression(expression);
  engine.Compile();
  return engine.ProgramUnits();
}

inline std::string CompileDump(const std::u16string& expression,
                               uint32_t modifiers = kDefaults) {
  return DumpProgram(CompileUnits(expression, modifiers));
}

// The members of the set node that follows the top-level ALTERNATIVE.
inline std::u16string FirstSetMembers(const std::vector<char16_t>& p) {
  std::u16string members;
  for (size_t i = 7; i < p.size() && p[i] != 0; ++i) members += p[i];
  return members;
}

}  // namespace tallyfold::test
