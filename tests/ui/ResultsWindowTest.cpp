// The results window: its rows in every order and under a filter, copying
// and exporting them, the hits per file, a large set and the line viewer.
#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include <QApplication>
#include <QClipboard>
#include <QCheckBox>
#include <QComboBox>
#include <QHeaderView>
#include <QSortFilterProxyModel>
#include <QSpinBox>
#include <QTabWidget>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTableView>

#include "app/HeldTasks.h"
#include "app/ResultSet.h"
#include "app/ResultView.h"
#include "platform/Exception.h"
#include "text/TextFile.h"
#include "ui/ResultsWindow.h"
#include "ui/UiTestSupport.h"

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

// Three lines of a search for the|sea, in the report's order (most matches
// first), over two files and one without a match.
std::shared_ptr<ResultSet> SmallSet() {
  auto results = std::make_shared<ResultSet>();
  results->AddFile(ResultFile{"/c/a.txt", "a.txt", 120, 0, 0, {}});
  results->AddFile(ResultFile{"/c/b.txt", "b.txt", 80, 0, 0, {}});
  results->AddFile(ResultFile{"/c/c.txt", "c.txt", 40, 0, 0, {}});
  const std::vector<std::u16string> needles = {u"the", u"sea"};
  AddLine(*results, 1, 9, u"the sea, the sky", needles);
  AddLine(*results, 0, 4, u"in the 海 sea", needles);
  AddLine(*results, 0, 2, u"大海\tthe end", needles);
  return results;
}

// The rows as "left[match]", as a reader tells them apart.
QStringList Shown(const ResultTableModel& model) {
  QStringList rows;
  for (int row = 0; row < model.rowCount(); ++row) {
    rows << model.index(row, ResultTableModel::kLeft).data().toString() + u'[' +
                model.index(row, ResultTableModel::kMatch).data().toString() + u']';
  }
  return rows;
}

class ResultsWindowTest : public ::testing::Test {
 protected:
  void Open(std::shared_ptr<const ResultSet> results) {
    window_ = std::make_unique<TResultsWindow>(std::move(results), save_picker_, errors_, tasks_);
    window_->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window_.get()));
  }
  // Waits, without a time limit of its own, for the background work to end
  // and the window to have taken it (a task's end is posted to the window).
  void Settle() {
    while (window_->IsBusy()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  }
  void ArrangeAndWait(ResultOrder order, const QString& filter) {
    window_->Arrange(order, filter);
    Settle();
  }
  template <class Widget>
  Widget* Find(const char* name) {
    Widget* widget = window_->findChild<Widget*>(QString::fromLatin1(name));
    if (widget == nullptr) ADD_FAILURE() << "no control named " << name;
    return widget;
  }

  FakeSaveFilePicker save_picker_;
  FakeErrorDisplay errors_;
  HeldTaskStarter tasks_;  // outlives the window's tasks
  std::unique_ptr<TResultsWindow> window_;
};

TEST_F(ResultsWindowTest, ShowsOneRowPerMatchInTheReportsOrder) {
  Open(SmallSet());
  const ResultTableModel& rows = window_->Rows();
  ASSERT_EQ(rows.rowCount(), 6);
  EXPECT_EQ(Shown(rows), (QStringList{"[the]", "the [sea]", "the sea, [the]", "in [the]",
                                      "in the 海 [sea]", "大海\t[the]"}));
  EXPECT_EQ(rows.index(1, ResultTableModel::kRight).data().toString(), ", the sky");
  EXPECT_EQ(rows.index(1, ResultTableModel::kFile).data().toString(), "b.txt");
  EXPECT_EQ(rows.index(1, ResultTableModel::kLine).data().toInt(), 9);
  EXPECT_EQ(rows.index(1, ResultTableModel::kCount).data().toInt(), 3);
  EXPECT_EQ(rows.index(4, ResultTableModel::kFile).data().toString(), "a.txt");
  EXPECT_EQ(rows.index(4, ResultTableModel::kRight).data().toString(), "");
  // The left context leans on the match; the match stands out.
  EXPECT_EQ(rows.index(0, ResultTableModel::kLeft).data(Qt::TextAlignmentRole).toInt() &
                Qt::AlignHorizontal_Mask,
            Qt::AlignRight);
  EXPECT_TRUE(rows.index(0, ResultTableModel::kMatch).data(Qt::FontRole).value<QFont>().bold());
  EXPECT_FALSE(rows.index(0, ResultTableModel::kRight).data(Qt::FontRole).isValid());
  EXPECT_EQ(Find<QLabel>("lblRows")->text(), "6 of 6 matches");
}

