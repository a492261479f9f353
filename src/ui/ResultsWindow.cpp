// The results window (ResultsWindow.h): the two tables, their models, the
// wiring of the background arranging and exporting, and the line viewer.
#include "ui/ResultsWindow.h"

#include <algorithm>
#include <cmath>
#include <climits>
#include <utility>

#include <QAction>
#include <QCheckBox>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QCoreApplication>
#include <QFile>
#include <QFont>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPainter>
#include <QPaintEvent>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSortFilterProxyModel>
#include <QSpinBox>
#include <QStyledItemDelegate>
#include <QTabWidget>
#include <QTableView>
#include <QTextBlock>
#include <QTimer>
#include <QVBoxLayout>

#include "platform/Exception.h"
#include "text/WideHelpers.h"
#include "ui/Services.h"
#include "ui/NativePath.h"

namespace tallyfold {
namespace {

// The match as the report shows it: bold black on yellow.
const QColor kMatchBackground{0xff, 0xe0, 0x66};
const QColor kLineBackground{0xe8, 0xf0, 0xfe};
// The match the viewer was opened on (or moved to): orange.
const QColor kCurrentMatchBackground{0xff, 0xa0, 0x40};

QString FromView(std::u16string_view text) {
  return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
}


// The last `most` code units of `text`, not starting inside a surrogate pair.
std::u16string_view Tail(std::u16string_view text, std::size_t most) {
  if (text.size() <= most) return text;
  text.remove_prefix(text.size() - most);
  if (!text.empty() && IsLowSurrogate(text.front())) text.remove_prefix(1);
  return text;
}

// The first `most` code units of `text`, not ending inside a surrogate pair.
std::u16string_view Head(std::u16string_view text, std::size_t most) {
  if (text.size() <= most) return text;
  text = text.substr(0, most);
  if (!text.empty() && IsHighSurrogate(text.back())) text.remove_suffix(1);
  return text;
}

// A position in the viewer's text; its lines are a few thousand at most.
int Position(std::size_t offset) {
  return static_cast<int>(std::min<std::size_t>(offset, INT_MAX));
}

QString ShownName(const ResultFile& file) {
  return PathFromNative(file.shown_name);
}

// The left context is cut where it is furthest from the match.
class LeftContextDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;

 protected:
  void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
    QStyledItemDelegate::initStyleOption(option, index);
    option->textElideMode = Qt::ElideLeft;
  }
};

// Hits per file sorted by any column, the totals' row last either way.
class TotalsLastProxy : public QSortFilterProxyModel {
 public:
  using QSortFilterProxyModel::QSortFilterProxyModel;

 protected:
  bool lessThan(const QModelIndex& left, const QModelIndex& right) const override {
    const int totals = sourceModel()->rowCount() - 1;
    const bool ascending = sortOrder() == Qt::AscendingOrder;
    if (left.row() == totals) return !ascending;
    if (right.row() == totals) return ascending;
    return QSortFilterProxyModel::lessThan(left, right);
  }
};

}  // namespace

// ---------------------------------------------------------------------------
// The rows.

void ResultTableModel::SetView(std::shared_ptr<const ResultSet> results,
                               std::shared_ptr<const ResultView> view) {
  beginResetModel();
  if (results != results_) {
    file_names_.clear();
    for (const ResultFile& file : results->Files()) file_names_.push_back(ShownName(file));
  }
  results_ = std::move(results);
  view_ = std::move(view);
  endResetModel();
}

void ResultTableModel::SetContext(int context) {
  beginResetModel();
  context_ = context;
  endResetModel();
}

int ResultTableModel::rowCount(const QModelIndex& parent) const {
  if (parent.isValid() || !view_) return 0;
  // A QAbstractItemModel counts its rows in int.
  return static_cast<int>(std::min<std::size_t>(view_->RowCount(), INT_MAX));
}

int ResultTableModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : kColumnCount;
}


