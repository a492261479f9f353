// TForm1: the program's one window.
//
// A box for the regular expression, a button that chooses the corpus folder,
// the case and word-boundary boxes and the Search button (检索). Search is
// enabled while the trimmed pattern and the folder are both non-empty. A
// click runs the search command (app/SearchCommand.h) on a thread of its own,
// which writes result.htm, and result.css when missing, into the report
// folder (SetReportFolder; the program uses UserReportFolder(), see
// ui/Services.h); the window then asks the desktop to open the report. The
// window itself holds no search logic. While the search runs the window takes no input; a search that
// takes longer than half a second shows a progress dialog whose Cancel stops
// it, writes no report and shows no error (ui/SearchProgress.h).
//
//   tallyfold::QtFolderPicker picker;
//   tallyfold::QtSaveFilePicker save_picker;   // for the results window's exports
//   tallyfold::QtDesktopOpener opener;
//   tallyfold::QtErrorDisplay errors(tallyfold::ApplicationTitle());
//   tallyfold::TForm1 form(picker, save_picker, opener, errors);
//   form.show();
//
// An error that ends a search (a pattern that does not compile, a corpus file
// that cannot be read, a report that cannot be written) goes to the
// ErrorDisplay; the window stays usable and the next search starts afresh.
// What else a search needs the user to know goes into one note that waits
// for no answer (ui/SearchNote.h), replaced by the next search's: how the
// corpus files were read (legacy encodings, replaced bytes, NULs), where
// the pattern as typed cannot match (the added \b beside a character such
// as 的, an anchor before the space each line is searched with), both as
// app/SearchNotes.h finds them, and a report the desktop's opener failed to
// open, with the report's full path.
//
// The reading settings that differ from the defaults (an encoding other
// than Automatic, a fallback other than kDefaultFallbackEncoding,
// sub-folders) are shown in a small label in the window's free lower-left
// corner (kReadingLabelArea).
// Every window and dialog the window opens belongs to it, so that the
// window manager keeps them above it although it stays on top.
//
// The window remembers, in the user's settings file (ui/Settings.h), the
// last folder (shown at start, and where the folder dialog opens), the two
// boxes, the last 20 patterns searched for, and two settings its context
// menu holds (a right-click anywhere on the window but the pattern box):
// "Encoding of files without a mark", "Include sub-folders" and "After a
// search": open the report (the default), show the results window
// (ui/ResultsWindow.h) without writing a report, or both. When a search
// that only opens the report has more than
// AfterSearchPolicy::kOfferResultsAbove matching lines, the window asks
// whether to show them in the results window instead. What follows a search
// is app/AfterSearchPolicy.h's to say; every search keeps its results, so a
// yes shows them without searching again. The pattern box still starts
// empty; its history pops up below it as a pattern is typed, and its own
// context menu lists it under "Recent patterns".
#pragma once

#include <memory>
#include <string>

#include <QPointer>
#include <QRect>
#include <QWidget>

#include "app/BackgroundTask.h"
#include "ui/Components.h"
#include "ui/Settings.h"

class QAction;
class QActionGroup;
class QCheckBox;
class QCompleter;
class QContextMenuEvent;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QStringListModel;

namespace tallyfold {

class ResultSet;
class SaveFilePicker;
class TResultsWindow;
class TSearchNote;
class DesktopOpener;
class ErrorDisplay;
class FolderPicker;
enum class SearchEnd;
struct SearchLists;
struct SearchOptions;
struct SearchStats;

// "检索工具": the name of the program's task-bar entry and the caption of
// its error boxes.
QString ApplicationTitle();

// The window caption: product name, version and slogan.
QString WindowCaption();

// Names the running QApplication for the desktop: its name, version, desktop
// entry (which carries the application title to the task bar) and icon.
// Qt's display name stays unset, because Qt would append it to every window
// caption.
void ConfigureApplication();

class TForm1 : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kClientWidth = 448;
  static constexpr int kClientHeight = 77;

