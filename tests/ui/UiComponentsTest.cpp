// The hyperlink label, the folder-picker component and the real Qt error box
// and folder dialog.
#include <functional>

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QTimer>

#include "ui/AppIcon.h"
#include "ui/Components.h"
#include "ui/UiTestSupport.h"

namespace tallyfold::testing {
namespace {

class UrlLabel : public ::testing::Test {
 protected:
  UrlLabel() {
    label_.setText(QStringLiteral("forum.example"));
    label_.resize(80, 13);
  }

  QColor TextColor() const { return label_.palette().color(QPalette::WindowText); }

  FakeOpener opener_;
  TUrlLabel label_{opener_, nullptr};
};

TEST_F(UrlLabel, ClickOpensTheAddressAndTurnsPurple) {
  label_.SetUrl(QStringLiteral("https://forum.example/board"));
  EXPECT_EQ(TextColor(), TUrlLabel::kLinkColor);
  QTest::mouseClick(&label_, Qt::LeftButton);
  ASSERT_EQ(opener_.opened.size(), 1u);
  EXPECT_EQ(opener_.opened[0], QUrl(QStringLiteral("https://forum.example/board")));
  EXPECT_EQ(TextColor(), QColor(128, 0, 128));
}

TEST_F(UrlLabel, OpensTheCaptionWhenTheAddressIsBlank) {
  label_.SetUrl(QStringLiteral("  "));
  label_.Click();
  ASSERT_EQ(opener_.opened.size(), 1u);
  EXPECT_EQ(opener_.opened[0].host(), QStringLiteral("forum.example"));
}

TEST_F(UrlLabel, StaysRedWhenTheDesktopCannotOpenIt) {
  opener_.accepts = false;
  label_.Click();
  EXPECT_EQ(opener_.opened.size(), 1u);
  EXPECT_EQ(TextColor(), TUrlLabel::kLinkColor);
}

TEST_F(UrlLabel, ARightClickOrAPressDraggedOffOpensNothing) {
  QTest::mouseClick(&label_, Qt::RightButton);
  QTest::mousePress(&label_, Qt::LeftButton, {}, QPoint(5, 5));
  QTest::mouseRelease(&label_, Qt::LeftButton, {}, QPoint(200, 5));
  EXPECT_TRUE(opener_.opened.empty());
}

TEST(SelectFolderDialog, GivesTheFileSystemPathAsTheFileSystemEncodesIt) {
  FakeFolderPicker picker;
  TSelectFolderDialog dialog(picker);
  dialog.SetInitialDir(QStringLiteral("/start/"));

  const QString folder = QStringLiteral("/data/语料");
  picker.answers = {QUrl::fromLocalFile(folder), std::nullopt,
                    QUrl(QStringLiteral("trash:/"))};
  ASSERT_TRUE(dialog.Execute(nullptr));
  EXPECT_EQ(dialog.Directory(), QFile::encodeName(folder).toStdString());
  EXPECT_FALSE(dialog.Execute(nullptr));
  EXPECT_EQ(dialog.Directory(), QFile::encodeName(folder).toStdString()) << "cancel keeps it";
  ASSERT_TRUE(dialog.Execute(nullptr));
  EXPECT_EQ(dialog.Directory(), "") << "no file-system path";
  EXPECT_EQ(picker.initial_folders, std::vector<QString>(3, QStringLiteral("/start/")));
}


TEST(QtErrorDisplay, ShowsAnErrorBoxCaptionedWithTheApplicationTitle) {
  QtErrorDisplay display(ApplicationTitle());
  WithModal<QMessageBox>(
      [](QMessageBox& box) {
        EXPECT_EQ(box.windowTitle(), QStringLiteral("检索工具"));
        EXPECT_EQ(box.icon(), QMessageBox::Critical);
        EXPECT_EQ(box.text(), QStringLiteral("Cannot open file \"x.txt\"."));
      },
      [&] { display.ShowError(nullptr, QStringLiteral("Cannot open file \"x.txt\".")); });
}

TEST(QtErrorDisplay, ShowsInformationInABoxOfItsOwnKind) {
  QtErrorDisplay display(ApplicationTitle());
  WithModal<QMessageBox>(
      [](QMessageBox& box) {
        EXPECT_EQ(box.windowTitle(), QStringLiteral("检索工具"));
        EXPECT_EQ(box.icon(), QMessageBox::Information);
        EXPECT_EQ(box.text(), QStringLiteral("No line matched."));
      },
      [&] { display.ShowInformation(nullptr, QStringLiteral("No line matched.")); });
}

TEST(QtFolderPicker, OpensAtTheInitialFolderAndReportsCancel) {
  QtFolderPicker picker;
  const QString start = QCoreApplication::applicationDirPath();
  std::optional<QUrl> chosen = QUrl();
  WithModal<QFileDialog>(
      [&](QFileDialog& dialog) { EXPECT_EQ(dialog.directory(), QDir(start)); },
      [&] { chosen = picker.ChooseFolder(nullptr, start + QDir::separator()); });
  EXPECT_FALSE(chosen.has_value());
}

TEST(AppIcon, CarriesNineSquareImages) {
  const QIcon icon = AppIcon();
  ASSERT_EQ(icon.availableSizes().size(), 9);
  for (const int size : kAppIconSizes) {
    const QImage image = icon.pixmap(size).toImage();
    EXPECT_EQ(image.size(), QSize(size, size));
    EXPECT_EQ(image.pixelColor(0, 0).alpha(), 0) << "transparent rounded corner";
    EXPECT_GT(image.pixelColor(size / 2, size / 2).alpha(), 0) << "drawn centre";
  }
}

}  // namespace
}  // namespace tallyfold::testing
