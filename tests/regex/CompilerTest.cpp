// Compiled programs: the worked examples unit for unit, golden dumps of every
// shape the compiler emits, class members, escapes and the search hints.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "regex/ProgramDump.h"

namespace tallyfold {
namespace {

using namespace tallyfold::test;

// --- The three worked examples, unit for unit -------------------------------

struct UnitCase {
  const char16_t* expression;
  std::vector<char16_t> units;
};

TEST(CompilerWorkedExamples, ProduceExactlyTheDocumentedUnits) {
  const UnitCase cases[] = {
      {u"a|bc",
       {216, 6, 9, 0, 8, 16, 0, 1, 0, u'a', 6, 10, 0, 8, 7, 0, 2, 0, u'b', u'c', 0, 0,
        0}},
      {u"ab*",
       {216, 6, 18, 0, 8, 6, 0, 1, 0, u'a', 10, 9, 0, 8, 0, 0, 1, 0, u'b', 0, 0, 0}},
      {u"(ab){2,3}",
       {216, 6, 31, 0,                      // ALTERNATIVE -> 32
        23, 19, 0,                          // LOOP_ENTRY -> 23
        40, 3, 0,                           // OPEN_1 -> 10
        6, 10, 0,                           // ALTERNATIVE -> 20
        8, 7, 0, 2, 0, u'a', u'b',          // LITERAL -> 20, length 2
        55, 3, 0,                           // CLOSE_1 -> 23
        24, 9, 0, 2, 0, 3, 0, 0xFFF0, 0xFFFF,  // LOOP {2,3} body -16
        0, 0, 0}},                          // MATCH_END
  };
  for (const UnitCase& c : cases) {
    SCOPED_TRACE(DumpChars(c.expression));
    TRegexEngine engine;
    engine.SetExpression(c.expression);
    engine.Compile();
    EXPECT_EQ(engine.ProgramUnits(), c.units);
    EXPECT_EQ(engine.GetAnchorCount(), 0);
    EXPECT_EQ(engine.GetMustText(), u"");
    EXPECT_EQ(engine.GetMustLength(), 0);
  }
  TRegexEngine a_or_bc, ab_star, loop;
  a_or_bc.SetExpression(u"a|bc");
  ab_star.SetExpression(u"ab*");
  loop.SetExpression(u"(ab){2,3}");
  a_or_bc.Compile();
  ab_star.Compile();
  loop.Compile();
  EXPECT_EQ(a_or_bc.GetFirstChar(), 0);
  EXPECT_EQ(ab_star.GetFirstChar(), u'a');
  EXPECT_EQ(loop.GetFirstChar(), 0);
}

// --- Golden dumps ------------------------------------------------------------

void ExpectDumps(const DumpCase* begin, const DumpCase* end) {
  for (const DumpCase* c = begin; c != end; ++c) {
    SCOPED_TRACE(DumpChars(c->expression) + " modifiers " +
                 std::to_string(c->modifiers));
    EXPECT_EQ(CompileDump(c->expression, c->modifiers), c->dump);
  }
}

TEST(CompilerShapes, RepeatsOfOneSimpleNode) {
  const DumpCase cases[] = {
      {u"ab*?", kDefaults,
       "1:ALTERNATIVE->19 4:LITERAL->10 \"a\" 10:REPEAT_STAR_LAZY->19 "
       "13:LITERAL \"b\" 19:MATCH_END"},
      // Without g every quantifier is lazy.
      {u"ab*", kR | kS,
       "1:ALTERNATIVE->19 4:LITERAL->10 \"a\" 10:REPEAT_STAR_LAZY->19 "
       "13:LITERAL \"b\" 19:MATCH_END"},
      {u"a+", kDefaults,
       "1:ALTERNATIVE->13 4:REPEAT_PLUS->13 7:LITERAL \"a\" 13:MATCH_END"},
      {u"a+?", kDefaults,
       "1:ALTERNATIVE->13 4:REPEAT_PLUS_LAZY->13 7:LITERAL \"a\" 13:MATCH_END"},
      {u".*", kDefaults,
       "1:ALTERNATIVE->10 4:REPEAT_STAR->10 7:ANY_CHAR 10:MATCH_END"},
      {u"[ab]*", kDefaults,
       "1:ALTERNATIVE->14 4:REPEAT_STAR->14 7:IN_SET [ab] 14:MATCH_END"},
      {u"\\d+", kDefaults,
       "1:ALTERNATIVE->10 4:REPEAT_PLUS->10 7:DIGIT 10:MATCH_END"},
      {u"a{2}", kDefaults,
       "1:ALTERNATIVE->17 4:REPEAT_BRACES->17 {2,2} 11:LITERAL \"a\" "
       "17:MATCH_END"},
      {u"a{2,}", kDefaults,
       "1:ALTERNATIVE->17 4:REPEAT_BRACES->17 {2,2147483646} 11:LITERAL \"a\" "
       "17:MATCH_END"},
      {u"a{0}", kDefaults,
       "1:ALTERNATIVE->17 4:REPEAT_BRACES->17 {0,0} 11:LITERAL \"a\" "
       "17:MATCH_END"},
      {u"a{2,3}?", kDefaults,
       "1:ALTERNATIVE->17 4:REPEAT_BRACES_LAZY->17 {2,3} 11:LITERAL \"a\" "
       "17:MATCH_END"},
      {u"a{2,3}", kR | kS,
       "1:ALTERNATIVE->17 4:REPEAT_BRACES_LAZY->17 {2,3} 11:LITERAL \"a\" "
       "17:MATCH_END"},
      // A lazy ? is a counted repeat from 0 to 1.
      {u"a??", kDefaults,
       "1:ALTERNATIVE->17 4:REPEAT_BRACES_LAZY->17 {0,1} 11:LITERAL \"a\" "
       "17:MATCH_END"},
      {u"a?", kR | kS,
       "1:ALTERNATIVE->17 4:REPEAT_BRACES_LAZY->17 {0,1} 11:LITERAL \"a\" "
       "17:MATCH_END"},
      {u"\\1*", kDefaults,
       "1:ALTERNATIVE->11 4:REPEAT_STAR->11 7:BACKREF #1 11:MATCH_END"},
  };
  ExpectDumps(std::begin(cases), std::end(cases));
}

TEST(CompilerShapes, RepeatsOfComplexOperands) {
  const DumpCase cases[] = {
      {u"(a)*", kDefaults,
       "1:ALTERNATIVE->31 4:ALTERNATIVE->25 7:OPEN_1->10 10:ALTERNATIVE->19 "
       "13:LITERAL->19 \"a\" 19:CLOSE_1->22 22:LINK->4 25:ALTERNATIVE->28 "
       "28:EMPTY->31 31:MATCH_END"},
      {u"(a)+", kDefaults,
       "1:ALTERNATIVE->31 4:OPEN_1->7 7:ALTERNATIVE->16 10:LITERAL->16 \"a\" "
       "16:CLOSE_1->19 19:ALTERNATIVE->25 22:LINK->4 25:ALTERNATIVE->28 "
       "28:EMPTY->31 31:MATCH_END"},
      {u"(a)?", kDefaults,
       "1:ALTERNATIVE->28 4:ALTERNATIVE->22 7:OPEN_1->10 10:ALTERNATIVE->19 "
       "13:LITERAL->19 \"a\" 19:CLOSE_1->25 22:ALTERNATIVE->25 25:EMPTY->28 "
       "28:MATCH_END"},
      // A greedy ? uses the option shape also on a simple operand.
      {u"a?", kDefaults,
       "1:ALTERNATIVE->19 4:ALTERNATIVE->13 7:LITERAL->16 \"a\" "
       "13:ALTERNATIVE->16 16:EMPTY->19 19:MATCH_END"},
      {u"^?", kDefaults,
       "1:ALTERNATIVE->16 4:ALTERNATIVE->10 7:INPUT_START->13 "
       "10:ALTERNATIVE->13 13:EMPTY->16 16:MATCH_END"},
      {u"(a)*?", kDefaults,
       "1:ALTERNATIVE->31 4:LOOP_ENTRY->22 7:OPEN_1->10 10:ALTERNATIVE->19 "
       "13:LITERAL->19 \"a\" 19:CLOSE_1->22 22:LOOP_LAZY->31 "
       "{0,2147483646,->7} 31:MATCH_END"},
      {u"(a)+?", kDefaults,
       "1:ALTERNATIVE->31 4:LOOP_ENTRY->22 7:OPEN_1->10 10:ALTERNATIVE->19 "
       "13:LITERAL->19 \"a\" 19:CLOSE_1->22 22:LOOP_LAZY->31 "
       "{1,2147483646,->7} 31:MATCH_END"},
      {u"(a)??", kDefaults,
       "1:ALTERNATIVE->31 4:LOOP_ENTRY->22 7:OPEN_1->10 10:ALTERNATIVE->19 "
       "13:LITERAL->19 \"a\" 19:CLOSE_1->22 22:LOOP_LAZY->31 {0,1,->7} "
       "31:MATCH_END"},
      {u"(a){2,}", kDefaults,
       "1:ALTERNATIVE->31 4:LOOP_ENTRY->22 7:OPEN_1->10 10:ALTERNATIVE->19 "
       "13:LITERAL->19 \"a\" 19:CLOSE_1->22 22:LOOP->31 {2,2147483646,->7} "
       "31:MATCH_END"},
      {u"(ab){2,3}?", kDefaults,
       "1:ALTERNATIVE->32 4:LOOP_ENTRY->23 7:OPEN_1->10 10:ALTERNATIVE->20 "
       "13:LITERAL->20 \"ab\" 20:CLOSE_1->23 23:LOOP_LAZY->32 {2,3,->7} "
       "32:MATCH_END"},
      // `.` without s is not a single-character node for the repeats.
      {u".*", kR | kG,
       "1:ALTERNATIVE->19 4:ALTERNATIVE->13 7:ANY_BUT_SEPARATOR->10 "
       "10:LINK->4 13:ALTERNATIVE->16 16:EMPTY->19 19:MATCH_END"},
      {u"a(b)+c", kDefaults,
       "1:ALTERNATIVE->43 4:LITERAL->10 \"a\" 10:OPEN_1->13 13:ALTERNATIVE->22 "
       "16:LITERAL->22 \"b\" 22:CLOSE_1->25 25:ALTERNATIVE->31 28:LINK->10 "
       "31:ALTERNATIVE->34 34:EMPTY->37 37:LITERAL->43 \"c\" 43:MATCH_END"},
      {u"x(a|b)*y", kDefaults,
       "1:ALTERNATIVE->52 4:LITERAL->10 \"x\" 10:ALTERNATIVE->40 13:OPEN_1->16 "
       "16:ALTERNATIVE->25 19:LITERAL->34 \"a\" 25:ALTERNATIVE->34 "
       "28:LITERAL->34 \"b\" 34:CLOSE_1->37 37:LINK->10 40:ALTERNATIVE->43 "
       "43:EMPTY->46 46:LITERAL->52 \"y\" 52:MATCH_END"},
  };
  ExpectDumps(std::begin(cases), std::end(cases));
}

TEST(CompilerShapes, AnchorsEscapesAndBackReferences) {
  const DumpCase cases[] = {
      {u"^\\A$\\Z\\b\\B\\d\\D\\w\\W\\s\\S", kDefaults,
       "1:ALTERNATIVE->40 4:INPUT_START->7 7:INPUT_START->10 10:INPUT_END->13 "
       "13:INPUT_END->16 16:WORD_BOUNDARY->19 19:NOT_WORD_BOUNDARY->22 "
       "22:DIGIT->25 25:NOT_DIGIT->28 28:WORD_CHAR->31 31:NOT_WORD_CHAR->34 "
       "34:SPACE_CHAR->37 37:NOT_SPACE_CHAR->40 40:MATCH_END"},
      // Under m, ^ and $ become line anchors; \A and \Z stay.
      {u"^\\A$\\Z", kDefaults | kM,
       "1:ALTERNATIVE->16 4:LINE_START->7 7:INPUT_START->10 10:LINE_END->13 "
       "13:INPUT_END->16 16:MATCH_END"},
      {u".", kR | kG, "1:ALTERNATIVE->7 4:ANY_BUT_SEPARATOR->7 7:MATCH_END"},
      {u"(a)\\1", kDefaults,
       "1:ALTERNATIVE->23 4:OPEN_1->7 7:ALTERNATIVE->16 10:LITERAL->16 \"a\" "
       "16:CLOSE_1->19 19:BACKREF->23 #1 23:MATCH_END"},
      {u"(a)\\1", kDefaults | kI,
       "1:ALTERNATIVE->23 4:OPEN_1->7 7:ALTERNATIVE->16 10:LITERAL_CI->16 "
       "\"a\" 16:CLOSE_1->19 19:BACKREF_CI->23 #1 23:MATCH_END"},
      // One digit only: group 1, then a literal 2.
      {u"\\12", kDefaults,
       "1:ALTERNATIVE->14 4:BACKREF->8 #1 8:LITERAL->14 \"2\" 14:MATCH_END"},
      {u"\\9", kDefaults, "1:ALTERNATIVE->8 4:BACKREF->8 #9 8:MATCH_END"},
      {u"\\x41\\x{263A}\\t", kDefaults,
       "1:ALTERNATIVE->22 4:LITERAL->10 \"A\" 10:LITERAL->16 \"\\u{263A}\" "
       "16:LITERAL->22 \"\\u{0009}\" 22:MATCH_END"},
      // Forms the dialect does not have are plain characters.
      {u"\\u0041", kDefaults,
       "1:ALTERNATIVE->19 4:LITERAL->10 \"u\" 10:LITERAL->19 \"0041\" "
       "19:MATCH_END"},
  };
  ExpectDumps(std::begin(cases), std::end(cases));
}

TEST(CompilerShapes, GroupsAlternativesAndModifierGroups) {
  const DumpCase cases[] = {
      {u"(a|b)c", kDefaults,
       "1:ALTERNATIVE->34 4:OPEN_1->7 7:ALTERNATIVE->16 10:LITERAL->25 \"a\" "
       "16:ALTERNATIVE->25 19:LITERAL->25 \"b\" 25:CLOSE_1->28 "
       "28:LITERAL->34 \"c\" 34:MATCH_END"},
      {u"((a))", kDefaults,
       "1:ALTERNATIVE->28 4:OPEN_1->7 7:ALTERNATIVE->25 10:OPEN_2->13 "
       "13:ALTERNATIVE->22 16:LITERAL->22 \"a\" 22:CLOSE_2->25 25:CLOSE_1->28 "
       "28:MATCH_END"},
      {u"a|", kDefaults,
       "1:ALTERNATIVE->10 4:LITERAL->16 \"a\" 10:ALTERNATIVE->16 13:EMPTY->16 "
       "16:MATCH_END"},
      {u"()", kDefaults,
       "1:ALTERNATIVE->16 4:OPEN_1->7 7:ALTERNATIVE->13 10:EMPTY->13 "
       "13:CLOSE_1->16 16:MATCH_END"},
      {u"(?i)A(?-i)b", kDefaults,
       "1:ALTERNATIVE->22 4:COMMENT->7 7:LITERAL_CI->13 \"A\" 13:COMMENT->16 "
       "16:LITERAL->22 \"b\" 22:MATCH_END"},
      // The modifier group ends with its enclosing group.
      {u"(a(?i)b)c", kDefaults,
       "1:ALTERNATIVE->34 4:OPEN_1->7 7:ALTERNATIVE->25 10:LITERAL->16 \"a\" "
       "16:COMMENT->19 19:LITERAL_CI->25 \"b\" 25:CLOSE_1->28 "
       "28:LITERAL->34 \"c\" 34:MATCH_END"},
      // ... but reaches the later alternatives of that group.
      {u"(a(?i)|b)c", kDefaults,
       "1:ALTERNATIVE->37 4:OPEN_1->7 7:ALTERNATIVE->19 10:LITERAL->16 \"a\" "
       "16:COMMENT->28 19:ALTERNATIVE->28 22:LITERAL_CI->28 \"b\" "
       "28:CLOSE_1->31 31:LITERAL->37 \"c\" 37:MATCH_END"},
      {u"(?i)a|b", kDefaults,
       "1:ALTERNATIVE->13 4:COMMENT->7 7:LITERAL_CI->22 \"a\" "
       "13:ALTERNATIVE->22 16:LITERAL_CI->22 \"b\" 22:MATCH_END"},
      {u"(?I-S)a.", kDefaults,
       "1:ALTERNATIVE->16 4:COMMENT->7 7:LITERAL_CI->13 \"a\" "
       "13:ANY_BUT_SEPARATOR->16 16:MATCH_END"},
      {u"(?)", kDefaults, "1:ALTERNATIVE->7 4:COMMENT->7 7:MATCH_END"},
      {u"(?#x)a", kDefaults,
       "1:ALTERNATIVE->13 4:COMMENT->7 7:LITERAL->13 \"a\" 13:MATCH_END"},
  };
  ExpectDumps(std::begin(cases), std::end(cases));
}

TEST(CompilerShapes, LiteralRunsAndBraceFallBack) {
  const DumpCase cases[] = {
      {u"abc", kDefaults, "1:ALTERNATIVE->12 4:LITERAL->12 \"abc\" 12:MATCH_END"},
      {u"abc", kDefaults | kI,
       "1:ALTERNATIVE->12 4:LITERAL_CI->12 \"abc\" 12:MATCH_END"},
      // A quantifier binds to the last character of a run alone.
      {u"abc*", kDefaults,
       "1:ALTERNATIVE->20 4:LITERAL->11 \"ab\" 11:REPEAT_STAR->20 "
       "14:LITERAL \"c\" 20:MATCH_END"},
      {u"a{", kDefaults,
       "1:ALTERNATIVE->16 4:LITERAL->10 \"a\" 10:LITERAL->16 \"{\" 16:MATCH_END"},
      {u"a{,5}", kDefaults,
       "1:ALTERNATIVE->19 4:LITERAL->10 \"a\" 10:LITERAL->19 \"{,5}\" "
       "19:MATCH_END"},
      {u"a{2,x}", kDefaults,
       "1:ALTERNATIVE->20 4:LITERAL->10 \"a\" 10:LITERAL->20 \"{2,x}\" "
       "20:MATCH_END"},
      {u"ab{x}", kDefaults,
       "1:ALTERNATIVE->24 4:LITERAL->10 \"a\" 10:LITERAL->16 \"b\" "
       "16:LITERAL->24 \"{x}\" 24:MATCH_END"},
      {u"}]", kDefaults, "1:ALTERNATIVE->11 4:LITERAL->11 \"}]\" 11:MATCH_END"},
      {u"[[:alpha:]]", kDefaults,
       "1:ALTERNATIVE->23 4:IN_SET->17 [[:alpha:] 17:LITERAL->23 \"]\" "
       "23:MATCH_END"},
      // Extended syntax: whitespace dropped, # comments, escapes literal.
      {u"a b # note", kDefaults | kX,
       "1:ALTERNATIVE->14 4:LITERAL->11 \"ab\" 11:COMMENT->14 14:MATCH_END"},
      {u"\\#\\ ", kDefaults | kX,
       "1:ALTERNATIVE->16 4:LITERAL->10 \"#\" 10:LITERAL->16 \" \" 16:MATCH_END"},
      {u"a#c\nb", kDefaults | kX,
       "1:ALTERNATIVE->19 4:LITERAL->10 \"a\" 10:COMMENT->13 13:LITERAL->19 "
       "\"b\" 19:MATCH_END"},
      {u"  a", kDefaults | kX,
       "1:ALTERNATIVE->13 4:COMMENT->7 7:LITERAL->13 \"a\" 13:MATCH_END"},
      {u"a b", kDefaults,
       "1:ALTERNATIVE->12 4:LITERAL->12 \"a b\" 12:MATCH_END"},
  };
  ExpectDumps(std::begin(cases), std::end(cases));
}

// An expression ends at its first 0 unit.
TEST(CompilerShapes, ExpressionEndsAtItsFirstZeroUnit) {
  EXPECT_EQ(CompileDump(std::u16string(u"ab\0(", 4)),
            "1:ALTERNATIVE->11 4:LITERAL->11 \"ab\" 11:MATCH_END");
}

// --- Classes -------------------------------------------------------------------

struct ClassCase {
  const char16_t* expression;
  uint32_t modifiers;
  char16_t opcode;
  std::u16string members;
};

std::u16string Between(char16_t first, char16_t last) {
  std::u16string out;
  for (int ch = first; ch <= last; ++ch) out += static_cast<char16_t>(ch);
  return out;
}

TEST(CompilerClasses, HoldTheirMembersInOrder) {
  using namespace regex_internal;
  const std::u16string lower = u"абвгдеёжзийклмнопрстуфхцчшщъыьэюя";
  const std::u16string upper = u"АБВГДЕЁЖЗИЙКЛМНОПРСТУФХЦЧШЩЪЫЬЭЮЯ";
  const ClassCase cases[] = {
      {u"[abc]", kDefaults, IN_SET, u"abc"},
      {u"[^abc]", kDefaults, NOT_IN_SET, u"abc"},
      {u"[aB]", kDefaults | kI, IN_SET_CI, u"aB"},
      {u"[^aB]", kDefaults | kI, NOT_IN_SET_CI, u"aB"},
      {u"[]a]", kDefaults, IN_SET, u"]a"},
      {u"[^-a]", kDefaults, NOT_IN_SET, u"-a"},
      {u"[a-]", kDefaults, IN_SET, u"a-"},
      {u"[a-c-e]", kDefaults, IN_SET, u"acb-e"},
      {u"[a-a]", kDefaults, IN_SET, u"aa"},
      {u"[aa]", kDefaults, IN_SET, u"aa"},
      {u"[]-a]", kDefaults, IN_SET, u"]a" + Between(u'^', u'`')},
      {u"[\\d-z]", kDefaults, IN_SET, u"0123456789-z"},
      {u"[a-\\d]", kDefaults, IN_SET, u"a-0123456789"},
      {u"[\\w]", kDefaults, IN_SET,
       u"0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ_"},
      {u"[\\s]", kDefaults, IN_SET, u" \t\n\r\f"},
      {u"[\\D\\S\\W\\b]", kDefaults, IN_SET, u"DSWb"},
      {u"[\\]\\-\\^\\\\]", kDefaults, IN_SET, u"]-^\\"},
      {u"[\\t\\x41-\\x{43}]", kDefaults, IN_SET, u"\tACB"},
      {u"[A-\\x43]", kDefaults, IN_SET, u"ACB"},
      {u"[ a]", kDefaults | kX, IN_SET, u" a"},
      {u"[а-я]", kDefaults, IN_SET, u"а" + lower},
      {u"[А-Я]", kDefaults, IN_SET, u"А" + upper},
      {u"[а-Я]", kDefaults, IN_SET, u"а" + lower + upper},
      // Without r the ranges are plain and miss ё.
      {u"[а-я]", kS | kG, IN_SET, u"ая" + Between(0x0431, 0x044E)},
      {u"[А-Я]", kS | kG, IN_SET, u"АЯ" + Between(0x0411, 0x042E)},
  };
  for (const ClassCase& c : cases) {
    SCOPED_TRACE(DumpChars(c.expression) + " modifiers " +
                 std::to_string(c.modifiers));
    const std::vector<char16_t> program = CompileUnits(c.expression, c.modifiers);
    ASSERT_GT(program.size(), 7u);
    EXPECT_EQ(program[FirstBodyNode()], c.opcode);
    EXPECT_EQ(FirstSetMembers(program), c.members);
  }
  EXPECT_EQ(FirstSetMembers(CompileUnits(u"[а-я]")).size(), 34u);
}

TEST(CompilerClasses, ShorthandsUseTheSetsAsTheyStandAtCompileTime) {
  TRegexEngine engine;
  engine.SetSpaceSet(u"_~");
  engine.SetWordSet(u"xyz");
  engine.SetExpression(u"[\\s\\w]");
  engine.Compile();
  EXPECT_EQ(FirstSetMembers(engine.ProgramUnits()), u"_~xyz");
}

// --- Escapes ---------------------------------------------------------------------

TEST(CompilerEscapes, DecodeToOneLiteralCharacter) {
  const struct {
    const char16_t* expression;
    char16_t value;
  } cases[] = {
      {u"\\t", 9},         {u"\\n", 10},        {u"\\r", 13},
      {u"\\f", 12},        {u"\\a", 7},         {u"\\e", 27},
      {u"\\x41", u'A'},    {u"\\x{41}", u'A'},  {u"\\x{00041}", u'A'},
      {u"\\x{ffff}", 0xFFFF}, {u"\\x{0FFFF}", 0xFFFF}, {u"\\x{}", 0},
      {u"\\xfF", 0xFF},    {u"\\0", u'0'},      {u"\\z", u'z'},
      {u"\\.", u'.'},      {u"\\\\", u'\\'},    {u"\\{", u'{'},
      {u"\\]", u']'},      {u"\\p", u'p'},      {u"\\<", u'<'},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(DumpChars(c.expression));
    const std::vector<char16_t> program = CompileUnits(c.expression);
    const std::vector<char16_t> expected = {
        216, 6, 9, 0, regex_internal::LITERAL, 6, 0, 1, 0, c.value, 0, 0, 0};
    EXPECT_EQ(program, expected);
  }
}

// --- Search hints -------------------------------------------------------------------

struct HintCase {
  const char16_t* expression;
  uint32_t modifiers;
  char16_t first_char;
  uint16_t anchor_count;
  std::u16string must_text;
};

TEST(CompilerHints, FirstCharAnchorAndMustText) {
  const HintCase cases[] = {
      {u"abc", kDefaults, u'a', 0, u""},
      {u"abc", kDefaults | kI, 0, 0, u""},
      {u"ab*", kDefaults, u'a', 0, u""},
      {u"ab{0}c", kDefaults, u'a', 0, u""},
      {u".*foo", kDefaults, 0, 0, u"foo"},
      {u"a.*foo", kDefaults, u'a', 0, u""},
      {u"x*ab.*cd", kDefaults, 0, 0, u"cd"},
      {u"x*abc.*cd", kDefaults, 0, 0, u"abc"},
      {u"a{0,2}bcd", kDefaults, 0, 0, u"bcd"},
      {u".+foo", kR | kG, 0, 0, u"foo"},
      {u".*(foobar)x", kDefaults, 0, 0, u"x"},
      {u".*a(?i)bcd", kDefaults, 0, 0, u"a"},
      {u".*foo|bar", kDefaults, 0, 0, u""},
      {u"a?bcd", kDefaults, 0, 0, u""},
      {u"(?i)abc", kDefaults, 0, 0, u""},
      {u"^abc", kDefaults, 0, 1, u""},
      {u"\\Aabc", kDefaults | kM, 0, 1, u""},
      {u"^abc", kDefaults | kM, 0, 0, u""},
      {u"^a|b", kDefaults, 0, 0, u""},
      {u"a|bc", kDefaults, 0, 0, u""},
      // U+0000 is a literal character like any other; an escape is a
      // literal node of its own.
      {u".*\\x00", kDefaults, 0, 0, std::u16string(1, u'\0')},
      {u".*ab\\x00", kDefaults, 0, 0, u"ab"},
      {u".*\\x{}\\x00\\x{0}", kDefaults, 0, 0, std::u16string(1, u'\0')},
  };
  for (const HintCase& c : cases) {
    SCOPED_TRACE(DumpChars(c.expression) + " modifiers " +
                 std::to_string(c.modifiers));
    TRegexEngine engine;
    SetModifierBits(engine, c.modifiers);
    engine.SetExpression(c.expression);
    engine.Compile();
    EXPECT_EQ(engine.GetFirstChar(), c.first_char);
    EXPECT_EQ(engine.GetAnchorCount(), c.anchor_count);
    EXPECT_EQ(engine.GetMustText(), c.must_text);
    EXPECT_EQ(engine.GetMustLength(), static_cast<int>(c.must_text.size()));
  }
}

// The line form of ^ needs some line separator to mean anything.
TEST(CompilerHints, CaretUnderMWithoutSeparatorsStaysAnInputAnchor) {
  TRegexEngine engine;
  engine.SetModifier(5, true);
  engine.SetLineSeparatorSet(u"");
  engine.SetLinePairedSeparator(u"");
  engine.SetExpression(u"^a$");
  engine.Compile();
  EXPECT_EQ(DumpProgram(engine.ProgramUnits()),
            "1:ALTERNATIVE->16 4:INPUT_START->7 7:LITERAL->13 \"a\" "
            "13:INPUT_END->16 16:MATCH_END");
  EXPECT_EQ(engine.GetAnchorCount(), 1);

  engine.SetLinePairedSeparator(u"\r\n");
  engine.Compile();
  EXPECT_EQ(DumpProgram(engine.ProgramUnits()),
            "1:ALTERNATIVE->16 4:LINE_START->7 7:LITERAL->13 \"a\" "
            "13:LINE_END->16 16:MATCH_END");
  EXPECT_EQ(engine.GetAnchorCount(), 0);
}

}  // namespace
}  // namespace tallyfold
