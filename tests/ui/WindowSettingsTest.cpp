// The window's settings from run to run: what a new window finds of the one
// before, where the folder dialog opens, the pattern history, the context
// menu's encoding and sub-folder settings reaching the search and shown on
// the window, and settings files that cannot be read or written.
#include <QAbstractButton>
#include <QAbstractItemModel>
#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCheckBox>
#include <QCompleter>
#include <QContextMenuEvent>
#include <QLabel>
#include <QMenu>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>

#include "ui/Settings.h"
#include "ui/UiTestSupport.h"

namespace tallyfold::testing {
namespace {

class RememberedSettings : public WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    ASSERT_TRUE(corpus_.isValid() && work_.isValid());
    WriteFile(corpus_.filePath(QStringLiteral("a.txt")), "the cat\n");
  }

  // A window of its own, as at the program's next start.
  struct Restarted {
    FakeFolderPicker picker;
    FakeSaveFilePicker save_picker;
    FakeOpener opener;
    FakeErrorDisplay errors;
    TForm1 form{picker, save_picker, opener, errors};

    template <class Object>
    Object* Find(const char* name) {
      Object* object = form.findChild<Object*>(QString::fromLatin1(name));
      if (object == nullptr) ADD_FAILURE() << "no " << name;
      return object;
    }
    QStringList Offered() {
      const QAbstractItemModel* model = Find<QLineEdit>("edtInput")->completer()->model();
      QStringList patterns;
      for (int row = 0; row < model->rowCount(); ++row)
        patterns << model->index(row, 0).data().toString();
      return patterns;
    }
  };

  QAction* Action(const char* name) { return Find<QAction>(name); }

  // Types `pattern` and clicks Search over the chosen folder.
  void SearchFor(const QString& pattern) {
    TypePattern(pattern);
    ASSERT_TRUE(SearchButton()->isEnabled());
    Search();
  }

  QStringList HistoryMenu() {
    QStringList texts;
    for (const QAction* action : Find<QMenu>("mnuHistory")->actions()) texts << action->text();
    return texts;
  }

  QTemporaryDir corpus_;
  QTemporaryDir work_;
  WorkingFolder entered_{work_.path()};
};

TEST_F(RememberedSettings, ANewWindowFindsWhatTheLastOneWasLeftWith) {
  EXPECT_FALSE(QFile::exists(settings_.File())) << "nothing is written before a change";
  ChooseFolder(corpus_.path());
  Find<QCheckBox>("cbxCase")->click();
  Find<QCheckBox>("cbxBorder")->click();
  Action("actEncoding_BIG5")->trigger();
  Action("actFallback_SHIFT_JIS")->trigger();
  Action("actRecursive")->trigger();
  SearchFor(QStringLiteral("cat"));
  SearchFor(QStringLiteral("  the,\"x\" \\d&1  "));
  ASSERT_TRUE(errors_.shown.empty()) << errors_.shown[0].toStdString();

  Restarted next;
  EXPECT_EQ(next.form.Folder(), QFile::encodeName(corpus_.path()).toStdString());
  EXPECT_EQ(next.Find<QLabel>("lblFolder")->text(), corpus_.path());
  EXPECT_TRUE(next.Find<QCheckBox>("cbxCase")->isChecked());
  EXPECT_FALSE(next.Find<QCheckBox>("cbxBorder")->isChecked());
  EXPECT_TRUE(next.Find<QAction>("actEncoding_BIG5")->isChecked());
  EXPECT_FALSE(next.Find<QAction>("actEncoding_auto")->isChecked());
  EXPECT_TRUE(next.Find<QAction>("actFallback_SHIFT_JIS")->isChecked());
  EXPECT_EQ(next.Find<QAction>("actEncoding_auto")->text(),
            QStringLiteral("Automatic (by each file's content, else SHIFT_JIS)"));
  EXPECT_TRUE(next.Find<QAction>("actRecursive")->isChecked());
  // The patterns come back trimmed, most recent first; the box starts
  // empty, so Search starts disabled.
  const QStringList history = {QStringLiteral("the,\"x\" \\d&1"), QStringLiteral("cat")};
  EXPECT_EQ(next.Offered(), history);
  EXPECT_TRUE(next.Find<QLineEdit>("edtInput")->text().isEmpty());
  EXPECT_FALSE(next.Find<QPushButton>("btnSearch")->isEnabled());

  // The folder dialog opens at the remembered folder.
  next.Find<QPushButton>("btnDir")->click();
  ASSERT_EQ(next.picker.initial_folders.size(), 1u);
  EXPECT_EQ(next.picker.initial_folders[0], corpus_.path());
}

