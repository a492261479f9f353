// The main window (Unit1.h): its controls, the enabling rule, the folder
// choice and the hand-over to the search command.
#include "ui/Unit1.h"

#include <algorithm>
#include <exception>
#include <limits>

#include <QActionGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QCompleter>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QSettings>
#include <QStringListModel>
#include <QStyle>

#include "app/AfterSearchPolicy.h"
#include "app/BackgroundTask.h"
#include "app/SearchCommand.h"
#include "ui/AppIcon.h"
#include "ui/ResultsWindow.h"
#include "app/ResultsController.h"
#include "ui/SearchNote.h"
#include "ui/SearchProgress.h"
#include "ui/Services.h"
#include "ui/NativePath.h"

namespace tallyfold {
namespace {

// The product's forum, and the credit line: author's address, release date.
const QString kForumHost = QStringLiteral("norrow.test");
const QString kForumUrl = QStringLiteral("http://norrow.test/bbs/");
const QString kCredit = QStringLiteral("作者 tallyfold@norrow.test  2011-4-12");

// Tahoma 8 pt (11 pixels high) as the window was designed; where Tahoma is
// missing, the desktop's own sans-serif at the same pixel size keeps the
// texts inside their fixed boxes.
QFont WindowFont() {
  QFont font = QFontDatabase::hasFamily(QStringLiteral("Tahoma"))
                   ? QFont(QStringLiteral("Tahoma"))
                   : QFontDatabase::systemFont(QFontDatabase::GeneralFont);
  font.setStyleHint(QFont::SansSerif);
  font.setPixelSize(11);
  return font;
}

}  // namespace

QString ApplicationTitle() { return QStringLiteral("检索工具"); }

QString WindowCaption() {
  return QStringLiteral("Norrow Tallyfold 1.0 — every match counted");
}

void ConfigureApplication() {
  QCoreApplication::setApplicationName(QStringLiteral("tallyfold"));
  QCoreApplication::setApplicationVersion(QStringLiteral("1.0"));
  QGuiApplication::setDesktopFileName(QStringLiteral("tallyfold"));
  QGuiApplication::setWindowIcon(AppIcon());
}

TForm1::TForm1(FolderPicker& folder_picker, SaveFilePicker& save_picker, DesktopOpener& opener,
               ErrorDisplay& errors, QWidget* parent)
    : QWidget(parent),
      SelectFolderDialog1(folder_picker),
      save_picker_(save_picker),
      opener_(opener),
      errors_(errors) {
  setObjectName(QStringLiteral("Form1"));
  // A fixed dialog-style frame: a title and a close box, no minimise or
  // maximise box, above every other window so the report opened in a
  // browser does not bury it.
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                 Qt::WindowStaysOnTopHint | Qt::MSWindowsFixedSizeDialogHint);
  setFixedSize(kClientWidth, kClientHeight);
  setWindowTitle(WindowCaption());
  setWindowIcon(AppIcon());
  setFont(WindowFont());
  CreateControls();
  FormCreate();
}

TForm1::~TForm1() = default;

