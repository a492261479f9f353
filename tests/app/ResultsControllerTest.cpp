// The results window's logic without a window: the rows for a state (order,
// filter, folding, a form), the form restriction against counting by hand,
// requests in turn and cancels at known points, the hits per file with
// their totals and rates, the tables' formats and a line read for a viewer.
#include "app/ResultsController.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "app/AppTestSupport.h"
#include "app/HeldTasks.h"
#include "platform/CodePage.h"

namespace tallyfold::testing {
namespace {

// Adds a line whose matches are every occurrence of any of `needles`,
// padded with a space on each side as a search keeps it.
void AddLine(ResultSet& results, int file, int line, const std::u16string& trimmed,
             const std::vector<std::u16string>& needles) {
  const std::u16string text = u" " + trimmed + u" ";
  std::vector<MatchSpan> spans;
  for (std::size_t at = 0; at < text.size();) {
    bool found = false;
    for (const std::u16string& needle : needles) {
      if (text.compare(at, needle.size(), needle) == 0) {
        spans.push_back({static_cast<int>(at), static_cast<int>(needle.size())});
        at += needle.size();
        found = true;
        break;
      }
    }
    if (!found) ++at;
  }
  results.AddLine(file, line, text, spans);
}

const std::vector<std::u16string> kNeedles = {u"的", u"用", u"The", u"the", u"sea", u"\uFFFF",
                                              u"\U00020000"};

// Lines in report order (most matches first) over three files, the third
// without a match.
std::shared_ptr<ResultSet> Corpus() {
  auto results = std::make_shared<ResultSet>();
  results->AddFile(ResultFile{"/c/a.txt", "a.txt", 1'000, 0, 0, {}});
  results->AddFile(ResultFile{"/c/b.txt", "b.txt", 73, 0, 0, {}});
  results->AddFile(ResultFile{"/c/c.txt", "c.txt", 0, 0, 0, {}});
  AddLine(*results, 0, 4, u"的的用 the sea", kNeedles);
  AddLine(*results, 1, 2, u"The 用\uFFFF", kNeedles);
  AddLine(*results, 0, 9, u"用 \U00020000", kNeedles);
  AddLine(*results, 0, 1, u"the end", kNeedles);
  AddLine(*results, 1, 7, u"sea", kNeedles);
  return results;
}

// The rows as "match@file:line".
std::vector<std::string> Shown(const ResultView& view) {
  std::vector<std::string> rows;
  for (std::size_t row = 0; row < view.RowCount(); ++row) {
    const Kwic kwic = view.Context(row);
    rows.push_back(Utf8Encode(std::u16string(kwic.match)) + "@" +
                   std::to_string(view.Line(row).file) + ":" +
                   std::to_string(view.Line(row).line));
  }
  return rows;
}

bool SameForm(const MatchForm& a, const MatchForm& b) {
  return a.form == b.form && a.matches == b.matches && a.lines == b.lines && a.files == b.files;
}

// Every form's rows, restricted from any state, are as many as the form
// counts, and are the rows of the unrestricted view with that form; a
// second restriction starts from the whole result again.
TEST(ArrangeRows, EachFormRestrictsTheWholeResultToItsRows) {
  const auto results = Corpus();
  for (const bool fold : {false, true}) {
    for (const std::u16string filter : {u"", u"SEA", u"用"}) {
      ViewState state{ResultOrder::kMatch, false, filter, fold, std::nullopt};
      const ArrangedRows all = ArrangeRows(*results, state);
      ASSERT_FALSE(all.forms->empty());
      for (const MatchForm& form : *all.forms) {
        for (const MatchForm& before : *all.forms) {
          state.form = before.form;
          const ArrangedRows first = ArrangeRows(*results, state);
          EXPECT_TRUE(std::equal(first.forms->begin(), first.forms->end(), all.forms->begin(),
                                 all.forms->end(), SameForm))
              << "the list keeps every form";
          state.form = form.form;
          const ArrangedRows second = ArrangeRows(*results, state);
          EXPECT_EQ(second.rows->RowCount(), form.matches) << Utf8Encode(form.form);
          std::vector<std::string> expected;
          for (const std::string& row : Shown(*all.rows)) {
            std::u16string shown = Utf8Decode(row.substr(0, row.find('@')));
            if (fold) {
              for (char16_t& unit : shown)
                if (unit >= u'A' && unit <= u'Z') unit = static_cast<char16_t>(unit + 32);
            }
            if (shown == form.form) expected.push_back(row);
          }
          EXPECT_EQ(Shown(*second.rows), expected) << Utf8Encode(form.form);
        }
      }
    }
  }
}

TEST(TableFormatForPath, CsvOnlyForACsvSuffixInAnyCase) {
  const struct {
    const char* path;
    TableFormat format;
  } cases[] = {{"a.csv", TableFormat::kCsv},  {"/x/A.CSV", TableFormat::kCsv},
               {"a.Csv", TableFormat::kCsv},  {"a.tsv", TableFormat::kTsv},
               {"csv", TableFormat::kTsv},    {"a.csv.txt", TableFormat::kTsv},
               {".csv", TableFormat::kCsv},   {"", TableFormat::kTsv}};
  for (const auto& test : cases) EXPECT_EQ(TableFormatForPath(test.path), test.format) << test.path;
}

TEST(HitsPerFile, RatesInHundredthsOnceForTheFilesAndTheirTotals) {
  const struct {
    std::uint64_t hundredths;
    const char* text;
  } decimals[] = {{0, "0.00"}, {5, "0.05"}, {30, "0.30"}, {1368, "13.68"}, {1730, "17.30"},
                  {100000, "1000.00"}};
  for (const auto& test : decimals) EXPECT_EQ(TwoDecimals(test.hundredths), test.text);

  const auto results = Corpus();
  const HitsPerFile hits = CountHitsPerFile(*results);
  ASSERT_EQ(hits.files.size(), 3u);
  // 8 in 1,000: 80.00; 4 in 73: 547.945... rounds to 547.95; none in 0.
  EXPECT_EQ(TwoDecimals(hits.files[0].per_ten_thousand), "80.00");
  EXPECT_EQ(TwoDecimals(hits.files[1].per_ten_thousand), "547.95");
  EXPECT_EQ(TwoDecimals(hits.files[2].per_ten_thousand), "0.00");
  EXPECT_EQ(hits.totals.file, -1);
  EXPECT_EQ(hits.totals.lines, 5);
  EXPECT_EQ(hits.totals.matches, 12);
  EXPECT_EQ(hits.totals.characters, 1'073);
  EXPECT_EQ(TwoDecimals(hits.totals.per_ten_thousand), "111.84");  // 12 in 1,073
}

// The results window beside its owner: where it fits whole, next to the
// owner; shrunk where nothing does; never over the owner while there is
// room beside it, and always on the screen's free area.
TEST(PlaceBeside, BelowAboveRightOrLeftOfTheOwnerNeverOverIt) {
  const ScreenRect screen{0, 30, 1920, 1050};
  const struct {
    const char* where;
    ScreenRect owner;
    int width, height;
    ScreenRect placed;
  } cases[] = {
      {"below", {400, 300, 460, 110}, 960, 600, {400, 418, 960, 600}},
      {"below, moved in from the right edge", {1700, 100, 200, 80}, 960, 600, {960, 188, 960, 600}},
      {"above", {400, 800, 460, 110}, 960, 600, {400, 192, 960, 600}},
      {"right", {0, 30, 460, 1050}, 960, 600, {468, 30, 960, 600}},
      {"left", {1300, 500, 620, 580}, 960, 600, {332, 480, 960, 600}},
      {"shrunk into the largest room", {0, 330, 1920, 400}, 960, 600, {0, 738, 960, 342}},
      {"no room: over it", {0, 30, 1920, 1050}, 960, 600, {0, 30, 960, 600}},
  };
  for (const auto& test : cases) {
    const ScreenRect placed = PlaceBeside(test.owner, screen, test.width, test.height);
    EXPECT_EQ(placed, test.placed) << test.where << ": " << placed.left << ',' << placed.top
                                   << ' ' << placed.width << 'x' << placed.height;
  }
  // Anywhere on the screen, an owner leaving room is never covered.
  for (int x = 0; x < 1920; x += 97) {
    for (int y = 30; y < 1080; y += 53) {
      const ScreenRect owner{x, y, 448, 110};
      const ScreenRect placed = PlaceBeside(owner, screen, 960, 600);
      const bool apart = placed.left >= owner.left + owner.width ||
                         placed.left + placed.width <= owner.left ||
                         placed.top >= owner.top + owner.height ||
                         placed.top + placed.height <= owner.top;
      EXPECT_TRUE(apart) << x << ',' << y;
      EXPECT_GE(placed.left, screen.left);
      EXPECT_GE(placed.top, screen.top);
      EXPECT_LE(placed.left + placed.width, screen.left + screen.width);
      EXPECT_LE(placed.top + placed.height, screen.top + screen.height);
      EXPECT_GT(placed.width * placed.height, 0);
    }
  }
}

// Runs the controller's posted calls when the test says so, as a window's
// event loop would.
class ResultsControllerTest : public ::testing::Test {
 protected:
  ResultsControllerTest() {
    controller_.on_changed = [this] { ++changed_; };
    controller_.on_error = [this](const std::string& message) { errors_.push_back(message); };
  }

  // Waits for the work started so far to end and runs what it posted.
  void Settle() {
    while (controller_.Busy() != ResultsController::Work::kNone) {
      std::function<void()> call;
      {
        std::unique_lock lock(mutex_);
        posted_signal_.wait(lock, [this] { return !posted_.empty(); });
        call = std::move(posted_.front());
        posted_.pop_front();
      }
      call();
    }
  }

  std::vector<std::string> Rows() const { return Shown(*controller_.Rows()); }

  std::shared_ptr<const ResultSet> results_ = Corpus();
  HeldTaskStarter tasks_;
  std::mutex mutex_;
  std::condition_variable posted_signal_;
  std::deque<std::function<void()>> posted_;
  ResultsController controller_{results_, tasks_, [this](std::function<void()> call) {
                                  {
                                    std::lock_guard lock(mutex_);
                                    posted_.push_back(std::move(call));
                                  }
                                  posted_signal_.notify_all();
                                }};
  int changed_ = 0;
  std::vector<std::string> errors_;
};

// Requests in turn, each a step of a user's session: what is shown after it.
TEST_F(ResultsControllerTest, RequestsInTurnGiveTheRowsOfTheLatestState) {
  const struct Step {
    const char* what;
    std::function<void(ResultsController&)> request;
    std::vector<std::string> rows;
    std::optional<std::u16string> form;
  } steps[] = {
      {"order by match", [](ResultsController& c) { c.SetOrder(ResultOrder::kMatch); },
       {"The@1:2", "sea@0:4", "sea@1:7", "the@0:4", "the@0:1", "用@0:4", "用@1:2", "用@0:9",
        "的@0:4", "的@0:4", "\xF0\xA0\x80\x80@0:9", "\xEF\xBF\xBF@1:2"},
       std::nullopt},
      {"restrict to 的", [](ResultsController& c) { c.RestrictToForm(u"的"); },
       {"的@0:4", "的@0:4"}, u"的"},
      {"then to 用: of the whole result", [](ResultsController& c) { c.RestrictToForm(u"用"); },
       {"用@0:4", "用@1:2", "用@0:9"}, u"用"},
      {"a filter keeps the restriction", [](ResultsController& c) { c.SetFilter(u"\uFFFF"); },
       {"用@1:2"}, u"用"},
      {"removed", [](ResultsController& c) { c.RemoveFormRestriction(); },
       {"The@1:2", "用@1:2", "\xEF\xBF\xBF@1:2"}, std::nullopt},
      {"folded: The is the", [](ResultsController& c) {
         c.SetFilter(u"");
         c.RestrictToForm(u"The");
         c.SetFoldCase(true);
       },
       {"The@1:2", "the@0:4", "the@0:1"}, u"the"},
      {"report order", [](ResultsController& c) { c.SetOrder(ResultOrder::kReport); },
       {"the@0:4", "The@1:2", "the@0:1"}, u"the"},
      {"reversed", [](ResultsController& c) { c.SetOrder(ResultOrder::kReport, true); },
       {"the@0:1", "The@1:2", "the@0:4"}, u"the"},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.what);
    const int changed = changed_;
    step.request(controller_);
    Settle();
    EXPECT_EQ(Rows(), step.rows);
    EXPECT_EQ(controller_.State().form, step.form);
    EXPECT_EQ(changed_, changed + 1) << "requests made together are arranged once";
    // The forms are those of the rows before the restriction.
    ASSERT_NE(controller_.Forms(), nullptr);
    std::size_t counted = 0;
    for (const MatchForm& form : *controller_.Forms()) {
      counted += form.matches;
      if (step.form && form.form == *step.form) {
        EXPECT_EQ(form.matches, step.rows.size());
      }
    }
    if (!step.form) {
      EXPECT_EQ(counted, step.rows.size());
    }
  }
  EXPECT_TRUE(errors_.empty());
}

// Clicks on the column heads in turn: the order each asks for, reversed by
// a second click on the same head, with the head and its arrow to show.
TEST_F(ResultsControllerTest, AColumnHeadOrdersByItsColumnAndASecondClickReverses) {
  using C = RowsColumn;
  const struct {
    C click;
    ResultOrder order;
    bool reversed;
    bool descending;
  } clicks[] = {
      {C::kMatch, ResultOrder::kMatch, false, false},
      {C::kMatch, ResultOrder::kMatch, true, true},
      {C::kMatch, ResultOrder::kMatch, false, false},
      {C::kCount, ResultOrder::kReport, false, true},
      {C::kCount, ResultOrder::kReport, true, false},
      {C::kFile, ResultOrder::kFileAndLine, false, false},
      {C::kLine, ResultOrder::kFileAndLine, false, false},  // another head of that order
      {C::kLine, ResultOrder::kFileAndLine, true, true},
      {C::kRight, ResultOrder::kRight, false, false},
  };
  std::vector<std::string> forwards;
  for (const auto& click : clicks) {
    SCOPED_TRACE(static_cast<int>(click.click));
    controller_.SortByColumn(click.click);
    Settle();
    EXPECT_EQ(controller_.State().order, click.order);
    EXPECT_EQ(controller_.State().reversed, click.reversed);
    EXPECT_EQ(controller_.SortColumn(), click.click);
    EXPECT_EQ(controller_.SortDescending(), click.descending);
    if (click.reversed) {
      EXPECT_EQ(Rows(), std::vector<std::string>(forwards.rbegin(), forwards.rend()));
    } else {
      forwards = Rows();
    }
  }
  // The order box names an order, whose own head shows it.
  controller_.SetOrder(ResultOrder::kLeft);
  Settle();
  EXPECT_EQ(controller_.SortColumn(), C::kLeft);
  EXPECT_FALSE(controller_.State().reversed);
}

// A cancel held before the work begins, or after it has finished but before
// its end was taken, changes nothing; the same work not cancelled does.
TEST_F(ResultsControllerTest, ACancelledArrangementOrCopyChangesNothing) {
  const std::vector<std::string> rows = Rows();
  enum class Moment { kHeld, kFinished, kNotCancelled };
  for (const bool copy : {false, true}) {
    for (const Moment moment : {Moment::kHeld, Moment::kFinished, Moment::kNotCancelled}) {
      SCOPED_TRACE(::testing::Message() << (copy ? "copy " : "arrange ") << static_cast<int>(moment));
      std::u16string copied = u"before";
      const int ended = tasks_.Ended();
      if (moment == Moment::kHeld) tasks_.Close();
      if (copy) {
        controller_.Copy({1}, [&copied](std::u16string table) { copied = std::move(table); });
      } else {
        controller_.SetFilter(u"sea");
      }
      ASSERT_NE(controller_.Busy(), ResultsController::Work::kNone);
      if (moment == Moment::kFinished) tasks_.WaitUntilEnded(ended + 1);
      if (moment != Moment::kNotCancelled) controller_.Cancel();
      tasks_.Open();
      Settle();
      const bool changed = moment == Moment::kNotCancelled;
      EXPECT_EQ(copied != u"before", changed && copy);
      EXPECT_EQ(Rows() != rows, changed && !copy);
      if (changed && !copy) {
        controller_.SetFilter(u"");
        Settle();
      }
      ASSERT_EQ(Rows(), rows);
    }
  }
}

// Of requests made while one is held, the last is shown; the older
// arrangement is cancelled, not shown first.
TEST_F(ResultsControllerTest, TheNewestArrangementWins) {
  tasks_.Close();
  controller_.SetFilter(u"sea");
  controller_.SetOrder(ResultOrder::kMatch);
  controller_.RestrictToForm(u"the");
  tasks_.Open();
  Settle();
  EXPECT_EQ(changed_, 1);
  EXPECT_EQ(Rows(), (std::vector<std::string>{"the@0:4"}));
  EXPECT_EQ(controller_.State(), (ViewState{ResultOrder::kMatch, false, u"sea", false, u"the"}));
}

// Copies and exports of the hits per file end with the totals.
TEST_F(ResultsControllerTest, HitsPerFileTablesEndWithTheTotals) {
  const std::u16string head = u"file\tlines\tmatches\tper_10000\tcharacters\tencoding\treplaced\tnuls\n";
  EXPECT_EQ(controller_.HitsPerFileText({1, 0}),
            head + u"b.txt\t2\t4\t547.95\t73\t\t0\t0\n" + u"a.txt\t3\t8\t80.00\t1000\t\t0\t0\n" +
                u"total\t5\t12\t111.84\t1073\t\t0\t0\n");
  TempFolder folder;
  controller_.ExportHitsPerFile({2}, folder / "files.CSV");
  EXPECT_EQ(ReadBytes(folder / "files.CSV"),
            "\xEF\xBB\xBF" "file,lines,matches,per_10000,characters,encoding,replaced,nuls\r\n"
            "c.txt,0,0,0.00,0,,0,0\r\ntotal,5,12,111.84,1073,,0,0\r\n");
  controller_.ExportHitsPerFile({}, folder / "no/such/files.tsv");
  ASSERT_EQ(errors_.size(), 1u);
  EXPECT_NE(errors_[0].find("such"), std::string::npos) << errors_[0];
}

// A line is read off the front end's thread; a file gone or shortened
// since the search says so instead of showing another line.
TEST_F(ResultsControllerTest, OpeningALineReadsItOrSaysWhyNot) {
  TempFolder folder;
  WriteBytes(folder / "a.txt", "x\nthe sea\n");
  WriteBytes(folder / "b.txt", "one\n");
  auto results = std::make_shared<ResultSet>();
  results->AddFile(ResultFile{folder / "a.txt", "a.txt", 9, 0, 0, {}});
  results->AddFile(ResultFile{folder / "b.txt", "b.txt", 3, 0, 0, {}});
  results->AddFile(ResultFile{folder / "gone.txt", "gone.txt", 3, 0, 0, {}});
  AddLine(*results, 0, 2, u"the sea", kNeedles);
  AddLine(*results, 1, 5, u"the", kNeedles);
  AddLine(*results, 2, 1, u"sea", kNeedles);
  ResultsController controller(results, tasks_, [this](std::function<void()> call) {
    {
      std::lock_guard lock(mutex_);
      posted_.push_back(std::move(call));
    }
    posted_signal_.notify_all();
  });
  const struct {
    std::size_t row;
    bool read;
    bool gone;
  } cases[] = {{1, true, false}, {2, false, true}, {3, false, false}};
  for (const auto& test : cases) {
    std::optional<OpenedLine> opened;
    controller.OpenLine(test.row, 5, [&opened](OpenedLine line) { opened = std::move(line); });
    while (!opened) {
      std::unique_lock lock(mutex_);
      posted_signal_.wait(lock, [this] { return !posted_.empty(); });
      std::function<void()> call = std::move(posted_.front());
      posted_.pop_front();
      lock.unlock();
      call();
    }
    EXPECT_EQ(opened->row, test.row);
    EXPECT_EQ(opened->context.has_value(), test.read) << test.row;
    EXPECT_EQ(opened->gone, test.gone) << test.row;
    EXPECT_EQ(opened->error.empty(), test.read) << test.row;
    if (test.read) {
      EXPECT_EQ(opened->context->text, u"x\nthe sea");
      EXPECT_EQ(opened->clicked, 1);
    }
  }
}

}  // namespace
}  // namespace tallyfold::testing
