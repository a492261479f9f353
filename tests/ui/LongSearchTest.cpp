// Long searches from the window: the progress dialog after half a second,
// the window taking no input meanwhile, Cancel (and Escape) stopping the
// search within the bound without a report or an error, also while the
// report is being written, a slow search that ends as any other, and
// closing the window while a search runs.
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QTemporaryDir>
#include <QTimer>

#include <chrono>
#include <functional>

#include "app/AppTestSupport.h"
#include "app/HeldTasks.h"
#include "ui/SearchProgress.h"
#include "ui/UiTestSupport.h"

namespace tallyfold::testing {
namespace {

using Clock = std::chrono::steady_clock;

// Looks for a shown progress dialog every few milliseconds while the window
// waits for a search, and hands it to `on_shown` the first time it is seen.
class DialogWatch {
 public:
  explicit DialogWatch(std::function<void(TSearchProgressDialog&)> on_shown)
      : on_shown_(std::move(on_shown)) {
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      for (QWidget* widget : QApplication::topLevelWidgets()) {
        auto* dialog = qobject_cast<TSearchProgressDialog*>(widget);
        if (dialog != nullptr && dialog->isVisible() && !seen_) {
          seen_ = true;
          shown_at_ = Clock::now();
          on_shown_(*dialog);
        }
      }
    });
    timer_.start(2);
  }

  bool Seen() const { return seen_; }
  Clock::time_point ShownAt() const { return shown_at_; }

 private:
  std::function<void(TSearchProgressDialog&)> on_shown_;
  QTimer timer_;
  bool seen_ = false;
  Clock::time_point shown_at_;
};

// True when some progress dialog is still on the screen.
bool AProgressDialogIsShown() {
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    if (qobject_cast<TSearchProgressDialog*>(widget) != nullptr && widget->isVisible()) return true;
  }
  return false;
}

class LongSearch : public WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    ASSERT_TRUE(corpus_.isValid() && work_.isValid());
  }

  // `files` files whose `lines` lines are `text`.
  void AddFiles(int files, int lines, const QByteArray& text) {
    for (int i = 0; i < files; ++i) {
      QByteArray bytes;
      for (int line = 0; line < lines; ++line) bytes += text + "\n";
      WriteFile(corpus_.filePath(QStringLiteral("slow%1.txt").arg(i)), bytes);
    }
  }

  // Makes a first report with a quick search and returns its bytes.
  QByteArray PreviousReport() {
    WriteFile(corpus_.filePath(QStringLiteral("a.txt")), "a cat\n");
    TypePattern(QStringLiteral("cat"));
    ChooseFolder(corpus_.path());
    Search();
    EXPECT_EQ(opener_.opened.size(), 1u);
    return ReadBytes(ReportPath());
  }

  // Searches for the catastrophic pattern, with the boundary off.
  void SearchCatastrophic() {
    TypePattern(QString::fromStdU16String(kCatastrophicPattern));
    QTest::mouseClick(Find<QCheckBox>("cbxBorder"), Qt::LeftButton);
    ASSERT_FALSE(Find<QCheckBox>("cbxBorder")->isChecked());
    clicked_at_ = Clock::now();
    Search();
    ended_at_ = Clock::now();
  }

  QString ReportPath() const { return work_.filePath(QStringLiteral("result.htm")); }

  QTemporaryDir corpus_;
  QTemporaryDir work_;
  WorkingFolder entered_{work_.path()};
  Clock::time_point clicked_at_;
  Clock::time_point ended_at_;
};

