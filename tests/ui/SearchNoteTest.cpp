// The note after a search: how it words what the app layer found, and the
// window it is shown in.
#include <string>
#include <vector>

#include <QApplication>
#include <QLabel>
#include <QWindow>

#include "app/SearchNotes.h"
#include "ui/SearchNote.h"
#include "ui/UiTestSupport.h"

namespace tallyfold::testing {
namespace {

ReadingSummary Codesets() {
  ReadingSummary summary;
  summary.codesets = {{"BIG5", 3, {{TReadChoice::kDetected, 3}}}, {"GB18030", 1, {{TReadChoice::kFallback, 1}}}};
  return summary;
}

ReadingSummary Replaced(std::string hint, int files) {
  ReadingSummary summary;
  summary.replaced_files = files;
  summary.replaced = 1234;
  for (int i = 0; i < std::min(files, kSummaryExamples); ++i)
    summary.examples.push_back("dir/" + std::string(1, static_cast<char>('a' + i)) + ".txt");
  summary.encoding_hint = std::move(hint);
  return summary;
}

ReadingSummary Nuls() {
  ReadingSummary summary;
  summary.nul_files = 2;
  summary.nuls = 9;
  return summary;
}

ReadingSummary Changed() {
  ReadingSummary summary;
  summary.changed = {"dir/log.txt", "b.txt"};
  summary.sizeless = {"status.txt"};
  return summary;
}

ReadingSummary Undetected() {
  ReadingSummary summary;
  summary.undetected_files = 4;
  summary.undetected = "X-MAC-CYRILLIC";
  return summary;
}

TEST(UiSearchNote, ReadingsAreToldOneParagraphEach) {
  struct Case {
    const char* what;
    ReadingSummary summary;
    std::string fallback;
    QStringList expected;
  };
  const Case cases[] = {
      {"nothing to tell", ReadingSummary(), "GB18030", {}},
      {"legacy encodings, most files first",
       Codesets(),
       "GB18030",
       {"Files without a byte-order mark read in an encoding other than UTF-8, by encoding: "
        "BIG5 (3: detected), GB18030 (1: fallback)."}},
      {"replaced bytes, every file named, a set that may help",
       Replaced("BIG5", 2),
       "GB18030",
       {"Files with bytes that are not text in the encoding they were read in: 2 (1,234 "
        "places, each read as �, which matches nothing): “dir/a.txt”, “dir/b.txt”. They may "
        "read right with the encoding “BIG5” (right-click the window: Encoding of files "
        "without a mark)."}},
      {"more files than are named, Automatic with its fallback to help",
       Replaced("auto", 5),
       "SHIFT_JIS",
       {"Files with bytes that are not text in the encoding they were read in: 5 (1,234 "
        "places, each read as �, which matches nothing): “dir/a.txt”, “dir/b.txt”, "
        "“dir/c.txt”, …. They may read right with the encoding “Automatic (by each file's content, else "
        "SHIFT_JIS)” (right-click the window: Encoding of files without a mark)."}},
      {"replaced bytes and no set likely to help",
       Replaced("", 1),
       "GB18030",
       {"Files with bytes that are not text in the encoding they were read in: 1 (1,234 "
        "places, each read as �, which matches nothing): “dir/a.txt”."}},
      {"NULs",
       Nuls(),
       "GB18030",
       {"Files holding NUL characters: 2 (9 in all); they are searched as ordinary "
        "characters."}},
      {"files that changed while searched, or denied their bytes, each by name",
       Changed(),
       "GB18030",
       {"“status.txt” has a size of 0 but gave bytes when read, as the system's own files "
        "do; it was searched as empty.",
        "“dir/log.txt” changed while it was searched: the counts for it may be incomplete.",
        "“b.txt” changed while it was searched: the counts for it may be incomplete."}},
      {"a detector answer that cannot be used",
       Undetected(),
       "BIG5",
       {"Files for which the encoding detector answered X-MAC-CYRILLIC, which this system "
        "cannot decode, and which were read as BIG5 instead: 4."}},
  };
  QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(TSearchNote::DescribeReadings(c.summary, c.fallback), c.expected);
  }
  ReadingSummary all = Codesets();
  all.nul_files = 1;
  all.nuls = 1;
  all.undetected_files = 1;
  all.undetected = "X";
  EXPECT_EQ(TSearchNote::DescribeReadings(all, "GB18030").size(), 3);
  QLocale::setDefault(QLocale::c());
}

TEST(UiSearchNote, PatternPitfallsAreToldWithTheirRemedy) {
  const PatternAdvice boundary_start{PatternPitfall::kBoundaryBeside, u"的", u"", false};
  const PatternAdvice boundary_end{PatternPitfall::kBoundaryBeside, u"\U0002A6A5", u"", false};
  const PatternAdvice start{PatternPitfall::kStartAnchor, u"^", u"^ the", false};
  const PatternAdvice end{PatternPitfall::kEndAnchor, u"\\Z", u"了 \\Z", true};
  struct Case {
    const char* what;
    std::vector<PatternAdvice> advice;
    int lines_without_boundary;
    QStringList expected;
  };
  const QString beside = QStringLiteral(
      "The \\b that “add \\b” adds beside %1 matches only where an ASCII letter, digit or _ "
      "stands next to it. ");
  const Case cases[] = {
      {"nothing to tell", {}, 5, {}},
      {"the wrap, with what it hides",
       {boundary_start},
       107615,
       {beside.arg("“的”") + "Lines that would match without “add \\b”: 107,615."}},
      {"the wrap, not worked out",
       {boundary_start},
       -1,
       {beside.arg("“的”") + "Untick “add \\b” to find it anywhere."}},
      {"the wrap on both sides, told once, a pair as one character",
       {boundary_start, boundary_end},
       0,
       {beside.arg("“的”, “\U0002A6A5”") + "Lines that would match without “add \\b”: 0."}},
      {"an anchor at the start",
       {start},
       -1,
       {"Each line is searched with a space added at its start, so “^” followed by other "
        "text never matches. Search for “^ the” instead."}},
      {"an anchor at the end that also needs the wrap off",
       {end},
       -1,
       {"Each line is searched with a space added at its end, so “\\Z” after other text "
        "never matches. Search for “了 \\Z” with “add \\b” unticked."}},
  };
  QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(TSearchNote::DescribePattern(c.advice, c.lines_without_boundary), c.expected);
  }
  QLocale::setDefault(QLocale::c());
  // The wrap first, then the anchors in the order given.
  const QStringList all =
      TSearchNote::DescribePattern({start, boundary_start, end}, -1);
  ASSERT_EQ(all.size(), 3);
  EXPECT_TRUE(all[0].startsWith(QStringLiteral("The \\b")));
  EXPECT_TRUE(all[1].contains(QStringLiteral("at its start")));
  EXPECT_TRUE(all[2].contains(QStringLiteral("at its end")));
}