TEST_F(ResultsWindowTest, EveryOrderArrangesTheRows) {
  Open(SmallSet());
  struct Case {
    ResultOrder order;
    QStringList rows;
  };
  const Case cases[] = {
      {ResultOrder::kFileAndLine,
       {"大海\t[the]", "in [the]", "in the 海 [sea]", "[the]", "the [sea]", "the sea, [the]"}},
      {ResultOrder::kMatch,
       {"the [sea]", "in the 海 [sea]", "[the]", "the sea, [the]", "in [the]", "大海\t[the]"}},
      {ResultOrder::kLeft,
       {"[the]", "in [the]", "the sea, [the]", "the [sea]", "大海\t[the]", "in the 海 [sea]"}},
      {ResultOrder::kRight,
       {"in the 海 [sea]", "大海\t[the]", "[the]", "the sea, [the]", "the [sea]", "in [the]"}},
      {ResultOrder::kReport,
       {"[the]", "the [sea]", "the sea, [the]", "in [the]", "in the 海 [sea]", "大海\t[the]"}},
  };
  for (const Case& test : cases) {
    ArrangeAndWait(test.order, QString());
    EXPECT_EQ(Shown(window_->Rows()), test.rows) << static_cast<int>(test.order);
  }
  // The order box does the same.
  auto* order = Find<QComboBox>("cmbOrder");
  order->setCurrentIndex(order->findData(static_cast<int>(ResultOrder::kMatch)));
  Settle();
  EXPECT_EQ(Shown(window_->Rows()), cases[1].rows);
  EXPECT_TRUE(errors_.shown.empty());
}

TEST_F(ResultsWindowTest, TheFilterNarrowsTheRowsToLinesThatContainIt) {
  Open(SmallSet());
  ArrangeAndWait(ResultOrder::kReport, "SKY");  // ASCII case ignored
  EXPECT_EQ(Shown(window_->Rows()), (QStringList{"[the]", "the [sea]", "the sea, [the]"}));
  EXPECT_EQ(Find<QLabel>("lblRows")->text(), "3 of 6 matches");
  ArrangeAndWait(ResultOrder::kMatch, "海");
  EXPECT_EQ(Shown(window_->Rows()), (QStringList{"in the 海 [sea]", "in [the]", "大海\t[the]"}));
  ArrangeAndWait(ResultOrder::kReport, "no such text");
  EXPECT_EQ(window_->Rows().rowCount(), 0);

  // Typed into the box, once typing pauses or Enter is pressed.
  QTest::keyClicks(Find<QLineEdit>("edtFilter"), "sky");
  QTest::keyClick(Find<QLineEdit>("edtFilter"), Qt::Key_Return);
  Settle();
  EXPECT_EQ(window_->Rows().rowCount(), 3);
}

TEST_F(ResultsWindowTest, TheNewestArrangementWins) {
  Open(SmallSet());
  window_->Arrange(ResultOrder::kMatch, QString());
  window_->Arrange(ResultOrder::kReport, "sky");
  Settle();
  EXPECT_EQ(Shown(window_->Rows()), (QStringList{"[the]", "the [sea]", "the sea, [the]"}));
  EXPECT_TRUE(errors_.shown.empty());
}

// The clipboard gets what Export TSV would write of the selected rows.
TEST_F(ResultsWindowTest, CopyGivesTheSelectedRowsAsATsvTable) {
  Open(SmallSet());
  auto* table = Find<QTableView>("tblResults");
  table->selectRow(5);
  table->selectionModel()->select(window_->Rows().index(1, 0),
                                  QItemSelectionModel::Select | QItemSelectionModel::Rows);
  const QString head = "file\tline\tcount\tleft\tmatch\tright\n";
  const QString expected = head +
                           "b.txt\t9\t3\tthe \tsea\t, the sky\n"
                           "a.txt\t2\t1\t大海\\t\tthe\t end\n";
  EXPECT_EQ(window_->SelectedRowsAsText(), expected);

  QApplication::clipboard()->clear();
  window_->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(window_.get()));
  table->setFocus();
  QTest::keyClick(table, Qt::Key_C, Qt::ControlModifier);
  Settle();  // the copy is made in the background
  EXPECT_EQ(QApplication::clipboard()->text(), expected);

  // What is copied is what is shown, in the order shown.
  ArrangeAndWait(ResultOrder::kMatch, QString());
  table->selectRow(0);
  EXPECT_EQ(window_->SelectedRowsAsText(), head + "b.txt\t9\t3\tthe \tsea\t, the sky\n");
  table->clearSelection();
  EXPECT_EQ(window_->SelectedRowsAsText(), "") << "nothing selected, nothing copied";
}

