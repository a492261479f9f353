// The desktop services the main window relies on: choosing a folder,
// choosing a file to save to, opening a document or web address with the
// user's preferred application, showing an error or a piece of information,
// and the folder for the user's reports.
//
// The window receives them in its constructor, so tests hand it fakes with
// canned answers while the program hands it the Qt implementations below:
//
//   tallyfold::QtFolderPicker picker;
//   tallyfold::QtSaveFilePicker save_picker;
//   tallyfold::QtDesktopOpener opener;
//   tallyfold::QtErrorDisplay errors(tallyfold::ApplicationTitle());
//   tallyfold::TForm1 form(picker, save_picker, opener, errors);
//
// None of them throws. Whatever they show over a window belongs to it: the
// window manager keeps it above that window, which itself stays on top. The
// program's window writes its reports into UserReportFolder(); tests give it
// a folder of their own.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <utility>

#include <QObject>
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

// A modal chooser of a file to save to.
class SaveFilePicker {
 public:
  virtual ~SaveFilePicker() = default;
  // Shows the chooser over `owner`, captioned `caption`, offering the name
  // `suggested_name` and the kinds of file in `filter` ("CSV files (*.csv)").
  // Returns the path chosen, or nothing when the user cancelled. A file
  // that exists has been confirmed for replacing.
  virtual std::optional<QString> ChooseSaveFile(QWidget* owner, const QString& caption,
                                                const QString& suggested_name,
                                                const QString& filter) = 0;
};

// The desktop's "open with the preferred application" request.
class DesktopOpener {
 public:
  // Told once whether the document or address was opened.
  using Done = std::function<void(bool opened)>;

  virtual ~DesktopOpener() = default;
  // Asks the desktop to open `url` and returns without waiting for the
  // answer; `done`, when not empty, is called with it later on the window's
  // thread (or before Open returns, when the answer is known at once).
  virtual void Open(const QUrl& url, Done done) = 0;
};

// The display of an error that ended a command, or that kept part of it
// from happening, and of information the user needs after a command.
class ErrorDisplay {
 public:
  virtual ~ErrorDisplay() = default;
  // Each shows `text` over `owner` and returns once the user has dismissed
  // it.
  virtual void ShowError(QWidget* owner, const QString& text) = 0;
  virtual void ShowInformation(QWidget* owner, const QString& text) = 0;
  // Asks a yes-or-no question over `owner`; true for yes. A display that
  // cannot ask answers no, which leaves things as they would have been.
  virtual bool Ask(QWidget* owner, const QString& question) {
    (void)owner;
    (void)question;
    return false;
  }
};

// QFileDialog's folder chooser; the platform's own dialog where there is one.
class QtFolderPicker final : public FolderPicker {
 public:
  std::optional<QUrl> ChooseFolder(QWidget* owner,
                                   const QString& initial_folder) override;
};

// Qt's own save dialog, a dialog of its owner: the window manager keeps it,
// with its owner, above the main window, which stays on top. A dialog of
// the desktop's own, run by another process, would be placed by it and
// could end up under the main window, Save button and all.
class QtSaveFilePicker final : public SaveFilePicker {
 public:
  std::optional<QString> ChooseSaveFile(QWidget* owner, const QString& caption,
                                        const QString& suggested_name,
                                        const QString& filter) override;
};

// Runs the desktop's opener, xdg-open, found on PATH at each request, and
// learns from its exit status whether it opened the document: exit 0 is
// success; a non-zero exit (xdg-open exits 3 when no application takes the
// document, 4 when the one it started failed), a crash or a program that
// cannot be started is failure. An opener still running after kPatience
// has started an application that is in use: success, and it is left to
// run. Without an xdg-open on PATH the request goes to
// QDesktopServices::openUrl, whose answer is all there is. Openers still
// running when this object goes are left to run too.
class QtDesktopOpener final : public DesktopOpener {
 public:
  static constexpr std::chrono::milliseconds kPatience{8000};

  explicit QtDesktopOpener(QString program = QStringLiteral("xdg-open"),
                           std::chrono::milliseconds patience = kPatience);
  ~QtDesktopOpener() override;
  QtDesktopOpener(const QtDesktopOpener&) = delete;
  QtDesktopOpener& operator=(const QtDesktopOpener&) = delete;

  void Open(const QUrl& url, Done done) override;

 private:
  QString program_;                // the opener's name, looked up on PATH
  std::chrono::milliseconds patience_;
  std::unique_ptr<QObject> runs_;  // parent of the openers being watched
};

// A modal message box with the error (or information, or question) icon and
// the given caption, owned by `owner`, so that it stays above it.
class QtErrorDisplay final : public ErrorDisplay {
 public:
  explicit QtErrorDisplay(QString caption) : caption_(std::move(caption)) {}
  void ShowError(QWidget* owner, const QString& text) override;
  void ShowInformation(QWidget* owner, const QString& text) override;
  bool Ask(QWidget* owner, const QString& question) override;

 private:
  QString caption_;  // the application title
};

// The folder for the window's reports: the user's own data folder for the
// program with "/reports" added; on Linux $XDG_DATA_HOME/tallyfold/reports,
// which is ~/.local/share/tallyfold/reports unless XDG_DATA_HOME says
// otherwise; empty when the system names no data folder at all (no home).
// The folder is not made here (TForm1::SetReportFolder makes it).
// It does not depend on the application's or organisation's name, so it
// stays where it is whatever the program calls itself.
QString UserReportFolder();

}  // namespace tallyfold
