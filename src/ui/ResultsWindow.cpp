// The results window (ResultsWindow.h): the controls, and the wiring
// between them and the results controller.
#include "ui/ResultsWindow.h"

#include <algorithm>
#include <utility>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QCoreApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QProgressBar>
#include <QSignalBlocker>
#include <QPushButton>
#include <QSortFilterProxyModel>
#include <QSpinBox>
#include <QTabWidget>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>

#include "ui/NativePath.h"
#include "ui/Services.h"

namespace tallyfold {
TResultsWindow::TResultsWindow(std::shared_ptr<const ResultSet> results,
                               SaveFilePicker& save_picker, ErrorDisplay& errors,
                               TaskStarter& tasks, QWidget* parent)
    : QWidget(parent, kWindowFlags),
      results_(results),
      save_picker_(save_picker),
      errors_(errors),
      // The end of the controller's work comes back on the window's thread;
      // once the window is gone, it is dropped.
      controller_(std::move(results), tasks,
                  [this](std::function<void()> call) {
                    QMetaObject::invokeMethod(this, std::move(call), Qt::QueuedConnection);
                  }) {
  setObjectName(QStringLiteral("ResultsWindow"));
  setWindowTitle(TResultsWindow::tr("Results"));
  resize(960, 600);
  rows_model_ = new ResultTableModel(this);
  files_model_ = new HitsPerFileModel(this);
  forms_model_ = new FormsModel(this);
  CreateControls();
  ConnectControls();
  files_model_->SetResults(results_, controller_.Files());
  tblFiles->resizeColumnsToContents();
  controller_.on_changed = [this] { ShowState(); };
  controller_.on_busy = [this] { ShowBusy(); };
  controller_.on_error = [this](const std::string& message) {
    errors_.ShowError(this, QString::fromStdString(message));
  };
  ShowState();
}

// The controller stops its work and waits for it before the window's
// parts go.
TResultsWindow::~TResultsWindow() {
  controller_.on_changed = nullptr;
  controller_.on_busy = nullptr;
  controller_.on_error = nullptr;
}

void TResultsWindow::CreateControls() {
  cmbOrder = new QComboBox(this);
  cmbOrder->setObjectName(QStringLiteral("cmbOrder"));
  const std::pair<QString, ResultOrder> orders[] = {
      {tr("Report order"), ResultOrder::kReport},
      {tr("File and line"), ResultOrder::kFileAndLine},
      {tr("Match"), ResultOrder::kMatch},
      {tr("Left neighbour"), ResultOrder::kLeft},
      {tr("Right neighbour"), ResultOrder::kRight}};
  for (const auto& [label, order] : orders) cmbOrder->addItem(label, static_cast<int>(order));

  edtFilter = new QLineEdit(this);
  edtFilter->setObjectName(QStringLiteral("edtFilter"));
  edtFilter->setPlaceholderText(tr("Only lines containing…"));
  edtFilter->setClearButtonEnabled(true);

  btnFormFilter = new QPushButton(this);
  btnFormFilter->setObjectName(QStringLiteral("btnFormFilter"));
  btnFormFilter->setToolTip(tr("Show the rows of every form again"));
  btnFormFilter->hide();

  lblRows = new QLabel(this);
  lblRows->setObjectName(QStringLiteral("lblRows"));

  btnExportCsv = new QPushButton(tr("Export CSV…"), this);
  btnExportCsv->setObjectName(QStringLiteral("btnExportCsv"));
  btnExportTsv = new QPushButton(tr("Export TSV…"), this);
  btnExportTsv->setObjectName(QStringLiteral("btnExportTsv"));

  spnContext = new QSpinBox(this);
  spnContext->setObjectName(QStringLiteral("spnContext"));
  spnContext->setRange(kWholeLine, 10000);
  spnContext->setSpecialValueText(tr("Whole line"));
  spnContext->setSuffix(tr(" characters"));
  spnContext->setValue(kWholeLine);
  spnContext->setToolTip(tr("Characters shown, copied and exported each side of a match"));

  auto* top = new QHBoxLayout;
  top->addWidget(new QLabel(tr("Order:"), this));
  top->addWidget(cmbOrder);
  top->addWidget(new QLabel(tr("Filter:"), this));
  top->addWidget(edtFilter, 1);
  top->addWidget(btnFormFilter);
  top->addWidget(new QLabel(tr("Context:"), this));
  top->addWidget(spnContext);
  top->addWidget(lblRows);
  top->addWidget(btnExportCsv);
  top->addWidget(btnExportTsv);

  tblResults = new QTableView(this);
  tblResults->setObjectName(QStringLiteral("tblResults"));
  tblResults->setModel(rows_model_);
  tblResults->setSelectionBehavior(QAbstractItemView::SelectRows);
  tblResults->setSelectionMode(QAbstractItemView::ExtendedSelection);
  tblResults->setEditTriggers(QAbstractItemView::NoEditTriggers);
  tblResults->setWordWrap(false);
  tblResults->setShowGrid(false);
  tblResults->setAlternatingRowColors(true);
  // Fixed row heights and widths: nothing measures a million rows.
  tblResults->verticalHeader()->hide();
  tblResults->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  tblResults->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
  tblResults->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
  tblResults->horizontalHeader()->setStretchLastSection(false);
  tblResults->horizontalHeader()->setSectionsClickable(true);
  tblResults->horizontalHeader()->setSortIndicatorShown(true);
  tblResults->setItemDelegateForColumn(ResultTableModel::kLeft, new LeftContextDelegate(this));
  // The numbers fit seven digits; nothing measures a million rows.
  const int number = fontMetrics().horizontalAdvance(QStringLiteral("9999999")) + 16;
  const int widths[] = {280, 100, 280, 130, number, number};
  for (int column = 0; column < ResultTableModel::kColumnCount; ++column)
    tblResults->setColumnWidth(column, widths[column]);

  files_proxy_ = new TotalsLastProxy(this);
  files_proxy_->setSourceModel(files_model_);
  files_proxy_->setSortRole(Qt::UserRole);
  tblFiles = new QTableView(this);
  tblFiles->setObjectName(QStringLiteral("tblFiles"));
  tblFiles->setModel(files_proxy_);
  tblFiles->setSortingEnabled(true);
  tblFiles->sortByColumn(-1, Qt::AscendingOrder);
  tblFiles->setEditTriggers(QAbstractItemView::NoEditTriggers);
  tblFiles->setSelectionBehavior(QAbstractItemView::SelectRows);
  tblFiles->verticalHeader()->hide();
  tblFiles->horizontalHeader()->setSectionResizeMode(HitsPerFileModel::kFile, QHeaderView::Stretch);

  tabResults = new QTabWidget(this);
  tabResults->setObjectName(QStringLiteral("tabResults"));
  tabResults->addTab(tblResults, tr("Matches"));
  btnExportFiles = new QPushButton(tr("Export hits per file…"), this);
  btnExportFiles->setObjectName(QStringLiteral("btnExportFiles"));
  auto* files_page = new QWidget(this);
  auto* files_bar = new QHBoxLayout;
  files_bar->addStretch(1);
  files_bar->addWidget(btnExportFiles);
  auto* files_layout = new QVBoxLayout(files_page);
  files_layout->setContentsMargins(0, 0, 0, 0);
  files_layout->addLayout(files_bar);
  files_layout->addWidget(tblFiles, 1);
  tabResults->addTab(files_page, tr("Hits per file"));

  forms_proxy_ = new QSortFilterProxyModel(this);
  forms_proxy_->setSourceModel(forms_model_);
  forms_proxy_->setSortRole(Qt::UserRole);
  forms_proxy_->setFilterKeyColumn(FormsModel::kForm);
  forms_proxy_->setFilterCaseSensitivity(Qt::CaseInsensitive);
  tblForms = new QTableView(this);
  tblForms->setObjectName(QStringLiteral("tblForms"));
  tblForms->setModel(forms_proxy_);
  tblForms->setSortingEnabled(true);
  tblForms->sortByColumn(-1, Qt::AscendingOrder);  // as counted: most frequent first
  tblForms->setEditTriggers(QAbstractItemView::NoEditTriggers);
  tblForms->setSelectionBehavior(QAbstractItemView::SelectRows);
  tblForms->verticalHeader()->hide();
  tblForms->horizontalHeader()->setSectionResizeMode(FormsModel::kForm, QHeaderView::Stretch);
  edtFormFilter = new QLineEdit(this);
  edtFormFilter->setObjectName(QStringLiteral("edtFormFilter"));
  edtFormFilter->setPlaceholderText(tr("Only forms containing…"));
  edtFormFilter->setClearButtonEnabled(true);
  chkFoldCase = new QCheckBox(tr("Fold ASCII case"), this);
  chkFoldCase->setObjectName(QStringLiteral("chkFoldCase"));
  lblForms = new QLabel(this);
  lblForms->setObjectName(QStringLiteral("lblForms"));
  btnExportForms = new QPushButton(tr("Export forms…"), this);
  btnExportForms->setObjectName(QStringLiteral("btnExportForms"));
  auto* forms_page = new QWidget(this);
  auto* forms_bar = new QHBoxLayout;
  forms_bar->addWidget(edtFormFilter, 1);
  forms_bar->addWidget(chkFoldCase);
  forms_bar->addWidget(lblForms);
  forms_bar->addWidget(btnExportForms);
  auto* forms_layout = new QVBoxLayout(forms_page);
  forms_layout->setContentsMargins(0, 0, 0, 0);
  forms_layout->addLayout(forms_bar);
  forms_layout->addWidget(tblForms, 1);
  tabResults->addTab(forms_page, tr("Forms"));

  lblTask = new QLabel(this);
  lblTask->setObjectName(QStringLiteral("lblTask"));
  pbrTask = new QProgressBar(this);
  pbrTask->setObjectName(QStringLiteral("pbrTask"));
  pbrTask->setRange(0, 100);
  btnCancel = new QPushButton(tr("Cancel"), this);
  btnCancel->setObjectName(QStringLiteral("btnCancel"));
  auto* bottom = new QHBoxLayout;
  bottom->addWidget(lblTask);
  bottom->addWidget(pbrTask, 1);
  bottom->addWidget(btnCancel);
  for (QWidget* widget : {static_cast<QWidget*>(lblTask), static_cast<QWidget*>(pbrTask),
                          static_cast<QWidget*>(btnCancel)})
    widget->hide();

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addWidget(tabResults, 1);
  layout->addLayout(bottom);

  filter_delay_ = new QTimer(this);
  filter_delay_->setSingleShot(true);
  filter_delay_->setInterval(250);
  progress_poll_ = new QTimer(this);
  progress_poll_->setInterval(50);

}

void TResultsWindow::ConnectControls() {
  connect(cmbOrder, &QComboBox::currentIndexChanged, this, [this] {
    controller_.SetOrder(static_cast<ResultOrder>(cmbOrder->currentData().toInt()));
  });
  connect(edtFilter, &QLineEdit::textChanged, filter_delay_, qOverload<>(&QTimer::start));
  const auto filter = [this] {
    filter_delay_->stop();
    controller_.SetFilter(edtFilter->text().toStdU16String());
  };
  connect(edtFilter, &QLineEdit::returnPressed, this, filter);
  connect(filter_delay_, &QTimer::timeout, this, filter);
  connect(btnFormFilter, &QPushButton::clicked, this, &TResultsWindow::RemoveFormRestriction);
  connect(progress_poll_, &QTimer::timeout, this,
          [this] { pbrTask->setValue(controller_.Percent()); });
  connect(btnCancel, &QPushButton::clicked, this, &TResultsWindow::CancelTask);
  connect(btnExportCsv, &QPushButton::clicked, this, [this] { ChooseExport(TableFormat::kCsv); });
  connect(btnExportTsv, &QPushButton::clicked, this, [this] { ChooseExport(TableFormat::kTsv); });
  // The table's own Ctrl+C would copy one cell.
  auto* copy = new QAction(tr("Copy"), tblResults);
  copy->setObjectName(QStringLiteral("actCopy"));
  copy->setShortcut(QKeySequence::Copy);
  copy->setShortcutContext(Qt::WidgetWithChildrenShortcut);
  tblResults->addAction(copy);
  connect(copy, &QAction::triggered, this, &TResultsWindow::CopySelection);
  connect(tblResults, &QTableView::doubleClicked, this,
          [this](const QModelIndex& index) { OpenLine(index.row()); });
  connect(tblResults->horizontalHeader(), &QHeaderView::sectionClicked, this,
          &TResultsWindow::SortByColumn);
  connect(spnContext, &QSpinBox::valueChanged, this, [this](int context) {
    controller_.SetContext(context);
    rows_model_->SetContext(context);
  });
  connect(edtFormFilter, &QLineEdit::textChanged, this, [this](const QString& text) {
    forms_proxy_->setFilterFixedString(text);
    ShowFormCount();
  });
  connect(chkFoldCase, &QCheckBox::toggled, this,
          [this](bool fold) { controller_.SetFoldCase(fold); });
  auto* copy_files = new QAction(tr("Copy"), tblFiles);
  copy_files->setObjectName(QStringLiteral("actCopyFiles"));
  copy_files->setShortcut(QKeySequence::Copy);
  copy_files->setShortcutContext(Qt::WidgetWithChildrenShortcut);
  tblFiles->addAction(copy_files);
  connect(copy_files, &QAction::triggered, this,
          [this] { QApplication::clipboard()->setText(HitsPerFileAsText()); });
  connect(btnExportFiles, &QPushButton::clicked, this, [this] {
    const std::optional<QString> path = save_picker_.ChooseSaveFile(
        this, tr("Export hits per file"), QStringLiteral("files.tsv"),
        tr("TSV files (*.tsv *.txt);;CSV files (*.csv)"));
    if (path) ExportHitsPerFile(*path);
  });
  connect(tblForms, &QTableView::doubleClicked, this,
          [this](const QModelIndex& index) { ShowFormRows(index.row()); });
  connect(btnExportForms, &QPushButton::clicked, this, [this] {
    const std::optional<QString> path = save_picker_.ChooseSaveFile(
        this, tr("Export forms"), QStringLiteral("forms.tsv"), tr("TSV files (*.tsv *.txt)"));
    if (path) ExportForms(*path);
  });
}

// What the controller shows: the rows, their forms, the order and the
// restriction.
void TResultsWindow::ShowState() {
  const ViewState& state = controller_.State();
  if (rows_model_->View() != controller_.Rows()) rows_model_->SetView(results_, controller_.Rows());
  if (forms_model_->Forms() != controller_.Forms()) {
    forms_model_->SetForms(controller_.Forms());
    tblForms->resizeColumnsToContents();
  }
  {
    const QSignalBlocker quiet(cmbOrder);
    cmbOrder->setCurrentIndex(cmbOrder->findData(static_cast<int>(state.order)));
  }
  tblResults->horizontalHeader()->setSortIndicator(
      static_cast<int>(controller_.SortColumn()),
      controller_.SortDescending() ? Qt::DescendingOrder : Qt::AscendingOrder);
  btnFormFilter->setVisible(state.form.has_value());
  if (state.form) {
    btnFormFilter->setText(
        tr("Form: %1  ✕").arg(QString::fromStdU16String(*state.form)));
  }
  ShowRowCount();
  ShowFormCount();
}

void TResultsWindow::ShowBusy() {
  const bool busy = IsBusy();
  if (busy) {
    switch (controller_.Busy()) {
      case ResultsController::Work::kArranging: lblTask->setText(tr("Arranging…")); break;
      case ResultsController::Work::kCopying: lblTask->setText(tr("Copying…")); break;
      case ResultsController::Work::kWriting: lblTask->setText(tr("Writing…")); break;
      case ResultsController::Work::kReading: lblTask->setText(tr("Reading…")); break;
      case ResultsController::Work::kNone: break;
    }
    pbrTask->setValue(0);
    progress_poll_->start();
  } else {
    progress_poll_->stop();
  }
  for (QWidget* widget : {static_cast<QWidget*>(lblTask), static_cast<QWidget*>(pbrTask),
                          static_cast<QWidget*>(btnCancel)})
    widget->setVisible(busy);
  for (QPushButton* button : {btnExportCsv, btnExportTsv, btnExportForms}) button->setEnabled(!busy);
  if (!busy) emit taskEnded();
}

// The model's columns are the controller's, in the same order.
void TResultsWindow::SortByColumn(int column) {
  controller_.SortByColumn(static_cast<RowsColumn>(column));
}

void TResultsWindow::Arrange(ResultOrder order, const QString& filter) {
  ViewState state = controller_.State();
  state.order = order;
  state.reversed = false;
  state.filter = filter.toStdU16String();
  controller_.Arrange(std::move(state));
}

void TResultsWindow::CancelTask() { controller_.Cancel(); }

void TResultsWindow::ShowRowCount() {
  const std::size_t shown = controller_.Rows() ? controller_.Rows()->RowCount() : 0;
  lblRows->setText(tr("%1 of %2 matches")
                       .arg(QLocale().toString(static_cast<qulonglong>(shown)),
                            QLocale().toString(static_cast<qulonglong>(results_->HitCount()))));
}

void TResultsWindow::ShowFormCount() {
  const int all = forms_model_->rowCount();
  const int shown = forms_proxy_->rowCount();
  lblForms->setText(shown == all ? tr("%1 forms").arg(QLocale().toString(all))
                                 : tr("%1 of %2 forms")
                                       .arg(QLocale().toString(shown), QLocale().toString(all)));
}

// Read from the selection's ranges, not index by index: a million selected
// rows are one range.
std::vector<std::size_t> TResultsWindow::SelectedRows() const {
  std::vector<std::size_t> rows;
  for (const QItemSelectionRange& range : tblResults->selectionModel()->selection()) {
    for (int row = range.top(); row <= range.bottom(); ++row)
      rows.push_back(static_cast<std::size_t>(row));
  }
  std::sort(rows.begin(), rows.end());
  rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
  return rows;
}

QString TResultsWindow::SelectedRowsAsText() const {
  const std::shared_ptr<const ResultView>& view = controller_.Rows();
  const std::vector<std::size_t> rows = SelectedRows();
  if (!view || rows.empty()) return QString();
  std::string table;
  WriteTable(view->Subset(rows), TableFormat::kTsv,
             [&table](std::string_view bytes) { table.append(bytes); }, nullptr,
             controller_.Context());
  return QString::fromStdString(table);
}

void TResultsWindow::CopySelection() {
  controller_.Copy(SelectedRows(), [](std::u16string table) {
    QApplication::clipboard()->setText(QString::fromStdU16String(table));
  });
}

std::vector<int> TResultsWindow::ShownFiles() const {
  std::vector<int> files;
  for (int row = 0; row < files_proxy_->rowCount(); ++row) {
    const int file = files_proxy_->mapToSource(files_proxy_->index(row, 0)).row();
    if (!files_model_->IsTotals(file)) files.push_back(file);
  }
  return files;
}

QString TResultsWindow::HitsPerFileAsText() const {
  return QString::fromStdU16String(controller_.HitsPerFileText(ShownFiles()));
}

void TResultsWindow::ExportHitsPerFile(const QString& path) {
  controller_.ExportHitsPerFile(ShownFiles(), NativePath(path));
}

void TResultsWindow::ShowFormRows(int row) {
  if (row < 0 || row >= forms_proxy_->rowCount()) return;
  controller_.RestrictToForm(
      forms_proxy_->index(row, FormsModel::kForm).data().toString().toStdU16String());
  tabResults->setCurrentIndex(0);
}

void TResultsWindow::RemoveFormRestriction() { controller_.RemoveFormRestriction(); }

void TResultsWindow::ExportForms(const QString& path) {
  const std::shared_ptr<const std::vector<MatchForm>>& all = forms_model_->Forms();
  if (!all) return;
  // The forms as the tab shows them: filtered and sorted there.
  std::vector<MatchForm> shown;
  for (int row = 0; row < forms_proxy_->rowCount(); ++row) {
    const int form = forms_proxy_->mapToSource(forms_proxy_->index(row, 0)).row();
    shown.push_back((*all)[static_cast<std::size_t>(form)]);
  }
  controller_.ExportForms(std::move(shown), NativePath(path));
}

void TResultsWindow::Export(TableFormat format, const QString& path) {
  controller_.ExportRows(format, NativePath(path));
}

void TResultsWindow::ChooseExport(TableFormat format) {
  const bool csv = format == TableFormat::kCsv;
  const std::optional<QString> path = save_picker_.ChooseSaveFile(
      this, csv ? tr("Export as CSV") : tr("Export as TSV"),
      csv ? QStringLiteral("results.csv") : QStringLiteral("results.tsv"),
      csv ? tr("CSV files (*.csv)") : tr("TSV files (*.tsv *.txt)"));
  if (path) Export(format, *path);
}

void TResultsWindow::OpenLine(int row) {
  if (row < 0) return;
  controller_.OpenLine(static_cast<std::size_t>(row), TLineViewer::kLinesAround,
                       [this](OpenedLine opened) { ShowLine(opened); });
}

void TResultsWindow::ShowLine(const OpenedLine& opened) {
  const ResultFile& file = results_->Files()[static_cast<std::size_t>(opened.line.file)];
  if (opened.gone) {
    errors_.ShowError(this, QCoreApplication::translate("tallyfold::TLineViewer",
                                                        "\"%1\" has no line %2 any more.")
                                .arg(PathFromNative(file.path))
                                .arg(opened.line.line));
    return;
  }
  if (!opened.context) {
    errors_.ShowError(this, QString::fromStdString(opened.error));
    return;
  }
  const QString caption =
      tr("%1 — line %2").arg(PathFromNative(file.shown_name)).arg(opened.line.line);
  viewer_ = new TLineViewer(caption, *opened.context, opened.clicked, this);
  viewer_->show();
}

}  // namespace tallyfold
