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
#include <string_view>
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
  if (IsOpen(op)) return "OPEN_" + std::to_string(OpenGroup(op));
  if (IsClose(op)) return "CLOSE_" + std::to_string(CloseGroup(op));
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

// Units between a node's header and the next node in program order (the
// operand node of a repeat counts as a node of its own), or -1 when the
// operand runs past the end of the program.
inline int OperandUnits(const std::vector<char16_t>& p, size_t node) {
  return regex_internal::OperandUnits(p.data(), static_cast<int>(p.size()),
                                      static_cast<int>(node));
}

// A literal's characters or a set's members.
inline std::u16string_view NodeString(const char16_t* prog, int node) {
  return {regex_internal::NodeText(prog, node),
          static_cast<std::size_t>(regex_internal::TextLength(prog, node))};
}

inline std::string DumpChars(std::u16string_view text) {
  std::string out;
  for (const char16_t ch : text) {
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
  const int size = static_cast<int>(p.size());
  const char16_t* const prog = p.data();
  int node = kFirstNode;
  while (node < size) {
    if (!NodeFits(size, node)) return out + " ?";
    const char16_t op = prog[node];
    const std::string name = OpName(op);
    const int operand = name.empty() ? -1 : OperandUnits(p, node);
    if (operand < 0) return out + " ?" + std::to_string(op);
    if (!out.empty()) out += ' ';
    out += std::to_string(node) + ":" + name;
    const int32_t link = LinkOf(prog, node);
    if (link != 0) out += "->" + std::to_string(static_cast<int64_t>(node) + link);
    if (op == LITERAL || op == LITERAL_CI) {
      out += " \"" + DumpChars(NodeString(prog, node)) + "\"";
    } else if (HasTextOperand(op)) {
      out += " [" + DumpChars(NodeString(prog, node)) + "]";
    } else if (IsBackref(op)) {
      out += " #" + std::to_string(BackrefGroup(prog, node));
    } else if (IsBracesRepeat(op)) {
      out += " {" + std::to_string(BracesMin(prog, node)) + "," +
             std::to_string(BracesMax(prog, node)) + "}";
    } else if (IsLoopEnd(op)) {
      out += " {" + std::to_string(LoopMin(prog, node)) + "," +
             std::to_string(LoopMax(prog, node)) + ",->" +
             std::to_string(LoopBody(prog, node)) + "}";
    }
    node = OperandStart(node) + operand;
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

// The first node of the top-level ALTERNATIVE's chain.
inline int FirstBodyNode() { return regex_internal::AlternativeBody(regex_internal::kFirstNode); }

// The members of the set node that follows the top-level ALTERNATIVE.
inline std::u16string FirstSetMembers(const std::vector<char16_t>& p) {
  const int node = FirstBodyNode();
  if (!regex_internal::TextFits(p.data(), static_cast<int>(p.size()), node)) return u"";
  return std::u16string(NodeString(p.data(), node));
}

}  // namespace tallyfold::test
