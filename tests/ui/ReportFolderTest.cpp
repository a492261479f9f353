// The window's report folder: made when it is set and again before a search
// should it have gone, and where the report, its style sheet and the request
// to open it go instead of the working folder; and the user's folder the
// program sets.
#include <cstdlib>

#include <QTemporaryDir>

#include "ui/UiTestSupport.h"

namespace tallyfold::testing {
namespace {

class ReportFolder : public WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    ASSERT_TRUE(corpus_.isValid() && work_.isValid() && home_.isValid());
    WriteFile(corpus_.filePath(QStringLiteral("a.txt")), "a cat\n");
  }

  void SearchForCat() {
    TypePattern(QStringLiteral("cat"));
    ChooseFolder(corpus_.path());
    ASSERT_TRUE(SearchButton()->isEnabled());
    Search();
    ASSERT_TRUE(errors_.shown.empty()) << errors_.shown.front().toStdString();
  }

  QTemporaryDir corpus_;
  QTemporaryDir work_;
  QTemporaryDir home_;  // stands for the user's data folder
  WorkingFolder entered_{work_.path()};
};

TEST_F(ReportFolder, IsMadeWithItsParentsAndTakesTheReportAndItsStyleSheet) {
  const QString folder = home_.filePath(QStringLiteral("share/tallyfold/reports"));
  form_.SetReportFolder(folder);
  EXPECT_TRUE(QDir(folder).exists()) << "made when set, before any search";
  EXPECT_EQ(form_.ReportPath(), folder + QStringLiteral("/result.htm"));

  SearchForCat();
  ASSERT_EQ(opener_.opened.size(), 1u);
  EXPECT_EQ(opener_.opened[0], QUrl::fromLocalFile(folder + QStringLiteral("/result.htm")));
  EXPECT_EQ(ReportRows(form_.ReportPath()).size(), 1);
  EXPECT_TRUE(QFile::exists(folder + QStringLiteral("/result.css")));
  EXPECT_TRUE(QDir(work_.path()).isEmpty()) << "nothing in the working folder";

  // A report folder removed while the window is open comes back.
  ASSERT_TRUE(QDir(home_.filePath(QStringLiteral("share"))).removeRecursively());
  Search();
  EXPECT_TRUE(errors_.shown.empty()) << errors_.shown.front().toStdString();
  EXPECT_EQ(ReportRows(form_.ReportPath()).size(), 1);
  EXPECT_EQ(opener_.opened.size(), 2u);
}

TEST_F(ReportFolder, ARelativeFolderIsTakenFromTheWorkingFolderWhenSet) {
  form_.SetReportFolder(QStringLiteral("reports"));
  const QString folder = work_.filePath(QStringLiteral("reports"));
  EXPECT_EQ(form_.ReportPath(), folder + QStringLiteral("/result.htm"));
  {
    WorkingFolder elsewhere(home_.path());
    SearchForCat();
  }
  EXPECT_EQ(ReportRows(folder + QStringLiteral("/result.htm")).size(), 1);
  EXPECT_TRUE(QDir(home_.path()).isEmpty());
}

TEST_F(ReportFolder, NoneSetMeansTheWorkingFolderOfTheMoment) {
  EXPECT_EQ(form_.ReportPath(), work_.filePath(QStringLiteral("result.htm")));
  WorkingFolder elsewhere(home_.path());
  EXPECT_EQ(form_.ReportPath(), home_.filePath(QStringLiteral("result.htm")));
  SearchForCat();
  EXPECT_EQ(ReportRows(home_.filePath(QStringLiteral("result.htm"))).size(), 1);
}

TEST(UserReportFolder, IsTheReportsFolderInTheUsersDataFolder) {
  QTemporaryDir data;
  ASSERT_TRUE(data.isValid());
  const QByteArray previous = qgetenv("XDG_DATA_HOME");
  const bool had_previous = qEnvironmentVariableIsSet("XDG_DATA_HOME");
  qputenv("XDG_DATA_HOME", QFile::encodeName(data.path()));
  EXPECT_EQ(UserReportFolder(), data.path() + QStringLiteral("/tallyfold/reports"));
  EXPECT_FALSE(QDir(data.path() + QStringLiteral("/tallyfold")).exists())
      << "naming the folder makes nothing";
  if (had_previous) {
    qputenv("XDG_DATA_HOME", previous);
  } else {
    qunsetenv("XDG_DATA_HOME");
  }
}

}  // namespace
}  // namespace tallyfold::testing