TEST_F(RememberedSettings, FolderDialogOpensAtTheLastFolderChosen) {
  const QString home = QDir::homePath();
  ChooseFolder(corpus_.path());
  ChooseFolder(std::nullopt);
  ChooseFolder(work_.path());
  ChooseFolder(QUrl(QStringLiteral("smb://server/share")));  // no path: no folder
  ChooseFolder(std::nullopt);
  EXPECT_EQ(picker_.initial_folders,
            (std::vector<QString>{home, corpus_.path(), corpus_.path(), work_.path(), home}));
}

TEST_F(RememberedSettings, ARemovedFolderIsForgotten) {
  {
    QTemporaryDir gone;
    ChooseFolder(gone.path());
  }
  Restarted next;
  EXPECT_TRUE(next.form.Folder().empty());
  EXPECT_TRUE(next.Find<QLabel>("lblFolder")->text().isEmpty());
}

TEST_F(RememberedSettings, HistoryKeepsTheLastTwentyMostRecentFirstWithoutCopies) {
  QStringList history;
  for (int i = 1; i <= 25; ++i) RememberPattern(history, QString::number(i));
  ASSERT_EQ(history.size(), kHistoryLimit);
  EXPECT_EQ(history.first(), QStringLiteral("25"));
  EXPECT_EQ(history.last(), QStringLiteral("6"));
  RememberPattern(history, QStringLiteral(" 10\t"));  // trimmed, it is a copy
  EXPECT_EQ(history.size(), kHistoryLimit);
  EXPECT_EQ(history.first(), QStringLiteral("10"));
  EXPECT_EQ(history.count(QStringLiteral("10")), 1);
  EXPECT_EQ(history.last(), QStringLiteral("6"));
  RememberPattern(history, QStringLiteral(" \t "));
  EXPECT_EQ(history.first(), QStringLiteral("10")) << "a blank pattern is not remembered";

  // Through the window: a pattern searched again moves to the front, and
  // both the completer and the pattern box's menu offer the list.
  ChooseFolder(corpus_.path());
  for (const char* pattern : {"cat", "the", "cat", "a&b"}) SearchFor(QString::fromUtf8(pattern));
  const QStringList expected = {QStringLiteral("a&b"), QStringLiteral("cat"),
                                QStringLiteral("the")};
  EXPECT_EQ(Restarted().Offered(), expected);
  EXPECT_EQ(HistoryMenu(), (QStringList{QStringLiteral("a&&b"), QStringLiteral("cat"),
                                        QStringLiteral("the")}));
  // Choosing one from the menu puts it in the box.
  TypePattern(QString());
  Find<QMenu>("mnuHistory")->actions()[1]->trigger();
  EXPECT_EQ(PatternBox()->text(), QStringLiteral("cat"));
  EXPECT_TRUE(SearchButton()->isEnabled());

  // A file with more, with copies and blanks, is read as the list it
  // would have become.
  {
    QSettings store(settings_.File(), QSettings::IniFormat);
    QStringList stored;
    for (int i = 0; i < 30; ++i) stored << QString::number(i % 24) << QStringLiteral(" ");
    store.setValue(QStringLiteral("history"), stored);
  }
  QStringList read;
  for (int i = 0; i < 20; ++i) read << QString::number(i);
  EXPECT_EQ(Restarted().Offered(), read);
}

TEST_F(RememberedSettings, TheSearchTakesTheSubFolderSetting) {
  ASSERT_TRUE(QDir(corpus_.path()).mkpath(QStringLiteral("sub/deeper")));
  WriteFile(corpus_.filePath(QStringLiteral("sub/deeper/b.txt")), "cat cat\n");
  ChooseFolder(corpus_.path());
  SearchFor(QStringLiteral("cat"));
  const QString report = work_.filePath(QStringLiteral("result.htm"));
  ASSERT_EQ(ReportRows(report).size(), 1);
  EXPECT_TRUE(ReportRows(report)[0].contains(QStringLiteral(">a.txt</span>")));

  Action("actRecursive")->trigger();
  Search();
  const QStringList rows = ReportRows(report);
  ASSERT_EQ(rows.size(), 2);
  EXPECT_TRUE(rows[0].contains(QStringLiteral("href=\"") + corpus_.path() +
                               QStringLiteral("/sub/deeper/b.txt\"")))
      << rows[0].toStdString();
  EXPECT_TRUE(rows[0].contains(QStringLiteral("<span class=\"file\">sub/deeper/b.txt</span>")))
      << rows[0].toStdString();
}

