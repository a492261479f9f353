// Searches started from the window: the options it passes, the report and
// style sheet it leaves in the working folder, the request to open it, errors
// and the note on what else the search needs the user to know.
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QPointer>
#include <QTemporaryDir>

#include "app/ReportStyleSheet.h"
#include "app/SearchCommand.h"
#include "regex/RegexEngine.h"
#include "app/SearchNotes.h"
#include "ui/SearchNote.h"
#include "ui/UiTestSupport.h"

namespace tallyfold::testing {
namespace {

// A corpus folder and a separate working folder, which the test enters.
class WindowSearch : public WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    ASSERT_TRUE(corpus_.isValid() && work_.isValid());
    ASSERT_NE(QDir(work_.path()), QDir(QCoreApplication::applicationDirPath()));
  }

  void AddCorpusFile(const QString& name, const QByteArray& text) {
    WriteFile(corpus_.filePath(name), text);
  }

  // Types `pattern`, chooses the corpus folder and clicks Search.
  void SearchFor(const QString& pattern) {
    TypePattern(pattern);
    ChooseFolder(corpus_.path());
    ASSERT_TRUE(SearchButton()->isEnabled());
    Search();
  }

  QString ReportPath() const { return work_.filePath(QStringLiteral("result.htm")); }
  QStringList Rows() const { return ReportRows(ReportPath()); }

  QTemporaryDir corpus_;
  QTemporaryDir work_;
  WorkingFolder entered_{work_.path()};
};

// The message the engine gives for `pattern`, as the error box shows it.
QString EngineErrorText(const std::u16string& pattern) {
  TRegexEngine engine;
  engine.SetExpression(pattern);
  try {
    engine.Compile();
  } catch (const ERegexEngine& error) {
    return QString::fromStdString(ErrorDisplayText(error.what()));
  }
  ADD_FAILURE() << "the pattern compiled";
  return {};
}

TEST_F(WindowSearch, WritesTheReportInTheWorkingFolderAndAsksToOpenIt) {
  AddCorpusFile(QStringLiteral("a.txt"), "The cat sat.\n");
  SearchFor(QStringLiteral("cat"));
  EXPECT_TRUE(errors_.shown.empty());
  ASSERT_EQ(opener_.opened.size(), 1u);
  EXPECT_EQ(opener_.opened[0], QUrl::fromLocalFile(ReportPath()));
  EXPECT_EQ(Rows().size(), 1);
  EXPECT_FALSE(QFile::exists(corpus_.filePath(QStringLiteral("result.htm"))));
}

TEST_F(WindowSearch, SearchesAFolderWhoseNameIsNotAscii) {
  const QString folder = corpus_.filePath(QStringLiteral("语料 corpus"));
  ASSERT_TRUE(QDir().mkdir(folder));
  WriteFile(folder + QStringLiteral("/a.txt"), "The cat sat.\n");
  TypePattern(QStringLiteral("cat"));
  ChooseFolder(folder);
  Search();
  EXPECT_TRUE(errors_.shown.empty()) << errors_.shown.front().toStdString();
  const QStringList rows = Rows();
  ASSERT_EQ(rows.size(), 1);
  EXPECT_TRUE(rows[0].contains(folder)) << "the link names the folder as chosen";
}

TEST_F(WindowSearch, BoundaryWrapsTheWholePatternWithoutAGroup) {
  // As \bcat|dog\b: a word that starts with cat, or one that ends in dog.
  AddCorpusFile(QStringLiteral("a.txt"), "catalog\nhotdog\ndogma\nconcat\n");
  SearchFor(QStringLiteral("cat|dog"));
  const QStringList rows = Rows();
  ASSERT_EQ(rows.size(), 2) << rows.join(u'\n').toStdString();
  EXPECT_TRUE(rows.join(u'\n').contains(QStringLiteral("<span class=\"key\">cat</span>alog")));
  EXPECT_TRUE(rows.join(u'\n').contains(QStringLiteral("hot<span class=\"key\">dog</span>")));
}

TEST_F(WindowSearch, PassesTheCaseAndBoundaryOptions) {
  AddCorpusFile(QStringLiteral("a.txt"), "Cat\ncat\nconcat\n");
  SearchFor(QStringLiteral("  cat  "));
  EXPECT_EQ(Rows().size(), 2) << "trimmed, bounded, either case";

  QTest::mouseClick(Find<QCheckBox>("cbxCase"), Qt::LeftButton);
  Search();
  EXPECT_EQ(Rows().size(), 1) << "case-sensitive";

  QTest::mouseClick(Find<QCheckBox>("cbxBorder"), Qt::LeftButton);
  Search();
  EXPECT_EQ(Rows().size(), 2) << "case-sensitive, no boundary: cat and concat";
}