QVariant ResultTableModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || !view_ || static_cast<std::size_t>(index.row()) >= view_->RowCount())
    return QVariant();
  const auto row = static_cast<std::size_t>(index.row());
  const int column = index.column();
  switch (role) {
    case Qt::DisplayRole: {
      if (column == kFile) return file_names_[static_cast<std::size_t>(view_->Line(row).file)];
      if (column == kLine) return view_->Line(row).line;
      if (column == kCount) return view_->Line(row).count;
      const Kwic kwic = WithContext(view_->Context(row), context_);
      if (column == kLeft) return FromView(Tail(kwic.left, kShownContext));
      if (column == kMatch) return FromView(Head(kwic.match, kShownContext));
      if (column == kRight) return FromView(Head(kwic.right, kShownContext));
      return QVariant();
    }
    case Qt::ToolTipRole:
      if (column == kLeft || column == kMatch || column == kRight)
        return FromView(Head(TrimWideView(view_->Line(row).text), 4 * kShownContext));
      return QVariant();
    case Qt::TextAlignmentRole:
      if (column == kLeft || column == kLine || column == kCount)
        return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
      if (column == kMatch) return QVariant::fromValue(Qt::AlignCenter);
      return QVariant::fromValue(Qt::AlignLeft | Qt::AlignVCenter);
    case Qt::FontRole:
      if (column == kMatch) {
        QFont bold;
        bold.setBold(true);
        return bold;
      }
      return QVariant();
    case Qt::BackgroundRole:
      if (column == kMatch) return kMatchBackground;
      return QVariant();
    case Qt::ForegroundRole:
      if (column == kMatch) return QColor(Qt::black);
      return QVariant();
    default:
      return QVariant();
  }
}

QVariant ResultTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return QVariant();
  static const char* const kTitles[kColumnCount] = {
      QT_TR_NOOP("Left"), QT_TR_NOOP("Match"), QT_TR_NOOP("Right"),
      QT_TR_NOOP("File"), QT_TR_NOOP("Line"),  QT_TR_NOOP("Count")};
  if (section < 0 || section >= kColumnCount) return QVariant();
  return tr(kTitles[section]);
}

// ---------------------------------------------------------------------------
// Hits per file.

void HitsPerFileModel::SetResults(std::shared_ptr<const ResultSet> results) {
  beginResetModel();
  results_ = std::move(results);
  totals_ = ResultFile();
  for (const ResultFile& file : results_->Files()) {
    totals_.lines += file.lines;
    totals_.matches += file.matches;
    totals_.characters += file.characters;
    totals_.read.malformed += file.read.malformed;
    totals_.read.nuls += file.read.nuls;
  }
  endResetModel();
}

int HitsPerFileModel::rowCount(const QModelIndex& parent) const {
  if (parent.isValid() || !results_) return 0;
  return static_cast<int>(results_->Files().size()) + 1;
}

int HitsPerFileModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : kColumnCount;
}

QVariant HitsPerFileModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || !results_) return QVariant();
  const auto row = static_cast<std::size_t>(index.row());
  const bool is_total = row == results_->Files().size();
  if (row > results_->Files().size()) return QVariant();
  const ResultFile& file = is_total ? totals_ : results_->Files()[row];
  switch (role) {
    case Qt::DisplayRole:
      switch (index.column()) {
        case kFile: return is_total ? tr("Total") : ShownName(file);
        case kLines: return file.lines;
        case kMatches: return static_cast<qlonglong>(file.matches);
        case kPerTenThousand:
          // Two decimals, kept a number so that the column sorts as one.
          return file.characters > 0 ? std::round(static_cast<double>(file.matches) * 1e6 /
                                                  static_cast<double>(file.characters)) /
                                           100.0
                                     : 0.0;
        case kCharacters: return static_cast<qlonglong>(file.characters);
        case kEncoding: return is_total ? QVariant() : EncodingText(file.read);
        case kReplaced: return static_cast<qulonglong>(file.read.malformed);
        case kNuls: return static_cast<qulonglong>(file.read.nuls);
        default: return QVariant();
      }
    case Qt::ToolTipRole:
      if (is_total) return QVariant();
      if (index.column() == kFile) return PathFromNative(file.path);
      if (index.column() == kEncoding) return EncodingReason(file.read);
      if (index.column() == kReplaced && file.read.malformed > 0)
        return tr("Byte sequences that are not text in %1, each read as �")
            .arg(QString::fromStdString(file.read.codeset));
      return QVariant();
    case Qt::ForegroundRole:
      // What may have been read wrong stands out.
      if ((index.column() == kReplaced && file.read.malformed > 0) ||
          (index.column() == kNuls && file.read.nuls > 0))
        return QColor(Qt::darkRed);
      return QVariant();
    case Qt::TextAlignmentRole:
      return QVariant::fromValue((index.column() == kFile ? Qt::AlignLeft : Qt::AlignRight) |
                                 Qt::AlignVCenter);
    case Qt::FontRole:
      if (is_total) {
        QFont bold;
        bold.setBold(true);
        return bold;
      }
      return QVariant();
    default:
      return QVariant();
  }
}

