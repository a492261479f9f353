// The main window's "after a search" setting, and its offer of the results
// window after a search with many matching lines.
#include <QAction>
#include <QSettings>
#include <QTemporaryDir>

#include "app/AfterSearchPolicy.h"
#include "ui/ResultsWindow.h"
#include "ui/Settings.h"
#include "ui/UiTestSupport.h"

namespace tallyfold::testing {
namespace {

class AfterSearchTest : public WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    ASSERT_TRUE(corpus_.isValid() && work_.isValid());
  }
  // A corpus of `lines` lines that match "cat".
  void MakeCorpus(int lines) {
    WriteFile(corpus_.filePath("cats.txt"), QByteArray("a cat\n").repeated(lines));
  }
  void SearchForCat() {
    ChooseFolder(corpus_.path());
    TypePattern("cat");
    Search();
  }

  QTemporaryDir corpus_;
  QTemporaryDir work_;
  WorkingFolder entered_{work_.path()};
};

TEST_F(AfterSearchTest, TheSettingIsRemembered) {
  auto* both = Find<QAction>("actAfterSearch_both");
  EXPECT_TRUE(Find<QAction>("actAfterSearch_report")->isChecked()) << "the default";
  both->trigger();
  {
    FakeFolderPicker picker;
    FakeSaveFilePicker save_picker;
    FakeOpener opener;
    FakeErrorDisplay errors;
    TForm1 next(picker, save_picker, opener, errors);
    auto* action = next.findChild<QAction*>("actAfterSearch_both");
    ASSERT_NE(action, nullptr);
    EXPECT_TRUE(action->isChecked());
    next.findChild<QAction*>("actAfterSearch_results")->trigger();
  }
  QSettings store(settings_.File(), QSettings::IniFormat);
  EXPECT_EQ(store.value("after_search").toString(), "results");
  EXPECT_EQ(LoadSettings(store).after_search, AfterSearch::kShowResults);
  store.setValue("after_search", "sometimes");
  EXPECT_EQ(LoadSettings(store).after_search, AfterSearch::kOpenReport);
}

TEST_F(AfterSearchTest, ManyMatchingLinesOfferTheResultsWindow) {
  MakeCorpus(AfterSearchPolicy::kOfferResultsAbove);
  SearchForCat();
  EXPECT_TRUE(errors_.asked.empty()) << "not above the limit";
  EXPECT_EQ(opener_.opened.size(), 1u);

  MakeCorpus(AfterSearchPolicy::kOfferResultsAbove + 1);
  Search();  // the user says no
  ASSERT_EQ(errors_.asked.size(), 1u);
  EXPECT_TRUE(errors_.asked[0].contains("results window")) << errors_.asked[0].toStdString();
  EXPECT_EQ(opener_.opened.size(), 2u) << "the report is opened as before";
  EXPECT_EQ(form_.ResultsWindow(), nullptr);
  EXPECT_TRUE(errors_.shown.empty());

  // Only a search that would just open the report asks.
  Find<QAction>("actAfterSearch_both")->trigger();
  errors_.answers.push_back(true);
  Search();
  EXPECT_EQ(errors_.asked.size(), 1u);
}

// The setting as a user finds it: a real search, the window shows every
// match, and the report is written and opened only when asked for.
TEST_F(AfterSearchTest, TheResultsWindowShowsEveryMatchOfARealSearch) {
  WriteFile(corpus_.filePath("cats.txt"), "a cat and a cat\nno dog\n  cat  \n");
  WriteFile(corpus_.filePath("zh.txt"), "\xE7\x8C\xAB cat \xE7\x8C\xAB\n");
  Find<QAction>("actAfterSearch_results")->trigger();
  SearchForCat();
  ASSERT_NE(form_.ResultsWindow(), nullptr) << (errors_.shown.empty() ? "" : errors_.shown[0].toStdString());
  EXPECT_EQ(form_.ResultsWindow()->Rows().rowCount(), 4);
  EXPECT_TRUE(opener_.opened.empty()) << "only the results were asked for";
  EXPECT_TRUE(errors_.shown.empty());

  Find<QAction>("actAfterSearch_both")->trigger();
  Search();
  ASSERT_NE(form_.ResultsWindow(), nullptr);
  EXPECT_EQ(form_.ResultsWindow()->Rows().rowCount(), 4);
  EXPECT_EQ(opener_.opened.size(), 1u) << "the report as well";
}

// The results shown are those of the search that wrote the report: a
// corpus changed while the question is up changes nothing.
TEST_F(AfterSearchTest, SayingYesToTheOfferShowsTheResultsWithoutSearchingAgain) {
  MakeCorpus(AfterSearchPolicy::kOfferResultsAbove + 1);
  errors_.answers.push_back(true);
  errors_.while_asking = [this] { MakeCorpus(1); };
  SearchForCat();
  ASSERT_EQ(errors_.asked.size(), 1u);
  ASSERT_NE(form_.ResultsWindow(), nullptr);
  EXPECT_EQ(form_.ResultsWindow()->Rows().rowCount(), AfterSearchPolicy::kOfferResultsAbove + 1);
  EXPECT_TRUE(opener_.opened.empty()) << "the results instead of the report";
  EXPECT_TRUE(errors_.shown.empty());
}

}  // namespace
}  // namespace tallyfold::testing