void TForm1::CreateControls() {
  btnSearch = new QPushButton(QStringLiteral("检索"), this);
  btnSearch->setObjectName(QStringLiteral("btnSearch"));
  btnSearch->setGeometry(304, 8, 56, 21);
  btnSearch->setEnabled(false);

  edtInput = new QLineEdit(this);
  edtInput->setObjectName(QStringLiteral("edtInput"));
  edtInput->setGeometry(12, 8, 281, 21);
  // QLineEdit cuts text at 32,767 characters by default, silently, pasted
  // text included; a pattern is as long as the user makes it.
  edtInput->setMaxLength(std::numeric_limits<int>::max());

  btnDir = new QPushButton(QStringLiteral("选择目录"), this);
  btnDir->setObjectName(QStringLiteral("btnDir"));
  btnDir->setGeometry(367, 8, 69, 21);

  cbxCase = new QCheckBox(QStringLiteral(" case"), this);
  cbxCase->setObjectName(QStringLiteral("cbxCase"));
  cbxCase->setGeometry(16, 31, 46, 17);

  cbxBorder = new QCheckBox(QStringLiteral(" add \\b"), this);
  cbxBorder->setObjectName(QStringLiteral("cbxBorder"));
  cbxBorder->setGeometry(66, 31, 54, 17);
  cbxBorder->setChecked(true);
  // The texts bring their own leading space, and the boxes are as narrow as
  // the classic 13-pixel check mark: the style's wider mark and spacing
  // would push the texts out of their boxes.
  for (QCheckBox* box : {cbxCase, cbxBorder}) {
    box->setStyleSheet(QStringLiteral(
        "QCheckBox { spacing: 0px; } QCheckBox::indicator { width: 13px; height: 13px; }"));
  }

  // Folder names and the fixed texts are shown as they are, never as markup.
  lblFolder = new QLabel(this);
  lblFolder->setObjectName(QStringLiteral("lblFolder"));
  lblFolder->setTextFormat(Qt::PlainText);
  lblFolder->move(128, 33);

  UrlLabel1 = new TUrlLabel(opener_, this);
  UrlLabel1->setObjectName(QStringLiteral("UrlLabel1"));
  UrlLabel1->setTextFormat(Qt::PlainText);
  UrlLabel1->setText(kForumHost);
  UrlLabel1->SetUrl(kForumUrl);
  UrlLabel1->setGeometry(137, 57, 76, 13);

  Label1 = new QLabel(kCredit, this);
  Label1->setObjectName(QStringLiteral("Label1"));
  Label1->setTextFormat(Qt::PlainText);
  Label1->setGeometry(228, 57, 209, 13);

  // The reading settings that differ from the defaults, in the free corner
  // below the check boxes and left of the forum link, so that an encoding
  // chosen some other day is not forgotten. Empty, and hidden, with the
  // defaults.
  lblReading = new QLabel(this);
  lblReading->setObjectName(QStringLiteral("lblReading"));
  lblReading->setTextFormat(Qt::PlainText);
  lblReading->setGeometry(kReadingLabelArea);
  lblReading->hide();

  // Buttons outside a dialog are never default buttons, so Enter and Escape
  // in the pattern box start or cancel nothing.
  setTabOrder(btnSearch, edtInput);
  setTabOrder(edtInput, btnDir);
  setTabOrder(btnDir, cbxCase);
  setTabOrder(cbxCase, cbxBorder);

  connect(edtInput, &QLineEdit::textChanged, this, &TForm1::edtInputChange);
  connect(btnDir, &QPushButton::clicked, this, &TForm1::btnDirClick);
  connect(btnSearch, &QPushButton::clicked, this, &TForm1::btnSearchClick);
  for (QCheckBox* box : {cbxCase, cbxBorder})
    connect(box, &QCheckBox::toggled, this, &TForm1::StoreSettings);
  CreateMenus();
}