QString HitsPerFileModel::EncodingText(const TTextReadInfo& read) {
  const QString codeset = QString::fromStdString(read.codeset);
  switch (read.choice) {
    case TReadChoice::kMark: return tr("%1 (mark)").arg(codeset);
    case TReadChoice::kLocale: return tr("%1 (locale)").arg(codeset);
    case TReadChoice::kDetected: return tr("%1 (detected)").arg(codeset);
    case TReadChoice::kFallback: return tr("%1 (fallback)").arg(codeset);
    case TReadChoice::kUtf8Strays: return tr("%1 (stray bytes)").arg(codeset);
    case TReadChoice::kZeroBytes: return tr("%1 (zero bytes)").arg(codeset);
    case TReadChoice::kCompared: return tr("%1 (common characters)").arg(codeset);
    case TReadChoice::kNamed:
    case TReadChoice::kUtf8: break;
  }
  return codeset;
}

QString HitsPerFileModel::EncodingReason(const TTextReadInfo& read) {
  const QString codeset = QString::fromStdString(read.codeset);
  switch (read.choice) {
    case TReadChoice::kMark: return tr("Read as %1, as its byte-order mark says").arg(codeset);
    case TReadChoice::kNamed: return tr("Read as %1, the encoding chosen").arg(codeset);
    case TReadChoice::kUtf8: return tr("Read as UTF-8: all of it is valid UTF-8");
    case TReadChoice::kLocale:
      return tr("Read as %1, the locale's encoding, in which all of it is valid").arg(codeset);
    case TReadChoice::kUtf8Strays:
      return tr("Read as UTF-8: but for %1 stray bytes, read as �, all of it is well-formed UTF-8")
          .arg(read.malformed);
    case TReadChoice::kZeroBytes:
      return tr("Read as %1, which its zero bytes show, though it has no byte-order mark")
          .arg(codeset);
    case TReadChoice::kCompared:
    case TReadChoice::kDetected: {
      const TSetComparison& measured = read.comparison;
      QString reason = read.choice == TReadChoice::kCompared
                           ? tr("Read as %1 rather than %2, which the detector named")
                                 .arg(codeset, QString::fromStdString(measured.detected))
                           : tr("Read as %1, the encoding the detector found likeliest").arg(codeset);
      if (!measured.chosen.empty()) {
        reason += QLatin1Char(' ') +
                  tr("(of its characters beyond ASCII, %1% are among the commonest Chinese "
                     "ones read as %2, %3% read as %4)")
                      .arg(QString::number(measured.chosen_share / 10.0, 'f', 1), codeset,
                           QString::number(measured.other_share / 10.0, 'f', 1),
                           QString::fromStdString(measured.other));
      }
      return reason;
    }
    case TReadChoice::kFallback:
      if (!read.detected.empty()) {
        return tr("Read as %1, the fallback: the detector answered %2, which cannot be decoded "
                  "here")
            .arg(codeset, QString::fromStdString(read.detected));
      }
      return tr("Read as %1, the fallback: the detector had no answer").arg(codeset);
  }
  return codeset;
}

QVariant HitsPerFileModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return QVariant();
  static const char* const kTitles[kColumnCount] = {
      QT_TR_NOOP("File"),       QT_TR_NOOP("Matching lines"), QT_TR_NOOP("Matches"),
      QT_TR_NOOP("Per 10,000"), QT_TR_NOOP("Characters"),     QT_TR_NOOP("Encoding"),
      QT_TR_NOOP("Replaced"),   QT_TR_NOOP("NULs")};
  if (section < 0 || section >= kColumnCount) return QVariant();
  return tr(kTitles[section]);
}

// ---------------------------------------------------------------------------
// Forms.

void FormsModel::SetForms(std::shared_ptr<const std::vector<MatchForm>> forms) {
  beginResetModel();
  forms_ = std::move(forms);
  endResetModel();
}

int FormsModel::rowCount(const QModelIndex& parent) const {
  if (parent.isValid() || !forms_) return 0;
  return static_cast<int>(std::min<std::size_t>(forms_->size(), INT_MAX));
}

int FormsModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : kColumnCount;
}

QVariant FormsModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || !forms_ || static_cast<std::size_t>(index.row()) >= forms_->size())
    return QVariant();
  const MatchForm& form = (*forms_)[static_cast<std::size_t>(index.row())];
  if (role == Qt::TextAlignmentRole) {
    return QVariant::fromValue((index.column() == kForm ? Qt::AlignLeft : Qt::AlignRight) |
                               Qt::AlignVCenter);
  }
  if (role != Qt::DisplayRole) return QVariant();
  switch (index.column()) {
    case kForm: return QString::fromStdU16String(form.form);
    case kMatches: return static_cast<qulonglong>(form.matches);
    case kLines: return static_cast<qulonglong>(form.lines);
    case kFiles: return static_cast<qulonglong>(form.files);
    default: return QVariant();
  }
}

QVariant FormsModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return QVariant();
  static const char* const kTitles[kColumnCount] = {QT_TR_NOOP("Form"), QT_TR_NOOP("Matches"),
                                                    QT_TR_NOOP("Lines"), QT_TR_NOOP("Files")};
  if (section < 0 || section >= kColumnCount) return QVariant();
  return tr(kTitles[section]);
}

// ---------------------------------------------------------------------------
// The line in its file.

namespace {

// The file's line numbers in a margin of the text, right aligned, as wide
// as the largest needs.
class NumberedText : public QPlainTextEdit {
 public:
  NumberedText(int first_line, QWidget* parent)
      : QPlainTextEdit(parent), first_line_(first_line), numbers_(new Margin(this)) {
    connect(this, &QPlainTextEdit::blockCountChanged, this, [this] { FitMargin(); });
    connect(this, &QPlainTextEdit::updateRequest, this, [this](const QRect& rect, int dy) {
      if (dy != 0) {
        numbers_->scroll(0, dy);
      } else {
        numbers_->update(0, rect.y(), numbers_->width(), rect.height());
      }
    });
    FitMargin();
  }
  int MarginWidth() const {
    const int digits = static_cast<int>(QString::number(first_line_ + blockCount()).size());
    return 8 + fontMetrics().horizontalAdvance(QLatin1Char('9')) * digits;
  }

 protected:
  void resizeEvent(QResizeEvent* event) override {
    QPlainTextEdit::resizeEvent(event);
    const QRect inside = contentsRect();
    numbers_->setGeometry(QRect(inside.left(), inside.top(), MarginWidth(), inside.height()));
  }

 private:
  class Margin : public QWidget {
   public:
    explicit Margin(NumberedText* text) : QWidget(text), text_(text) {
      setObjectName(QStringLiteral("lineNumbers"));
    }
    void paintEvent(QPaintEvent* event) override {
      QPainter painter(this);
      painter.fillRect(event->rect(), palette().color(QPalette::AlternateBase));
      painter.setPen(palette().color(QPalette::PlaceholderText));
      for (QTextBlock block = text_->firstVisibleBlock(); block.isValid(); block = block.next()) {
        const QRectF box = text_->blockBoundingGeometry(block).translated(text_->contentOffset());
        if (box.top() > event->rect().bottom()) break;
        if (block.isVisible() && box.bottom() >= event->rect().top()) {
          painter.drawText(0, static_cast<int>(box.top()), width() - 4,
                           text_->fontMetrics().height(), Qt::AlignRight,
                           QString::number(text_->first_line_ + block.blockNumber()));
        }
      }
    }

   private:
    NumberedText* text_;
  };

  void FitMargin() { setViewportMargins(MarginWidth(), 0, 0, 0); }

  int first_line_;
  Margin* numbers_;
};

}  // namespace