TEST_F(ResultsWindowTest, HitsPerFileListEveryFileWithTotalsLast) {
  Open(SmallSet());
  const HitsPerFileModel& files = window_->HitsPerFile();
  ASSERT_EQ(files.rowCount(), 4);
  auto cell = [&](int row, int column) { return files.index(row, column).data(); };
  EXPECT_EQ(cell(0, HitsPerFileModel::kFile).toString(), "a.txt");
  EXPECT_EQ(cell(0, HitsPerFileModel::kLines).toInt(), 2);
  EXPECT_EQ(cell(1, HitsPerFileModel::kMatches).toLongLong(), 3);
  EXPECT_EQ(cell(2, HitsPerFileModel::kFile).toString(), "c.txt");
  EXPECT_EQ(cell(2, HitsPerFileModel::kCharacters).toLongLong(), 40);
  EXPECT_EQ(cell(3, HitsPerFileModel::kFile).toString(), "Total");
  EXPECT_EQ(cell(3, HitsPerFileModel::kLines).toInt(), 3);
  EXPECT_EQ(cell(3, HitsPerFileModel::kMatches).toLongLong(), 6);
  EXPECT_EQ(cell(3, HitsPerFileModel::kCharacters).toLongLong(), 240);
  EXPECT_TRUE(cell(3, HitsPerFileModel::kFile).isValid());
  EXPECT_TRUE(files.index(3, 0).data(Qt::FontRole).value<QFont>().bold());
  EXPECT_DOUBLE_EQ(cell(1, HitsPerFileModel::kPerTenThousand).toDouble(), 375.0);  // 3 in 80
  EXPECT_DOUBLE_EQ(cell(2, HitsPerFileModel::kPerTenThousand).toDouble(), 0.0);

  // Sorted by any column either way, the totals stay last.
  auto* table = Find<QTableView>("tblFiles");
  for (const Qt::SortOrder order : {Qt::AscendingOrder, Qt::DescendingOrder}) {
    table->sortByColumn(HitsPerFileModel::kPerTenThousand, order);
    QStringList names;
    for (int row = 0; row < 4; ++row) names << table->model()->index(row, 0).data().toString();
    EXPECT_EQ(names, order == Qt::AscendingOrder ? QStringList({"c.txt", "a.txt", "b.txt", "Total"})
                                                 : QStringList({"b.txt", "a.txt", "c.txt", "Total"}));
  }
  // Copied and exported in the order shown, the totals last.
  const QString rows = "b.txt\t1\t3\t375.00\t80\t\t0\t0\n"
                       "a.txt\t2\t3\t250.00\t120\t\t0\t0\n"
                       "c.txt\t0\t0\t0.00\t40\t\t0\t0\n"
                       "total\t3\t6\t250.00\t240\t\t0\t0\n";
  const QString head = "file\tlines\tmatches\tper_10000\tcharacters\tencoding\treplaced\tnuls\n";
  EXPECT_EQ(window_->HitsPerFileAsText(), head + rows);
  QTemporaryDir folder;
  window_->ExportHitsPerFile(folder.filePath("files.CSV"));
  const QByteArray csv = ReadBytes(folder.filePath("files.CSV"));
  EXPECT_TRUE(csv.startsWith("\xEF\xBB\xBF" "file,lines,matches,per_10000,")) << csv.toStdString();
  EXPECT_TRUE(csv.endsWith("c.txt,0,0,0.00,40,,0,0\r\ntotal,3,6,250.00,240,,0,0\r\n"))
      << csv.toStdString();
}

// The heads of the hits per file and of the forms: an arrow, counts the
// largest first at the first click, the other way round at the second.
TEST_F(ResultsWindowTest, ACountsFirstClickPutsTheLargestFirstAndTheSecondReverses) {
  auto results = SmallSet();
  AddLine(*results, 2, 1, u"The end", {u"The"});
  Open(results);
  const struct {
    const char* table;
    int column;
    QStringList first;   // the first column's cells after one click
    QStringList second;  // after a second
  } cases[] = {
      {"tblFiles", HitsPerFileModel::kLines, {"a.txt", "b.txt", "c.txt", "Total"},
       {"b.txt", "c.txt", "a.txt", "Total"}},
      {"tblFiles", HitsPerFileModel::kFile, {"a.txt", "b.txt", "c.txt", "Total"},
       {"c.txt", "b.txt", "a.txt", "Total"}},
      {"tblForms", FormsModel::kMatches, {"the", "sea", "The"}, {"The", "sea", "the"}},
      {"tblForms", FormsModel::kForm, {"The", "sea", "the"}, {"the", "sea", "The"}},
  };
  for (const auto& test : cases) {
    auto* table = Find<QTableView>(test.table);
    auto* header = table->horizontalHeader();
    Find<QTabWidget>("tabResults")->setCurrentWidget(table->parentWidget());
    const auto click = [&] {
      QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                        QPoint(header->sectionViewportPosition(test.column) + 5,
                               header->height() / 2));
      QStringList cells;
      for (int row = 0; row < table->model()->rowCount(); ++row)
        cells << table->model()->index(row, 0).data().toString();
      return cells;
    };
    EXPECT_EQ(click(), test.first) << test.table << ' ' << test.column;
    EXPECT_TRUE(header->isSortIndicatorShown());
    EXPECT_EQ(header->sortIndicatorSection(), test.column);
    EXPECT_EQ(click(), test.second) << test.table << ' ' << test.column;
  }
  // The rate is shown with two decimals, whatever its value.
  EXPECT_EQ(window_->HitsPerFile().index(0, HitsPerFileModel::kPerTenThousand).data().toString(),
            "250.00");
}