TEST_F(WindowSearch, APatternEndingInABackslashCompilesOnlyWithTheBoundary) {
  AddCorpusFile(QStringLiteral("a.txt"), "path a\\b here\n");
  SearchFor(QStringLiteral("a\\"));
  EXPECT_TRUE(errors_.shown.empty());
  const QStringList rows = Rows();
  ASSERT_EQ(rows.size(), 1);
  EXPECT_TRUE(rows[0].contains(QStringLiteral("<span class=\"key\">a\\b</span>")));

  QTest::mouseClick(Find<QCheckBox>("cbxBorder"), Qt::LeftButton);
  Search();
  ASSERT_EQ(errors_.shown.size(), 1u);
  EXPECT_EQ(errors_.shown[0], EngineErrorText(u"a\\"));
}

TEST_F(WindowSearch, AnInvalidPatternShowsTheEnginesMessageAndKeepsTheLastReport) {
  AddCorpusFile(QStringLiteral("a.txt"), "one cat\n");
  SearchFor(QStringLiteral("cat"));
  const QByteArray before = ReadBytes(ReportPath());
  ASSERT_FALSE(before.isEmpty());

  TypePattern(QStringLiteral("ca(t"));
  Search();
  ASSERT_EQ(errors_.shown.size(), 1u);
  EXPECT_EQ(errors_.shown[0], EngineErrorText(u"\\bca(t\\b"));
  EXPECT_EQ(ReadBytes(ReportPath()), before);
  EXPECT_EQ(opener_.opened.size(), 1u) << "nothing new to open";

  // The window is still usable.
  TypePattern(QStringLiteral("one"));
  Search();
  EXPECT_EQ(errors_.shown.size(), 1u);
  EXPECT_EQ(opener_.opened.size(), 2u);
}

// A pasted pattern far past QLineEdit's default limit of 32,767 characters
// stays whole in the box and reaches the search whole: bounded by \b, only
// the whole pattern matches the long word, and its first 32,767 characters
// alone match nothing.
TEST_F(WindowSearch, APastedPatternOfAHundredThousandCharactersIsSearchedWhole) {
  constexpr int kLength = 100'000;
  constexpr int kDefaultLimit = 32'767;
  QString pattern(kLength, u'x');
  for (int i = 1; i < kLength; ++i) pattern[i] = QChar(u'a' + i % 16);
  pattern[0] = u'q';  // the word's only q: a match can begin nowhere else
  AddCorpusFile(QStringLiteral("a.txt"),
                "long " + pattern.toLatin1() + " word\n" +
                    "cut " + pattern.first(kDefaultLimit).toLatin1() + " short\n");

  QApplication::clipboard()->setText(pattern);
  PatternBox()->setFocus();
  QTest::keyClick(PatternBox(), Qt::Key_V, Qt::ControlModifier);
  ASSERT_EQ(PatternBox()->text().size(), kLength);
  EXPECT_EQ(PatternBox()->text(), pattern);

  ChooseFolder(corpus_.path());
  ASSERT_TRUE(SearchButton()->isEnabled());
  Search();
  EXPECT_TRUE(errors_.shown.empty()) << errors_.shown.front().toStdString();
  const QStringList rows = Rows();
  ASSERT_EQ(rows.size(), 1);
  EXPECT_TRUE(rows[0].startsWith(QStringLiteral(" long <span class=\"key\">") + pattern +
                                 QStringLiteral("</span> word")));
}

TEST_F(WindowSearch, TwoSearchesInARowReportOnlyTheirOwnLines) {
  AddCorpusFile(QStringLiteral("a.txt"), "a cat\na dog\nanother dog\n");
  SearchFor(QStringLiteral("cat"));
  EXPECT_EQ(Rows().size(), 1);
  TypePattern(QStringLiteral("dog"));
  Search();
  const QStringList rows = Rows();
  EXPECT_EQ(rows.size(), 2);
  EXPECT_FALSE(rows.join(u'\n').contains(QStringLiteral("cat")));
}

TEST_F(WindowSearch, ASearchAfterAFailedOneStartsFromEmptyLists) {
  // A folder named like a corpus file cannot be read and ends the search,
  // after the files listed before it have added their lines.
  for (const char* name : {"a.txt", "b.txt", "c.txt", "d.txt"}) {
    AddCorpusFile(QString::fromLatin1(name), "a cat\nthe dog\n");
  }
  ASSERT_TRUE(QDir(corpus_.path()).mkdir(QStringLiteral("m.txt")));
  SearchFor(QStringLiteral("cat"));
  ASSERT_EQ(errors_.shown.size(), 1u);
  EXPECT_TRUE(errors_.shown[0].startsWith(QStringLiteral("Cannot open file \"")));
  EXPECT_TRUE(opener_.opened.empty());

  ASSERT_TRUE(QDir(corpus_.path()).rmdir(QStringLiteral("m.txt")));
  TypePattern(QStringLiteral("dog"));
  Search();
  const QStringList rows = Rows();
  EXPECT_EQ(rows.size(), 4);
  EXPECT_FALSE(rows.join(u'\n').contains(QStringLiteral("cat")));
}