TLineViewer::TLineViewer(const QString& caption, const LineInContext& context, int clicked,
                         QWidget* parent)
    : QDialog(parent), context_(context) {
  setObjectName(QStringLiteral("LineViewer"));
  setWindowTitle(caption);
  // A dialog of the results window, above it and so above the main window;
  // as large as the user likes.
  setWindowFlags(Qt::Dialog | Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint);
  setAttribute(Qt::WA_DeleteOnClose);
  resize(760, 480);
  edtText = new NumberedText(context.first_line, this);
  edtText->setObjectName(QStringLiteral("edtText"));
  edtText->setReadOnly(true);
  edtText->setLineWrapMode(QPlainTextEdit::WidgetWidth);
  edtText->setPlainText(QString::fromStdU16String(context.text));
  btnPreviousHit = new QPushButton(tr("Previous hit"), this);
  btnPreviousHit->setObjectName(QStringLiteral("btnPreviousHit"));
  btnNextHit = new QPushButton(tr("Next hit"), this);
  btnNextHit->setObjectName(QStringLiteral("btnNextHit"));
  for (QPushButton* button : {btnPreviousHit, btnNextHit})
    button->setEnabled(context_.matches.size() > 1);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(btnPreviousHit);
  buttons->addWidget(btnNextHit);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(edtText, 1);
  layout->addLayout(buttons);
  connect(btnPreviousHit, &QPushButton::clicked, this, [this] { ShowMatch(current_ - 1); });
  connect(btnNextHit, &QPushButton::clicked, this, [this] { ShowMatch(current_ + 1); });

  current_ = std::clamp(static_cast<int>(context_.line_matches) + clicked, 0,
                        std::max(0, static_cast<int>(context_.matches.size()) - 1));
  Mark();
  QTextCursor at(edtText->document());
  at.setPosition(Position(context_.line_start));
  edtText->setTextCursor(at);
  // Centred once laid out, so that the lines before it show above it.
  QTimer::singleShot(0, edtText, [text = edtText] { text->centerCursor(); });
}

void TLineViewer::ShowMatch(int index) {
  const int count = static_cast<int>(context_.matches.size());
  if (count == 0) return;
  current_ = ((index % count) + count) % count;
  Mark();
  QTextCursor at(edtText->document());
  at.setPosition(Position(context_.matches[static_cast<std::size_t>(current_)].first));
  edtText->setTextCursor(at);
  edtText->ensureCursorVisible();
}

// The line, every match of it, and the current match apart: underlined, on
// a stronger colour.
void TLineViewer::Mark() {
  QList<QTextEdit::ExtraSelection> marks;
  QTextEdit::ExtraSelection line;
  line.cursor = QTextCursor(edtText->document());
  line.cursor.setPosition(Position(context_.line_start));
  line.format.setBackground(kLineBackground);
  line.format.setProperty(QTextFormat::FullWidthSelection, true);
  marks << line;
  for (std::size_t i = 0; i < context_.matches.size(); ++i) {
    const auto [start, length] = context_.matches[i];
    QTextEdit::ExtraSelection match;
    match.cursor = QTextCursor(edtText->document());
    match.cursor.setPosition(Position(start));
    match.cursor.setPosition(Position(start + length), QTextCursor::KeepAnchor);
    const bool current = static_cast<int>(i) == current_;
    match.format.setBackground(current ? kCurrentMatchBackground : kMatchBackground);
    match.format.setForeground(QColor(Qt::black));
    match.format.setFontWeight(QFont::Bold);
    match.format.setFontUnderline(current);
    marks << match;
  }
  edtText->setExtraSelections(marks);
}

// ---------------------------------------------------------------------------
// The window.

struct TResultsWindow::Task {
  std::function<void()> done;  // runs on the window's thread after success
  bool arranging = false;
  std::unique_ptr<BackgroundTask> work;  // started once the rest is in place
};

TResultsWindow::TResultsWindow(std::shared_ptr<const ResultSet> results,
                               SaveFilePicker& save_picker, ErrorDisplay& errors, QWidget* parent)
    : QWidget(parent, kWindowFlags), results_(std::move(results)), save_picker_(save_picker),
      errors_(errors) {
  setObjectName(QStringLiteral("ResultsWindow"));
  setWindowTitle(tr("Results"));
  resize(960, 600);
  rows_model_ = new ResultTableModel(this);
  files_model_ = new HitsPerFileModel(this);
  forms_model_ = new FormsModel(this);
  CreateControls();
  files_model_->SetResults(results_);
  tblFiles->resizeColumnsToContents();
  auto view = std::make_shared<const ResultView>(*results_);
  // A quarter of a second for a million rows; later counts run with Arrange.
  forms_model_->SetForms(
      std::make_shared<const std::vector<MatchForm>>(CountForms(*view, false)));
  tblForms->resizeColumnsToContents();
  ShowView(std::move(view));
}