// A click on a head reaches the controller, and its answer the table: the
// rows in that order, the head's arrow; a second click reverses both.
TEST_F(ResultsWindowTest, ClickingAColumnHeadOrdersTheRowsByItAndAgainReverses) {
  Open(SmallSet());
  auto* header = Find<QTableView>("tblResults")->horizontalHeader();
  const struct {
    int column;
    ResultOrder order;
    Qt::SortOrder arrow;
  } cases[] = {{ResultTableModel::kMatch, ResultOrder::kMatch, Qt::AscendingOrder},
               {ResultTableModel::kRight, ResultOrder::kRight, Qt::AscendingOrder},
               {ResultTableModel::kLine, ResultOrder::kFileAndLine, Qt::AscendingOrder},
               {ResultTableModel::kLeft, ResultOrder::kLeft, Qt::AscendingOrder},
               {ResultTableModel::kCount, ResultOrder::kReport, Qt::DescendingOrder}};
  const auto click = [&](int column) {
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                      QPoint(header->sectionViewportPosition(column) + 5, header->height() / 2));
    Settle();
    return Shown(window_->Rows());
  };
  for (const auto& c : cases) {
    const QStringList clicked = click(c.column);
    EXPECT_TRUE(header->isSortIndicatorShown());
    EXPECT_EQ(header->sortIndicatorSection(), c.column);
    EXPECT_EQ(header->sortIndicatorOrder(), c.arrow);
    EXPECT_EQ(Find<QComboBox>("cmbOrder")->currentData().toInt(), static_cast<int>(c.order));
    QStringList reversed = click(c.column);
    std::reverse(reversed.begin(), reversed.end());
    EXPECT_EQ(reversed, clicked) << c.column;
    EXPECT_NE(header->sortIndicatorOrder(), c.arrow);
    ArrangeAndWait(c.order, QString());
    EXPECT_EQ(clicked, Shown(window_->Rows())) << c.column;
  }
}

TEST_F(ResultsWindowTest, TheContextWidthNarrowsWhatIsShownAndCopied) {
  Open(SmallSet());
  Find<QSpinBox>("spnContext")->setValue(2);
  EXPECT_EQ(window_->Rows().index(1, ResultTableModel::kRight).data().toString(), ", ");
  EXPECT_EQ(window_->Rows().index(5, ResultTableModel::kLeft).data().toString(), "海\t");
  Find<QTableView>("tblResults")->selectRow(5);
  EXPECT_EQ(window_->SelectedRowsAsText(),
            "file\tline\tcount\tleft\tmatch\tright\na.txt\t2\t1\t海\\t\tthe\t e\n");
  Find<QSpinBox>("spnContext")->setValue(kWholeLine);
  EXPECT_EQ(window_->Rows().index(1, ResultTableModel::kRight).data().toString(), ", the sky");
}

