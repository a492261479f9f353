// The window's side of a long search: waiting for it without freezing, and
// the progress dialog with its Cancel button.
//
// WaitForSearch keeps the event loop turning while a search runs as a
// BackgroundTask (app/BackgroundTask.h), and returns once it has ended:
//
//   tallyfold::BackgroundTask search(tallyfold::SearchWork(options, lists, stats));
//   tallyfold::WaitForSearch(window, search, tallyfold::ApplicationTitle());
//   search.Result();   // stats filled in, or the search's error
//
// For the first half second the window only repaints: user input waits in
// the queue, as it would behind a search on the window's own thread, so a
// short search looks and behaves as it always did. After that a modal
// TSearchProgressDialog shows the files done of the total and the file being
// scanned; it blocks input to every other window, and its Cancel button (or
// Escape, or its close box) asks the search to stop.
#pragma once

#include <chrono>

#include <QDialog>
#include <QString>

#include "app/BackgroundTask.h"

class QLabel;
class QProgressBar;
class QPushButton;

namespace tallyfold {

class TSearchProgressDialog : public QDialog {
  Q_OBJECT

 public:
  TSearchProgressDialog(QWidget* owner, const QString& caption);

  // Shows `progress`: "N of M files" and the current file's path.
  void ShowProgress(const BackgroundTask::Progress& progress);

  // True once the user has asked to cancel.
  bool CancelRequested() const { return cancel_requested_; }

 signals:
  void cancelRequested();

 public slots:
  // Escape and the close box cancel the search; the dialog stays until the
  // search has ended.
  void reject() override;

 private:
  QLabel* lblProgress;
  QLabel* lblCurrentFile;
  QProgressBar* pbrProgress;
  QPushButton* btnCancel;
  bool cancel_requested_ = false;
};

// How long a search runs before the progress dialog appears.
inline constexpr std::chrono::milliseconds kProgressDelay{500};

// Returns once `search` has ended, showing the progress dialog over `owner`
// when it takes longer than `delay`. Cancel in the dialog calls
// search.Cancel().
void WaitForSearch(QWidget* owner, BackgroundTask& search, const QString& caption,
                   std::chrono::milliseconds delay = kProgressDelay);

}  // namespace tallyfold