TEST_F(WindowSearch, AReportThatCannotBeCreatedIsNotOpened) {
  AddCorpusFile(QStringLiteral("a.txt"), "a cat\n");
  ASSERT_TRUE(QDir(work_.path()).mkdir(QStringLiteral("result.htm")));
  SearchFor(QStringLiteral("cat"));
  ASSERT_EQ(errors_.shown.size(), 1u);
  EXPECT_TRUE(errors_.shown[0].startsWith(QStringLiteral("Cannot create file \"")));
  EXPECT_TRUE(opener_.opened.empty());
}

// The opener's answer may come while the note is up or after it was
// closed; either way the report's full path reaches the user in the note,
// never in a box that has to be clicked away.
TEST_F(WindowSearch, AReportTheDesktopCannotOpenIsNamedInTheNote) {
  const QString failure = TSearchNote::DescribeOpenFailure(ReportPath());
  opener_.accepts = false;
  AddCorpusFile(QStringLiteral("a.txt"), "a cat\n");
  SearchFor(QStringLiteral("cat"));
  EXPECT_EQ(opener_.opened.size(), 1u);
  EXPECT_TRUE(errors_.shown.empty()) << "not an error box";
  ASSERT_NE(form_.Note(), nullptr);
  EXPECT_EQ(form_.Note()->Sections(), QStringList{failure});
  EXPECT_TRUE(failure.endsWith(QStringLiteral("\n") + ReportPath()));
  EXPECT_EQ(Rows().size(), 1) << "the report is written all the same";

  // A desktop that opens it again says nothing more, and the last note goes.
  opener_.accepts = true;
  Search();
  QApplication::processEvents();
  EXPECT_EQ(form_.Note(), nullptr);
  EXPECT_EQ(opener_.opened.size(), 2u);

  // An answer that comes late still reaches the note...
  opener_.defer = true;
  Search();
  EXPECT_EQ(form_.Note(), nullptr);
  opener_.Answer(false);
  ASSERT_NE(form_.Note(), nullptr);
  EXPECT_EQ(form_.Note()->Sections(), QStringList{failure});
  // ...but not once the next search has begun: it is about an older report.
  Search();
  Search();
  opener_.Answer(false);
  QApplication::processEvents();
  EXPECT_EQ(form_.Note(), nullptr);
  opener_.Answer(false);
  ASSERT_NE(form_.Note(), nullptr);
  EXPECT_EQ(form_.Note()->Sections(), QStringList{failure});
  EXPECT_TRUE(errors_.shown.empty());
}

TEST_F(WindowSearch, WritesTheStyleSheetBesideTheReportAndKeepsOneThatIsThere) {
  AddCorpusFile(QStringLiteral("a.txt"), "a cat\n");
  SearchFor(QStringLiteral("cat"));
  const QString sheet = work_.filePath(QStringLiteral("result.css"));
  const std::string_view built_in = ReportStyleSheet();
  EXPECT_EQ(ReadBytes(sheet), QByteArray(built_in.data(), static_cast<qsizetype>(built_in.size())));

  WriteFile(sheet, "td { color: red }");
  Search();
  EXPECT_EQ(ReadBytes(sheet), QByteArray("td { color: red }"));
  EXPECT_EQ(opener_.opened.size(), 2u);
}

