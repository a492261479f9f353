// Hostile and random expressions: the compiler must neither crash nor hang,
// and every program it produces must be well formed.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "regex/ProgramDump.h"

namespace tallyfold {
namespace {

using namespace tallyfold::test;
using namespace tallyfold::regex_internal;

std::u16string Repeat(const std::u16string& unit, int times) {
  std::u16string out;
  out.reserve(unit.size() * static_cast<size_t>(times));
  for (int i = 0; i < times; ++i) out += unit;
  return out;
}

bool ConsumesOneCharacter(const std::vector<char16_t>& p, size_t node) {
  switch (p[node]) {
    case ANY_CHAR: case IN_SET: case NOT_IN_SET: case IN_SET_CI:
    case NOT_IN_SET_CI: case DIGIT: case NOT_DIGIT: case WORD_CHAR:
    case NOT_WORD_CHAR: case SPACE_CHAR: case NOT_SPACE_CHAR: case BACKREF:
    case BACKREF_CI:
      return true;
    case LITERAL: case LITERAL_CI:
      return TextLength(p.data(), static_cast<int>(node)) == 1;
    default:
      return false;
  }
}

// The index of every node in storage order (a simple repeat's operand node
// counts as a node of its own); stops at the first node that does not fit.
std::vector<int> NodeStarts(const std::vector<char16_t>& p) {
  std::vector<int> nodes;
  const int size = static_cast<int>(p.size());
  for (int node = kFirstNode; node < size;) {
    if (!NodeFits(size, node)) break;
    const int operand = OperandUnits(p, static_cast<size_t>(node));
    if (operand < 0) break;
    nodes.push_back(node);
    node = OperandStart(node) + operand;
  }
  return nodes;
}

// Checks the layout of a program: the mark, nodes that tile the program
// exactly, links and loop offsets that land on node starts, single-node
// repeats over one-character nodes, MATCH_END last. Returns "" when sound.
std::string ProgramFault(const std::vector<char16_t>& p) {
  if (p.empty() || p[0] != kProgramMark) return "no program mark";
  std::vector<size_t> nodes;
  for (size_t node = 1; node < p.size();) {
    if (!NodeFits(static_cast<int>(p.size()), static_cast<int>(node)) || OpName(p[node]).empty())
      return "bad node at " + std::to_string(node);
    const int operand = OperandUnits(p, node);
    if (operand < 0) return "operand overruns at " + std::to_string(node);
    nodes.push_back(node);
    node = static_cast<size_t>(OperandStart(static_cast<int>(node)) + operand);
  }
  const std::set<size_t> starts(nodes.begin(), nodes.end());
  auto lands = [&](size_t node, int32_t offset) {
    const int64_t target = static_cast<int64_t>(node) + offset;
    return target >= 0 && starts.count(static_cast<size_t>(target)) > 0;
  };
  for (size_t i = 0; i < nodes.size(); ++i) {
    const size_t node = nodes[i];
    const char16_t op = p[node];
    const int32_t link = LinkOf(p.data(), static_cast<int>(node));
    if (link != 0 && !lands(node, link))
      return "link leaves the nodes at " + std::to_string(node);
    if (IsLoopEnd(op) &&
        !lands(node, LoopBody(p.data(), static_cast<int>(node)) - static_cast<int>(node)))
      return "loop body offset leaves the nodes at " + std::to_string(node);
    if (IsSingleRepeat(op)) {
      if (i + 1 == nodes.size() || !ConsumesOneCharacter(p, nodes[i + 1]) ||
          LinkOf(p.data(), static_cast<int>(nodes[i + 1])) != 0)
        return "repeat over a complex node at " + std::to_string(node);
    }
  }
  if (p[nodes.back()] != MATCH_END) return "MATCH_END is not last";
  return "";
}

TEST(CompileHostile, MegabyteLiteral) {
  std::u16string text(1 << 20, u'a');
  for (size_t i = 0; i < text.size(); ++i)
    text[i] = static_cast<char16_t>(u'a' + i % 26);
  TRegexEngine engine;
  engine.SetExpression(text);
  engine.Compile();
  const std::vector<char16_t> program = engine.ProgramUnits();
  // The mark, the top ALTERNATIVE, the LITERAL with its length, MATCH_END.
  ASSERT_EQ(program.size(),
            kFirstNode + kNodeHeader + kNodeHeader + kTextLengthUnits + text.size() + kNodeHeader);
  EXPECT_EQ(NodeString(program.data(), FirstBodyNode()), text);
  EXPECT_EQ(engine.GetFirstChar(), u'a');
  EXPECT_EQ(ProgramFault(program), "");
}

TEST(CompileHostile, DeepNestingStopsAtTheFifteenthGroup) {
  TRegexEngine engine;
  engine.SetExpression(Repeat(u"(", 100000));
  try {
    engine.Compile();
    ADD_FAILURE() << "compiled";
  } catch (const ERegexEngine& e) {
    EXPECT_EQ(e.Code, 102);
    EXPECT_EQ(e.ErrorPos, 15);
  }
}

TEST(CompileHostile, ManyModifierGroupsInARow) {
  TRegexEngine engine;
  engine.SetExpression(Repeat(u"(?i)", 100000) + u"a");
  engine.Compile();
  const std::vector<char16_t> program = engine.ProgramUnits();
  // The top ALTERNATIVE, a COMMENT per group, the literal "a", MATCH_END.
  ASSERT_EQ(program.size(), kFirstNode + kNodeHeader + 100000u * kNodeHeader +
                                (kNodeHeader + kTextLengthUnits + 1) + kNodeHeader);
  const std::vector<int> nodes = NodeStarts(program);
  ASSERT_EQ(nodes.size(), 100003u);
  EXPECT_EQ(program[nodes[nodes.size() - 2]], LITERAL_CI);
  EXPECT_EQ(NodeString(program.data(), nodes[nodes.size() - 2]), u"a");
  EXPECT_EQ(ProgramFault(program), "");
}

TEST(CompileHostile, ClassOverTheWhole16BitSpace) {
  for (const char16_t* expression : {u"[\\x{0}-\\x{FFFF}]", u"[\\x01-\\x{ffff}]"}) {
    SCOPED_TRACE(DumpChars(expression));
    TRegexEngine engine;
    engine.SetExpression(expression);
    engine.Compile();
    const std::vector<char16_t> program = engine.ProgramUnits();
    const char16_t start = expression[4] == u'0' ? 0 : 1;
    const size_t members = 0x10000u - start;
    ASSERT_EQ(program.size(),
              kFirstNode + kNodeHeader + kNodeHeader + kTextLengthUnits + members + kNodeHeader);
    EXPECT_EQ(TextLength(program.data(), FirstBodyNode()), static_cast<int32_t>(members));
    const char16_t* text = NodeText(program.data(), FirstBodyNode());
    EXPECT_EQ(text[0], start);
    EXPECT_EQ(text[1], 0xFFFF);
    EXPECT_EQ(text[2], start + 1);
    EXPECT_EQ(text[members - 1], 0xFFFE);
  }
}

TEST(CompileHostile, LargestCounts) {
  const DumpCase cases[] = {
      {u"a{99999999}", kDefaults,
       "1:ALTERNATIVE->17 4:REPEAT_BRACES->17 {99999999,99999999} "
       "11:LITERAL \"a\" 17:MATCH_END"},
      {u"a{0,99999999}?", kDefaults,
       "1:ALTERNATIVE->17 4:REPEAT_BRACES_LAZY->17 {0,99999999} "
       "11:LITERAL \"a\" 17:MATCH_END"},
      {u"(a){99999999,}", kDefaults,
       "1:ALTERNATIVE->31 4:LOOP_ENTRY->22 7:OPEN_1->10 10:ALTERNATIVE->19 "
       "13:LITERAL->19 \"a\" 19:CLOSE_1->22 22:LOOP->31 "
       "{99999999,2147483646,->7} 31:MATCH_END"},
  };
  for (const DumpCase& c : cases) {
    SCOPED_TRACE(DumpChars(c.expression));
    EXPECT_EQ(CompileDump(c.expression, c.modifiers), c.dump);
  }
}

// Links are 32-bit, so a program that would outgrow them is refused rather
// than built with links that wrap around.
TEST(CompileHostile, ProgramBeyond32BitLinksIsRefused) {
  const std::u16string expression = Repeat(u"[\\x{1}-\\x{FFFF}]", 32768);
  TRegexEngine engine;
  engine.SetExpression(expression);
  try {
    engine.Compile();
    ADD_FAILURE() << "compiled";
  } catch (const ERegexEngine& e) {
    EXPECT_EQ(e.Code, 101);
    EXPECT_GT(e.ErrorPos, 0);
    EXPECT_LE(e.ErrorPos, static_cast<int>(expression.size()));
    EXPECT_EQ(std::string(e.what()).rfind("TRegexEngine(comp): Regexp Too Big (pos ", 0), 0u);
  }
  EXPECT_TRUE(engine.ProgramUnits().empty());
}

TEST(CompileHostile, ManyAlternatives) {
  const int count = 200000;
  TRegexEngine engine;
  engine.SetExpression(Repeat(u"a|", count));
  engine.Compile();
  const std::vector<char16_t> program = engine.ProgramUnits();
  // Each "a|" is an ALTERNATIVE and a one-letter LITERAL; the last, empty
  // alternative an ALTERNATIVE and an EMPTY node; then MATCH_END.
  ASSERT_EQ(program.size(),
            kFirstNode + count * (kNodeHeader + kNodeHeader + kTextLengthUnits + 1u) +
                2 * kNodeHeader + kNodeHeader);
  EXPECT_EQ(ProgramFault(program), "");
}

// Long texts of ordinary constructs compile in one sweep; a compiler that
// walked its chains from the start for every piece would take minutes here
// and trip the test's timeout.
TEST(CompileHostile, LongOrdinaryExpressionsCompile) {
  const std::u16string units[] = {
      u"[x-z]*\\d{2,3}e?f+.*?g|",
      u"a|",
      u"(?i)ab(?-i)c",
      u"a #c\n",
      u"ab{x}{1,x}\\x41",
  };
  for (const std::u16string& unit : units) {
    SCOPED_TRACE(DumpChars(unit.c_str()));
    std::u16string expression = unit == u"a #c\n" ? u"(?x)" : u"";
    expression += Repeat(unit, 600000 / static_cast<int>(unit.size()));
    TRegexEngine engine;
    engine.SetExpression(expression);
    engine.Compile();
    EXPECT_EQ(ProgramFault(engine.ProgramUnits()), "");
  }
  std::u16string grouped = u"(";
  grouped += Repeat(u"ab|", 200000);
  grouped += u"c)+";
  TRegexEngine engine;
  engine.SetExpression(grouped);
  engine.Compile();
  EXPECT_EQ(ProgramFault(engine.ProgramUnits()), "");
}

// Random short expressions over the dialect's characters: each either
// compiles to a sound program, the same on every compile, or is rejected
// with a compile error code at a position inside the expression.
TEST(CompileHostile, RandomExpressionsCompileSoundlyOrFailCleanly) {
  const std::u16string alphabet =
      u"ab()|*+?{}[]^$.\\-,0129x#i: dDwWsSbBAZяа\n";
  const std::set<int> compile_codes = {102, 103, 104, 106, 107, 108, 109, 110,
                                       111, 112, 113, 115, 116, 122, 124, 125,
                                       127};
  uint32_t state = 12345;
  auto next = [&state](uint32_t bound) {
    state = state * 1103515245u + 12345u;
    return (state >> 8) % bound;
  };
  int compiled = 0;
  for (int round = 0; round < 30000; ++round) {
    std::u16string expression;
    const uint32_t length = 1 + next(14);
    for (uint32_t i = 0; i < length; ++i)
      expression += alphabet[next(static_cast<uint32_t>(alphabet.size()))];
    const uint32_t modifiers = next(64);
    SCOPED_TRACE(DumpChars(expression.c_str()) + " modifiers " +
                 std::to_string(modifiers));
    TRegexEngine engine;
    SetModifierBits(engine, modifiers);
    engine.SetExpression(expression);
    try {
      engine.Compile();
    } catch (const ERegexEngine& e) {
      EXPECT_EQ(compile_codes.count(e.Code), 1u) << e.what();
      EXPECT_GE(e.ErrorPos, 0);
      EXPECT_LE(e.ErrorPos, static_cast<int>(expression.size()));
      EXPECT_TRUE(engine.ProgramUnits().empty());
      continue;
    }
    ++compiled;
    const std::vector<char16_t> program = engine.ProgramUnits();
    ASSERT_EQ(ProgramFault(program), "") << DumpProgram(program);
    ASSERT_EQ(CompileUnits(expression, modifiers), program);
  }
  // The generator must exercise both outcomes to mean anything.
  EXPECT_GT(compiled, 3000);
  EXPECT_LT(compiled, 27000);
}

}  // namespace
}  // namespace tallyfold
