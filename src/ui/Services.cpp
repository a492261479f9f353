// The Qt implementations of the window's desktop services (Services.h).
#include "ui/Services.h"

#include <QDesktopServices>
#include <QFileDialog>
#include <QMessageBox>
#include <QStandardPaths>

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

bool QtDesktopOpener::Open(const QUrl& url) {
  return QDesktopServices::openUrl(url);
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
