// The folder-picker component and the hyperlink label (Components.h).
#include "ui/Components.h"

#include <QFile>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>

#include "platform/Exception.h"
#include "ui/Services.h"
#include "ui/NativePath.h"

namespace tallyfold {

bool TSelectFolderDialog::Execute(QWidget* owner) {
  if (executing_) throw Exception("TSelectFolderDialog already executing");
  executing_ = true;
  struct Reset {
    bool& flag;
    ~Reset() { flag = false; }
  } reset{executing_};
  const std::optional<QUrl> chosen = picker_.ChooseFolder(owner, initial_dir_);
  if (!chosen) return false;
  // The scan reads the folder with the file system's own byte names, so the
  // path is encoded the way Qt names files.
  directory_ = chosen->isLocalFile()
                   ? NativePath(chosen->toLocalFile())
                   : std::string();
  return true;
}

TUrlLabel::TUrlLabel(DesktopOpener& opener, QWidget* parent)
    : QLabel(parent), opener_(opener) {
  QFont bold = font();
  bold.setBold(true);
  setFont(bold);
  setCursor(Qt::PointingHandCursor);
  SetTextColor(kLinkColor);
}

void TUrlLabel::Click() {
  const QString target = url_.trimmed().isEmpty() ? text() : url_;
  opener_.Open(QUrl::fromUserInput(target), [label = QPointer<TUrlLabel>(this)](bool opened) {
    if (opened && label) label->SetTextColor(kVisitedColor);
  });
}

void TUrlLabel::SetTextColor(const QColor& color) {
  QPalette colors = palette();
  colors.setColor(QPalette::WindowText, color);
  setPalette(colors);
}

void TUrlLabel::mousePressEvent(QMouseEvent* event) {
  pressed_ = event->button() == Qt::LeftButton;
  QLabel::mousePressEvent(event);
}

// Like a button, the link fires when the press and the release both land on
// it, so dragging off the label cancels the click.
void TUrlLabel::mouseReleaseEvent(QMouseEvent* event) {
  const bool click = pressed_ && event->button() == Qt::LeftButton &&
                     rect().contains(event->position().toPoint());
  pressed_ = false;
  QLabel::mouseReleaseEvent(event);
  if (click) Click();
}

// Recessed text: a light copy one pixel down and right under the coloured
// text makes the caption look pressed into the window.
void TUrlLabel::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  const QRect area = contentsRect();
  const int flags = static_cast<int>(alignment());
  painter.setPen(palette().color(QPalette::Light));
  painter.drawText(area.translated(1, 1), flags, text());
  painter.setPen(palette().color(QPalette::WindowText));
  painter.drawText(area, flags, text());
}

}  // namespace tallyfold
