// Internal to the engine; include "regex/RegexEngine.h" instead.
//
// Layout of a compiled program. A program is an array of 16-bit units. Unit 0
// is kProgramMark; the nodes follow from unit 1. Every node starts with a
// 3-unit header: the opcode, then a signed 32-bit link (low unit first) that
// counts units from this node to the next one (0: no next node). The operand,
// if any, starts at unit 3 of the node.
#pragma once

#include <cstdint>

namespace tallyfold::regex_internal {

constexpr char16_t kProgramMark = 216;

enum Opcode : char16_t {
  MATCH_END = 0,            // end of the whole expression: success
  INPUT_START = 1,          // ^ (plain form), \A
  INPUT_END = 2,            // $ (plain form), \Z
  ANY_CHAR = 3,             // . under s
  IN_SET = 4,               // [...]: 0-terminated member list
  NOT_IN_SET = 5,           // [^...]
  ALTERNATIVE = 6,          // one alternative; operand = its first node
  LINK = 7,                 // back edge of a greedy complex * or +
  LITERAL = 8,              // 0-terminated characters
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

// Index of the node after `node`, or -1 when its link is 0.
inline int NextNode(const char16_t* program, int node) {
  const int32_t link = ReadInt32(program + node + 1);
  return link == 0 ? -1 : node + link;
}

// The node every match of `node` must begin with: the operand of a `+` or
// of a counted repeat with a minimum of at least 1, `node` itself when it is
// no repeat, -1 for a counted repeat that may run zero times or a node that
// does not fit the program.
inline int MandatoryFirstNode(const char16_t* program, int size, int node) {
  switch (program[node]) {
    case REPEAT_PLUS:
    case REPEAT_PLUS_LAZY:
      return node + kNodeHeader;
    case REPEAT_BRACES:
    case REPEAT_BRACES_LAZY:
      if (node + 7 + kNodeHeader > size || ReadInt32(program + node + 3) < 1) return -1;
      return node + 7;
    default:
      return node;
  }
}

}  // namespace tallyfold::regex_internal