TEST_F(ResultsWindowTest, FormsCountTheShownRowsFilterFoldAndShowTheirRows) {
  auto results = SmallSet();
  AddLine(*results, 2, 1, u"The end", {u"The"});
  Open(results);
  ArrangeAndWait(ResultOrder::kReport, QString());
  const QSortFilterProxyModel& forms = window_->Forms();
  const auto table = [&forms] {
    QStringList rows;
    for (int row = 0; row < forms.rowCount(); ++row) {
      QStringList cells;
      for (int column = 0; column < FormsModel::kColumnCount; ++column)
        cells << forms.index(row, column).data().toString();
      rows << cells.join(u' ');
    }
    return rows;
  };
  EXPECT_EQ(table(), (QStringList{"the 4 3 2", "sea 2 2 2", "The 1 1 1"}));
  Find<QCheckBox>("chkFoldCase")->setChecked(true);
  Settle();
  EXPECT_EQ(table(), (QStringList{"the 5 4 3", "sea 2 2 2"}));
  EXPECT_EQ(Find<QLabel>("lblForms")->text(), "2 forms");
  Find<QLineEdit>("edtFormFilter")->setText("SE");
  EXPECT_EQ(table(), (QStringList{"sea 2 2 2"}));
  EXPECT_EQ(Find<QLabel>("lblForms")->text(), "1 of 2 forms");
  auto* restriction = Find<QPushButton>("btnFormFilter");
  EXPECT_FALSE(restriction->isVisible());
  window_->ShowFormRows(0);
  Settle();
  EXPECT_EQ(Shown(window_->Rows()), (QStringList{"the [sea]", "in the 海 [sea]"}));
  // The restriction is a named filter; a second form restricts the whole
  // result to it, not what the first left; one click lifts it.
  EXPECT_TRUE(restriction->isVisible());
  EXPECT_TRUE(restriction->text().contains("sea")) << restriction->text().toStdString();
  EXPECT_EQ(table(), (QStringList{"sea 2 2 2"})) << "the forms are those of every row";
  Find<QLineEdit>("edtFormFilter")->clear();
  window_->ShowFormRows(0);
  Settle();
  EXPECT_EQ(window_->Rows().rowCount(), 5);
  EXPECT_TRUE(restriction->text().contains("the")) << restriction->text().toStdString();
  QTest::mouseClick(restriction, Qt::LeftButton);
  Settle();
  EXPECT_EQ(window_->Rows().rowCount(), 7);
  EXPECT_FALSE(restriction->isVisible());
  // A filter that leaves nothing leaves no forms.
  ArrangeAndWait(ResultOrder::kReport, "nowhere");
  EXPECT_EQ(forms.rowCount(), 0);
}


// Each file's encoding, how it was chosen, and what may have been read
// wrong: the bytes replaced and the NULs, summed in the totals.
TEST_F(ResultsWindowTest, HitsPerFileTellHowEachFileWasRead) {
  auto results = std::make_shared<ResultSet>();
  auto read = [](const char* codeset, TReadChoice choice, std::size_t malformed,
                 std::size_t nuls, const char* detected) {
    TTextReadInfo info;
    info.codeset = codeset;
    info.choice = choice;
    info.malformed = malformed;
    info.nuls = nuls;
    info.detected = detected;
    info.mark = choice == TReadChoice::kMark ? teUtf16LE : teAnsi;
    return info;
  };
  struct Case {
    TTextReadInfo read;
    const char* shown;
    const char* reason;  // in the tool tip
  };
  const Case cases[] = {
      {read("UTF-8", TReadChoice::kUtf8, 0, 0, ""), "UTF-8", "valid UTF-8"},
      {read("UTF-16LE", TReadChoice::kMark, 0, 0, ""), "UTF-16LE (mark)", "byte-order mark"},
      {read("BIG5", TReadChoice::kNamed, 7, 0, ""), "BIG5", "the encoding chosen"},
      {read("GB18030", TReadChoice::kDetected, 0, 2, ""), "GB18030 (detected)", "detector"},
      {read("GB18030", TReadChoice::kFallback, 3, 0, "X-MAC-CYRILLIC"), "GB18030 (fallback)",
       "X-MAC-CYRILLIC"},
      {read("EUC-JP", TReadChoice::kLocale, 0, 0, ""), "EUC-JP (locale)", "locale"},
  };
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    const std::string name = "f" + std::to_string(i) + ".txt";
    results->AddFile(ResultFile{"/c/" + name, name, 10, 0, 0, cases[i].read});
  }
  Open(results);
  const HitsPerFileModel& files = window_->HitsPerFile();
  ASSERT_EQ(files.rowCount(), static_cast<int>(std::size(cases)) + 1);
  auto cell = [&](int row, int column, int role = Qt::DisplayRole) {
    return files.index(row, column).data(role);
  };
  for (int row = 0; row < static_cast<int>(std::size(cases)); ++row) {
    const Case& c = cases[row];
    SCOPED_TRACE(c.shown);
    EXPECT_EQ(cell(row, HitsPerFileModel::kEncoding).toString(), QString::fromUtf8(c.shown));
    EXPECT_TRUE(cell(row, HitsPerFileModel::kEncoding, Qt::ToolTipRole)
                    .toString()
                    .contains(QString::fromUtf8(c.reason)));
    EXPECT_EQ(cell(row, HitsPerFileModel::kReplaced).toULongLong(), c.read.malformed);
    EXPECT_EQ(cell(row, HitsPerFileModel::kNuls).toULongLong(), c.read.nuls);
    // Only what may have been read wrong stands out.
    EXPECT_EQ(cell(row, HitsPerFileModel::kReplaced, Qt::ForegroundRole).isValid(),
              c.read.malformed > 0);
    EXPECT_EQ(cell(row, HitsPerFileModel::kNuls, Qt::ForegroundRole).isValid(), c.read.nuls > 0);
  }
  const int total = static_cast<int>(std::size(cases));
  EXPECT_FALSE(cell(total, HitsPerFileModel::kEncoding).isValid());
  EXPECT_EQ(cell(total, HitsPerFileModel::kReplaced).toULongLong(), 10u);
  EXPECT_EQ(cell(total, HitsPerFileModel::kNuls).toULongLong(), 2u);
  QStringList headers;
  for (int column = 0; column < HitsPerFileModel::kColumnCount; ++column)
    headers << files.headerData(column, Qt::Horizontal, Qt::DisplayRole).toString();
  EXPECT_EQ(headers, (QStringList{"File", "Matching lines", "Matches", "Per 10,000", "Characters",
                                  "Encoding", "Replaced", "NULs"}));
}

