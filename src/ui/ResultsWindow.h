// TResultsWindow: what a search kept (app/ResultSet.h), looked at in the
// program instead of, or besides, the report.
//
// One match per row, keyword in context: the text left of the match (right
// aligned, cut on the left), the match, the text right of it, the file, the
// line and the line's count. An order box (report order, file and line,
// match, left and right neighbour), the column heads and a filter box
// arrange the rows through
// ResultView::Arrange (app/ResultView.h) as a BackgroundTask
// (app/BackgroundTask.h), so that a million rows are arranged while the
// window goes on painting; a progress bar with Cancel shows meanwhile, and
// the table keeps the rows it had until the new ones are ready. Ctrl+C
// copies the selected rows as a TSV table; the two export buttons ask the
// SaveFilePicker (ui/Services.h) where to, and write the shown rows there as
// a CSV or TSV file, in the background too (both tables are WriteTable's). A
// second tab, "Hits per file", lists every file searched with its matching
// lines, matches and characters, the encoding it was read in and the bytes
// replaced and NULs it held, totals last, sortable by any column, copied
// and exported in the order shown. A third,
// "Forms", lists each distinct match of the shown rows with its counts
// (app/MatchForms.h), sortable, filterable, exportable, with ASCII case
// folded on request; double-clicking a form shows its rows. A context width
// (characters each side) narrows the rows shown, copied and exported.
// Double-clicking a row opens the
// line in its file (TLineViewer), read as the search read it
// (app/LineInFile.h).
//
//   auto* window = new tallyfold::TResultsWindow(stats.results, save_picker, errors);
//   window->show();
//   window->Arrange(tallyfold::ResultOrder::kMatch, u"sea"_s);
//
// The table asks the view for the rows it paints only, so it opens a
// million rows at once. Errors (a file that cannot be written or read) go
// to the ErrorDisplay.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include <QAbstractTableModel>
#include <QDialog>
#include <QString>
#include <QWidget>

#include "app/BackgroundTask.h"
#include "app/LineInFile.h"
#include "app/MatchForms.h"
#include "app/ResultSet.h"
#include "app/ResultView.h"
#include "text/TextFile.h"

class QCheckBox;
class QComboBox;
class QSortFilterProxyModel;
class QSpinBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QTabWidget;
class QTableView;
class QTimer;

namespace tallyfold {

class ErrorDisplay;
class SaveFilePicker;

// The rows of a ResultView as a table; data() reads only the row asked for.
class ResultTableModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  enum Column { kLeft, kMatch, kRight, kFile, kLine, kCount, kColumnCount };
  // The most code units of context shown beside a match; the rest of a long
  // line is in the row's tool tip and in what is copied.
  static constexpr int kShownContext = 160;

  explicit ResultTableModel(QObject* parent = nullptr) : QAbstractTableModel(parent) {}

  // Shows `view` (over `results`, which it keeps alive).
  void SetView(std::shared_ptr<const ResultSet> results, std::shared_ptr<const ResultView> view);
  const std::shared_ptr<const ResultView>& View() const { return view_; }
  // The characters shown each side of a match (WithContext in
  // app/TablePrinter.h); kWholeLine at first.
  void SetContext(int context);
  int Context() const { return context_; }

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

 private:
  std::shared_ptr<const ResultSet> results_;
  std::shared_ptr<const ResultView> view_;
  std::vector<QString> file_names_;  // shown names, decoded once
  int context_ = kWholeLine;
};

// The forms of the shown rows (CountForms in app/MatchForms.h): form,
// matches, lines, files. Numbers are numbers to a sorting proxy.
class FormsModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  enum Column { kForm, kMatches, kLines, kFiles, kColumnCount };

  explicit FormsModel(QObject* parent = nullptr) : QAbstractTableModel(parent) {}
  void SetForms(std::shared_ptr<const std::vector<MatchForm>> forms);
  const std::shared_ptr<const std::vector<MatchForm>>& Forms() const { return forms_; }

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

 private:
  std::shared_ptr<const std::vector<MatchForm>> forms_;
};

// One row per file searched (file, matching lines, matches, matches per
// 10,000 characters, characters,
// the encoding it was read in and how that was chosen, the byte sequences
// read as U+FFFD, the NULs), then a row of totals.
class HitsPerFileModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  enum Column {
    kFile, kLines, kMatches, kPerTenThousand, kCharacters, kEncoding, kReplaced, kNuls,
    kColumnCount
  };

  explicit HitsPerFileModel(QObject* parent = nullptr) : QAbstractTableModel(parent) {}
  void SetResults(std::shared_ptr<const ResultSet> results);

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

  // The encoding column: the character set, and how it was chosen when that
  // was not by the user or by the text being UTF-8 ("GB18030 (detected)").
  static QString EncodingText(const TTextReadInfo& read);
  // Its tool tip: why the file was read in that set.
  static QString EncodingReason(const TTextReadInfo& read);

 private:
  std::shared_ptr<const ResultSet> results_;
  ResultFile totals_;
};

