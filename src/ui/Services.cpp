// The Qt implementations of the window's desktop services (Services.h).
#include "ui/Services.h"

#include <QDesktopServices>
#include <QFileDialog>
#include <QMessageBox>
#include <QProcess>
#include <QStandardPaths>
#include <QTimer>

namespace tallyfold {

std::optional<QUrl> QtFolderPicker::ChooseFolder(QWidget* owner,
                                                 const QString& initial_folder) {
  // The URL form of the dialog lets the user pick places outside the file
  // system too; the caller decides what such a choice means.
  const QUrl chosen = QFileDialog::getExistingDirectoryUrl(
      owner, QString(), QUrl::fromLocalFile(initial_folder));
  if (chosen.isEmpty()) return std::nullopt;
  return chosen;
}

std::optional<QString> QtSaveFilePicker::ChooseSaveFile(QWidget* owner, const QString& caption,
                                                        const QString& suggested_name,
                                                        const QString& filter) {
  QFileDialog dialog(owner, caption, suggested_name, filter);
  dialog.setObjectName(QStringLiteral("SaveFileDialog"));
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
  return dialog.selectedFiles().constFirst();
}

QtDesktopOpener::QtDesktopOpener(QString program, std::chrono::milliseconds patience)
    : program_(std::move(program)), patience_(patience), runs_(std::make_unique<QObject>()) {}

QtDesktopOpener::~QtDesktopOpener() {
  // Deleting a QProcess kills it, and an opener may be running the
  // application it started: the openers still running are let go instead.
  for (QProcess* process : runs_->findChildren<QProcess*>(Qt::FindDirectChildrenOnly)) {
    process->disconnect();
    process->setParent(nullptr);
  }
}

void QtDesktopOpener::Open(const QUrl& url, Done done) {
  const QString opener = QStandardPaths::findExecutable(program_);
  if (opener.isEmpty()) {
    const bool opened = QDesktopServices::openUrl(url);
    if (done) done(opened);
    return;
  }
  auto* process = new QProcess(runs_.get());
  process->setProcessChannelMode(QProcess::ForwardedChannels);
  // The answer is given once: at the opener's end, at a failed start or when
  // patience runs out, whichever comes first.
  auto answer = std::make_shared<Done>(std::move(done));
  const auto tell = [answer](bool opened) {
    if (!*answer) return;
    const Done once = std::move(*answer);
    *answer = nullptr;
    once(opened);
  };
  auto* patience = new QTimer(process);
  patience->setSingleShot(true);
  patience->setInterval(patience_);
  QObject::connect(patience, &QTimer::timeout, process, [tell] { tell(true); });
  QObject::connect(process, &QProcess::finished, process,
                   [process, tell](int code, QProcess::ExitStatus status) {
                     tell(status == QProcess::NormalExit && code == 0);
                     process->deleteLater();
                   });
  QObject::connect(process, &QProcess::errorOccurred, process,
                   [process, tell](QProcess::ProcessError error) {
                     // A crash is told by finished as well.
                     if (error != QProcess::FailedToStart) return;
                     tell(false);
                     process->deleteLater();
                   });
  patience->start();
  process->start(opener, {url.isLocalFile() ? url.toLocalFile() : url.toString()});
}

void QtErrorDisplay::ShowError(QWidget* owner, const QString& text) {
  QMessageBox box(QMessageBox::Critical, caption_, text, QMessageBox::Ok, owner);
  box.exec();
}

void QtErrorDisplay::ShowInformation(QWidget* owner, const QString& text) {
  QMessageBox box(QMessageBox::Information, caption_, text, QMessageBox::Ok, owner);
  box.exec();
}

bool QtErrorDisplay::Ask(QWidget* owner, const QString& question) {
  QMessageBox box(QMessageBox::Question, caption_, question,
                  QMessageBox::Yes | QMessageBox::No, owner);
  box.setDefaultButton(QMessageBox::Yes);
  return box.exec() == QMessageBox::Yes;
}

QString UserReportFolder() {
  // The generic location and a fixed name rather than AppDataLocation,
  // which would move with an organisation name set for other reasons.
  const QString data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
  if (data.isEmpty()) return QString();
  return data + QStringLiteral("/tallyfold/reports");
}

}  // namespace tallyfold
