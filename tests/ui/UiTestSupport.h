// Internal to the window tests: fake desktop services, a window fixture that
// finds controls by name, and readers for the written report.
#pragma once

#include <deque>
#include <functional>
#include <optional>
#include <vector>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include "ui/Services.h"
#include "ui/Unit1.h"

namespace tallyfold::testing {

// Answers each request with the next queued choice (nothing: cancel) and
// records the folder each request started at.
class FakeFolderPicker : public FolderPicker {
 public:
  std::optional<QUrl> ChooseFolder(QWidget*, const QString& initial_folder) override {
    initial_folders.push_back(initial_folder);
    if (while_showing) while_showing();
    if (answers.empty()) return std::nullopt;
    std::optional<QUrl> answer = answers.front();
    answers.pop_front();
    return answer;
  }

  std::deque<std::optional<QUrl>> answers;
  std::vector<QString> initial_folders;
  std::function<void()> while_showing;  // runs while the "dialog" is up
};

// Answers each request with the next queued path (none, or an empty one:
// cancel) and records what each request showed.
class FakeSaveFilePicker : public SaveFilePicker {
 public:
  struct Request {
    QWidget* owner;
    QString caption;
    QString suggested_name;
    QString filter;
  };
  std::optional<QString> ChooseSaveFile(QWidget* owner, const QString& caption,
                                        const QString& suggested_name,
                                        const QString& filter) override {
    requests.push_back({owner, caption, suggested_name, filter});
    if (answers.empty()) return std::nullopt;
    const QString answer = answers.front();
    answers.pop_front();
    if (answer.isEmpty()) return std::nullopt;
    return answer;
  }

  std::deque<QString> answers;
  std::vector<Request> requests;
};

// Records every request; opens them unless told otherwise, at once, or
// when the test calls Answer with `defer` set.
class FakeOpener : public DesktopOpener {
 public:
  void Open(const QUrl& url, Done done) override {
    opened.push_back(url);
    if (defer) {
      waiting.push_back(std::move(done));
    } else if (done) {
      done(accepts);
    }
  }

  // Gives the oldest request that waits its answer.
  void Answer(bool opened_it) {
    ASSERT_FALSE(waiting.empty());
    const Done done = std::move(waiting.front());
    waiting.pop_front();
    if (done) done(opened_it);
  }

  std::vector<QUrl> opened;
  bool accepts = true;
  bool defer = false;
  std::deque<Done> waiting;
};

class FakeErrorDisplay : public ErrorDisplay {
 public:
  void ShowError(QWidget*, const QString& text) override { shown.push_back(text); }
  void ShowInformation(QWidget*, const QString& text) override { informed.push_back(text); }
  // Answers with the next queued answer; no when none is queued.
  bool Ask(QWidget*, const QString& question) override {
    asked.push_back(question);
    if (while_asking) while_asking();
    if (answers.empty()) return false;
    const bool answer = answers.front();
    answers.pop_front();
    return answer;
  }

  std::vector<QString> shown;     // errors
  std::vector<QString> informed;  // information
  std::vector<QString> asked;     // questions
  std::deque<bool> answers;
  std::function<void()> while_asking;  // runs while a question is up
};

// Makes `folder` the working folder for the lifetime of the object.
class WorkingFolder {
 public:
  explicit WorkingFolder(const QString& folder) : previous_(QDir::currentPath()) {
    if (!QDir::setCurrent(folder)) ADD_FAILURE() << "cannot enter " << folder.toStdString();
  }
  ~WorkingFolder() { QDir::setCurrent(previous_); }

 private:
  QString previous_;
};

// Points the window's settings file into a fresh folder for the object's
// lifetime, so that a window starts from the defaults and the user's own
// settings are neither read nor touched.
class ScratchSettings {
 public:
  ScratchSettings() {
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, folder_.path());
  }

  QString Folder() const { return folder_.path(); }
  // The file the window reads and writes.
  QString File() const { return folder_.path() + QStringLiteral("/tallyfold/tallyfold.ini"); }

 private:
  QTemporaryDir folder_;
};

// A shown window with fake services.
class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    form_.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form_));
  }

  template <class Widget>
  Widget* Find(const char* name) {
    Widget* widget = form_.findChild<Widget*>(QString::fromLatin1(name));
    if (widget == nullptr) ADD_FAILURE() << "no control named " << name;
    return widget;
  }

  QPushButton* SearchButton() { return Find<QPushButton>("btnSearch"); }
  QLineEdit* PatternBox() { return Find<QLineEdit>("edtInput"); }

  // Replaces the pattern the way a user does: select all, then type (any
  // character, through key events that carry their text).
  void TypePattern(const QString& text) {
    QTest::keyClick(PatternBox(), Qt::Key_A, Qt::ControlModifier);
    if (text.isEmpty()) QTest::keyClick(PatternBox(), Qt::Key_Backspace);
    for (const QChar ch : text) {
      QTest::sendKeyEvent(QTest::Click, PatternBox(), Qt::Key_unknown, QString(ch),
                          Qt::NoModifier);
    }
  }

  // Clicks the folder button with `answer` queued as the user's choice.
  void ChooseFolder(std::optional<QUrl> answer) {
    picker_.answers.push_back(std::move(answer));
    QTest::mouseClick(Find<QPushButton>("btnDir"), Qt::LeftButton);
  }
  void ChooseFolder(const QString& path) { ChooseFolder(QUrl::fromLocalFile(path)); }

  void Search() { QTest::mouseClick(SearchButton(), Qt::LeftButton); }

  ScratchSettings settings_;  // before the window, which reads them
  FakeFolderPicker picker_;
  FakeSaveFilePicker save_picker_;
  FakeOpener opener_;
  FakeErrorDisplay errors_;
  TForm1 form_{picker_, save_picker_, opener_, errors_};
};

// The file's bytes; empty when it cannot be read.
inline QByteArray ReadBytes(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The contents of the Text cells of a report file (UTF-16 LE with a mark),
// one per row, in report order.
inline QStringList ReportRows(const QString& path) {
  const QByteArray bytes = ReadBytes(path);
  if (!bytes.startsWith("\xFF\xFE")) {
    ADD_FAILURE() << path.toStdString() << " is not a UTF-16 LE report";
    return {};
  }
  const QString text = QString::fromUtf16(
      reinterpret_cast<const char16_t*>(bytes.constData() + 2), (bytes.size() - 2) / 2);
  static const QRegularExpression cell(QStringLiteral("<td class=\"text\">(.*)</td>"));
  QStringList rows;
  for (auto it = cell.globalMatch(text); it.hasNext();) rows << it.next().captured(1);
  return rows;
}

inline void WriteFile(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
  ASSERT_EQ(file.write(bytes), bytes.size());
}

// Runs `inspect` on the modal dialog that `open` shows, then dismisses it.
template <class Dialog>
void WithModal(const std::function<void(Dialog&)>& inspect, const std::function<void()>& open) {
  bool seen = false;
  QTimer::singleShot(0, [&] {
    auto* dialog = qobject_cast<Dialog*>(QApplication::activeModalWidget());
    if (dialog == nullptr) return;
    seen = true;
    inspect(*dialog);
    dialog->reject();
  });
  open();
  EXPECT_TRUE(seen) << "no modal dialog appeared";
}

}  // namespace tallyfold::testing