// A read-only view of a line in its file (ReadLineInContext in
// app/LineInFile.h) with the file's line numbers beside it: the line marked
// and centred, with the lines around it above and below, its matches
// highlighted and the current one (at first the one clicked) marked apart;
// Next and Previous move the current mark along the matches of the search's
// lines in the text shown, from line to line.
class TLineViewer : public QDialog {
  Q_OBJECT

 public:
  static constexpr int kLinesAround = 2000;

  // `clicked`: the index among the line's matches of the match to mark
  // apart.
  TLineViewer(const QString& caption, const LineInContext& context, int clicked,
              QWidget* parent);

  int CurrentMatch() const { return current_; }
  void ShowMatch(int index);  // wraps around at either end

 private:
  void Mark();

  QPlainTextEdit* edtText;
  QPushButton* btnPreviousHit;
  QPushButton* btnNextHit;
  LineInContext context_;
  int current_ = 0;
};

class TResultsWindow : public QWidget {
  Q_OBJECT

 public:
  // A dialog of the main window, so that the window manager keeps it above
  // its owner, which stays on top; with the buttons of a main window.
  static constexpr Qt::WindowFlags kWindowFlags{Qt::Dialog | Qt::WindowMinMaxButtonsHint |
                                                Qt::WindowCloseButtonHint};

  // Arranging, copying and exporting run as tasks `tasks` starts.
  TResultsWindow(std::shared_ptr<const ResultSet> results, SaveFilePicker& save_picker,
                 ErrorDisplay& errors, TaskStarter& tasks, QWidget* parent = nullptr);
  ~TResultsWindow() override;

  // Shows the rows whose line contains `filter`, in `order`, once they are
  // arranged; a request while another runs cancels that one.
  void Arrange(ResultOrder order, const QString& filter);
  // True while rows are being arranged or a table written.
  bool IsBusy() const { return task_ != nullptr; }
  // Stops what runs; the table keeps the rows it shows and the clipboard
  // what it holds, even when the work had just finished.
  void CancelTask();

  const ResultTableModel& Rows() const { return *rows_model_; }
  const HitsPerFileModel& HitsPerFile() const { return *files_model_; }
  // The forms of the shown rows, as the Forms tab sorts and filters them.
  const QSortFilterProxyModel& Forms() const { return *forms_proxy_; }

  // The selected rows, in the order shown, as a TSV table (WriteTable in
  // app/ResultView.h: a head row, then the rows, with the context width
  // shown); Ctrl+C puts them on the clipboard, made in the background with
  // progress and Cancel: a cancelled copy leaves the clipboard as it was.
  QString SelectedRowsAsText() const;
  void CopySelection();

  // Shows the rows of the form in row `row` of the Forms tab (as sorted and
  // filtered there) on the Matches tab.
  void ShowFormRows(int row);
  // Writes the forms shown to `path` as TSV (WriteFormsFile).
  void ExportForms(const QString& path);

  // The hits per file in the order the tab shows them, totals left out
  // (WriteHitsPerFile in app/ResultView.h): TSV for the clipboard (Ctrl+C
  // on the tab), TSV or CSV (a path ending in .csv) for a file.
  QString HitsPerFileAsText() const;
  void ExportHitsPerFile(const QString& path);

  // Writes the shown rows to `path` in the background (the export buttons
  // ask the SaveFilePicker for the path first).
  void Export(TableFormat format, const QString& path);

  // Opens the viewer on the line of `row`; nullptr when the file cannot be
  // read (the error has been shown).
  TLineViewer* OpenLine(int row);

 signals:
  // A background task ended (done or not).
  void taskEnded();

 private:
  struct Task;

  void CreateControls();
  void StartTask(const QString& what, BackgroundTask::Work work, std::function<void()> done);
  void EndTask();
  void ArrangeFromControls();
  void ChooseExport(TableFormat format);
  void ShowRowCount();
  void SortByColumn(int column);
  std::vector<std::size_t> SelectedRows() const;
  void ShowView(std::shared_ptr<const ResultView> view);
  std::vector<int> ShownFiles() const;

  QTabWidget* tabResults;
  QComboBox* cmbOrder;
  QLineEdit* edtFilter;
  QLabel* lblRows;
  QTableView* tblResults;
  QTableView* tblFiles;
  QTableView* tblForms;
  QLineEdit* edtFormFilter;
  QCheckBox* chkFoldCase;
  QPushButton* btnExportForms;
  QPushButton* btnExportFiles;
  QSpinBox* spnContext;
  QPushButton* btnExportCsv;
  QPushButton* btnExportTsv;
  QProgressBar* pbrTask;
  QLabel* lblTask;
  QPushButton* btnCancel;
  QTimer* filter_delay_;  // arranges once typing pauses
  QTimer* progress_poll_;

  std::shared_ptr<const ResultSet> results_;
  SaveFilePicker& save_picker_;
  ErrorDisplay& errors_;
  TaskStarter& tasks_;
  ResultTableModel* rows_model_;
  HitsPerFileModel* files_model_;
  FormsModel* forms_model_;
  QSortFilterProxyModel* forms_proxy_;
  QSortFilterProxyModel* files_proxy_;
  std::unique_ptr<Task> task_;  // the task running, if any
  // An arrangement asked for while a task ran: started when it ends.
  std::optional<std::pair<ResultOrder, QString>> pending_;
};

}  // namespace tallyfold
