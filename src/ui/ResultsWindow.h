// TResultsWindow: what a search kept (app/ResultSet.h), looked at in the
// program instead of, or besides, the report.
//
// The window is the Qt face of a ResultsController (app/ResultsController.h),
// which holds the state and does the work; the window passes it the user's
// input and shows its answers through the models of ui/ResultModels.h.
//
// Three tabs. "Matches": one match per row, keyword in context (the text
// left of the match, right aligned and cut on the left, the match, the text
// right of it, the file, the line and the line's count). An order box, the
// column heads (a second click reverses, an arrow shows the order) and a
// filter box arrange the rows in the background, with a progress bar and
// Cancel meanwhile; the table keeps the rows it had until the new ones are
// ready. A form chosen on the Forms tab restricts the rows to it, shown as
// a named filter above the table that one click removes. Ctrl+C copies the
// selected rows as a TSV table; the export buttons ask the SaveFilePicker
// (ui/Services.h) where to and write the shown rows there as CSV or TSV. A
// context width (characters each side) narrows the rows shown, copied and
// exported. "Hits per file": every file searched with its matching lines,
// matches, rate and characters, the encoding it was read in, the bytes
// replaced and NULs, totals last, sortable, copied and exported in the
// order shown with the totals. "Forms": each distinct match of the rows
// with its counts, how many there are, sortable, filterable, exportable,
// with ASCII case folded on request; double-clicking one restricts the
// rows to it. Double-clicking a row opens the line in its file
// (ui/LineViewer.h), read off the window's thread.
//
//   auto* window = new tallyfold::TResultsWindow(stats.results, save_picker, errors, tasks);
//   window->show();
//   window->Arrange(tallyfold::ResultOrder::kMatch, u"sea"_s);
//
// Errors (a file that cannot be written or read) go to the ErrorDisplay.
#pragma once

#include <memory>
#include <vector>

#include <QPointer>
#include <QString>
#include <QWidget>

#include "app/BackgroundTask.h"
#include "app/ResultsController.h"
#include "ui/LineViewer.h"
#include "ui/ResultModels.h"

class QCheckBox;
class QComboBox;
class QSortFilterProxyModel;
class QSpinBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QTabWidget;
class QTableView;
class QTimer;

namespace tallyfold {

class ErrorDisplay;
class SaveFilePicker;

class TResultsWindow : public QWidget {
  Q_OBJECT

 public:
  // A dialog of the main window, so that the window manager keeps it above
  // its owner, which stays on top; with the buttons of a main window.
  static constexpr Qt::WindowFlags kWindowFlags{Qt::Dialog | Qt::WindowMinMaxButtonsHint |
                                                Qt::WindowCloseButtonHint};

  // Arranging, copying, exporting and reading a line run as tasks `tasks`
  // starts.
  TResultsWindow(std::shared_ptr<const ResultSet> results, SaveFilePicker& save_picker,
                 ErrorDisplay& errors, TaskStarter& tasks, QWidget* parent = nullptr);
  ~TResultsWindow() override;

  const ResultsController& Controller() const { return controller_; }

  // Shows the rows whose line contains `filter`, in `order`, once they are
  // arranged; a request while another runs cancels that one.
  void Arrange(ResultOrder order, const QString& filter);
  // True while work runs.
  bool IsBusy() const { return controller_.Busy() != ResultsController::Work::kNone; }
  // Stops what runs; the table keeps the rows it shows and the clipboard
  // what it holds, even when the work had just finished.
  void CancelTask();

  const ResultTableModel& Rows() const { return *rows_model_; }
  const HitsPerFileModel& HitsPerFile() const { return *files_model_; }
  // The forms of the rows, as the Forms tab sorts and filters them.
  const QSortFilterProxyModel& Forms() const { return *forms_proxy_; }

  // The selected rows, in the order shown, as a TSV table (WriteTable in
  // app/ResultView.h); Ctrl+C puts them on the clipboard, made in the
  // background with progress and Cancel.
  QString SelectedRowsAsText() const;
  void CopySelection();

  // Restricts the rows to the form in row `row` of the Forms tab (as sorted
  // and filtered there) and shows the Matches tab; the restriction is shown
  // as a filter that RemoveFormRestriction (or its button) lifts.
  void ShowFormRows(int row);
  void RemoveFormRestriction();
  // Writes the forms shown to `path` as TSV (WriteFormsFile).
  void ExportForms(const QString& path);

  // The hits per file in the order the tab shows them, then the totals:
  // TSV for the clipboard (Ctrl+C on the tab), TSV or CSV (a path ending
  // in .csv) for a file.
  QString HitsPerFileAsText() const;
  void ExportHitsPerFile(const QString& path);

  // Writes the shown rows to `path` in the background.
  void Export(TableFormat format, const QString& path);

  // Reads the line of `row` in the background and opens the viewer on it,
  // or shows why it could not be read.
  void OpenLine(int row);
  // The viewer opened last, while it is open.
  TLineViewer* Viewer() const { return viewer_.data(); }

 signals:
  // Background work ended (done or not).
  void taskEnded();

 private:
  void CreateControls();
  void ConnectControls();
  void ShowState();
  void ShowBusy();
  void ShowRowCount();
  void ShowFormCount();
  void ChooseExport(TableFormat format);
  void SortByColumn(int column);
  void ShowLine(const OpenedLine& opened);
  std::vector<std::size_t> SelectedRows() const;
  std::vector<int> ShownFiles() const;

  QTabWidget* tabResults;
  QComboBox* cmbOrder;
  QLineEdit* edtFilter;
  QPushButton* btnFormFilter;  // the form restriction; a click removes it
  QLabel* lblRows;
  QTableView* tblResults;
  QTableView* tblFiles;
  QTableView* tblForms;
  QLineEdit* edtFormFilter;
  QLabel* lblForms;
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
  QTimer* progress_poll_;  // the progress bar's percent

  std::shared_ptr<const ResultSet> results_;
  SaveFilePicker& save_picker_;
  ErrorDisplay& errors_;
  ResultsController controller_;
  ResultTableModel* rows_model_;
  HitsPerFileModel* files_model_;
  FormsModel* forms_model_;
  QSortFilterProxyModel* forms_proxy_;
  QSortFilterProxyModel* files_proxy_;
  QPointer<TLineViewer> viewer_;
};

}  // namespace tallyfold
