// The results window's models (ResultModels.h).
#include "ui/ResultModels.h"

#include <algorithm>
#include <climits>

#include <QColor>
#include <QFont>

#include "text/WideHelpers.h"
#include "ui/NativePath.h"

namespace tallyfold {
namespace {

// The match as the report shows it: bold black on yellow.
const QColor kMatchBackground{0xff, 0xe0, 0x66};

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

QString ShownName(const ResultFile& file) {
  return PathFromNative(file.shown_name);
}

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

void HitsPerFileModel::SetResults(std::shared_ptr<const ResultSet> results, HitsPerFile hits) {
  beginResetModel();
  results_ = std::move(results);
  hits_ = std::move(hits);
  endResetModel();
}

int HitsPerFileModel::rowCount(const QModelIndex& parent) const {
  if (parent.isValid() || !results_) return 0;
  return static_cast<int>(hits_.files.size()) + 1;
}

int HitsPerFileModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : kColumnCount;
}

QVariant HitsPerFileModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || !results_) return QVariant();
  const auto row = static_cast<std::size_t>(index.row());
  const bool is_total = row == hits_.files.size();
  if (row > hits_.files.size()) return QVariant();
  const FileHits& hits = is_total ? hits_.totals : hits_.files[row];
  static const ResultFile kNoFile;
  const ResultFile& file = is_total ? kNoFile : results_->Files()[row];
  const int column = index.column();
  switch (role) {
    case Qt::DisplayRole:
    case Qt::UserRole:  // what the column sorts by
      switch (column) {
        case kFile: return is_total ? tr("Total") : ShownName(file);
        case kLines: return hits.lines;
        case kMatches: return static_cast<qlonglong>(hits.matches);
        case kPerTenThousand:
          if (role == Qt::UserRole) return static_cast<qulonglong>(hits.per_ten_thousand);
          return QString::fromStdString(TwoDecimals(hits.per_ten_thousand));
        case kCharacters: return static_cast<qlonglong>(hits.characters);
        case kEncoding: return is_total ? QVariant() : EncodingText(file.read);
        case kReplaced: return static_cast<qulonglong>(hits.replaced);
        case kNuls: return static_cast<qulonglong>(hits.nuls);
        default: return QVariant();
      }
    case Qt::ToolTipRole:
      if (is_total) return QVariant();
      if (column == kFile) return PathFromNative(file.path);
      if (column == kEncoding) return EncodingReason(file.read);
      if (column == kReplaced && hits.replaced > 0)
        return tr("Byte sequences that are not text in %1, each read as �")
            .arg(QString::fromStdString(file.read.codeset));
      return QVariant();
    case Qt::ForegroundRole:
      // What may have been read wrong stands out.
      if ((column == kReplaced && hits.replaced > 0) || (column == kNuls && hits.nuls > 0))
        return QColor(Qt::darkRed);
      return QVariant();
    case Qt::TextAlignmentRole:
      return QVariant::fromValue((column == kFile ? Qt::AlignLeft : Qt::AlignRight) |
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
  if (orientation != Qt::Horizontal) return QVariant();
  // Counts and rates: the largest first, at the first click.
  if (role == Qt::InitialSortOrderRole) {
    return QVariant::fromValue(section == kFile || section == kEncoding ? Qt::AscendingOrder
                                                                        : Qt::DescendingOrder);
  }
  if (role != Qt::DisplayRole) return QVariant();
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
  if (role != Qt::DisplayRole && role != Qt::UserRole) return QVariant();
  switch (index.column()) {
    case kForm: return QString::fromStdU16String(form.form);
    case kMatches: return static_cast<qulonglong>(form.matches);
    case kLines: return static_cast<qulonglong>(form.lines);
    case kFiles: return static_cast<qulonglong>(form.files);
    default: return QVariant();
  }
}

QVariant FormsModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal) return QVariant();
  // Counts: the most frequent first, at the first click.
  if (role == Qt::InitialSortOrderRole)
    return QVariant::fromValue(section == kForm ? Qt::AscendingOrder : Qt::DescendingOrder);
  if (role != Qt::DisplayRole) return QVariant();
  static const char* const kTitles[kColumnCount] = {QT_TR_NOOP("Form"), QT_TR_NOOP("Matches"),
                                                    QT_TR_NOOP("Lines"), QT_TR_NOOP("Files")};
  if (section < 0 || section >= kColumnCount) return QVariant();
  return tr(kTitles[section]);
}

// ---------------------------------------------------------------------------
// The views' helpers.

void LeftContextDelegate::initStyleOption(QStyleOptionViewItem* option,
                                          const QModelIndex& index) const {
  QStyledItemDelegate::initStyleOption(option, index);
  option->textElideMode = Qt::ElideLeft;
}

bool TotalsLastProxy::lessThan(const QModelIndex& left, const QModelIndex& right) const {
  const int totals = sourceModel()->rowCount() - 1;
  const bool ascending = sortOrder() == Qt::AscendingOrder;
  if (left.row() == totals) return !ascending;
  if (right.row() == totals) return ascending;
  return QSortFilterProxyModel::lessThan(left, right);
}

}  // namespace tallyfold
