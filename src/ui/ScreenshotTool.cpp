// tallyfold-screenshots: takes the README's pictures of the window from the
// program's own code, so they show the window as it is built now.
//
//   tallyfold-screenshots CORPUS PATTERN OUTPUT_FOLDER
//
// It opens the real main window, types PATTERN, chooses CORPUS through a
// folder picker that answers at once and clicks Search; the report lands in
// the current folder as result.htm, as from the program. The window is then
// saved as OUTPUT_FOLDER/window.png, and the note that follows a search for
// a Chinese word with the \b wrap as OUTPUT_FOLDER/note.png. It then searches the same corpus for
// English and Chinese words with the results window as what follows a
// search, and saves that window as OUTPUT_FOLDER/results-window.png, and
// with its Forms tab shown as OUTPUT_FOLDER/forms.png. Next
// it searches a corpus of slow files
// it makes for the purpose in the current folder (long-corpus/), waits until
// the progress dialog is half-way, saves it as OUTPUT_FOLDER/progress.png
// and cancels that search.
//
// The window speaks the language of the locale, as the program does.
//
// It needs a real display: pictures are taken from the screen, so a window
// manager's frame, where one runs, is in them. scripts/screenshots runs it
// under Xvfb.
#include <cstdio>
#include <optional>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QTabWidget>
#include <QTimer>

#include "platform/CodePage.h"
#include "ui/ResultsWindow.h"
#include "ui/SearchNote.h"
#include "ui/SearchProgress.h"
#include "ui/Services.h"
#include "ui/Translation.h"
#include "ui/Unit1.h"

namespace tallyfold {
namespace {

// The folder picker the user would answer with `folder`.
class ChosenFolder final : public FolderPicker {
 public:
  std::optional<QUrl> ChooseFolder(QWidget*, const QString&) override {
    return QUrl::fromLocalFile(folder);
  }
  QString folder;
};

// The report is only looked at later, in a browser.
class NoDesktop final : public DesktopOpener {
 public:
  void Open(const QUrl&, Done done) override {
    if (done) done(true);
  }
};

// A message box would spoil the picture: the text goes to stderr instead.
class ErrorsToStderr final : public ErrorDisplay {
 public:
  void ShowError(QWidget*, const QString& text) override {
    std::fprintf(stderr, "tallyfold-screenshots: the search failed: %s\n",
                 text.toLocal8Bit().constData());
    failed = true;
  }
  void ShowInformation(QWidget*, const QString& text) override {
    std::fprintf(stderr, "tallyfold-screenshots: %s\n", text.toLocal8Bit().constData());
  }
  bool failed = false;
};

// Lets the event loop run for `ms` milliseconds, so that what was changed
// is painted and the window manager has framed it.
void Settle(int ms) {
  QElapsedTimer clock;
  clock.start();
  while (clock.elapsed() < ms) QApplication::processEvents(QEventLoop::AllEvents, 10);
}

// Saves `widget` with its window frame, as it is on the screen.
bool SaveFromScreen(QWidget& widget, const QString& path) {
  const QRect frame = widget.frameGeometry();
  const QPixmap picture =
      widget.screen()->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height());
  if (picture.isNull() || !picture.save(path, "PNG")) {
    std::fprintf(stderr, "tallyfold-screenshots: cannot save %s\n", qPrintable(path));
    return false;
  }
  std::printf("%s\n", qPrintable(path));
  return true;
}

// Ten files of lines that the pattern (a+)+\1$ backtracks long over, about a
// second each: the progress dialog stays up long enough to be photographed.
bool MakeSlowCorpus(const QString& folder) {
  const QByteArray line = QByteArray(18, 'a') + '\n';
  for (int i = 1; i <= 10; ++i) {
    QFile file(QStringLiteral("%1/news-%2.txt").arg(folder).arg(i, 2, 10, QLatin1Char('0')));
    if (!file.open(QIODevice::WriteOnly) || file.write(line.repeated(100)) != line.size() * 100) {
      return false;
    }
  }
  return true;
}

int Run(const QString& corpus, const QString& pattern, const QString& output) {
  ChosenFolder picker;
  picker.folder = corpus;
  QtSaveFilePicker save_picker;  // never asked: nothing is exported
  NoDesktop opener;
  ErrorsToStderr errors;
  TForm1 form(picker, save_picker, opener, errors);
  form.show();
  Settle(500);

  auto* pattern_box = form.findChild<QLineEdit*>(QStringLiteral("edtInput"));
  auto* folder_button = form.findChild<QPushButton*>(QStringLiteral("btnDir"));
  auto* search_button = form.findChild<QPushButton*>(QStringLiteral("btnSearch"));
  if (pattern_box == nullptr || folder_button == nullptr || search_button == nullptr) {
    std::fputs("tallyfold-screenshots: the window lacks its controls\n", stderr);
    return 1;
  }
  pattern_box->setText(pattern);
  folder_button->click();
  search_button->click();  // returns once the report is written
  if (errors.failed || !QFile::exists(QStringLiteral("result.htm"))) return 1;
  Settle(300);
  if (!SaveFromScreen(form, output + QStringLiteral("/window.png"))) return 1;

  // The note after a search for a Chinese word with the \b wrap on.
  pattern_box->setText(QStringLiteral("河"));
  search_button->click();
  Settle(500);
  TSearchNote* note = nullptr;
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    if (auto* shown = qobject_cast<TSearchNote*>(widget); shown != nullptr && shown->isVisible())
      note = shown;
  }
  if (errors.failed || note == nullptr) {
    std::fputs("tallyfold-screenshots: the search showed no note\n", stderr);
    return 1;
  }
  if (!SaveFromScreen(*note, output + QStringLiteral("/note.png"))) return 1;
  note->close();
  pattern_box->setText(pattern);

