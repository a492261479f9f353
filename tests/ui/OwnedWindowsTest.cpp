// Every window the main window opens belongs to it, so that the window
// manager keeps it above its owner, which stays on top of all others: the
// results window, its export dialog and line viewer, the progress dialog,
// the note, message boxes and the folder dialog. Offscreen, what can be
// seen is each one's owner, kind and transient parent, which is what the
// window manager is told.
#include <functional>

#include <QAction>
#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QScreen>
#include <QTableView>
#include <QTemporaryDir>
#include <QTimer>
#include <QWindow>

#include "ui/ResultsWindow.h"
#include "ui/SearchNote.h"
#include "ui/SearchProgress.h"
#include "ui/UiTestSupport.h"

namespace tallyfold::testing {
namespace {

// Whether `window` is a dialog of `owner` as the window manager sees it.
void ExpectOwnedBy(QWidget& window, QWidget& owner) {
  EXPECT_TRUE(window.isWindow());
  EXPECT_EQ(window.parentWidget(), &owner);
  EXPECT_TRUE(window.windowType() == Qt::Dialog) << "a plain window is not kept above its owner";
  ASSERT_NE(window.windowHandle(), nullptr) << "not shown";
  EXPECT_EQ(window.windowHandle()->transientParent(), owner.windowHandle());
}


class OwnedWindows : public WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    ASSERT_TRUE(corpus_.isValid() && work_.isValid());
    form_.SetReportFolder(work_.path());
    WriteFile(corpus_.filePath(QStringLiteral("a.txt")), "a cat and a dog\n");
    ChooseFolder(corpus_.path());
  }

  QTemporaryDir corpus_;
  QTemporaryDir work_;
};

TEST_F(OwnedWindows, TheResultsWindowItsExportDialogAndLineViewerAreDialogsOfTheirOwners) {
  Find<QAction>("actAfterSearch_results")->trigger();
  TypePattern(QStringLiteral("cat"));
  Search();
  TResultsWindow* results = form_.ResultsWindow();
  ASSERT_NE(results, nullptr);
  ASSERT_TRUE(QTest::qWaitForWindowExposed(results));
  ExpectOwnedBy(*results, form_);
  // Beside the main window, on its screen, not over it.
  EXPECT_FALSE(results->frameGeometry().intersects(form_.frameGeometry()))
      << "results at " << results->frameGeometry().x() << ',' << results->frameGeometry().y();
  EXPECT_TRUE(form_.screen()->availableGeometry().contains(results->frameGeometry()));
  // Still a window of its own to work in: it can be made large.
  EXPECT_TRUE(results->windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
  EXPECT_TRUE(results->windowFlags().testFlag(Qt::WindowMinimizeButtonHint));
  EXPECT_FALSE(results->isModal());

  // The export buttons ask the window's save dialog over the results
  // window; Qt's makes its dialog a dialog of that owner.
  QTest::mouseClick(results->findChild<QPushButton*>("btnExportCsv"), Qt::LeftButton);
  ASSERT_EQ(save_picker_.requests.size(), 1u);
  EXPECT_EQ(save_picker_.requests[0].owner, results);
  EXPECT_FALSE(results->IsBusy()) << "a cancelled dialog exports nothing";
  QtSaveFilePicker save_dialog;
  WithModal<QFileDialog>(
      [&](QFileDialog& dialog) {
        ExpectOwnedBy(dialog, *results);
        EXPECT_TRUE(dialog.testOption(QFileDialog::DontUseNativeDialog));
        EXPECT_EQ(dialog.acceptMode(), QFileDialog::AcceptSave);
      },
      [&] {
        save_dialog.ChooseSaveFile(results, QStringLiteral("Export as CSV"),
                                   QStringLiteral("results.csv"), QStringLiteral("CSV (*.csv)"));
      });

  results->OpenLine(0);
  while (results->IsBusy()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  TLineViewer* viewer = results->Viewer();
  ASSERT_NE(viewer, nullptr);
  ASSERT_TRUE(QTest::qWaitForWindowExposed(viewer));
  ExpectOwnedBy(*viewer, *results);
  viewer->close();
}

TEST_F(OwnedWindows, TheNoteAndTheProgressDialogAreDialogsOfTheMainWindow) {
  TypePattern(QStringLiteral("^cat"));
  Search();
  ASSERT_NE(form_.Note(), nullptr);
  ASSERT_TRUE(QTest::qWaitForWindowExposed(form_.Note()));
  ExpectOwnedBy(*form_.Note(), form_);
  EXPECT_FALSE(form_.Note()->isModal());
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);

  TSearchProgressDialog progress(&form_, ApplicationTitle());
  progress.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&progress));
  ExpectOwnedBy(progress, form_);
}

TEST_F(OwnedWindows, MessageBoxesAndTheFolderDialogBelongToTheWindowTheyAreShownOver) {
  QtErrorDisplay display(ApplicationTitle());
  const std::function<void(QWidget&)> owned = [this](QWidget& box) { ExpectOwnedBy(box, form_); };
  WithModal<QMessageBox>(owned, [&] { display.ShowError(&form_, QStringLiteral("error")); });
  WithModal<QMessageBox>(owned, [&] { display.ShowInformation(&form_, QStringLiteral("note")); });
  WithModal<QMessageBox>(owned, [&] { display.Ask(&form_, QStringLiteral("question?")); });
  QtFolderPicker picker;
  WithModal<QFileDialog>(owned, [&] { picker.ChooseFolder(&form_, corpus_.path()); });
}

}  // namespace
}  // namespace tallyfold::testing