// The window's context menu, the pattern box's history menu and completer.
// None of them adds a control to the window.
void TForm1::CreateMenus() {
  mnuForm = new QMenu(this);
  mnuForm->setObjectName(QStringLiteral("mnuForm"));
  QMenu* encodings = mnuForm->addMenu(EncodingMenuTitle());
  encodings->setObjectName(QStringLiteral("mnuEncoding"));
  grpEncoding = new QActionGroup(this);
  for (const EncodingChoice& choice : EncodingChoices()) {
    QAction* action = encodings->addAction(SettingsText(choice.label));
    action->setCheckable(true);
    action->setData(QString::fromLatin1(choice.value));
    action->setObjectName(QStringLiteral("actEncoding_") + QString::fromLatin1(choice.value));
    grpEncoding->addAction(action);
  }
  QMenu* fallbacks = encodings->addMenu(FallbackMenuTitle());
  fallbacks->setObjectName(QStringLiteral("mnuFallback"));
  grpFallback = new QActionGroup(this);
  for (const char* choice : FallbackChoices()) {
    QAction* action = fallbacks->addAction(QString::fromLatin1(choice));
    action->setCheckable(true);
    action->setData(QString::fromLatin1(choice));
    action->setObjectName(QStringLiteral("actFallback_") + QString::fromLatin1(choice));
    grpFallback->addAction(action);
  }
  actRecursive = mnuForm->addAction(RecursiveTitle());
  actRecursive->setObjectName(QStringLiteral("actRecursive"));
  actRecursive->setCheckable(true);
  QMenu* after = mnuForm->addMenu(AfterSearchMenuTitle());
  after->setObjectName(QStringLiteral("mnuAfterSearch"));
  grpAfterSearch = new QActionGroup(this);
  for (const AfterSearchChoice& choice : AfterSearchChoices()) {
    QAction* action = after->addAction(SettingsText(choice.label));
    action->setCheckable(true);
    action->setData(static_cast<int>(choice.value));
    action->setObjectName(QStringLiteral("actAfterSearch_") + QString::fromLatin1(choice.key));
    grpAfterSearch->addAction(action);
  }
  connect(grpAfterSearch, &QActionGroup::triggered, this, &TForm1::StoreSettings);
  connect(grpEncoding, &QActionGroup::triggered, this, &TForm1::StoreSettings);
  connect(grpFallback, &QActionGroup::triggered, this, [this] {
    StoreSettings();
    ApplySettings();  // the Automatic entry names the fallback
  });
  connect(actRecursive, &QAction::toggled, this, &TForm1::StoreSettings);

  // The history: offered below the box as a pattern is typed, and whole in
  // the box's own context menu.
  history_model_ = new QStringListModel(this);
  auto* completer = new QCompleter(history_model_, this);
  completer->setObjectName(QStringLiteral("cmpHistory"));
  completer->setCaseSensitivity(Qt::CaseSensitive);
  completer->setCompletionMode(QCompleter::PopupCompletion);
  edtInput->setCompleter(completer);
  mnuHistory = new QMenu(tr("Recent patterns"), this);
  mnuHistory->setObjectName(QStringLiteral("mnuHistory"));
  edtInput->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(edtInput, &QLineEdit::customContextMenuRequested, this,
          &TForm1::edtInputContextMenu);
}

void TForm1::FormCreate() {
  SetFolder(std::string());
  lists_ = std::make_unique<SearchLists>();
  // An unreadable or damaged settings file gives the defaults.
  settings_ = LoadSettings(*OpenSettings());
  SetFolder(settings_.folder);
  ApplySettings();
  settings_applied_ = true;
}

// Shows settings_ in the controls and menus.
void TForm1::ApplySettings() {
  cbxCase->setChecked(settings_.case_sensitive);
  cbxBorder->setChecked(settings_.word_boundary);
  for (QAction* action : grpEncoding->actions()) {
    const std::string value = action->data().toString().toStdString();
    action->setChecked(value == settings_.encoding);
    if (value == "auto") action->setText(EncodingLabel(value, settings_.fallback_encoding));
  }
  for (QAction* action : grpFallback->actions())
    action->setChecked(action->data().toString().toStdString() == settings_.fallback_encoding);
  actRecursive->setChecked(settings_.recursive);
  for (QAction* action : grpAfterSearch->actions())
    action->setChecked(action->data().toInt() == static_cast<int>(settings_.after_search));
  ShowHistory();
  ShowReadingSettings();
}

QString TForm1::ReadingSettingsText(const WindowSettings& settings) {
  const WindowSettings defaults;
  QStringList parts;
  if (settings.encoding != defaults.encoding) {
    parts << (settings.encoding == "locale" ? tr("locale's encoding")
                                            : EncodingLabel(settings.encoding, std::string()));
  } else if (settings.fallback_encoding != defaults.fallback_encoding) {
    parts << tr("automatic, else %1").arg(QString::fromStdString(settings.fallback_encoding));
  }
  if (settings.recursive) parts << tr("sub-folders");
  return parts.join(tr(", "));
}