// \b beside 河 matches only next to an ASCII word character, so the wrap
// hides most of what the pattern finds. The note says so whether or not
// anything matched, and goes once the wrap is off.
TEST_F(WindowSearch, APatternTheBoundaryHidesIsExplainedInTheNote) {
  // 河水 and a河b in UTF-8: only the second has \b on both sides of 河.
  AddCorpusFile(QStringLiteral("a.txt"), "\xE6\xB2\xB3\xE6\xB0\xB4\n" "a\xE6\xB2\xB3" "b\n");
  SearchFor(QStringLiteral("河"));
  EXPECT_TRUE(errors_.shown.empty());
  EXPECT_TRUE(errors_.informed.empty()) << "no modal box";
  ASSERT_EQ(opener_.opened.size(), 1u);
  EXPECT_EQ(Rows().size(), 1);
  ASSERT_NE(form_.Note(), nullptr);
  const std::vector<PatternAdvice> advice = AdvisePattern(u"河", true);
  ASSERT_FALSE(advice.empty());
  // Told with the lines the pattern has without the wrap: both.
  EXPECT_EQ(form_.Note()->Sections(), TSearchNote::DescribePattern(advice, 2))
      << form_.Note()->Sections().join(u'|').toStdString();
  EXPECT_FALSE(form_.Note()->isModal());

  // The same search again, and again: each has its note, shown, in place of
  // the last one's.
  for (int again = 0; again < 3; ++again) {
    const QPointer<TSearchNote> last = form_.Note();
    Search();
    ASSERT_NE(form_.Note(), nullptr) << again;
    EXPECT_TRUE(form_.Note()->isVisible()) << again;
    EXPECT_EQ(form_.Note()->Sections(), TSearchNote::DescribePattern(advice, 2)) << again;
    EXPECT_TRUE(last.isNull() || !last->isVisible()) << again;
    int shown = 0;
    for (QWidget* widget : QApplication::topLevelWidgets())
      shown += qobject_cast<TSearchNote*>(widget) != nullptr && widget->isVisible();
    EXPECT_EQ(shown, 1) << again;
  }

  // A search that finds nothing at all is explained the same way.
  TypePattern(QStringLiteral("河水"));
  Search();
  EXPECT_TRUE(Rows().isEmpty());
  ASSERT_NE(form_.Note(), nullptr);
  EXPECT_TRUE(form_.Note()->Sections()[0].contains(QStringLiteral("“河”")))
      << form_.Note()->Sections()[0].toStdString();

  QTest::mouseClick(Find<QCheckBox>("cbxBorder"), Qt::LeftButton);
  TypePattern(QStringLiteral("河"));
  Search();
  QApplication::processEvents();
  EXPECT_EQ(Rows().size(), 2);
  EXPECT_EQ(form_.Note(), nullptr) << "nothing to say without the wrap";

  // Nor with a pattern that is ASCII at both ends, whatever it found.
  QTest::mouseClick(Find<QCheckBox>("cbxBorder"), Qt::LeftButton);
  TypePattern(QStringLiteral("(河)"));
  Search();
  QApplication::processEvents();
  EXPECT_EQ(form_.Note(), nullptr);
  EXPECT_EQ(opener_.opened.size(), 7u);
  EXPECT_TRUE(errors_.informed.empty());
}

// Files read in a legacy encoding, or with bytes that are not text in the
// one they were read in, are named in the note.
TEST_F(WindowSearch, HowTheFilesWereReadIsInTheNote) {
  // Two lines of a poem in GB18030, enough for the detector to know it.
  AddCorpusFile(QStringLiteral("gb.txt"),
                "\xBB\xC6\xBA\xD3\xD6\xAE\xCB\xAE\xCC\xEC\xC9\xCF\xC0\xB4\xA3\xAC\xB1\xBC\xC1"
                "\xF7\xB5\xBD\xBA\xA3\xB2\xBB\xB8\xB4\xBB\xD8\xA1\xA3 cat\n"
                "\xBE\xFD\xB2\xBB\xBC\xFB\xB8\xDF\xCC\xC3\xC3\xF7\xBE\xB5\xB1\xAF\xB0\xD7\xB7"
                "\xA2\xA3\xAC\xB3\xAF\xC8\xE7\xC7\xE0\xCB\xBF\xC4\xBA\xB3\xC9\xD1\xA9\xA1\xA3\n");
  AddCorpusFile(QStringLiteral("utf8.txt"), "\xE6\xB2\xB3 cat\n");  // 河 in UTF-8
  SearchFor(QStringLiteral("cat"));
  ASSERT_NE(form_.Note(), nullptr);
  const QString note = form_.Note()->Sections().join(u'\n');
  EXPECT_TRUE(note.contains(QRegularExpression(QStringLiteral(": GB[0-9]+ \\(1: detected\\)\\."))))
      << note.toStdString();

  // The same files read as UTF-8 by choice: the GB18030 one has a byte
  // sequence replaced, and is named.
  form_.findChild<QAction*>(QStringLiteral("actEncoding_utf-8"))->trigger();
  Search();
  ASSERT_NE(form_.Note(), nullptr);
  const QString replaced = form_.Note()->Sections().join(u'\n');
  EXPECT_TRUE(replaced.contains(QStringLiteral("“gb.txt”"))) << replaced.toStdString();
  EXPECT_FALSE(replaced.contains(QStringLiteral("utf8.txt"))) << replaced.toStdString();
  EXPECT_EQ(Rows().size(), 2) << "the note adds to the report, it does not replace it";
}

TEST_F(WindowSearch, EnterAndEscapeInThePatternBoxStartNothing) {
  AddCorpusFile(QStringLiteral("a.txt"), "a cat\n");
  TypePattern(QStringLiteral("cat"));
  ChooseFolder(corpus_.path());
  for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape}) {
    QTest::keyClick(PatternBox(), key);
  }
  EXPECT_TRUE(opener_.opened.empty());
  EXPECT_FALSE(QFile::exists(ReportPath()));
  EXPECT_TRUE(form_.isVisible());
}

}  // namespace
}  // namespace tallyfold::testing
