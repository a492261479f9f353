// Expressions the compiler rejects: every compile error code at its position.
#include <gtest/gtest.h>

#include <string>

#include "regex/ProgramDump.h"

namespace tallyfold {
namespace {

using namespace tallyfold::test;

struct ErrorCase {
  std::u16string expression;
  uint32_t modifiers;
  int code;
  int position;
};

// Gives the tests the message table; its texts are pinned in
// EngineObjectTest.
class MessageProbe : public TRegexEngine {
 public:
  using TRegexEngine::ErrorMessage;
};

std::u16string Repeat(const std::u16string& unit, int times) {
  std::u16string out;
  for (int i = 0; i < times; ++i) out += unit;
  return out;
}

void ExpectRejected(const ErrorCase& c) {
  SCOPED_TRACE(DumpChars(c.expression.c_str()) + " modifiers " +
               std::to_string(c.modifiers));
  MessageProbe engine;
  SetModifierBits(engine, c.modifiers);
  engine.SetExpression(c.expression);
  try {
    engine.Compile();
    ADD_FAILURE() << "compiled: " << DumpProgram(engine.ProgramUnits());
  } catch (const ERegexEngine& e) {
    EXPECT_EQ(e.Code, c.code);
    EXPECT_EQ(e.ErrorPos, c.position);
    EXPECT_EQ(e.what(), engine.ErrorMessage(c.code) + " (pos " +
                            std::to_string(c.position) + ")");
    EXPECT_EQ(engine.LastError(), c.code);
    EXPECT_TRUE(engine.ProgramUnits().empty());
  }
}

TEST(CompileErrors, GroupsAndAlternatives) {
  const ErrorCase cases[] = {
      {u"(a", kDefaults, 103, 2},
      {u"(", kDefaults, 103, 1},
      {u"((a)", kDefaults, 103, 4},
      {u"a)", kDefaults, 104, 1},
      {u"(a))", kDefaults, 104, 3},
      {u")", kDefaults, 104, 0},
      {u"*a", kDefaults, 115, 1},
      {u"?", kDefaults, 115, 1},
      {u"a|*b", kDefaults, 115, 3},
      {u"(+a)", kDefaults, 115, 2},
      {Repeat(u"(a)", 15), kDefaults, 102, 43},
      {Repeat(u"(", 15) + u"a" + Repeat(u")", 15), kDefaults, 102, 15},
  };
  for (const ErrorCase& c : cases) ExpectRejected(c);
}

TEST(CompileErrors, QuantifiersOnEmptyOperandsAndNested) {
  const ErrorCase cases[] = {
      {u"^*", kDefaults, 106, 1},
      {u"\\b+", kDefaults, 106, 2},
      {u"\\A*", kDefaults, 106, 2},
      {u"(?i)*", kDefaults, 106, 4},
      {u"(?#c)+", kDefaults, 106, 5},
      // 106 is decided before the braces are looked at.
      {u"^{2}", kDefaults, 106, 1},
      {u"^{x}", kDefaults, 106, 1},
      {u"(a*)*", kDefaults, 106, 4},
      {u"(a?)*", kDefaults, 106, 4},
      {u"(a{0,3})*", kDefaults, 106, 8},
      {u"(a{0})+", kDefaults, 106, 6},
      {u"(a|)*", kDefaults, 106, 4},
      {u"()*", kDefaults, 106, 2},
      {u"a *", kDefaults | kX, 106, 2},
      {u"a**", kDefaults, 107, 2},
      {u"a*{", kDefaults, 107, 2},
      {u"a*+", kDefaults, 107, 2},
      {u"a*??", kDefaults, 107, 3},
      {u"a+?+", kDefaults, 107, 3},
      {u"a{2}{3}", kDefaults, 107, 4},
      {u"a{2}{x}", kDefaults, 107, 4},
      {u"(a)*{2}", kDefaults, 107, 4},
  };
  for (const ErrorCase& c : cases) ExpectRejected(c);
}

TEST(CompileErrors, Counts) {
  const ErrorCase cases[] = {
      {u"a{3,2}", kDefaults, 124, 5},
      {u"(a){3,2}", kDefaults, 124, 7},
      {u"a{123456789}", kDefaults, 122, 11},
      {u"a{1,123456789}", kDefaults, 122, 13},
      // The minimum is read before the maximum is looked at.
      {u"a{123456789,x}", kDefaults, 122, 11},
  };
  for (const ErrorCase& c : cases) ExpectRejected(c);
}

TEST(CompileErrors, EscapesAndHexCodes) {
  const ErrorCase cases[] = {
      {u"\\", kDefaults, 116, 1},
      {u"a\\", kDefaults, 116, 2},
      {u"\\x", kDefaults, 111, 2},
      {u"\\x4", kDefaults, 111, 3},
      {u"\\x{", kDefaults, 111, 3},
      {u"\\x{12", kDefaults, 111, 5},
      {u"[\\x", kDefaults, 111, 3},
      {u"\\xg1", kDefaults, 108, 2},
      {u"\\x1g", kDefaults, 108, 3},
      {u"\\x{1g}", kDefaults, 108, 4},
      {u"[\\x4g]", kDefaults, 108, 4},
      {u"\\x{12345}", kDefaults, 112, 7},
      {u"\\x{10000}", kDefaults, 112, 7},
  };
  for (const ErrorCase& c : cases) ExpectRejected(c);
}

TEST(CompileErrors, Classes) {
  const ErrorCase cases[] = {
      {u"[z-a]", kDefaults, 109, 3},
      {u"[b-\\x41]", kDefaults, 109, 6},
      {u"[а-Я]", kS | kG, 109, 3},
      {u"[", kDefaults, 113, 1},
      {u"[a", kDefaults, 113, 2},
      {u"[]", kDefaults, 113, 2},
      {u"[^", kDefaults, 113, 2},
      {u"[\\", kDefaults, 110, 2},
      {u"[ab\\", kDefaults, 110, 4},
      // A range may not end in the bare end of the text either.
      {u"[a-\\", kDefaults, 110, 4},
      {u"[\\x00-\\", kDefaults, 110, 7},
  };
  for (const ErrorCase& c : cases) ExpectRejected(c);
}

TEST(CompileErrors, CommentsAndModifierGroups) {
  const ErrorCase cases[] = {
      {u"(?#x", kDefaults, 125, 4},
      {u"(?#", kDefaults, 125, 3},
      {u"(?:a)", kDefaults, 127, 4},
      {u"(?=a)", kDefaults, 127, 4},
      {u"(?!a)", kDefaults, 127, 4},
      {u"(?<=a)", kDefaults, 127, 5},
      {u"(?q)", kDefaults, 127, 3},
      {u"(?i", kDefaults, 127, 3},
      {u"(?", kDefaults, 127, 2},
  };
  for (const ErrorCase& c : cases) ExpectRejected(c);
}

TEST(CompileErrors, FourteenGroupsAreTheLimit) {
  TRegexEngine engine;
  engine.SetExpression(Repeat(u"(a)", 14));
  engine.Compile();
  const std::string dump = DumpProgram(engine.ProgramUnits());
  EXPECT_NE(dump.find(":OPEN_14->"), std::string::npos);
  EXPECT_NE(dump.find(":CLOSE_14->"), std::string::npos);
}

}  // namespace
}  // namespace tallyfold