  // The results window, for a pattern with English and Chinese words;
  // Chinese words need the word boundaries off.
  auto* after = form.findChild<QAction*>(QStringLiteral("actAfterSearch_results"));
  auto* boundary = form.findChild<QCheckBox*>(QStringLiteral("cbxBorder"));
  if (after == nullptr || boundary == nullptr) {
    std::fputs("tallyfold-screenshots: the window lacks its settings\n", stderr);
    return 1;
  }
  after->trigger();
  boundary->setChecked(false);
  pattern_box->setText(QStringLiteral("the|河"));
  search_button->click();
  TResultsWindow* results = form.ResultsWindow();
  if (errors.failed || results == nullptr) {
    std::fputs("tallyfold-screenshots: the search showed no results window\n", stderr);
    return 1;
  }
  // The main window stays on top: it goes below the results window for
  // the picture, and back after.
  const QPoint home = form.pos();
  form.move(home.x(), 600);
  results->resize(980, 420);
  results->move(20, 20);
  Settle(500);
  if (!SaveFromScreen(*results, output + QStringLiteral("/results-window.png"))) return 1;
  // Its Forms tab: every distinct match with its counts.
  auto* tabs = results->findChild<QTabWidget*>(QStringLiteral("tabResults"));
  if (tabs == nullptr) {
    std::fputs("tallyfold-screenshots: the results window lacks its tabs\n", stderr);
    return 1;
  }
  tabs->setCurrentIndex(tabs->count() - 1);
  Settle(500);
  if (!SaveFromScreen(*results, output + QStringLiteral("/forms.png"))) return 1;
  results->close();
  form.move(home);
  form.findChild<QAction*>(QStringLiteral("actAfterSearch_report"))->trigger();

  // A long search from the same window, over a corpus that is slow on
  // purpose: the back-reference keeps the pattern on the plain backtracker,
  // which tries every way of splitting each run of a's.
  const QString slow = QDir::current().absoluteFilePath(QStringLiteral("long-corpus"));
  if (!QDir().mkpath(slow) || !MakeSlowCorpus(slow)) {
    std::fputs("tallyfold-screenshots: cannot make the slow corpus\n", stderr);
    return 1;
  }
  picker.folder = slow;
  folder_button->click();
  pattern_box->setText(QStringLiteral("(a+)+\\1$"));

  // The picture is taken once the dialog has shown the same count for a
  // moment, from four files done on: painted, and not about to change.
  bool saved = false;
  QString steady_text;
  QElapsedTimer steady;
  QTimer look;
  QObject::connect(&look, &QTimer::timeout, [&] {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
      auto* dialog = qobject_cast<TSearchProgressDialog*>(widget);
      if (dialog == nullptr || !dialog->isVisible() || dialog->CancelRequested()) continue;
      const QString text = dialog->findChild<QLabel*>(QStringLiteral("lblProgress"))->text();
      if (text.section(u' ', 0, 0).toInt() < 4) continue;
      if (text != steady_text) {
        steady_text = text;
        steady.start();
      } else if (steady.elapsed() >= 250) {
        saved = SaveFromScreen(*dialog, output + QStringLiteral("/progress.png"));
        dialog->findChild<QPushButton*>(QStringLiteral("btnCancel"))->click();
      }
    }
  });
  look.start(20);
  search_button->click();
  look.stop();
  if (!saved) {
    std::fputs("tallyfold-screenshots: the progress dialog was not seen half-way\n", stderr);
    return 1;
  }
  return errors.failed ? 1 : 0;
}

}  // namespace
}  // namespace tallyfold

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fputs("usage: tallyfold-screenshots CORPUS PATTERN OUTPUT_FOLDER\n", stderr);
    return 2;
  }
  tallyfold::InitSystemCodePage();
  QApplication application(argc, argv);
  tallyfold::ConfigureApplication();
  // In the language the program would speak: LANG=zh_CN.UTF-8 takes the
  // pictures of the Chinese window.
  tallyfold::InstallTranslation(QLocale::system());
  return tallyfold::Run(QFile::decodeName(argv[1]), QString::fromLocal8Bit(argv[2]),
                        QFile::decodeName(argv[3]));
}