// The label says what the settings are in a few words; its tool tip says
// what they mean and where they are changed.
void TForm1::ShowReadingSettings() {
  const QString text = ReadingSettingsText(settings_);
  lblReading->setVisible(!text.isEmpty());
  lblReading->setText(lblReading->fontMetrics().elidedText(text, Qt::ElideRight,
                                                           lblReading->width()));
  QStringList tip;
  if (settings_.encoding != WindowSettings().encoding ||
      settings_.fallback_encoding != WindowSettings().fallback_encoding) {
    tip << tr("%1: %2")
               .arg(EncodingMenuTitle(),
                    EncodingLabel(settings_.encoding, settings_.fallback_encoding));
  }
  if (settings_.recursive) tip << RecursiveTitle();
  tip << tr("Right-click the window to change them.");
  lblReading->setToolTip(tip.join(u'\n'));
}

// Takes the settings from the controls and writes them all. A file that
// cannot be written costs only their keeping: the window goes on as set.
void TForm1::StoreSettings() {
  if (!settings_applied_) return;
  settings_.folder = folder_;
  settings_.case_sensitive = cbxCase->isChecked();
  settings_.word_boundary = cbxBorder->isChecked();
  if (const QAction* encoding = grpEncoding->checkedAction())
    settings_.encoding = encoding->data().toString().toStdString();
  if (const QAction* fallback = grpFallback->checkedAction())
    settings_.fallback_encoding = fallback->data().toString().toStdString();
  settings_.recursive = actRecursive->isChecked();
  if (const QAction* after = grpAfterSearch->checkedAction())
    settings_.after_search = static_cast<AfterSearch>(after->data().toInt());
  ShowReadingSettings();
  SaveSettings(*OpenSettings(), settings_);
}

void TForm1::ShowHistory() {
  history_model_->setStringList(settings_.history);
  mnuHistory->clear();
  for (const QString& pattern : settings_.history) {
    // A pattern's "&" is no menu shortcut.
    QAction* action = mnuHistory->addAction(QString(pattern).replace(
        QLatin1Char('&'), QStringLiteral("&&")));
    connect(action, &QAction::triggered, this, [this, pattern] {
      edtInput->setText(pattern);
      edtInput->setFocus();
    });
  }
  mnuHistory->setEnabled(!settings_.history.isEmpty());
}

void TForm1::edtInputContextMenu(const QPoint& position) {
  std::unique_ptr<QMenu> menu(edtInput->createStandardContextMenu());
  menu->addSeparator();
  menu->addMenu(mnuHistory);
  menu->exec(edtInput->mapToGlobal(position));
}

void TForm1::contextMenuEvent(QContextMenuEvent* event) {
  mnuForm->exec(event->globalPos());
}

void TForm1::FormShow() {
  // A window shown again after it was closed gets fresh lists.
  if (!lists_) lists_ = std::make_unique<SearchLists>();
  edtInput->setFocus();
}

void TForm1::FormClose() { lists_.reset(); }

void TForm1::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  // Spontaneous show events come from the window system (say, on restoring
  // the window) and are not the program showing it.
  if (event->spontaneous()) return;
  if (!centred_) {
    centred_ = true;
    if (const QScreen* desktop = screen()) {
      setGeometry(QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, size(),
                                      desktop->availableGeometry()));
    }
  }
  FormShow();
}

void TForm1::closeEvent(QCloseEvent* event) {
  if (running_search_ != nullptr) {
    // The lists are the search's until it ends: stop it, and close once
    // it has.
    running_search_->Cancel();
    close_requested_ = true;
    event->ignore();
    return;
  }
  QWidget::closeEvent(event);
  if (results_window_) results_window_->close();
  if (note_) note_->close();
  FormClose();
}

void TForm1::edtInputChange() { ApplyEnablingRule(); }

void TForm1::btnDirClick() {
  // From the last folder chosen, remembered from run to run; the first
  // time from the user's home folder, where corpora are kept.
  SelectFolderDialog1.SetInitialDir(folder_.empty() ? QDir::homePath()
                                                    : PathFromNative(folder_));
  try {
    if (SelectFolderDialog1.Execute(this)) {
      SetFolder(SelectFolderDialog1.Directory());
      StoreSettings();
    }
  } catch (const std::exception& error) {
    ShowError(error.what());
  }
  ApplyEnablingRule();
}