// The task's end, posted to the window, is dropped unread once the window
// is gone; the task is stopped and waited for before that.
TResultsWindow::~TResultsWindow() { task_.reset(); }

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
  tblResults->horizontalHeader()->setSortIndicatorShown(false);
  tblResults->setItemDelegateForColumn(ResultTableModel::kLeft, new LeftContextDelegate(this));
  // The numbers fit seven digits; nothing measures a million rows.
  const int number = fontMetrics().horizontalAdvance(QStringLiteral("9999999")) + 16;
  const int widths[] = {280, 100, 280, 130, number, number};
  for (int column = 0; column < ResultTableModel::kColumnCount; ++column)
    tblResults->setColumnWidth(column, widths[column]);

  files_proxy_ = new TotalsLastProxy(this);
  files_proxy_->setSourceModel(files_model_);
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
  btnExportForms = new QPushButton(tr("Export forms…"), this);
  btnExportForms->setObjectName(QStringLiteral("btnExportForms"));
  auto* forms_page = new QWidget(this);
  auto* forms_bar = new QHBoxLayout;
  forms_bar->addWidget(edtFormFilter, 1);
  forms_bar->addWidget(chkFoldCase);
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

  connect(cmbOrder, &QComboBox::currentIndexChanged, this, &TResultsWindow::ArrangeFromControls);
  connect(edtFilter, &QLineEdit::textChanged, filter_delay_, qOverload<>(&QTimer::start));
  connect(edtFilter, &QLineEdit::returnPressed, this, &TResultsWindow::ArrangeFromControls);
  connect(filter_delay_, &QTimer::timeout, this, &TResultsWindow::ArrangeFromControls);
  connect(progress_poll_, &QTimer::timeout, this, [this] {
    if (task_) pbrTask->setValue(task_->work->CurrentProgress().done);
  });
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
  connect(spnContext, &QSpinBox::valueChanged, rows_model_, &ResultTableModel::SetContext);
  connect(edtFormFilter, &QLineEdit::textChanged, forms_proxy_,
          &QSortFilterProxyModel::setFilterFixedString);
  connect(chkFoldCase, &QCheckBox::toggled, this, &TResultsWindow::ArrangeFromControls);
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

// A click on a column head orders the rows by that column: the file and the
// line both by file and line, the count by the report's order (most
// matches first).
void TResultsWindow::SortByColumn(int column) {
  ResultOrder order = ResultOrder::kReport;
  switch (column) {
    case ResultTableModel::kLeft: order = ResultOrder::kLeft; break;
    case ResultTableModel::kMatch: order = ResultOrder::kMatch; break;
    case ResultTableModel::kRight: order = ResultOrder::kRight; break;
    case ResultTableModel::kFile:
    case ResultTableModel::kLine: order = ResultOrder::kFileAndLine; break;
    default: break;
  }
  cmbOrder->setCurrentIndex(cmbOrder->findData(static_cast<int>(order)));
}

void TResultsWindow::ShowView(std::shared_ptr<const ResultView> view) {
  rows_model_->SetView(results_, std::move(view));
  ShowRowCount();
}

void TResultsWindow::ArrangeFromControls() {
  filter_delay_->stop();
  Arrange(static_cast<ResultOrder>(cmbOrder->currentData().toInt()), edtFilter->text());
}

void TResultsWindow::Arrange(ResultOrder order, const QString& filter) {
  if (task_) {
    // The newest request wins; one that arranges is of no use any more.
    pending_.emplace(order, filter);
    if (task_->arranging) task_->work->Cancel();
    return;
  }
  auto arranged = std::make_shared<std::shared_ptr<const ResultView>>();
  auto forms = std::make_shared<std::shared_ptr<const std::vector<MatchForm>>>();
  std::shared_ptr<const ResultSet> results = results_;
  const std::u16string text = filter.toStdU16String();
  const bool fold = chkFoldCase->isChecked();
  StartTask(
      tr("Arranging…"),
      [arranged, forms, results, order, text, fold](const std::atomic<bool>& cancel,
                                                    const BackgroundTask::Report& report) {
        auto view = std::make_shared<ResultView>(*results);
        view->Arrange(order, text, &cancel, [&report](int percent) { report(percent, 100, {}); });
        *forms = std::make_shared<const std::vector<MatchForm>>(CountForms(*view, fold, &cancel));
        *arranged = std::move(view);
      },
      [this, arranged, forms] {
        ShowView(*arranged);
        forms_model_->SetForms(*forms);
        tblForms->resizeColumnsToContents();
      });
  task_->arranging = true;
}

