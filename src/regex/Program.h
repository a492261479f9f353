// Internal to the engine; include "regex/RegexEngine.h" instead.
//
// Layout of a compiled program. A program is an array of 16-bit units. Unit 0
// is kProgramMark; the nodes follow from unit 1. Every node starts with a
// 3-unit header: the opcode, then a signed 32-bit link (low unit first) that
// counts units from this node to the next one (0: no next node). The operand,
// if any, starts at unit 3 of the node. A literal's characters and a set's
// members are counted, not terminated: every unit, U+0000 included, is a
// character like any other.
#pragma once

#include <cstdint>

namespace tallyfold::regex_internal {

constexpr char16_t kProgramMark = 216;

enum Opcode : char16_t {
  MATCH_END = 0,            // end of the whole expression: success
  INPUT_START = 1,          // ^ (plain form), \A
  INPUT_END = 2,            // $ (plain form), \Z
  ANY_CHAR = 3,             // . under s
  IN_SET = 4,               // [...]: counted member list
  NOT_IN_SET = 5,           // [^...]
  ALTERNATIVE = 6,          // one alternative; operand = its first node
  LINK = 7,                 // back edge of a greedy complex * or +
  LITERAL = 8,              // counted characters
  EMPTY = 9,                // matches the empty text
  REPEAT_STAR = 10,         // greedy * on one simple node (the operand)
  REPEAT_PLUS = 11,         // greedy + on one simple node
  DIGIT = 12,               // \d
  NOT_DIGIT = 13,           // \D
  WORD_CHAR = 14,           // \w
  NOT_WORD_CHAR = 15,       // \W
  SPACE_CHAR = 16,          // \s
  NOT_SPACE_CHAR = 17,      // \S
  REPEAT_BRACES = 18,       // greedy {n,m}: min, max (32-bit each), node
  COMMENT = 19,             // (?#...), (?imsx), whitespace under x
  LITERAL_CI = 20,          // LITERAL under i
  IN_SET_CI = 21,           // IN_SET under i
  NOT_IN_SET_CI = 22,       // NOT_IN_SET under i
  LOOP_ENTRY = 23,          // start of a counted loop over a complex body
  LOOP = 24,                // greedy loop end: min, max, body offset (<0)
  BACKREF = 28,             // \1..\9: one unit, the group number
  BACKREF_CI = 29,          // BACKREF under i
  REPEAT_STAR_LAZY = 30,    // lazy *
  REPEAT_PLUS_LAZY = 31,    // lazy +
  REPEAT_BRACES_LAZY = 32,  // lazy {n,m} and lazy ? on a simple node
  LOOP_LAZY = 33,           // lazy loop end: as LOOP
  LINE_START = 34,          // ^ under m
  LINE_END = 35,            // $ under m
  ANY_BUT_SEPARATOR = 36,   // . without s
  WORD_BOUNDARY = 37,       // \b
  NOT_WORD_BOUNDARY = 38,   // \B
  OPEN_1 = 40,              // OPEN_n = 39 + n, n = 1..14
  OPEN_14 = 53,
  CLOSE_1 = 55,             // CLOSE_n = 54 + n
  CLOSE_14 = 68,
};

constexpr int kNodeHeader = 3;      // opcode + 32-bit link
constexpr int32_t kOpenMax = 2147483646;   // stored for an open maximum
constexpr int32_t kRepeatMax = 2147483647; // * and + on a simple node

// Compile flags reported by atoms, pieces, alternatives and groups.
constexpr int F_WIDTH = 1;           // always consumes at least one character
constexpr int F_SINGLE = 2;          // one node consuming exactly one character
constexpr int F_LEADING_REPEAT = 4;  // begins with a repetition

// Modifier bits.
constexpr uint32_t kModI = 1, kModR = 2, kModS = 4, kModG = 8, kModM = 16,
                   kModX = 32;

inline int32_t ReadInt32(const char16_t* p) {
  return static_cast<int32_t>(static_cast<uint32_t>(p[0]) |
                              (static_cast<uint32_t>(p[1]) << 16));
}

inline void WriteInt32(char16_t* p, int32_t value) {
  const uint32_t v = static_cast<uint32_t>(value);
  p[0] = static_cast<char16_t>(v & 0xFFFF);
  p[1] = static_cast<char16_t>(v >> 16);
}

// Node shapes. Everything outside this header reads and writes nodes through
// the accessors below, never through offsets of its own.
//
//   every node          opcode, link (32-bit)
//   LITERAL[_CI]        header, length (32-bit), characters
//   [NOT_]IN_SET[_CI]   header, length (32-bit), members
//   BACKREF[_CI]        header, group number
//   ALTERNATIVE         header; the alternative's chain starts right after
//   LOOP_ENTRY          header; the loop body starts right after
//   REPEAT_STAR/PLUS    header, then the operand node
//   REPEAT_BRACES       header, min, max (32-bit each), then the operand node
//   LOOP[_LAZY]         header, min, max, body offset from the node (32-bit)
//   OPEN_n, CLOSE_n     header; n is in the opcode

constexpr int kFirstNode = 1;                 // the node after the mark
constexpr int kBracesUnits = kNodeHeader + 4; // REPEAT_BRACES before its operand
constexpr int kLoopUnits = kNodeHeader + 6;   // a whole LOOP node

// --- Every node ---------------------------------------------------------------

// Whether the header of `node` lies inside a program of `size` units.
inline bool NodeFits(int size, int node) { return node >= 0 && node + kNodeHeader <= size; }

// The link as stored: units from `node` to the next node, 0 for none.
inline int32_t LinkOf(const char16_t* program, int node) { return ReadInt32(program + node + 1); }

// Index of the node after `node`, or -1 when its link is 0.
inline int NextNode(const char16_t* program, int node) {
  const int32_t link = LinkOf(program, node);
  return link == 0 ? -1 : node + link;
}

// Links `node` to `target`.
inline void SetNextNode(char16_t* program, int node, int target) {
  WriteInt32(program + node + 1, target - node);
}

// The first unit after the header: where an operand, or the chain of an
// ALTERNATIVE or a LOOP_ENTRY, or the operand node of a simple repeat, starts.
inline int OperandStart(int node) { return node + kNodeHeader; }

// --- Text operands (literals and sets) -------------------------------------------

inline bool HasTextOperand(char16_t op) {
  return op == LITERAL || op == LITERAL_CI || op == IN_SET || op == NOT_IN_SET ||
         op == IN_SET_CI || op == NOT_IN_SET_CI;
}

// Units before a text operand's first character: its length.
constexpr int kTextLengthUnits = 2;

// How many characters (members) a literal (set) holds, as stored.
inline int32_t TextLength(const char16_t* program, int node) {
  return ReadInt32(program + OperandStart(node));
}

// A literal's characters or a set's members, TextLength of them.
inline const char16_t* NodeText(const char16_t* program, int node) {
  return program + OperandStart(node) + kTextLengthUnits;
}

// Whether the text operand of the node at `node` lies inside a program of
// `size` units, with a length that is not negative.
inline bool TextFits(const char16_t* program, int size, int node) {
  const int start = OperandStart(node);
  if (node < 0 || start + kTextLengthUnits > size) return false;
  const int32_t length = TextLength(program, node);
  return length >= 0 && length <= size - start - kTextLengthUnits;
}

// The first character of a literal (the compiler makes none empty).
inline char16_t LiteralFirst(const char16_t* program, int node) {
  return NodeText(program, node)[0];
}

// --- Chains held by a node ------------------------------------------------------------

inline int AlternativeBody(int node) { return OperandStart(node); }
inline int LoopEntryBody(int node) { return OperandStart(node); }

// --- Single-node repeats ----------------------------------------------------------------

inline bool IsSingleRepeat(char16_t op) {
  return op == REPEAT_STAR || op == REPEAT_PLUS || op == REPEAT_BRACES ||
         op == REPEAT_STAR_LAZY || op == REPEAT_PLUS_LAZY || op == REPEAT_BRACES_LAZY;
}
inline bool IsBracesRepeat(char16_t op) { return op == REPEAT_BRACES || op == REPEAT_BRACES_LAZY; }

// A counted repeat's bounds and operand node.
inline int32_t BracesMin(const char16_t* program, int node) {
  return ReadInt32(program + OperandStart(node));
}
inline int32_t BracesMax(const char16_t* program, int node) {
  return ReadInt32(program + OperandStart(node) + 2);
}
inline int BracesOperand(int node) { return node + kBracesUnits; }
inline void SetBracesBounds(char16_t* program, int node, int32_t min, int32_t max) {
  WriteInt32(program + OperandStart(node), min);
  WriteInt32(program + OperandStart(node) + 2, max);
}

// --- Loops over complex bodies ----------------------------------------------------------

inline bool IsLoopEnd(char16_t op) { return op == LOOP || op == LOOP_LAZY; }
// Whether a whole LOOP node at `node` lies inside a program of `size` units.
inline bool LoopFits(int size, int node) { return node >= 0 && node + kLoopUnits <= size; }
inline int32_t LoopMin(const char16_t* program, int node) {
  return ReadInt32(program + OperandStart(node));
}
inline int32_t LoopMax(const char16_t* program, int node) {
  return ReadInt32(program + OperandStart(node) + 2);
}
// The first node of the loop's body.
inline int LoopBody(const char16_t* program, int node) {
  return node + ReadInt32(program + OperandStart(node) + 4);
}
inline void SetLoopFields(char16_t* program, int node, int32_t min, int32_t max, int body) {
  WriteInt32(program + OperandStart(node), min);
  WriteInt32(program + OperandStart(node) + 2, max);
  WriteInt32(program + OperandStart(node) + 4, body - node);
}

// --- Back-references and groups -------------------------------------------------------

inline bool IsBackref(char16_t op) { return op == BACKREF || op == BACKREF_CI; }
inline char16_t BackrefGroup(const char16_t* program, int node) {
  return program[OperandStart(node)];
}

inline bool IsOpen(char16_t op) { return op >= OPEN_1 && op <= OPEN_14; }
inline bool IsClose(char16_t op) { return op >= CLOSE_1 && op <= CLOSE_14; }
inline int OpenGroup(char16_t op) { return op - OPEN_1 + 1; }    // 1..14
inline int CloseGroup(char16_t op) { return op - CLOSE_1 + 1; }  // 1..14
inline char16_t OpenOp(int group) { return static_cast<char16_t>(OPEN_1 + group - 1); }
inline char16_t CloseOp(int group) { return static_cast<char16_t>(CLOSE_1 + group - 1); }

// --- Sizes ---------------------------------------------------------------------------------

// Units of a fixed-size operand (a back-reference's group, a counted
// repeat's bounds, a loop's fields); 0 for the others.
inline int FixedOperandUnits(char16_t op) {
  switch (op) {
    case BACKREF: case BACKREF_CI: return 1;
    case REPEAT_BRACES: case REPEAT_BRACES_LAZY: return kBracesUnits - kNodeHeader;
    case LOOP: case LOOP_LAZY: return kLoopUnits - kNodeHeader;
    default: return 0;
  }
}

// Units between a node's header and the next node in storage order (a
// simple repeat's operand node counts as a node of its own), or -1 when the
// operand runs past the end of a program of `size` units.
inline int OperandUnits(const char16_t* program, int size, int node) {
  const char16_t op = program[node];
  int units = FixedOperandUnits(op);
  if (HasTextOperand(op)) {
    if (!TextFits(program, size, node)) return -1;
    units = kTextLengthUnits + TextLength(program, node);
  }
  if (OperandStart(node) + units > size) return -1;
  return units;
}

// The node every match of `node` must begin with: the operand of a `+` or
// of a counted repeat with a minimum of at least 1, `node` itself when it is
// no repeat, -1 for a counted repeat that may run zero times or a node that
// does not fit the program.
inline int MandatoryFirstNode(const char16_t* program, int size, int node) {
  switch (program[node]) {
    case REPEAT_PLUS:
    case REPEAT_PLUS_LAZY:
      return OperandStart(node);
    case REPEAT_BRACES:
    case REPEAT_BRACES_LAZY:
      if (!NodeFits(size, BracesOperand(node)) || BracesMin(program, node) < 1) return -1;
      return BracesOperand(node);
    default:
      return node;
  }
}

}  // namespace tallyfold::regex_internal
