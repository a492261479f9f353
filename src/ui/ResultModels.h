// The tables of the results window as Qt models: the matches one per row,
// the forms of the matches, and the hits per file with their totals. Each
// shows what the results controller (app/ResultsController.h) holds and
// computes nothing of its own; the numbers are numbers to a sorting proxy
// (Qt::UserRole; display texts may be formatted), and a count's column
// sorts most frequent first at its first click (Qt::InitialSortOrderRole).
//
//   tallyfold::ResultTableModel rows;
//   rows.SetView(results, controller.Rows());
//   tallyfold::HitsPerFileModel files;
//   files.SetResults(results, controller.Files());
#pragma once

#include <memory>
#include <vector>

#include <QAbstractTableModel>
#include <QSortFilterProxyModel>
#include <QStyledItemDelegate>
#include <QString>

#include "app/MatchForms.h"
#include "app/ResultSet.h"
#include "app/ResultView.h"
#include "text/TextFile.h"

namespace tallyfold {

// The rows of a ResultView as a table; data() reads only the row asked for.
class ResultTableModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  // As RowsColumn (app/ResultsController.h) numbers them.
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
  // `hits`: CountHitsPerFile(*results).
  void SetResults(std::shared_ptr<const ResultSet> results, HitsPerFile hits);
  bool IsTotals(int row) const { return results_ && row == static_cast<int>(hits_.files.size()); }

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
  HitsPerFile hits_;
};

// The left context cut where it is furthest from the match.
class LeftContextDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;

 protected:
  void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override;
};

// Hits per file sorted by any column, the totals' row last either way.
class TotalsLastProxy : public QSortFilterProxyModel {
 public:
  using QSortFilterProxyModel::QSortFilterProxyModel;

 protected:
  bool lessThan(const QModelIndex& left, const QModelIndex& right) const override;
};

}  // namespace tallyfold