TEST_F(LongSearch, CancelStopsTheSearchWithinTheBoundWithoutReportOrError) {
  const QByteArray previous = PreviousReport();
  ASSERT_FALSE(previous.isEmpty());
  // Seconds of matching, in lines of a few milliseconds each.
  AddFiles(8, 300, QByteArray(16, 'a'));

  for (const bool by_escape : {false, true}) {
    SCOPED_TRACE(by_escape ? "Escape" : "Cancel button");
    Clock::time_point cancelled_at;
    DialogWatch watch([&](TSearchProgressDialog& dialog) {
      const QString shown = dialog.findChild<QLabel*>(QStringLiteral("lblProgress"))->text();
      EXPECT_TRUE(shown.endsWith(QStringLiteral(" of 9 files"))) << shown.toStdString();
      EXPECT_TRUE(dialog.isModal());

      // The main window takes no input while the dialog is up. The input
      // goes through the window system's path, where modality applies.
      const QString pattern = PatternBox()->text();
      PatternBox()->setFocus();
      QTest::keyClick(form_.windowHandle(), Qt::Key_Z);
      EXPECT_EQ(PatternBox()->text().toStdString(), pattern.toStdString());
      QTest::mouseClick(form_.windowHandle(), Qt::LeftButton, {},
                        Find<QPushButton>("btnDir")->geometry().center());
      EXPECT_EQ(picker_.initial_folders.size(), 1u) << "the folder dialog was not asked again";

      cancelled_at = Clock::now();
      if (by_escape) {
        QTest::keyClick(&dialog, Qt::Key_Escape);
      } else {
        QTest::mouseClick(dialog.findChild<QPushButton*>(QStringLiteral("btnCancel")),
                          Qt::LeftButton);
      }
    });
    if (by_escape) {
      clicked_at_ = Clock::now();
      Search();
      ended_at_ = Clock::now();
    } else {
      SearchCatastrophic();
    }

    ASSERT_TRUE(watch.Seen());
    EXPECT_GE(watch.ShownAt() - clicked_at_, kProgressDelay);
    EXPECT_LT(ended_at_ - cancelled_at, kCancelBound);
    EXPECT_TRUE(errors_.shown.empty()) << errors_.shown.front().toStdString();
    EXPECT_EQ(opener_.opened.size(), 1u) << "nothing new to open";
    EXPECT_EQ(ReadBytes(ReportPath()), previous);
    EXPECT_FALSE(AProgressDialogIsShown());
  }

  // The window is usable again, and the next search starts afresh.
  TypePattern(QStringLiteral("cat"));
  QTest::mouseClick(Find<QCheckBox>("cbxBorder"), Qt::LeftButton);
  Search();
  EXPECT_EQ(opener_.opened.size(), 2u);
  EXPECT_EQ(ReadBytes(ReportPath()), previous);
}

// One line of seconds of matching, cut short inside the line.
TEST_F(LongSearch, CancelStopsOneLongBacktrackingMatch) {
  WriteFile(ReportPath(), "previous");
  AddFiles(1, 1, QByteArray::fromStdString(LongBacktrackingLine()));
  ChooseFolder(corpus_.path());
  Clock::time_point cancelled_at;
  DialogWatch watch([&](TSearchProgressDialog& dialog) {
    const QString file = dialog.findChild<QLabel*>(QStringLiteral("lblCurrentFile"))->text();
    EXPECT_TRUE(file.endsWith(QStringLiteral("slow0.txt"))) << file.toStdString();
    cancelled_at = Clock::now();
    QTest::mouseClick(dialog.findChild<QPushButton*>(QStringLiteral("btnCancel")), Qt::LeftButton);
  });
  SearchCatastrophic();
  ASSERT_TRUE(watch.Seen());
  EXPECT_LT(ended_at_ - cancelled_at, kCancelBound);
  EXPECT_TRUE(errors_.shown.empty());
  EXPECT_TRUE(opener_.opened.empty());
  EXPECT_EQ(ReadBytes(ReportPath()), QByteArray("previous"));
}

// The search is held before it begins until the dialog has appeared.
TEST_F(LongSearch, ASlowSearchThatEndsWritesAndOpensTheReportAsAnyOther) {
  AddFiles(2, 150, QByteArray(17, 'a') + " b");
  TypePattern(QStringLiteral("(a+)+\\1$|b"));
  ChooseFolder(corpus_.path());
  QTest::mouseClick(Find<QCheckBox>("cbxBorder"), Qt::LeftButton);
  HeldTaskStarter tasks;
  form_.SetTaskStarter(tasks);
  tasks.Close();
  DialogWatch watch([&tasks](TSearchProgressDialog&) { tasks.Open(); });
  Search();
  EXPECT_TRUE(watch.Seen());
  EXPECT_TRUE(errors_.shown.empty());
  ASSERT_EQ(opener_.opened.size(), 1u);
  EXPECT_EQ(opener_.opened[0], QUrl::fromLocalFile(ReportPath()));
  EXPECT_EQ(ReportRows(ReportPath()).size(), 300);
  EXPECT_FALSE(AProgressDialogIsShown());
}

