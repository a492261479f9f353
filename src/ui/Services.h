// The desktop services the main window relies on: choosing a folder, opening
// a document or web address with the user's preferred application, and
// showing an error.
//
// The window receives them in its constructor, so tests hand it fakes with
// canned answers while the program hands it the Qt implementations below:
//
//   tallyfold::QtFolderPicker picker;
//   tallyfold::QtDesktopOpener opener;
//   tallyfold::QtErrorDisplay errors(tallyfold::ApplicationTitle());
//   tallyfold::TForm1 form(picker, opener, errors);
//
// None of them throws.
#pragma once

#include <optional>
#include <utility>

#include <QString>
#include <QUrl>

class QWidget;

namespace tallyfold {

// A modal folder chooser.
class FolderPicker {
 public:
  virtual ~FolderPicker() = default;
  // Shows the chooser over `owner`, starting at `initial_folder`. Returns the
  // chosen item, or nothing when the user cancelled. The item need not be a
  // local folder: a network place or a virtual folder has a URL but no
  // file-system path.
  virtual std::optional<QUrl> ChooseFolder(QWidget* owner,
                                           const QString& initial_folder) = 0;
};

// The desktop's "open with the preferred application" request.
class DesktopOpener {
 public:
  virtual ~DesktopOpener() = default;
  // True when the desktop accepted the request.
  virtual bool Open(const QUrl& url) = 0;
};

// The display of an error that ended a command.
class ErrorDisplay {
 public:
  virtual ~ErrorDisplay() = default;
  // Shows `text` over `owner` and returns once the user has dismissed it.
  virtual void ShowError(QWidget* owner, const QString& text) = 0;
};

// QFileDialog's folder chooser; the platform's own dialog where there is one.
class QtFolderPicker final : public FolderPicker {
 public:
  std::optional<QUrl> ChooseFolder(QWidget* owner,
                                   const QString& initial_folder) override;
};

// QDesktopServices::openUrl.
class QtDesktopOpener final : public DesktopOpener {
 public:
  bool Open(const QUrl& url) override;
};

// A modal message box with the error icon and the given caption.
class QtErrorDisplay final : public ErrorDisplay {
 public:
  explicit QtErrorDisplay(QString caption) : caption_(std::move(caption)) {}
  void ShowError(QWidget* owner, const QString& text) override;

 private:
  QString caption_;  // the application title
};

}  // namespace tallyfold