void TForm1::btnSearchClick() {
  // The wait for a running search turns the event loop; nothing that runs
  // meanwhile (a programmatic click, say) may start a second search on the
  // same lists.
  if (running_search_ != nullptr) return;
  // The last search's note is about that search. Closing deletes it only
  // once the event loop comes round, which a quick search does not wait
  // for: let go of it now, or this search's note would go into it, unseen.
  ++search_serial_;
  if (note_) {
    note_->close();
    note_.clear();
  }
  SearchOptions options = SearchOptionsFor({.pattern = edtInput->text().toStdU16String(),
                                            .folder = folder_,
                                            .case_sensitive = cbxCase->isChecked(),
                                            .word_boundary = cbxBorder->isChecked(),
                                            .encoding = settings_.encoding,
                                            .fallback_encoding = settings_.fallback_encoding,
                                            .recursive = settings_.recursive});
  // Remembered whatever the search gives: a pattern that fails is the one
  // most likely to be wanted again, to be mended.
  RememberPattern(settings_.history, edtInput->text());
  ShowHistory();
  StoreSettings();
  if (!report_folder_.isEmpty()) {
    // A report folder removed since the last search comes back; one that
    // cannot be made makes the report's own error say where it failed.
    QDir().mkpath(report_folder_);
    options.report_file = NativePath(ReportPath());
  }
  const AfterSearchPolicy policy(settings_.after_search);
  policy.PrepareSearch(options);
  SearchStats stats;
  const SearchEnd end = SearchAndWait(options, stats);
  if (close_requested_) {
    close_requested_ = false;
    close();
    return;
  }
  const AfterSearchSteps steps =
      policy.Decide({end, stats.matching_lines, stats.results != nullptr},
                    [&] { return OfferResults(stats.matching_lines); });
  if (steps.open_report) OpenReport();
  if (steps.show_results) ShowResults(stats.results);
  if (steps.missing_results) errors_.ShowError(this, tr("The search kept no results to show."));
  if (!steps.show_note) return;
  QStringList notes = TSearchNote::DescribePattern(
      AdvisePattern(options.pattern_text, options.word_boundary), stats.lines_without_boundary);
  notes += TSearchNote::DescribeReadings(
      SummarizeReadings(stats.readings, FileReadingTrial(options.fallback_encoding)),
      options.fallback_encoding);
  AddToNote(notes);
}

void TForm1::OpenReport() {
  // The desktop needs the absolute location. When nothing opens the report
  // the user learns where it is, to open it some other way; the answer may
  // come after the search's note is up, and goes into it.
  const QString report = ReportPath();
  opener_.Open(QUrl::fromLocalFile(report),
               [form = QPointer<TForm1>(this), serial = search_serial_, report](bool opened) {
                 if (opened || !form || form->search_serial_ != serial) return;
                 form->AddToNote(
                     {TSearchNote::DescribeOpenFailure(QDir::toNativeSeparators(report))});
               });
}

TSearchNote* TForm1::Note() const { return note_.data(); }

// Adds to the note of this search, showing one when there is none (or the
// user has closed it). Nothing to say shows nothing.
void TForm1::AddToNote(const QStringList& sections) {
  if (sections.isEmpty()) return;
  if (note_ && note_->isVisible()) {
    note_->AddSections(sections);
    return;
  }
  note_ = new TSearchNote(this);
  note_->AddSections(sections);
  // Below the window, or above it where the screen ends below.
  const QRect frame = frameGeometry();
  QPoint at = frame.bottomLeft() + QPoint(0, 8);
  if (const QScreen* desktop = screen()) {
    const QRect area = desktop->availableGeometry();
    if (at.y() + note_->height() > area.bottom())
      at.setY(std::max(area.top(), frame.top() - note_->height() - 40));
  }
  note_->move(at);
  note_->show();
}

// Asks whether a search's many matching lines should be shown in the
// results window rather than in the report; true for yes.
bool TForm1::OfferResults(int matching_lines) {
  return errors_.Ask(
      this, tr("The search found %1 matching lines. Show them here, in the results window, "
               "instead of opening the report?")
                .arg(QLocale().toString(matching_lines)));
}

