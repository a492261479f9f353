// The progress dialog and the wait behind it (SearchProgress.h).
//
// tests/ui/WindowSearchTest.cpp drives both through the main window.
#include "ui/SearchProgress.h"
#include "ui/NativePath.h"

#include <memory>

#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFontMetrics>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

namespace tallyfold {
namespace {

// How often the wait looks at the search: often enough that the dialog
// closes well within a tenth of a second of the search's end.
constexpr std::chrono::milliseconds kPollInterval{15};

constexpr int kDialogWidth = 420;

}  // namespace

TSearchProgressDialog::TSearchProgressDialog(QWidget* owner, const QString& caption)
    : QDialog(owner) {
  setObjectName(QStringLiteral("SearchProgress"));
  setWindowTitle(caption);
  // Above the main window, which itself stays above all others; no help or
  // context buttons, just the close box.
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowCloseButtonHint | Qt::WindowStaysOnTopHint);
  setWindowModality(Qt::ApplicationModal);
  setFixedWidth(kDialogWidth);

  lblProgress = new QLabel(this);
  lblProgress->setObjectName(QStringLiteral("lblProgress"));
  lblProgress->setTextFormat(Qt::PlainText);
  lblCurrentFile = new QLabel(this);
  lblCurrentFile->setObjectName(QStringLiteral("lblCurrentFile"));
  lblCurrentFile->setTextFormat(Qt::PlainText);
  pbrProgress = new QProgressBar(this);
  pbrProgress->setObjectName(QStringLiteral("pbrProgress"));
  pbrProgress->setTextVisible(false);
  btnCancel = new QPushButton(tr("Cancel"), this);
  btnCancel->setObjectName(QStringLiteral("btnCancel"));

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(lblProgress);
  layout->addWidget(lblCurrentFile);
  layout->addWidget(pbrProgress);
  layout->addWidget(btnCancel, 0, Qt::AlignRight);

  connect(btnCancel, &QPushButton::clicked, this, &TSearchProgressDialog::reject);
  ShowProgress({});
}

void TSearchProgressDialog::ShowProgress(const BackgroundTask::Progress& progress) {
  lblProgress->setText(tr("%1 of %2 files").arg(progress.done).arg(progress.total));
  // Long paths lose their middle, so that the folder and the file name stay.
  // Once every file is read, what is left is sorting and writing the report,
  // which for millions of matching lines takes a moment of its own.
  const QString path = progress.total > 0 && progress.done == progress.total
                           ? tr("Writing the report…")
                           : PathFromNative(progress.current);
  lblCurrentFile->setText(QFontMetrics(lblCurrentFile->font())
                              .elidedText(path, Qt::ElideMiddle, lblCurrentFile->width()));
  pbrProgress->setRange(0, progress.total > 0 ? progress.total : 1);
  pbrProgress->setValue(progress.done);
}

void TSearchProgressDialog::reject() {
  if (cancel_requested_) return;
  cancel_requested_ = true;
  btnCancel->setEnabled(false);
  lblProgress->setText(tr("Cancelling…"));
  emit cancelRequested();
}

void WaitForSearch(QWidget* owner, BackgroundTask& search, const QString& caption,
                   std::chrono::milliseconds delay) {
  if (search.WaitFor(std::chrono::milliseconds(0))) return;
  QElapsedTimer clock;
  clock.start();
  QEventLoop loop;
  std::unique_ptr<TSearchProgressDialog> dialog;
  QTimer poll;
  poll.setInterval(kPollInterval);
  QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
    if (search.WaitFor(std::chrono::milliseconds(0))) {
      loop.quit();
    } else if (!dialog) {
      if (clock.elapsed() >= delay.count()) loop.quit();
    } else if (!dialog->CancelRequested()) {
      dialog->ShowProgress(search.CurrentProgress());
    }
  });
  poll.start();

  // Until the dialog is due, input stays queued: the window behaves as it
  // does during a short search.
  loop.exec(QEventLoop::ExcludeUserInputEvents);
  if (search.WaitFor(std::chrono::milliseconds(0))) return;

  dialog = std::make_unique<TSearchProgressDialog>(owner, caption);
  QObject::connect(dialog.get(), &TSearchProgressDialog::cancelRequested, &loop,
                   [&search] { search.Cancel(); });
  dialog->show();
  dialog->ShowProgress(search.CurrentProgress());
  loop.exec();
}

}  // namespace tallyfold
