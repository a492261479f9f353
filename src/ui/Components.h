// The two toolkit components of the main window that Qt has no exact
// counterpart for: the folder-picker component and the hyperlink label.
//
// TSelectFolderDialog remembers an initial folder, shows a FolderPicker and
// hands back the chosen folder as the byte string the corpus scan takes:
//
//   tallyfold::TSelectFolderDialog dialog(picker);
//   dialog.SetInitialDir(u"/home/me/"_s);
//   if (dialog.Execute(window)) use(dialog.Directory());
//
// TUrlLabel is a label that opens a web address when clicked:
//
//   auto* link = new tallyfold::TUrlLabel(opener, window);
//   link->setText(u"example.org"_s);
//   link->SetUrl(u"https://example.org/"_s);
//
// Execute raises tallyfold::Exception "TSelectFolderDialog already executing"
// when it is called again while its picker is showing.
#pragma once

#include <string>

#include <QColor>
#include <QLabel>
#include <QString>

namespace tallyfold {

class DesktopOpener;
class FolderPicker;

class TSelectFolderDialog {
 public:
  explicit TSelectFolderDialog(FolderPicker& picker) : picker_(picker) {}
  TSelectFolderDialog(const TSelectFolderDialog&) = delete;
  TSelectFolderDialog& operator=(const TSelectFolderDialog&) = delete;

  void SetInitialDir(const QString& folder) { initial_dir_ = folder; }
  const QString& InitialDir() const { return initial_dir_; }

  // Shows the picker modally over `owner`. True when the user confirmed a
  // choice; Directory() then holds it. On cancel Directory() is unchanged.
  bool Execute(QWidget* owner);

  // The confirmed folder's file-system path, encoded as the file system
  // names it; empty when the chosen item has no file-system path.
  const std::string& Directory() const { return directory_; }

 private:
  FolderPicker& picker_;
  QString initial_dir_;
  std::string directory_;
  bool executing_ = false;  // guards against showing the picker twice
};

class TUrlLabel : public QLabel {
 public:
  static inline const QColor kLinkColor{255, 0, 0};       // red
  static inline const QColor kVisitedColor{128, 0, 128};  // purple

  TUrlLabel(DesktopOpener& opener, QWidget* parent);

  void SetUrl(const QString& url) { url_ = url; }
  const QString& Url() const { return url_; }

  // Asks the desktop to open the address, or the caption when the address
  // is blank. Turns to the visited colour once the desktop has opened it.
  void Click();

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void paintEvent(QPaintEvent* event) override;

 private:
  void SetTextColor(const QColor& color);

  DesktopOpener& opener_;
  QString url_;
  bool pressed_ = false;  // a left press began on the label
};

}  // namespace tallyfold
