// The engine object: defaults, modifiers, the case inverter, the paired line
// separator, lazy compilation and the error table.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "TestDataTable.h"
#include "regex/ProgramDump.h"

namespace tallyfold {
namespace {

using namespace tallyfold::test;

// Gives the tests the engine's protected error routines.
class ErrorProbe : public TRegexEngine {
 public:
  using TRegexEngine::ErrorMessage;
  using TRegexEngine::RaiseError;
};

template <typename Action>
ERegexEngine CatchEngineError(Action action) {
  try {
    action();
  } catch (const ERegexEngine& e) {
    return e;
  }
  ADD_FAILURE() << "no ERegexEngine raised";
  return ERegexEngine("", -1, -1);
}

TEST(EngineDefaults, NewEngineHasTheDocumentedSettings) {
  TRegexEngine engine;
  EXPECT_EQ(engine.Modifiers(), 14u);
  EXPECT_EQ(engine.LastError(), 0);
  EXPECT_EQ(engine.ErrorPos(), 0);
  EXPECT_EQ(engine.Expression(), u"");
  EXPECT_TRUE(engine.ProgramUnits().empty());
  EXPECT_EQ(engine.SpaceSet(), std::u16string(u" \t\n\r\f"));
  EXPECT_EQ(engine.WordSet(),
            u"0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ_");
  EXPECT_EQ(engine.WordSet().size(), 63u);
  const std::u16string separators = engine.LineSeparatorSet();
  ASSERT_EQ(separators.size(), 7u);
  EXPECT_EQ(separators, std::u16string(u"\r\n\v\f\u2028\u2029\0", 7));
  EXPECT_EQ(separators.back(), u'\0');
  EXPECT_EQ(engine.LinePairedSeparator(), u"\r\n");
}

TEST(EngineDefaults, GroupQueriesWithoutAMatchGiveMinusOne) {
  TRegexEngine engine;
  for (int n : {-1, 0, 1, 14, 15}) {
    EXPECT_EQ(engine.GroupPos(n), -1) << n;
    EXPECT_EQ(engine.GroupLen(n), -1) << n;
  }
}

TEST(EngineModifiers, EachIndexSelectsItsBit) {
  const uint32_t bits[] = {1, 2, 4, 8, 16, 32};
  for (int index = 1; index <= 6; ++index) {
    SCOPED_TRACE(index);
    TRegexEngine engine;
    engine.SetModifier(index, true);
    EXPECT_EQ(engine.Modifiers(), 14u | bits[index - 1]);
    engine.SetModifier(index, false);
    EXPECT_EQ(engine.Modifiers(), 14u & ~bits[index - 1]);
  }
}

TEST(EngineModifiers, IndexOutsideOneToSixRaisesUnknownError) {
  for (int index : {0, 7, -1, 100}) {
    SCOPED_TRACE(index);
    TRegexEngine engine;
    const ERegexEngine e =
        CatchEngineError([&] { engine.SetModifier(index, true); });
    EXPECT_EQ(e.Code, 1013);
    EXPECT_EQ(e.ErrorPos, 0);
    EXPECT_STREQ(e.what(), "Unknown error");
    EXPECT_EQ(engine.LastError(), 1013);
    EXPECT_EQ(engine.Modifiers(), 14u);
  }
}

TEST(EngineModifiers, ApplyModifierLetters) {
  const struct {
    const char16_t* letters;
    uint32_t before;
    uint32_t after;
    bool ok;
  } cases[] = {
      {u"i-sx", 46, 11, true},  {u"", 14, 14, true},
      {u"-", 14, 14, true},     {u"I", 0, 1, true},
      {u"RSGMX", 0, 62, true},  {u"-rsgmx", 63, 1, true},
      {u"i-i", 0, 0, true},     {u"-i-", 1, 0, true},
      // A bad character ends the walk; earlier changes stay.
      {u"iq", 0, 1, false},     {u"q", 5, 5, false},
      {u"i s", 0, 1, false},    {u":", 0, 0, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(DumpChars(c.letters));
    uint32_t bits = c.before;
    EXPECT_EQ(TRegexEngine::ApplyModifierLetters(c.letters, bits), c.ok);
    EXPECT_EQ(bits, c.after);
  }
}

TEST(EngineModifiers, InvertCaseAsciiSwapsOnlyAsciiLetters) {
  const struct {
    char16_t in, out;
  } cases[] = {
      {u'a', u'A'}, {u'A', u'a'}, {u'z', u'Z'}, {u'Z', u'z'},
      {u'm', u'M'}, {u'1', u'1'}, {u'@', u'@'}, {u'[', u'['},
      {u'`', u'`'}, {u'{', u'{'}, {0, 0},       {0x7F, 0x7F},
      {0xE9, 0xE9}, {0xC9, 0xC9}, {0x80, 0x80}, {0x430, 0x430},
      {0x410, 0x410}, {0xFF41, 0xFF41}, {0xFFFF, 0xFFFF},
  };
  for (const auto& c : cases)
    EXPECT_EQ(TRegexEngine::InvertCaseAscii(c.in), c.out) << int{c.in};
}

// --- Errors --------------------------------------------------------------------

// The expected texts are in tests/data/engine_messages.tsv.
TEST(EngineErrors, MessageTable) {
  struct Case {
    int code;
    std::string message;
  };
  std::vector<Case> cases;
  for (const testing::DataRow& row : testing::ReadDataTable("engine_messages.tsv")) {
    ASSERT_EQ(row.fields.size(), 2u) << "engine_messages.tsv line " << row.line;
    cases.push_back({std::stoi(row.fields[0]), row.fields[1]});
  }
  // Every code the engine raises, and a few it has no message for.
  ASSERT_GE(cases.size(), 40u);
  ErrorProbe probe;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.code);
    EXPECT_EQ(probe.ErrorMessage(c.code), c.message);
    // Outside a compile, codes below 1000 still carry a position: 0.
    const std::string raised = c.code < 1000 ? c.message + " (pos 0)" : c.message;
    const ERegexEngine e = CatchEngineError([&] { probe.RaiseError(c.code); });
    EXPECT_EQ(e.what(), raised);
    EXPECT_EQ(e.Code, c.code);
    EXPECT_EQ(e.ErrorPos, 0);
    EXPECT_EQ(probe.LastError(), c.code);
  }
}

TEST(EngineErrors, IsCaughtAsTheProjectExceptionAndStdException) {
  TRegexEngine engine;
  engine.SetExpression(u"(a");
  EXPECT_THROW(engine.Compile(), Exception);
  EXPECT_THROW(engine.Compile(), std::exception);
}

TEST(EngineErrors, CompileMessagesCarryThePosition) {
  const struct {
    const char16_t* expression;
    const char* message;
    int position;
  } cases[] = {
      {u"(a", "TRegexEngine(comp): ParseReg Unmatched () (pos 2)", 2},
      {u"a)", "TRegexEngine(comp): ParseReg Unmatched () (pos 1)", 1},
      {u"*a", "TRegexEngine(comp): ?+*{ Follows Nothing (pos 1)", 1},
  };
  for (const auto& c : cases) {
    TRegexEngine engine;
    engine.SetExpression(c.expression);
    const ERegexEngine e = CatchEngineError([&] { engine.ProgramReady(); });
    EXPECT_STREQ(e.what(), c.message);
    EXPECT_EQ(e.ErrorPos, c.position);
    // Outside the compile there is no position any more.
    EXPECT_EQ(engine.ErrorPos(), 0);
  }
}

TEST(EngineErrors, NoExpressionRaises1003WithoutPosition) {
  TRegexEngine engine;
  ERegexEngine e = CatchEngineError([&] { engine.ProgramReady(); });
  EXPECT_EQ(e.Code, 1003);
  EXPECT_STREQ(e.what(), "TRegexEngine(exec): Not Assigned Expression Property");
  EXPECT_EQ(e.ErrorPos, 0);
  EXPECT_EQ(engine.LastError(), 1003);

  engine.SetExpression(u"a");
  EXPECT_TRUE(engine.ProgramReady());
  engine.SetExpression(u"");
  EXPECT_TRUE(engine.ProgramUnits().empty());
  e = CatchEngineError([&] { engine.ProgramReady(); });
  EXPECT_EQ(e.Code, 1003);
}

// --- Lazy compilation -------------------------------------------------------------

// The class [\w] copies WordSet when it is compiled, so changing WordSet
// afterwards shows whether a program was kept or built again.
constexpr char16_t kWordClass[] = u"[\\w]";
const std::u16string kDefaultWords =
    u"0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ_";

TEST(EngineLazyCompile, SettingTheExpressionNeverCompiles) {
  TRegexEngine engine;
  engine.SetExpression(u"(a");  // would fail to compile
  EXPECT_EQ(engine.Expression(), u"(a");
  EXPECT_TRUE(engine.ProgramUnits().empty());
  engine.SetModifier(1, true);
  EXPECT_TRUE(engine.ProgramUnits().empty());
  EXPECT_EQ(engine.LastError(), 0);
}

TEST(EngineLazyCompile, SameTextTwiceKeepsTheProgram) {
  TRegexEngine engine;
  engine.SetExpression(kWordClass);
  EXPECT_TRUE(engine.ProgramReady());
  engine.SetWordSet(u"xy");
  engine.SetExpression(kWordClass);
  EXPECT_FALSE(engine.ProgramUnits().empty());
  EXPECT_TRUE(engine.ProgramReady());
  EXPECT_EQ(FirstSetMembers(engine.ProgramUnits()), kDefaultWords);

  // A different text drops the program; the next check builds a new one.
  engine.SetExpression(u"[\\w]b");
  EXPECT_TRUE(engine.ProgramUnits().empty());
  EXPECT_TRUE(engine.ProgramReady());
  EXPECT_EQ(FirstSetMembers(engine.ProgramUnits()), u"xy");
}

TEST(EngineLazyCompile, ModifierChangeRecompilesAtTheNextCheck) {
  using namespace regex_internal;
  TRegexEngine engine;
  engine.SetExpression(kWordClass);
  EXPECT_TRUE(engine.ProgramReady());
  engine.SetWordSet(u"xy");

  // Setting a modifier to its current value, or changing it and back,
  // leaves the program valid.
  engine.SetModifier(2, true);
  engine.SetModifier(1, true);
  engine.SetModifier(1, false);
  EXPECT_TRUE(engine.ProgramReady());
  EXPECT_EQ(FirstSetMembers(engine.ProgramUnits()), kDefaultWords);

  engine.SetModifier(1, true);
  EXPECT_FALSE(engine.ProgramUnits().empty());  // stale until the check
  EXPECT_TRUE(engine.ProgramReady());
  EXPECT_EQ(engine.ProgramUnits()[test::FirstBodyNode()], IN_SET_CI);
  EXPECT_EQ(FirstSetMembers(engine.ProgramUnits()), u"xy");
}

TEST(EngineLazyCompile, FailedCompileFailsAgainUntilTheTextChanges) {
  TRegexEngine engine;
  engine.SetExpression(u"(a");
  for (int attempt = 0; attempt < 2; ++attempt) {
    const ERegexEngine e = CatchEngineError([&] { engine.ProgramReady(); });
    EXPECT_EQ(e.Code, 103);
    EXPECT_EQ(e.ErrorPos, 2);
    EXPECT_TRUE(engine.ProgramUnits().empty());
    engine.SetExpression(u"(a");
  }
  engine.SetExpression(u"(a)");
  EXPECT_TRUE(engine.ProgramReady());
  EXPECT_FALSE(engine.ProgramUnits().empty());
}

TEST(EngineLazyCompile, FailedCompileDropsTheOldProgram) {
  TRegexEngine engine;
  engine.SetExpression(u"abc");
  EXPECT_TRUE(engine.ProgramReady());
  engine.SetExpression(u"abc(");
  EXPECT_THROW(engine.ProgramReady(), ERegexEngine);
  EXPECT_TRUE(engine.ProgramUnits().empty());
  EXPECT_EQ(engine.GetFirstChar(), 0);
  EXPECT_EQ(engine.GetMustText(), u"");
  // The failed text is not remembered as compiled.
  engine.SetExpression(u"abc(");
  EXPECT_THROW(engine.ProgramReady(), ERegexEngine);
}

// --- Paired line separator ------------------------------------------------------------

TEST(EnginePairedSeparator, RulesForSettingThePair) {
  TRegexEngine engine;
  const struct {
    const char16_t* text;
    size_t length;
  } bad[] = {{u"a", 1}, {u"abc", 3}, {u"xx", 2}, {u"\r\r", 2}};
  for (const auto& b : bad) {
    const std::u16string text(b.text, b.length);
    SCOPED_TRACE(DumpChars(text.c_str()));
    const ERegexEngine e =
        CatchEngineError([&] { engine.SetLinePairedSeparator(text); });
    EXPECT_EQ(e.Code, 128);
    EXPECT_EQ(e.ErrorPos, 0);
    EXPECT_STREQ(e.what(),
                 "TRegexEngine(comp): LinePairedSeparator must countain two "
                 "different chars or no chars at all (pos 0)");
    EXPECT_EQ(engine.LinePairedSeparator(), u"\r\n");
  }
  engine.SetLinePairedSeparator(u"\n\r");
  EXPECT_EQ(engine.LinePairedSeparator(), u"\n\r");
  engine.SetLinePairedSeparator(u"");
  EXPECT_EQ(engine.LinePairedSeparator(), u"");
  engine.SetLinePairedSeparator(u"");
  EXPECT_EQ(engine.LinePairedSeparator(), u"");
}

TEST(EnginePairedSeparator, OnlyAChangeDiscardsTheProgram) {
  TRegexEngine engine;
  engine.SetExpression(u"a");
  EXPECT_TRUE(engine.ProgramReady());
  engine.SetLinePairedSeparator(u"\r\n");
  EXPECT_FALSE(engine.ProgramUnits().empty());
  engine.SetLinePairedSeparator(u"\n\r");
  EXPECT_TRUE(engine.ProgramUnits().empty());

  EXPECT_TRUE(engine.ProgramReady());
  EXPECT_THROW(engine.SetLinePairedSeparator(u"--"), ERegexEngine);
  EXPECT_FALSE(engine.ProgramUnits().empty());
  engine.SetLinePairedSeparator(u"");
  EXPECT_TRUE(engine.ProgramUnits().empty());

  EXPECT_TRUE(engine.ProgramReady());
  engine.SetLinePairedSeparator(u"");
  EXPECT_FALSE(engine.ProgramUnits().empty());
}

}  // namespace
}  // namespace tallyfold