void TResultsWindow::StartTask(const QString& what, BackgroundTask::Work work,
                               std::function<void()> done) {
  task_ = std::make_unique<Task>();
  task_->done = std::move(done);
  lblTask->setText(what);
  pbrTask->setValue(0);
  for (QWidget* widget : {static_cast<QWidget*>(lblTask), static_cast<QWidget*>(pbrTask),
                          static_cast<QWidget*>(btnCancel)})
    widget->show();
  for (QPushButton* button : {btnExportCsv, btnExportTsv, btnExportForms}) button->setEnabled(false);
  progress_poll_->start();
  task_->work = std::make_unique<BackgroundTask>(std::move(work), [this] {
    QMetaObject::invokeMethod(this, &TResultsWindow::EndTask, Qt::QueuedConnection);
  });
}

void TResultsWindow::EndTask() {
  if (!task_) return;
  const std::unique_ptr<Task> task = std::move(task_);
  progress_poll_->stop();
  for (QWidget* widget : {static_cast<QWidget*>(lblTask), static_cast<QWidget*>(pbrTask),
                          static_cast<QWidget*>(btnCancel)})
    widget->hide();
  for (QPushButton* button : {btnExportCsv, btnExportTsv, btnExportForms}) button->setEnabled(true);
  try {
    task->work->Result();
    task->done();
  } catch (const ECancelled&) {
    // Nothing changed, and the user knows why.
  } catch (const std::exception& error) {
    errors_.ShowError(this, QString::fromStdString(error.what()));
  }
  if (pending_) {
    const auto [order, filter] = *pending_;
    pending_.reset();
    Arrange(order, filter);
  }
  emit taskEnded();
}

void TResultsWindow::CancelTask() {
  pending_.reset();
  if (task_) task_->work->Cancel();
}

void TResultsWindow::ShowRowCount() {
  const std::size_t shown = rows_model_->View() ? rows_model_->View()->RowCount() : 0;
  lblRows->setText(tr("%1 of %2 matches")
                       .arg(QLocale().toString(static_cast<qulonglong>(shown)),
                            QLocale().toString(static_cast<qulonglong>(results_->HitCount()))));
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
  const std::shared_ptr<const ResultView>& view = rows_model_->View();
  if (!view) return QString();
  const std::vector<std::size_t> rows = SelectedRows();
  if (rows.empty()) return QString();
  std::string table;
  WriteTable(view->Subset(rows), TableFormat::kTsv,
             [&table](std::string_view bytes) { table.append(bytes); }, nullptr,
             rows_model_->Context());
  return QString::fromStdString(table);
}

void TResultsWindow::CopySelection() {
  const std::shared_ptr<const ResultView>& view = rows_model_->View();
  if (task_ || !view) return;
  auto selected = std::make_shared<const ResultView>(view->Subset(SelectedRows()));
  if (selected->RowCount() == 0) return;
  // The text is made whole on the task's thread, as the clipboard takes it,
  // so that the window only hands it over.
  auto table = std::make_shared<QString>();
  const int context = rows_model_->Context();
  StartTask(
      tr("Copying…"),
      [selected, table, context](const std::atomic<bool>& cancel,
                                 const BackgroundTask::Report& report) {
        table->reserve(static_cast<qsizetype>(TableTextSizeHint(*selected, context)));
        WriteTableText(
            *selected, TableFormat::kTsv,
            [&table](std::u16string_view rows) {
              table->append(QStringView(rows.data(), static_cast<qsizetype>(rows.size())));
            },
            &cancel, context, [&report](int percent) { report(percent, 100, {}); });
      },
      [table] { QApplication::clipboard()->setText(*table); });
}

std::vector<int> TResultsWindow::ShownFiles() const {
  std::vector<int> files;
  const int totals = files_model_->rowCount() - 1;
  for (int row = 0; row < files_proxy_->rowCount(); ++row) {
    const int file = files_proxy_->mapToSource(files_proxy_->index(row, 0)).row();
    if (file != totals) files.push_back(file);
  }
  return files;
}

QString TResultsWindow::HitsPerFileAsText() const {
  std::string table;
  WriteHitsPerFile(*results_, ShownFiles(), TableFormat::kTsv,
                   [&table](std::string_view bytes) { table.append(bytes); });
  return QString::fromStdString(table);
}