TEST_F(RememberedSettings, RightClickOnTheWindowShowsTheSettingsMenu) {
  QWidget* shown = nullptr;
  QTimer::singleShot(0, [&shown] {
    shown = QApplication::activePopupWidget();
    if (shown != nullptr) shown->close();
  });
  QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(200, 60),
                          form_.mapToGlobal(QPoint(200, 60)));
  QApplication::sendEvent(&form_, &event);
  ASSERT_NE(shown, nullptr);
  EXPECT_EQ(shown->objectName(), QStringLiteral("mnuForm"));
  QStringList texts;
  for (const QAction* action : static_cast<QMenu*>(shown)->actions()) texts << action->text();
  EXPECT_EQ(texts, (QStringList{QStringLiteral("Encoding of files without a mark"),
                                QStringLiteral("Include sub-folders"),
                                QStringLiteral("After a search")}));
  // Automatic first and chosen, one choice at a time.
  const QList<QAction*> encodings = Find<QMenu>("mnuEncoding")->actions();
  ASSERT_GE(encodings.size(), 9);
  EXPECT_EQ(encodings[0]->text(), QStringLiteral("Automatic (by each file's content, else GB18030)"));
  EXPECT_TRUE(encodings[0]->isChecked());
  Action("actEncoding_locale")->trigger();
  EXPECT_FALSE(encodings[0]->isChecked());
  EXPECT_FALSE(Action("actRecursive")->isChecked());
}

TEST(ReadingSettingsText, NamesWhatDiffersFromTheDefaults) {
  struct Case {
    const char* encoding;
    const char* fallback;
    bool recursive;
    const char* expected;
  };
  const Case cases[] = {
      {"auto", "GB18030", false, ""},
      {"BIG5", "GB18030", false, "BIG5"},
      {"utf-8", "GB18030", false, "UTF-8"},
      {"locale", "GB18030", false, "locale's encoding"},
      {"auto", "SHIFT_JIS", false, "automatic, else SHIFT_JIS"},
      // The fallback is only used by Automatic.
      {"EUC-KR", "SHIFT_JIS", false, "EUC-KR"},
      {"auto", "GB18030", true, "sub-folders"},
      {"WINDOWS-1252", "BIG5", true, "WINDOWS-1252, sub-folders"},
  };
  for (const Case& c : cases) {
    WindowSettings settings;
    settings.encoding = c.encoding;
    settings.fallback_encoding = c.fallback;
    settings.recursive = c.recursive;
    EXPECT_EQ(TForm1::ReadingSettingsText(settings), QString::fromUtf8(c.expected))
        << c.encoding << " " << c.fallback << " " << c.recursive;
  }
}

// The label shows the settings in the free corner as they change, and at
// the next start; the specified controls stay where and as they are.
TEST_F(RememberedSettings, ReadingSettingsThatDifferFromTheDefaultsAreShownInTheFreeCorner) {
  struct Shown {
    QString name;
    QRect geometry;
    QString text;
  };
  auto specified = [](QWidget& form) {
    std::vector<Shown> shown;
    for (const char* name : {"btnSearch", "edtInput", "btnDir", "cbxCase", "cbxBorder",
                             "lblFolder", "UrlLabel1", "Label1"}) {
      auto* widget = form.findChild<QWidget*>(QString::fromLatin1(name));
      EXPECT_NE(widget, nullptr) << name;
      if (widget == nullptr) continue;
      QString text;
      if (auto* button = qobject_cast<QAbstractButton*>(widget)) text = button->text();
      if (auto* label = qobject_cast<QLabel*>(widget)) text = label->text();
      shown.push_back({QString::fromLatin1(name), widget->geometry(), text});
    }
    return shown;
  };
  ChooseFolder(corpus_.path());
  const std::vector<Shown> before = specified(form_);
  auto* label = Find<QLabel>("lblReading");
  EXPECT_FALSE(label->isVisible()) << "the defaults need no mention";

  struct Step {
    const char* action;
    const char* expected;
  };
  const Step steps[] = {
      {"actEncoding_BIG5", "BIG5"},
      {"actRecursive", "BIG5, sub-folders"},
      {"actEncoding_auto", "sub-folders"},
      {"actFallback_SHIFT_JIS", "automatic, else SHIFT_JIS, sub-folders"},
      {"actRecursive", "automatic, else SHIFT_JIS"},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.action);
    Action(step.action)->trigger();
    const QString expected = QString::fromUtf8(step.expected);
    ASSERT_TRUE(label->isVisible());
    // Whole, or cut at its end where the corner is too small for it.
    const QString text = label->text();
    EXPECT_TRUE(text == expected ||
                (text.endsWith(QStringLiteral("…")) && expected.startsWith(text.chopped(1))))
        << text.toStdString();
    EXPECT_LE(label->fontMetrics().horizontalAdvance(text), label->width());
    EXPECT_TRUE(label->toolTip().contains(QStringLiteral("Right-click the window")));
  }
  EXPECT_TRUE(label->toolTip().contains(QStringLiteral("Automatic (by each file's content, else SHIFT_JIS)")))
      << label->toolTip().toStdString();

  // In the free corner: inside the window, clear of every specified control.
  EXPECT_EQ(form_.size(), QSize(TForm1::kClientWidth, TForm1::kClientHeight));
  EXPECT_TRUE(form_.rect().contains(label->geometry()));
  for (const Shown& control : specified(form_)) {
    EXPECT_FALSE(label->geometry().intersects(control.geometry)) << control.name.toStdString();
  }
  const std::vector<Shown> after = specified(form_);
  ASSERT_EQ(after.size(), before.size());
  for (std::size_t i = 0; i < after.size(); ++i) {
    EXPECT_EQ(after[i].geometry, before[i].geometry) << after[i].name.toStdString();
    EXPECT_EQ(after[i].text, before[i].text) << after[i].name.toStdString();
  }

  Restarted next;
  next.form.show();
  auto* shown = next.Find<QLabel>("lblReading");
  EXPECT_TRUE(shown->isVisible());
  EXPECT_EQ(shown->text(), label->text());
  next.Find<QAction>("actEncoding_auto")->trigger();
  next.Find<QAction>("actFallback_GB18030")->trigger();
  EXPECT_FALSE(shown->isVisible()) << "back to the defaults";
}

