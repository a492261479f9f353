// The desktop's opener as the window runs it: its exit status decides
// whether the report was opened. Stand-ins for xdg-open, written by the
// test, are put first on PATH.
#include <functional>
#include <optional>

#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>

#include "ui/SearchNote.h"
#include "ui/UiTestSupport.h"

namespace tallyfold::testing {
namespace {

class UiDesktopOpener : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(bin_.isValid());
    path_ = qgetenv("PATH");
    qputenv("PATH", QFile::encodeName(bin_.path()) + ':' + path_);
  }
  void TearDown() override { qputenv("PATH", path_); }

  // An xdg-open whose body is `script`; it finds the argument in $1.
  void WriteOpener(const QByteArray& script, const QByteArray& interpreter = "/bin/sh") {
    const QString path = bin_.filePath(QStringLiteral("xdg-open"));
    WriteFile(path, "#!" + interpreter + "\n" + script + "\n");
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
  }

  // Asks `opener` to open `url` and waits, up to ten seconds, for the answer.
  std::optional<bool> OpenAndWait(QtDesktopOpener& opener, const QUrl& url) {
    std::optional<bool> answer;
    opener.Open(url, [&answer](bool opened) {
      EXPECT_FALSE(answer.has_value()) << "answered twice";
      answer = opened;
    });
    QElapsedTimer clock;
    clock.start();
    while (!answer && clock.elapsed() < 10000)
      QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return answer;
  }

  QTemporaryDir bin_;
  QByteArray path_;
};

TEST_F(UiDesktopOpener, TheOpenersExitStatusSaysWhetherTheReportWasOpened) {
  struct Case {
    const char* what;
    QByteArray script;
    QByteArray interpreter;
    bool opened;
  };
  const Case cases[] = {
      {"exit 0", "echo \"$1\" > \"$(dirname \"$0\")/asked\"; exit 0", "/bin/sh", true},
      {"exit 4: the application it started failed", "exit 4", "/bin/sh", false},
      {"exit 3: no application for the document", "exit 3", "/bin/sh", false},
      {"a crash", "kill -SEGV $$", "/bin/sh", false},
      {"an opener that cannot be started", "exit 0", "/no/such/interpreter", false},
  };
  const QString report = bin_.filePath(QStringLiteral("result with space.htm"));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    WriteOpener(c.script, c.interpreter);
    QtDesktopOpener opener;
    EXPECT_EQ(OpenAndWait(opener, QUrl::fromLocalFile(report)), std::optional<bool>(c.opened));
  }
  // The opener was given the report's path, as one argument.
  EXPECT_EQ(ReadBytes(bin_.filePath(QStringLiteral("asked"))), QFile::encodeName(report) + '\n');
}

// An opener that goes on running has started an application that is in
// use: after the patience runs out that counts as opened, and the opener
// is left to run, even when the window's opener is gone.
TEST_F(UiDesktopOpener, AnOpenerStillRunningAfterThePatienceHasOpenedIt) {
  const QString done = bin_.filePath(QStringLiteral("done"));
  WriteOpener("sleep 1; touch \"$(dirname \"$0\")/done\"");
  {
    QtDesktopOpener opener(QStringLiteral("xdg-open"), std::chrono::milliseconds(100));
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(OpenAndWait(opener, QUrl(QStringLiteral("https://forum.example/"))),
              std::optional<bool>(true));
    EXPECT_LT(clock.elapsed(), 900);
  }
  QElapsedTimer clock;
  clock.start();
  while (!QFileInfo::exists(done) && clock.elapsed() < 5000)
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  EXPECT_TRUE(QFileInfo::exists(done)) << "the opener was killed";
}

// The whole way: a window with the real opener, whose xdg-open fails with
// exit 4 after the search has ended, tells the report's path in its note.
TEST_F(UiDesktopOpener, AFailingOpenerAfterASearchIsToldInTheWindowsNote) {
  WriteOpener("sleep 0.2; exit 4");
  ScratchSettings settings;
  QTemporaryDir corpus;
  QTemporaryDir work;
  ASSERT_TRUE(corpus.isValid() && work.isValid());
  WriteFile(corpus.filePath(QStringLiteral("a.txt")), "a cat\n");
  FakeFolderPicker picker;
  FakeSaveFilePicker save_picker;
  FakeErrorDisplay errors;
  QtDesktopOpener opener;
  TForm1 form(picker, save_picker, opener, errors);
  form.SetReportFolder(work.path());
  form.show();
  picker.answers.push_back(QUrl::fromLocalFile(corpus.path()));
  form.findChild<QPushButton*>(QStringLiteral("btnDir"))->click();
  form.findChild<QLineEdit*>(QStringLiteral("edtInput"))->setText(QStringLiteral("cat"));
  form.findChild<QPushButton*>(QStringLiteral("btnSearch"))->click();
  EXPECT_EQ(form.Note(), nullptr) << "the opener has not answered yet";
  QElapsedTimer clock;
  clock.start();
  while (form.Note() == nullptr && clock.elapsed() < 10000)
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  ASSERT_NE(form.Note(), nullptr);
  EXPECT_EQ(form.Note()->Sections(),
            QStringList{TSearchNote::DescribeOpenFailure(form.ReportPath())});
  EXPECT_TRUE(QFileInfo::exists(form.ReportPath()));
  EXPECT_TRUE(errors.shown.empty());
}

}  // namespace
}  // namespace tallyfold::testing