// The export buttons, through the save dialog the window was given.
TEST_F(ResultsWindowTest, ExportWritesTheShownRowsWhereTheSaveDialogSays) {
  QTemporaryDir folder;
  Open(SmallSet());
  const auto export_to = [this](const char* button, const QString& answer) {
    save_picker_.answers.push_back(answer);
    QTest::mouseClick(Find<QPushButton>(button), Qt::LeftButton);
    Settle();
  };
  ArrangeAndWait(ResultOrder::kMatch, "sky");
  const QString tsv = folder.filePath("rows.tsv");
  export_to("btnExportTsv", tsv);
  ASSERT_EQ(save_picker_.requests.size(), 1u);
  EXPECT_EQ(save_picker_.requests[0].owner, window_.get());
  EXPECT_EQ(save_picker_.requests[0].suggested_name, "results.tsv");
  const QList<QByteArray> lines = ReadBytes(tsv).split('\n');
  ASSERT_EQ(lines.size(), 5) << ReadBytes(tsv).toStdString();  // head, 3 rows, end
  EXPECT_TRUE(lines[1].endsWith("\tthe \tsea\t, the sky")) << lines[1].toStdString();
  EXPECT_TRUE(lines[2].endsWith("\t\tthe\t sea, the sky")) << lines[2].toStdString();

  ArrangeAndWait(ResultOrder::kReport, QString());
  const QString csv = folder.filePath("rows.csv");
  export_to("btnExportCsv", csv);
  EXPECT_EQ(save_picker_.requests.back().suggested_name, "results.csv");
  const QByteArray bytes = ReadBytes(csv);
  EXPECT_TRUE(bytes.startsWith("\xEF\xBB\xBF"));
  EXPECT_EQ(bytes.count("\r\n"), 7);
  EXPECT_TRUE(bytes.contains("大海")) << "UTF-8 text";
  EXPECT_TRUE(errors_.shown.empty());

  // A cancelled dialog writes nothing.
  export_to("btnExportTsv", QString());
  EXPECT_EQ(QDir(folder.path()).entryList(QDir::Files).size(), 2);

  // A file that cannot be made is an error, and nothing else changes.
  export_to("btnExportCsv", folder.filePath("no/such/folder/rows.csv"));
  ASSERT_EQ(errors_.shown.size(), 1u);
  EXPECT_TRUE(errors_.shown[0].contains("no/such/folder")) << errors_.shown[0].toStdString();
  EXPECT_EQ(window_->Rows().rowCount(), 6);
}

TEST_F(ResultsWindowTest, ACancelledExportLeavesTheOldFile) {
  QTemporaryDir folder;
  const QString path = folder.filePath("rows.tsv");
  WriteFile(path, "old");
  const std::shared_ptr<ResultSet> results = SmallSet();
  ResultView view(*results);
  const std::atomic<bool> cancel{true};
  EXPECT_THROW(WriteTableFile(view, TableFormat::kTsv, path.toStdString(), &cancel), ECancelled);
  EXPECT_EQ(ReadBytes(path), "old");
  WriteTableFile(view, TableFormat::kTsv, path.toStdString());
  EXPECT_EQ(ReadBytes(path).count('\n'), 7);
}