  // `save_picker` chooses where the results window exports to.
  TForm1(FolderPicker& folder_picker, SaveFilePicker& save_picker, DesktopOpener& opener,
         ErrorDisplay& errors, QWidget* parent = nullptr);
  ~TForm1() override;

  // Searches and the results window's work are started by `tasks` from now
  // on; by default each runs on a thread of its own.
  void SetTaskStarter(TaskStarter& tasks) { tasks_ = &tasks; }

  // The folder the next search scans, as the folder picker gave it.
  const std::string& Folder() const { return folder_; }

  // Where searches write result.htm (and result.css beside it). Empty, the
  // default, is the working folder of the moment. A folder that does not
  // exist is made, with its parents, here and again before each search.
  void SetReportFolder(const QString& folder);
  // The absolute path of the report the next search writes.
  QString ReportPath() const;

  // The results window of the last search that showed one, while it is open.
  TResultsWindow* ResultsWindow() const;
  // The note of the last search, while it is open.
  TSearchNote* Note() const;

  // Where the reading settings are shown: below the check boxes, left of
  // the forum link.
  static constexpr QRect kReadingLabelArea{12, 57, 122, 13};
  // The reading settings of `settings` that differ from the defaults, in a
  // few words; empty with the defaults.
  static QString ReadingSettingsText(const WindowSettings& settings);

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;

 private:
  // Moves and sizes `window` to lie beside this one on its screen.
  void PlaceBesideThisWindow(QWidget& window) const;
  void FormCreate();
  void FormShow();
  void FormClose();
  void edtInputChange();
  void btnDirClick();
  void btnSearchClick();

  void CreateControls();
  void CreateMenus();
  void ApplySettings();
  void StoreSettings();
  void ShowHistory();
  void ShowReadingSettings();
  void AddToNote(const QStringList& sections);
  void edtInputContextMenu(const QPoint& position);
  void ApplyEnablingRule();
  SearchEnd SearchAndWait(const SearchOptions& options, SearchStats& stats);
  bool OfferResults(int matching_lines);
  void OpenReport();
  void ShowResults(std::shared_ptr<const ResultSet> results);
  void SetFolder(const std::string& folder);
  void ShowError(const char* message);

  QPushButton* btnSearch;
  QLineEdit* edtInput;
  QPushButton* btnDir;
  QCheckBox* cbxCase;
  QCheckBox* cbxBorder;
  QLabel* lblFolder;
  TUrlLabel* UrlLabel1;
  QLabel* Label1;
  QLabel* lblReading;  // the reading settings, when not the defaults
  TSelectFolderDialog SelectFolderDialog1;
  QMenu* mnuForm;     // the window's context menu: encoding, sub-folders
  QMenu* mnuHistory;  // "Recent patterns", in the pattern box's menu
  QActionGroup* grpEncoding;
  QActionGroup* grpFallback;
  QAction* actRecursive;
  QActionGroup* grpAfterSearch;
  QStringListModel* history_model_;  // what the pattern box's completer offers

  SaveFilePicker& save_picker_;
  DesktopOpener& opener_;
  ErrorDisplay& errors_;
  TaskStarter own_tasks_;
  TaskStarter* tasks_ = &own_tasks_;
  std::unique_ptr<SearchLists> lists_;  // the report, match and summary lists
  std::string folder_;                  // lblFolder's text as a byte string
  WindowSettings settings_;             // as last read or stored
  bool settings_applied_ = false;       // changes from here on are stored
  QString report_folder_;               // absolute; empty: the working folder
  bool centred_ = false;                // placed on the screen once
  BackgroundTask* running_search_ = nullptr;  // the search under way, if any
  bool close_requested_ = false;        // closing waits for the search's end
  QPointer<TResultsWindow> results_window_;  // deleted when closed
  QPointer<TSearchNote> note_;               // deleted when closed
  int search_serial_ = 0;                    // counts the searches started
};

}  // namespace tallyfold
