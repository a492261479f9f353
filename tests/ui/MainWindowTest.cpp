// The main window's layout, its initial state, the enabling rule of the
// Search button and the folder choice.
#include <QCheckBox>
#include <QFontDatabase>
#include <QFontInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QScreen>
#include <QStyle>

#include "TestDataTable.h"
#include "ui/UiTestSupport.h"

namespace tallyfold::testing {
namespace {

using MainWindow = WindowTest;

// The size of `what` from the layout table.
QSize LayoutSize(const std::string& what) {
  for (const DataRow& row : ReadDataTable("main_window_layout.tsv")) {
    if (row.fields.size() == 4 && row.fields[0] == "size" && row.fields[1] == what)
      return QSize(std::stoi(row.fields[2]), std::stoi(row.fields[3]));
  }
  ADD_FAILURE() << "no size of " << what << " in main_window_layout.tsv";
  return {};
}

TEST_F(MainWindow, CaptionIsTheProductAndASloganWithoutTheApplicationName) {
  const QString prefix = QStringLiteral("Norrow Tallyfold 1.0 — ");
  EXPECT_TRUE(form_.windowTitle().startsWith(prefix));
  EXPECT_GT(form_.windowTitle().size(), prefix.size());
  EXPECT_EQ(form_.windowHandle()->title(), form_.windowTitle());
  EXPECT_EQ(ApplicationTitle(), QStringLiteral("检索工具"));
  // Qt appends a display name to every caption on some platforms (X11), so
  // the application must not have one.
  EXPECT_EQ(QGuiApplication::applicationDisplayName(), QCoreApplication::applicationName());
  EXPECT_FALSE(form_.windowTitle().contains(ApplicationTitle()));
}

TEST_F(MainWindow, HasAFixedClientAreaAboveOtherWindowsWithoutMinimiseOrMaximise) {
  EXPECT_EQ(form_.size(), LayoutSize("window"));
  EXPECT_EQ(form_.minimumSize(), form_.maximumSize());
  const Qt::WindowFlags flags = form_.windowFlags();
  EXPECT_TRUE(flags.testFlag(Qt::WindowStaysOnTopHint));
  EXPECT_FALSE(flags.testFlag(Qt::WindowMinimizeButtonHint));
  EXPECT_FALSE(flags.testFlag(Qt::WindowMaximizeButtonHint));
  EXPECT_EQ(form_.windowIcon().availableSizes().size(), 9);
}

TEST_F(MainWindow, IsCentredOnTheScreenWhenFirstShown) {
  const QRect desktop = form_.screen()->availableGeometry();
  EXPECT_LE((form_.geometry().center() - desktop.center()).manhattanLength(), 1);
  form_.hide();
  form_.move(desktop.topLeft());
  form_.show();
  EXPECT_EQ(form_.pos(), desktop.topLeft()) << "only the first show centres";
}

// The places are in tests/data/main_window_layout.tsv.
TEST_F(MainWindow, PlacesEveryControlWhereItBelongs) {
  int controls = 0;
  for (const DataRow& row : ReadDataTable("main_window_layout.tsv")) {
    const std::string& kind = row.fields.at(0);
    if (kind == "size") continue;
    const QString name = QString::fromStdString(row.fields.at(1));
    SCOPED_TRACE("main_window_layout.tsv line " + std::to_string(row.line));
    const auto* control = form_.findChild<QWidget*>(name);
    ASSERT_NE(control, nullptr) << name.toStdString();
    if (kind == "rect") {
      ASSERT_EQ(row.fields.size(), 6u);
      EXPECT_EQ(control->geometry(), QRect(std::stoi(row.fields[2]), std::stoi(row.fields[3]),
                                           std::stoi(row.fields[4]), std::stoi(row.fields[5])));
    } else {
      ASSERT_EQ(kind, "pos");
      ASSERT_EQ(row.fields.size(), 4u);
      EXPECT_EQ(control->pos(), QPoint(std::stoi(row.fields[2]), std::stoi(row.fields[3])));
    }
    ++controls;
  }
  // Every control the window shows has its place in the table.
  EXPECT_EQ(controls, 8);
}

TEST_F(MainWindow, StartsWithItsTextsAndStates) {
  EXPECT_EQ(SearchButton()->text(), QStringLiteral("检索"));
  EXPECT_FALSE(SearchButton()->isEnabled());
  EXPECT_TRUE(PatternBox()->text().isEmpty());
  EXPECT_EQ(Find<QPushButton>("btnDir")->text(), QStringLiteral("选择目录"));
  EXPECT_EQ(Find<QCheckBox>("cbxCase")->text(), QStringLiteral(" case"));
  EXPECT_FALSE(Find<QCheckBox>("cbxCase")->isChecked());
  EXPECT_EQ(Find<QCheckBox>("cbxBorder")->text(), QStringLiteral(" add \\b"));
  EXPECT_TRUE(Find<QCheckBox>("cbxBorder")->isChecked());
  EXPECT_TRUE(Find<QLabel>("lblFolder")->text().isEmpty());
  EXPECT_TRUE(Find<QLabel>("Label1")->text().contains(QStringLiteral("2011-4-12")));
  EXPECT_EQ(form_.focusWidget(), PatternBox());

  auto* link = Find<QLabel>("UrlLabel1");
  EXPECT_EQ(link->palette().color(QPalette::WindowText), QColor(255, 0, 0));
  EXPECT_TRUE(link->font().bold());

  // Tahoma 8 pt is 11 pixels high; without Tahoma another face of that size.
  EXPECT_EQ(form_.font().pixelSize(), 11);
  if (QFontDatabase::hasFamily(QStringLiteral("Tahoma"))) {
    EXPECT_EQ(QFontInfo(form_.font()).family(), QStringLiteral("Tahoma"));
  }
}

TEST_F(MainWindow, KeepsEveryTextInsideItsFixedBox) {
  for (const char* name : {"btnSearch", "btnDir", "UrlLabel1", "Label1"}) {
    const auto* control = Find<QWidget>(name);
    const QString text = control->property("text").toString();
    EXPECT_LE(control->fontMetrics().horizontalAdvance(text), control->width()) << name;
  }
  for (const char* name : {"cbxCase", "cbxBorder"}) {
    const auto* box = Find<QCheckBox>(name);
    const int indicator = box->style()->pixelMetric(QStyle::PM_IndicatorWidth, nullptr, box) +
                          box->style()->pixelMetric(QStyle::PM_CheckBoxLabelSpacing, nullptr, box);
    EXPECT_LE(indicator + box->fontMetrics().horizontalAdvance(box->text()), box->width()) << name;
  }
}

TEST_F(MainWindow, TabsThroughSearchPatternFolderCaseAndBoundary) {
  const std::vector<QWidget*> order = {SearchButton(), PatternBox(), Find<QWidget>("btnDir"),
                                       Find<QWidget>("cbxCase"), Find<QWidget>("cbxBorder")};
  for (std::size_t i = 0; i + 1 < order.size(); ++i) {
    QWidget* next = order[i]->nextInFocusChain();
    while (next->focusPolicy() == Qt::NoFocus) next = next->nextInFocusChain();
    EXPECT_EQ(next, order[i + 1]) << "after " << order[i]->objectName().toStdString();
  }
  for (const char* label : {"lblFolder", "UrlLabel1", "Label1"}) {
    EXPECT_EQ(Find<QWidget>(label)->focusPolicy(), Qt::NoFocus) << label;
  }
}

TEST_F(MainWindow, EnablesSearchOnlyWithANonBlankPatternAndAFolder) {
  TypePattern(QStringLiteral("cat"));
  EXPECT_FALSE(SearchButton()->isEnabled()) << "no folder yet";

  ChooseFolder(QDir::tempPath());
  EXPECT_TRUE(SearchButton()->isEnabled());

  for (const QString& blank : {QStringLiteral("   "), QStringLiteral("\t \t")}) {
    TypePattern(blank);
    EXPECT_FALSE(SearchButton()->isEnabled()) << "pattern of blanks";
  }
  // Only codes up to U+0020 are trimmed; other spaces make a pattern.
  TypePattern(QString(QChar(0x3000)));
  EXPECT_TRUE(SearchButton()->isEnabled());

  TypePattern(QString());
  EXPECT_FALSE(SearchButton()->isEnabled());
  QTest::keyClicks(PatternBox(), QStringLiteral("x"));
  EXPECT_TRUE(SearchButton()->isEnabled());
}

TEST_F(MainWindow, CancellingTheFolderDialogKeepsTheFolder) {
  const QString chosen = QDir::tempPath();
  ChooseFolder(chosen);
  ChooseFolder(std::nullopt);
  EXPECT_EQ(form_.Folder(), QFile::encodeName(chosen).toStdString());
  EXPECT_EQ(Find<QLabel>("lblFolder")->text(), chosen);
  TypePattern(QStringLiteral("cat"));
  EXPECT_TRUE(SearchButton()->isEnabled());
}

TEST_F(MainWindow, FolderDialogOpensAtTheHomeFolderAndThenAtTheLastChoice) {
  ChooseFolder(QDir::tempPath());
  ChooseFolder(QDir::rootPath());
  ASSERT_EQ(picker_.initial_folders.size(), 2u);
  EXPECT_EQ(picker_.initial_folders[0], QDir::homePath());
  EXPECT_EQ(picker_.initial_folders[1], QDir::tempPath());
}

TEST_F(MainWindow, AnItemWithoutAFileSystemPathEmptiesTheFolder) {
  TypePattern(QStringLiteral("cat"));
  ChooseFolder(QDir::tempPath());
  ASSERT_TRUE(SearchButton()->isEnabled());
  ChooseFolder(QUrl(QStringLiteral("smb://server/share")));
  EXPECT_TRUE(form_.Folder().empty());
  EXPECT_TRUE(Find<QLabel>("lblFolder")->text().isEmpty());
  EXPECT_FALSE(SearchButton()->isEnabled());
}

TEST_F(MainWindow, KeepsTheFolderAsTheFileSystemNamesIt) {
  const QString folder = QDir::tempPath() + QStringLiteral("/语料 <b>corpus</b>/");
  ChooseFolder(folder);
  EXPECT_EQ(form_.Folder(), QFile::encodeName(folder).toStdString()) << "unchanged, separator kept";
  auto* label = Find<QLabel>("lblFolder");
  EXPECT_EQ(label->text(), folder);
  EXPECT_GE(label->width(), label->fontMetrics().horizontalAdvance(folder))
      << "the label grows with its text, which is not read as markup";
}

// A path too long for the window loses its middle, never its ends, and
// shows whole as the label's tool tip; one that fits is shown as it is.
TEST_F(MainWindow, ALongFolderIsElidedInTheMiddleWithTheWholePathAsItsTip) {
  auto* label = Find<QLabel>("lblFolder");
  for (const int depth : {1, 3, 40}) {
    QString folder = QStringLiteral("/start");
    for (int i = 0; i < depth; ++i) folder += QStringLiteral("/语料库folder%1").arg(i);
    folder += QStringLiteral("/the-end");
    ChooseFolder(folder);
    SCOPED_TRACE(depth);
    EXPECT_EQ(label->toolTip(), folder);
    EXPECT_LE(label->geometry().right(), form_.width()) << "within the window";
    const bool fits = label->fontMetrics().horizontalAdvance(folder) <
                      form_.width() - label->x() - 8;
    if (fits) {
      EXPECT_EQ(label->text(), folder);
    } else {
      EXPECT_TRUE(label->text().startsWith(QStringLiteral("/start/"))) << label->text().toStdString();
      EXPECT_TRUE(label->text().endsWith(QStringLiteral("/the-end"))) << label->text().toStdString();
      EXPECT_TRUE(label->text().contains(QChar(0x2026))) << label->text().toStdString();
    }
  }
}

TEST_F(MainWindow, ShowsAnErrorWhenTheFolderDialogIsAskedToShowTwice) {
  bool nested = false;
  picker_.while_showing = [&] {
    if (nested) return;
    nested = true;
    QTest::mouseClick(Find<QPushButton>("btnDir"), Qt::LeftButton);
  };
  ChooseFolder(QDir::tempPath());
  ASSERT_EQ(errors_.shown.size(), 1u);
  EXPECT_EQ(errors_.shown[0], QStringLiteral("TSelectFolderDialog already executing."));
  EXPECT_EQ(form_.Folder(), QFile::encodeName(QDir::tempPath()).toStdString())
      << "the outer choice still counts";
}

}  // namespace
}  // namespace tallyfold::testing