// 100,000 lines of two matches each.
std::shared_ptr<ResultSet> LargeSet() {
  auto results = std::make_shared<ResultSet>();
  results->AddFile(ResultFile{"/c/big.txt", "big.txt", 3'000'000, 100'000, 200'000, {}});
  for (int line = 1; line <= 100'000; ++line) {
    const std::u16string number = QString::number(100'000 - line).toStdU16String();
    AddLine(*results, 0, line, u"sea " + number + u" sea", {u"sea"});
  }
  return results;
}

TEST_F(ResultsWindowTest, TwoHundredThousandRowsOpenScrollAndArrange) {
  Open(LargeSet());
  auto* table = Find<QTableView>("tblResults");
  ASSERT_EQ(window_->Rows().rowCount(), 200'000);
  table->scrollToBottom();
  QCoreApplication::processEvents();
  EXPECT_EQ(table->verticalScrollBar()->value(), table->verticalScrollBar()->maximum());
  const int bottom = table->rowAt(table->viewport()->height() - 2);
  EXPECT_GT(bottom, 199'900);
  EXPECT_EQ(window_->Rows().index(199'999, ResultTableModel::kLine).data().toInt(), 100'000);
  EXPECT_EQ(window_->Rows().index(199'999, ResultTableModel::kLeft).data().toString(), "sea 0 ");

  ArrangeAndWait(ResultOrder::kRight, QString());
  ASSERT_EQ(window_->Rows().rowCount(), 200'000);
  // Second matches have no word on their right and come first; first
  // matches follow by their line's number, compared as text.
  EXPECT_EQ(window_->Rows().index(0, ResultTableModel::kRight).data().toString(), "");
  EXPECT_EQ(window_->Rows().index(100'000, ResultTableModel::kRight).data().toString(), " 0 sea");
  EXPECT_EQ(window_->Rows().index(199'999, ResultTableModel::kRight).data().toString(),
            " 99999 sea");

  // All of them copied: a head and a line per row.
  table->selectAll();
  window_->CopySelection();
  Settle();
  EXPECT_EQ(QApplication::clipboard()->text().count(u'\n'), 200'001);
  EXPECT_TRUE(errors_.shown.empty());
}

// A cancel changes nothing, whether it reaches the work before it has begun
// or after it has finished but before the window has taken what it made;
// the same work not cancelled does change the rows or the clipboard.
TEST_F(ResultsWindowTest, ACancelledArrangementOrCopyChangesNothing) {
  Open(SmallSet());
  const QStringList rows = Shown(window_->Rows());
  enum class Moment { kHeldBeforeItBegins, kFinishedNotYetTaken, kNotCancelled };
  for (const bool copy : {false, true}) {
    for (const Moment moment :
         {Moment::kHeldBeforeItBegins, Moment::kFinishedNotYetTaken, Moment::kNotCancelled}) {
      SCOPED_TRACE(::testing::Message() << (copy ? "copy " : "arrange ") << static_cast<int>(moment));
      QApplication::clipboard()->setText("before");
      const int ended = tasks_.Ended();
      if (moment == Moment::kHeldBeforeItBegins) tasks_.Close();
      if (copy) {
        Find<QTableView>("tblResults")->selectRow(1);
        window_->CopySelection();
      } else {
        window_->Arrange(ResultOrder::kMatch, "sky");
      }
      ASSERT_TRUE(window_->IsBusy());
      if (moment == Moment::kFinishedNotYetTaken) tasks_.WaitUntilEnded(ended + 1);
      if (moment != Moment::kNotCancelled) window_->CancelTask();
      tasks_.Open();
      Settle();
      const bool changed = moment == Moment::kNotCancelled;
      EXPECT_EQ(QApplication::clipboard()->text() != "before", changed && copy);
      EXPECT_EQ(Shown(window_->Rows()) != rows, changed && !copy);
      if (changed && !copy) ArrangeAndWait(ResultOrder::kReport, QString());
      ASSERT_EQ(Shown(window_->Rows()), rows);
    }
  }
  EXPECT_TRUE(errors_.shown.empty());
}

// Closing the window (as a new search does when it shows its own) while
// work is held stops the work, which then changes nothing.
TEST_F(ResultsWindowTest, ClosingTheWindowDuringWorkStopsItAndChangesNothing) {
  for (const bool copy : {false, true}) {
    Open(SmallSet());
    QApplication::clipboard()->setText("before");
    tasks_.Close();
    if (copy) {
      Find<QTableView>("tblResults")->selectAll();
      window_->CopySelection();
    } else {
      window_->Arrange(ResultOrder::kMatch, QString());
    }
    ASSERT_TRUE(window_->IsBusy());
    const int ended = tasks_.Ended();
    window_.reset();
    EXPECT_EQ(tasks_.Ended(), ended + 1) << "the work ended with the window";
    tasks_.Open();
    QCoreApplication::processEvents();
    EXPECT_EQ(QApplication::clipboard()->text(), "before");
  }
  EXPECT_TRUE(errors_.shown.empty());
}

class LineViewerTest : public ResultsWindowTest {
 protected:
  void SetUp() override { ASSERT_TRUE(folder_.isValid()); }
  QTemporaryDir folder_;
};

TEST_F(LineViewerTest, ShowsTheLineInItsFileDecodedWithItsMatchesMarked) {
  // GB18030 without a mark: 第一行 / "  大海 the end  " / last.
  const QString path = folder_.filePath("gb.txt");
  WriteFile(path, "\xB5\xDA\xD2\xBB\xD0\xD0\r\n  \xB4\xF3\xBA\xA3 the end  \r\nlast\r\n");
  auto results = std::make_shared<ResultSet>();
  TTextReadInfo read;  // as the search read it
  read.codeset = "GB18030";
  read.choice = TReadChoice::kDetected;
  results->AddFile(ResultFile{path.toStdString(), "gb.txt", 20, 0, 0, read});
  AddLine(*results, 0, 2, u"大海 the end", {u"the"});
  Open(results);
  window_->OpenLine(0);
  Settle();  // read off the window's thread
  TLineViewer* viewer = window_->Viewer();
  ASSERT_NE(viewer, nullptr) << (errors_.shown.empty() ? "" : errors_.shown[0].toStdString());
  auto* text = viewer->findChild<QPlainTextEdit*>("edtText");
  ASSERT_NE(text, nullptr);
  EXPECT_TRUE(text->isReadOnly());
  EXPECT_EQ(text->toPlainText(), "第一行\n  大海 the end  \nlast");
  EXPECT_EQ(text->textCursor().blockNumber(), 1);
  const QList<QTextEdit::ExtraSelection> marks = text->extraSelections();
  ASSERT_EQ(marks.size(), 2);
  EXPECT_EQ(marks[0].cursor.blockNumber(), 1);  // the line
  EXPECT_EQ(marks[1].cursor.selectedText(), "the");
  EXPECT_TRUE(viewer->windowTitle().contains("gb.txt"));
  EXPECT_GT(viewer->findChild<QWidget*>("lineNumbers")->width(), 0);
  viewer->close();
}

// The match clicked is marked apart; Next and Previous move that mark along
// the matches of the lines shown, from line to line, round at either end.
TEST_F(LineViewerTest, MarksTheClickedMatchApartAndStepsThroughTheOthers) {
  const QString path = folder_.filePath("three.txt");
  WriteFile(path, "before\nthe sea and the sky and the end\nafter the rain\n");
  auto results = std::make_shared<ResultSet>();
  results->AddFile(ResultFile{path.toStdString(), "three.txt", 40, 0, 0, {}});
  AddLine(*results, 0, 2, u"the sea and the sky and the end", {u"the"});
  AddLine(*results, 0, 3, u"after the rain", {u"the"});
  Open(results);
  window_->OpenLine(1);
  Settle();
  TLineViewer* viewer = window_->Viewer();
  ASSERT_NE(viewer, nullptr);
  auto* text = viewer->findChild<QPlainTextEdit*>("edtText");
  const auto current = [text] {
    QStringList underlined;
    for (const QTextEdit::ExtraSelection& mark : text->extraSelections()) {
      if (mark.format.fontUnderline())
        underlined << QString::number(mark.cursor.selectionStart());
    }
    return underlined;
  };
  EXPECT_EQ(viewer->CurrentMatch(), 1);
  EXPECT_EQ(current(), QStringList{"19"});  // "before\n" then "the sea and "
  const auto click = [viewer](const char* button) {
    QTest::mouseClick(viewer->findChild<QPushButton*>(button), Qt::LeftButton);
  };
  click("btnNextHit");
  EXPECT_EQ(current(), QStringList{"31"});
  click("btnNextHit");  // the next line's
  EXPECT_EQ(current(), QStringList{"45"});
  click("btnNextHit");
  EXPECT_EQ(current(), QStringList{"7"});
  click("btnPreviousHit");
  EXPECT_EQ(current(), QStringList{"45"});
  viewer->close();
}

TEST_F(LineViewerTest, ALineTheFileNoLongerHasIsAnError) {
  const QString path = folder_.filePath("short.txt");
  WriteFile(path, "one line\n");
  auto results = std::make_shared<ResultSet>();
  results->AddFile(ResultFile{path.toStdString(), "short.txt", 8, 0, 0, {}});
  AddLine(*results, 0, 7, u"the line", {u"the"});
  results->AddFile(ResultFile{folder_.filePath("gone.txt").toStdString(), "gone.txt", 8, 0, 0, {}});
  AddLine(*results, 1, 1, u"the line", {u"the"});
  Open(results);
  for (const int row : {0, 1}) {
    window_->OpenLine(row);
    Settle();
    EXPECT_EQ(window_->Viewer(), nullptr) << row;
  }
  ASSERT_EQ(errors_.shown.size(), 2u);
  EXPECT_TRUE(errors_.shown[0].contains("7")) << errors_.shown[0].toStdString();
  EXPECT_TRUE(errors_.shown[1].contains("gone.txt")) << errors_.shown[1].toStdString();
}

}  // namespace
}  // namespace tallyfold::testing