// The note is a dialog of the window that does not hold up its owner, shows
// its paragraphs in order and goes when dismissed.
TEST(UiSearchNote, IsANonModalDialogOfItsOwnerThatCloseDismisses) {
  QWidget owner;
  owner.show();
  QPointer<TSearchNote> note = new TSearchNote(&owner);
  note->AddSections({QStringLiteral("first"), QString(), QStringLiteral("second")});
  note->AddSection(QStringLiteral("third"));
  note->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(note));
  EXPECT_EQ(note->Sections(), (QStringList{"first", "second", "third"}));
  EXPECT_EQ(note->findChild<QLabel*>(QStringLiteral("lblNote"))->text(),
            QStringLiteral("first\n\nsecond\n\nthird"));
  EXPECT_FALSE(note->isModal());
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
  EXPECT_EQ(note->windowType(), Qt::Dialog);
  EXPECT_EQ(note->parentWidget(), &owner);
  ASSERT_NE(note->windowHandle(), nullptr);
  EXPECT_EQ(note->windowHandle()->transientParent(), owner.windowHandle());

  QTest::mouseClick(note->findChild<QPushButton*>(QStringLiteral("btnClose")), Qt::LeftButton);
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_TRUE(note.isNull());

  QPointer<TSearchNote> again = new TSearchNote(&owner);
  again->show();
  QTest::keyClick(again, Qt::Key_Escape);
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_TRUE(again.isNull());
}

}  // namespace
}  // namespace tallyfold::testing