void TResultsWindow::ExportHitsPerFile(const QString& path) {
  const TableFormat format = path.endsWith(QStringLiteral(".csv"), Qt::CaseInsensitive)
                                 ? TableFormat::kCsv
                                 : TableFormat::kTsv;
  try {
    WriteFileWith(NativePath(path), [&](TStream& stream) {
      WriteHitsPerFile(*results_, ShownFiles(), format, [&stream](std::string_view bytes) {
        stream.Write(bytes.data(), static_cast<std::int64_t>(bytes.size()));
      });
    });
  } catch (const std::exception& error) {
    errors_.ShowError(this, QString::fromStdString(error.what()));
  }
}

void TResultsWindow::ShowFormRows(int row) {
  const std::shared_ptr<const ResultView>& view = rows_model_->View();
  if (!view || row < 0 || row >= forms_proxy_->rowCount()) return;
  const std::u16string form =
      forms_proxy_->index(row, FormsModel::kForm).data().toString().toStdU16String();
  ShowView(std::make_shared<const ResultView>(RowsOfForm(*view, form, chkFoldCase->isChecked())));
  tabResults->setCurrentIndex(0);
}

void TResultsWindow::ExportForms(const QString& path) {
  const std::shared_ptr<const std::vector<MatchForm>>& all = forms_model_->Forms();
  if (task_ || !all) return;
  // The forms as the tab shows them: filtered and sorted there.
  auto shown = std::make_shared<std::vector<MatchForm>>();
  for (int row = 0; row < forms_proxy_->rowCount(); ++row)
    shown->push_back((*all)[static_cast<std::size_t>(forms_proxy_->mapToSource(forms_proxy_->index(row, 0)).row())]);
  StartTask(
      tr("Writing %1…").arg(path),
      [shown, path](const std::atomic<bool>& cancel, const BackgroundTask::Report&) {
        WriteFormsFile(*shown, NativePath(path), &cancel);
      },
      [] {});
}

void TResultsWindow::Export(TableFormat format, const QString& path) {
  if (task_) return;
  std::shared_ptr<const ResultView> view = rows_model_->View();
  const int context = rows_model_->Context();
  StartTask(
      tr("Writing %1…").arg(path),
      [view, format, path, context](const std::atomic<bool>& cancel,
                                    const BackgroundTask::Report&) {
        WriteTableFile(*view, format, NativePath(path), &cancel, context);
      },
      [] {});
}

void TResultsWindow::ChooseExport(TableFormat format) {
  const bool csv = format == TableFormat::kCsv;
  const std::optional<QString> path = save_picker_.ChooseSaveFile(
      this, csv ? tr("Export as CSV") : tr("Export as TSV"),
      csv ? QStringLiteral("results.csv") : QStringLiteral("results.tsv"),
      csv ? tr("CSV files (*.csv)") : tr("TSV files (*.tsv *.txt)"));
  if (path) Export(format, *path);
}

TLineViewer* TResultsWindow::OpenLine(int row) {
  const std::shared_ptr<const ResultView>& view = rows_model_->View();
  if (!view || row < 0 || static_cast<std::size_t>(row) >= view->RowCount()) return nullptr;
  const ResultLine line = view->Line(static_cast<std::size_t>(row));
  try {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const LineInContext context =
        ReadLineInContext(*results_, line, TLineViewer::kLinesAround);
    QApplication::restoreOverrideCursor();
    const QString caption =
        tr("%1 — line %2")
            .arg(ShownName(results_->Files()[static_cast<std::size_t>(line.file)]))
            .arg(line.line);
    auto* viewer = new TLineViewer(caption, context,
                                   static_cast<int>(view->Row(static_cast<std::size_t>(row)).span),
                                   this);
    viewer->show();
    return viewer;
  } catch (const ELineGone& gone) {
    QApplication::restoreOverrideCursor();
    errors_.ShowError(this, QCoreApplication::translate("tallyfold::TLineViewer",
                                                        "\"%1\" has no line %2 any more.")
                                .arg(PathFromNative(gone.Path()))
                                .arg(gone.Line()));
  } catch (const std::exception& error) {
    QApplication::restoreOverrideCursor();
    errors_.ShowError(this, QString::fromStdString(error.what()));
  }
  return nullptr;
}

}  // namespace tallyfold
