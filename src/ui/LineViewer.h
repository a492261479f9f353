// TLineViewer: a line of a search's results in its file, read again as the
// search read it (app/LineInFile.h), for the results window.
//
//   auto* viewer = new tallyfold::TLineViewer(caption, context, clicked, results_window);
//   viewer->show();   // deleted when closed
#pragma once

#include <QDialog>
#include <QString>

#include "app/LineInFile.h"

class QPlainTextEdit;
class QPushButton;

namespace tallyfold {

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

}  // namespace tallyfold
