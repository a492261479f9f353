// The window's language: Chinese texts under a Chinese locale, the texts as
// written under any other, and the defined texts the same in both.
#include <QAction>
#include <QCheckBox>
#include <QLocale>
#include <QMenu>

#include "app/ResultSet.h"
#include "ui/ResultsWindow.h"
#include "ui/SearchNote.h"
#include "ui/SearchProgress.h"
#include "ui/Settings.h"
#include "ui/Translation.h"
#include "ui/UiTestSupport.h"

namespace tallyfold::testing {
namespace {

// Texts of the window in the language installed, read from real widgets.
struct Texts {
  QString history_menu;
  QString encoding_menu;
  QString automatic;
  QString results_header;
  QString files_header;
  QString progress_cancel;
  QString open_failure;
};

Texts TextsShown() {
  ScratchSettings settings;
  FakeFolderPicker picker;
  FakeSaveFilePicker save_picker;
  FakeOpener opener;
  FakeErrorDisplay errors;
  TForm1 form(picker, save_picker, opener, errors);
  Texts texts;
  texts.history_menu = form.findChild<QMenu*>(QStringLiteral("mnuHistory"))->title();
  texts.encoding_menu = form.findChild<QMenu*>(QStringLiteral("mnuEncoding"))->title();
  texts.automatic = form.findChild<QAction*>(QStringLiteral("actEncoding_auto"))->text();
  ResultTableModel rows;
  texts.results_header = rows.headerData(ResultTableModel::kLeft, Qt::Horizontal,
                                         Qt::DisplayRole).toString();
  HitsPerFileModel files;
  texts.files_header = files.headerData(HitsPerFileModel::kEncoding, Qt::Horizontal,
                                        Qt::DisplayRole).toString();
  TSearchProgressDialog progress(&form, ApplicationTitle());
  texts.progress_cancel = progress.findChild<QPushButton*>(QStringLiteral("btnCancel"))->text();
  texts.open_failure = TSearchNote::DescribeOpenFailure(QStringLiteral("/r/result.htm"));
  return texts;
}

// The defined texts, which no language changes.
void ExpectDefinedTexts() {
  ScratchSettings settings;
  FakeFolderPicker picker;
  FakeSaveFilePicker save_picker;
  FakeOpener opener;
  FakeErrorDisplay errors;
  TForm1 form(picker, save_picker, opener, errors);
  EXPECT_EQ(form.findChild<QPushButton*>(QStringLiteral("btnSearch"))->text(), "检索");
  EXPECT_EQ(form.findChild<QPushButton*>(QStringLiteral("btnDir"))->text(), "选择目录");
  EXPECT_EQ(form.findChild<QCheckBox*>(QStringLiteral("cbxCase"))->text(), " case");
  EXPECT_EQ(form.findChild<QCheckBox*>(QStringLiteral("cbxBorder"))->text(), " add \\b");
  EXPECT_TRUE(form.windowTitle().startsWith(QStringLiteral("Norrow Tallyfold 1.0 — ")));
  EXPECT_EQ(ApplicationTitle(), "检索工具");
}

void ExpectChinese(const Texts& texts) {
  EXPECT_EQ(texts.history_menu, "最近的表达式");
  EXPECT_EQ(texts.encoding_menu, "无字节序标记文件的编码");
  EXPECT_EQ(texts.automatic, "自动（按各文件内容判断，否则 GB18030）");
  EXPECT_EQ(texts.results_header, "左侧");
  EXPECT_EQ(texts.files_header, "编码");
  EXPECT_EQ(texts.progress_cancel, "取消");
  EXPECT_EQ(texts.open_failure,
            "报告已写好，但没有应用程序能打开它。请用网页浏览器打开：\n/r/result.htm");
}

void ExpectEnglish(const Texts& texts) {
  EXPECT_EQ(texts.history_menu, "Recent patterns");
  EXPECT_EQ(texts.encoding_menu, "Encoding of files without a mark");
  EXPECT_EQ(texts.automatic, "Automatic (by each file's content, else GB18030)");
  EXPECT_EQ(texts.results_header, "Left");
  EXPECT_EQ(texts.files_header, "Encoding");
  EXPECT_EQ(texts.progress_cancel, "Cancel");
  EXPECT_TRUE(texts.open_failure.startsWith("The report was written"));
}

TEST(UiTranslation, AnyChineseLocaleGivesTheChineseTexts) {
  for (const QLocale& locale : {QLocale(QLocale::Chinese, QLocale::China),
                                QLocale(QLocale::Chinese, QLocale::Taiwan),
                                QLocale(QLocale::Chinese, QLocale::Singapore)}) {
    SCOPED_TRACE(locale.name().toStdString());
    ASSERT_TRUE(InstallTranslation(locale));
    ExpectChinese(TextsShown());
    ExpectDefinedTexts();
  }
  RemoveTranslation();
  ExpectEnglish(TextsShown());
}

TEST(UiTranslation, OtherLocalesKeepTheTextsAsWritten) {
  for (const QLocale& locale : {QLocale(QLocale::English, QLocale::UnitedStates),
                                QLocale(QLocale::German, QLocale::Germany),
                                QLocale(QLocale::Japanese, QLocale::Japan), QLocale::c()}) {
    SCOPED_TRACE(locale.name().toStdString());
    // One installed before is taken away.
    ASSERT_TRUE(InstallTranslation(QLocale(QLocale::Chinese, QLocale::China)));
    EXPECT_FALSE(InstallTranslation(locale));
    ExpectEnglish(TextsShown());
    ExpectDefinedTexts();
  }
}

// Run by CTest with LANG=zh_CN.UTF-8 (tests/ui/CMakeLists.txt): the program
// picks its language as Main.cpp does.
TEST(UiSystemLocale, AChineseSessionStartsInChinese) {
  ASSERT_EQ(QLocale::system().language(), QLocale::Chinese)
      << "LANG=" << qgetenv("LANG").toStdString();
  ASSERT_TRUE(InstallTranslation(QLocale::system()));
  ExpectChinese(TextsShown());
  ExpectDefinedTexts();
  RemoveTranslation();
}

}  // namespace
}  // namespace tallyfold::testing