TResultsWindow* TForm1::ResultsWindow() const { return results_window_.data(); }

void TForm1::ShowResults(std::shared_ptr<const ResultSet> results) {
  // One results window: a new search's replaces the last one's.
  if (results_window_) results_window_->close();
  results_window_ = new TResultsWindow(std::move(results), save_picker_, errors_, *tasks_, this);
  results_window_->setAttribute(Qt::WA_DeleteOnClose);
  results_window_->setWindowTitle(
      tr("Results: %1 — %2").arg(edtInput->text().trimmed(), WindowCaption()));
  PlaceBesideThisWindow(*results_window_);
  results_window_->show();
  results_window_->raise();
  results_window_->activateWindow();
}

// Beside this window on its screen: below it, or above, right or left of it,
// whichever leaves the results window most room (PlaceBeside in
// app/ResultsController.h), never over this window's controls.
void TForm1::PlaceBesideThisWindow(QWidget& window) const {
  const QScreen* desktop = screen();
  if (desktop == nullptr) return;
  const auto rect = [](const QRect& r) { return ScreenRect{r.x(), r.y(), r.width(), r.height()}; };
  // The frame's edges around the client area, as this window has them.
  const QMargins frame(geometry().left() - frameGeometry().left(),
                       geometry().top() - frameGeometry().top(),
                       frameGeometry().right() - geometry().right(),
                       frameGeometry().bottom() - geometry().bottom());
  const ScreenRect placed =
      PlaceBeside(rect(frameGeometry()), rect(desktop->availableGeometry()),
                  window.width() + frame.left() + frame.right(),
                  window.height() + frame.top() + frame.bottom());
  window.resize(placed.width - frame.left() - frame.right(),
                placed.height - frame.top() - frame.bottom());
  window.move(placed.left, placed.top);
}

void TForm1::SetReportFolder(const QString& folder) {
  report_folder_ = folder.isEmpty() ? QString() : QDir(folder).absolutePath();
  if (!report_folder_.isEmpty()) QDir().mkpath(report_folder_);
}

QString TForm1::ReportPath() const {
  // The search command's default report name is relative to the working
  // folder of the moment.
  const QDir folder = report_folder_.isEmpty() ? QDir::current() : QDir(report_folder_);
  return folder.absoluteFilePath(QStringLiteral("result.htm"));
}

// Runs the search off the window's thread and waits for it; what it found
// is in `stats` when it is done (the report written, when asked). The error
// of a search that failed has been shown.
SearchEnd TForm1::SearchAndWait(const SearchOptions& options, SearchStats& stats) {
  try {
    const std::unique_ptr<BackgroundTask> search =
        tasks_->Start(SearchWork(options, *lists_, stats), nullptr);
    running_search_ = search.get();
    WaitForSearch(this, *search, ApplicationTitle());
    running_search_ = nullptr;
    search->Result();
    return SearchEnd::kDone;
  } catch (const ECancelled&) {
    running_search_ = nullptr;
    return SearchEnd::kCancelled;
  } catch (const std::exception& error) {
    running_search_ = nullptr;
    ShowError(error.what());
    return SearchEnd::kFailed;
  }
}

void TForm1::ApplyEnablingRule() {
  const bool has_pattern =
      !SearchPattern(edtInput->text().toStdU16String(), false).empty();
  btnSearch->setEnabled(has_pattern && !folder_.empty());
}

void TForm1::SetFolder(const std::string& folder) {
  folder_ = folder;
  // A path longer than the room right of the check boxes loses its middle,
  // where the folders between the start and the corpus's own name are; the
  // tool tip has it whole.
  const QString path = PathFromNative(folder);
  const int room = kClientWidth - lblFolder->x() - 8;
  lblFolder->setText(lblFolder->fontMetrics().elidedText(path, Qt::ElideMiddle, room));
  lblFolder->setToolTip(path);
  lblFolder->adjustSize();
}

void TForm1::ShowError(const char* message) {
  errors_.ShowError(this, QString::fromStdString(ErrorDisplayText(message)));
}

}  // namespace tallyfold