// What a damaged or unusable settings file gives: the defaults, and a
// window that works.
class BadSettings : public RememberedSettings {
 protected:
  void ExpectDefaults(Restarted& next) {
    EXPECT_TRUE(next.form.Folder().empty());
    EXPECT_FALSE(next.Find<QCheckBox>("cbxCase")->isChecked());
    EXPECT_TRUE(next.Find<QCheckBox>("cbxBorder")->isChecked());
    EXPECT_TRUE(next.Find<QAction>("actEncoding_auto")->isChecked());
    EXPECT_TRUE(next.Find<QAction>("actFallback_GB18030")->isChecked());
    EXPECT_FALSE(next.Find<QAction>("actRecursive")->isChecked());
    EXPECT_TRUE(next.Offered().isEmpty());
  }
  // Chooses the corpus, changes every setting and searches: nothing fails.
  void ExpectItWorks(Restarted& next) {
    next.picker.answers.push_back(QUrl::fromLocalFile(corpus_.path()));
    next.Find<QPushButton>("btnDir")->click();
    next.Find<QCheckBox>("cbxCase")->click();
    next.Find<QAction>("actRecursive")->trigger();
    next.Find<QLineEdit>("edtInput")->setText(QStringLiteral("cat"));
    next.Find<QPushButton>("btnSearch")->click();
    EXPECT_TRUE(next.errors.shown.empty());
    EXPECT_EQ(ReportRows(work_.filePath(QStringLiteral("result.htm"))).size(), 1);
    EXPECT_EQ(next.opener.opened.size(), 1u);
  }
};

TEST_F(BadSettings, GarbageOrValuesOfTheWrongKindGiveTheDefaults) {
  ASSERT_TRUE(QDir().mkpath(settings_.Folder() + QStringLiteral("/tallyfold")));
  const QByteArray files[] = {
      QByteArray("\x00\xFF\xFE[\x01garbage\n=\n[[[\n", 16) + QByteArray(3000, '\xC3'),
      "[General]\ncase=banana\nadd_boundary=0\nencoding=EBCDIC-XYZ\n"
      "fallback_encoding=utf-8\ninclude_sub_folders=yes\nhistory=@Variant(\\0\\0\\0\\x7f)\n"
      "folder=@ByteArray(/no/such/folder)\n",
      "[General]\nfolder=@Rect(1 2 3 4)\nhistory=@ByteArray(x)\nencoding=@Size(1 2)\n",
  };
  for (const QByteArray& bytes : files) {
    WriteFile(settings_.File(), bytes);
    {
      Restarted next;
      ExpectDefaults(next);
      ExpectItWorks(next);
    }
    // The settings changed since replace the damaged file.
    Restarted after;
    EXPECT_TRUE(after.Find<QCheckBox>("cbxCase")->isChecked());
    EXPECT_TRUE(after.Find<QAction>("actRecursive")->isChecked());
    EXPECT_EQ(after.Offered(), QStringList{QStringLiteral("cat")});
  }
}

TEST_F(BadSettings, AFileThatCannotBeReadOrWrittenGivesTheDefaults) {
  // A folder where the file should be: neither read nor written, as
  // root too.
  ASSERT_TRUE(QDir().mkpath(settings_.File()));
  {
    Restarted next;
    ExpectDefaults(next);
    ExpectItWorks(next);
  }
  Restarted again;
  ExpectDefaults(again);
}

}  // namespace
}  // namespace tallyfold::testing