// Cancel once the report is being written: the previous report stays as it
// was and the new one, begun beside it without a name, is gone. The search
// is held once every file is scanned, before the report is written, until
// the dialog says so and Cancel is clicked.
TEST_F(LongSearch, CancelWhileWritingTheReportKeepsThePreviousOneAndLeavesNoOtherFile) {
  const QByteArray previous = PreviousReport();
  ASSERT_FALSE(previous.isEmpty());
  WriteFile(corpus_.filePath(QStringLiteral("many.txt")), QByteArray("a cat\n").repeated(20'000));
  const QDir work(work_.path());
  // The first search left the report and its style sheet.
  const QStringList report_only{QStringLiteral("result.css"), QStringLiteral("result.htm")};
  HeldTaskStarter tasks;
  tasks.HoldWhen([](int done, int total) { return total > 0 && done == total; });
  tasks.Close();
  form_.SetTaskStarter(tasks);
  const std::size_t opened_before = opener_.opened.size();

  bool cancelled_while_writing = false;
  QTimer watch;
  QObject::connect(&watch, &QTimer::timeout, [&] {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
      auto* dialog = qobject_cast<TSearchProgressDialog*>(widget);
      if (dialog == nullptr || !dialog->isVisible() || dialog->CancelRequested()) continue;
      const QString shown = dialog->findChild<QLabel*>(QStringLiteral("lblCurrentFile"))->text();
      if (shown != QStringLiteral("Writing the report…")) continue;
      cancelled_while_writing = true;
      QTest::mouseClick(dialog->findChild<QPushButton*>(QStringLiteral("btnCancel")),
                        Qt::LeftButton);
    }
  });
  watch.start(1);
  Search();

  ASSERT_TRUE(cancelled_while_writing) << "the dialog never told of the writing";
  EXPECT_TRUE(errors_.shown.empty()) << errors_.shown.front().toStdString();
  EXPECT_EQ(opener_.opened.size(), opened_before) << "nothing new to open";
  EXPECT_EQ(ReadBytes(ReportPath()), previous) << "the previous report was replaced";
  EXPECT_EQ(work.entryList(QDir::Files | QDir::Hidden | QDir::Dirs | QDir::NoDotAndDotDot),
            report_only);
  EXPECT_FALSE(AProgressDialogIsShown());
}

TEST(SearchProgressDialog, ShowsTheFileAndThenTheReport) {
  TSearchProgressDialog dialog(nullptr, QStringLiteral("caption"));
  auto* files = dialog.findChild<QLabel*>(QStringLiteral("lblProgress"));
  auto* current = dialog.findChild<QLabel*>(QStringLiteral("lblCurrentFile"));
  ASSERT_NE(files, nullptr);
  ASSERT_NE(current, nullptr);
  dialog.show();  // laid out, so that short paths are not elided
  dialog.ShowProgress({1, 3, "/corpus/b.txt"});
  EXPECT_EQ(files->text(), QStringLiteral("1 of 3 files"));
  EXPECT_EQ(current->text(), QStringLiteral("/corpus/b.txt"));
  dialog.ShowProgress({3, 3, ""});
  EXPECT_EQ(files->text(), QStringLiteral("3 of 3 files"));
  EXPECT_EQ(current->text(), QStringLiteral("Writing the report…"));
  dialog.ShowProgress({0, 0, ""});
  EXPECT_EQ(current->text(), QString());
}

TEST_F(LongSearch, AShortSearchShowsNoDialog) {
  DialogWatch watch([](TSearchProgressDialog&) {});
  PreviousReport();
  EXPECT_FALSE(watch.Seen());
  EXPECT_EQ(ReportRows(ReportPath()).size(), 1);
}

TEST_F(LongSearch, ClosingTheWindowStopsTheSearchAndThenCloses) {
  WriteFile(ReportPath(), "previous");
  AddFiles(8, 300, QByteArray(16, 'a'));
  ChooseFolder(corpus_.path());
  Clock::time_point closed_at;
  DialogWatch watch([&](TSearchProgressDialog&) {
    closed_at = Clock::now();
    EXPECT_FALSE(form_.close()) << "the window waits for the search";
    EXPECT_TRUE(form_.isVisible());
  });
  SearchCatastrophic();
  ASSERT_TRUE(watch.Seen());
  EXPECT_LT(ended_at_ - closed_at, kCancelBound);
  EXPECT_FALSE(form_.isVisible());
  EXPECT_TRUE(errors_.shown.empty());
  EXPECT_TRUE(opener_.opened.empty());
  EXPECT_EQ(ReadBytes(ReportPath()), QByteArray("previous"));
}

}  // namespace
}  // namespace tallyfold::testing
