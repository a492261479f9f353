// The line viewer (LineViewer.h): the text with its line numbers beside it
// and the matches marked.
#include "ui/LineViewer.h"

#include <algorithm>
#include <climits>

#include <QColor>
#include <QFont>
#include <QHBoxLayout>
#include <QPainter>
#include <QPaintEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextBlock>
#include <QTimer>
#include <QVBoxLayout>

namespace tallyfold {
namespace {

// The match as the report shows it: bold black on yellow.
const QColor kMatchBackground{0xff, 0xe0, 0x66};
const QColor kLineBackground{0xe8, 0xf0, 0xfe};
// The match the viewer was opened on (or moved to): orange.
const QColor kCurrentMatchBackground{0xff, 0xa0, 0x40};

// A position in the viewer's text; its lines are a few thousand at most.
int Position(std::size_t offset) {
  return static_cast<int>(std::min<std::size_t>(offset, INT_MAX));
}

// The file's line numbers in a margin of the text, right aligned, as wide
// as the largest needs.
class NumberedText : public QPlainTextEdit {
 public:
  NumberedText(int first_line, QWidget* parent)
      : QPlainTextEdit(parent), first_line_(first_line), numbers_(new Margin(this)) {
    connect(this, &QPlainTextEdit::blockCountChanged, this, [this] { FitMargin(); });
    connect(this, &QPlainTextEdit::updateRequest, this, [this](const QRect& rect, int dy) {
      if (dy != 0) {
        numbers_->scroll(0, dy);
      } else {
        numbers_->update(0, rect.y(), numbers_->width(), rect.height());
      }
    });
    FitMargin();
  }
  int MarginWidth() const {
    const int digits = static_cast<int>(QString::number(first_line_ + blockCount()).size());
    return 8 + fontMetrics().horizontalAdvance(QLatin1Char('9')) * digits;
  }

 protected:
  void resizeEvent(QResizeEvent* event) override {
    QPlainTextEdit::resizeEvent(event);
    const QRect inside = contentsRect();
    numbers_->setGeometry(QRect(inside.left(), inside.top(), MarginWidth(), inside.height()));
  }

 private:
  class Margin : public QWidget {
   public:
    explicit Margin(NumberedText* text) : QWidget(text), text_(text) {
      setObjectName(QStringLiteral("lineNumbers"));
    }
    void paintEvent(QPaintEvent* event) override {
      QPainter painter(this);
      painter.fillRect(event->rect(), palette().color(QPalette::AlternateBase));
      painter.setPen(palette().color(QPalette::PlaceholderText));
      for (QTextBlock block = text_->firstVisibleBlock(); block.isValid(); block = block.next()) {
        const QRectF box = text_->blockBoundingGeometry(block).translated(text_->contentOffset());
        if (box.top() > event->rect().bottom()) break;
        if (block.isVisible() && box.bottom() >= event->rect().top()) {
          painter.drawText(0, static_cast<int>(box.top()), width() - 4,
                           text_->fontMetrics().height(), Qt::AlignRight,
                           QString::number(text_->first_line_ + block.blockNumber()));
        }
      }
    }

   private:
    NumberedText* text_;
  };

  void FitMargin() { setViewportMargins(MarginWidth(), 0, 0, 0); }

  int first_line_;
  Margin* numbers_;
};

}  // namespace

TLineViewer::TLineViewer(const QString& caption, const LineInContext& context, int clicked,
                         QWidget* parent)
    : QDialog(parent), context_(context) {
  setObjectName(QStringLiteral("LineViewer"));
  setWindowTitle(caption);
  // A dialog of the results window, above it and so above the main window;
  // as large as the user likes.
  setWindowFlags(Qt::Dialog | Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint);
  setAttribute(Qt::WA_DeleteOnClose);
  resize(760, 480);
  edtText = new NumberedText(context.first_line, this);
  edtText->setObjectName(QStringLiteral("edtText"));
  edtText->setReadOnly(true);
  edtText->setLineWrapMode(QPlainTextEdit::WidgetWidth);
  edtText->setPlainText(QString::fromStdU16String(context.text));
  btnPreviousHit = new QPushButton(tr("Previous hit"), this);
  btnPreviousHit->setObjectName(QStringLiteral("btnPreviousHit"));
  btnNextHit = new QPushButton(tr("Next hit"), this);
  btnNextHit->setObjectName(QStringLiteral("btnNextHit"));
  for (QPushButton* button : {btnPreviousHit, btnNextHit})
    button->setEnabled(context_.matches.size() > 1);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(btnPreviousHit);
  buttons->addWidget(btnNextHit);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(edtText, 1);
  layout->addLayout(buttons);
  connect(btnPreviousHit, &QPushButton::clicked, this, [this] { ShowMatch(current_ - 1); });
  connect(btnNextHit, &QPushButton::clicked, this, [this] { ShowMatch(current_ + 1); });

  current_ = std::clamp(static_cast<int>(context_.line_matches) + clicked, 0,
                        std::max(0, static_cast<int>(context_.matches.size()) - 1));
  Mark();
  QTextCursor at(edtText->document());
  at.setPosition(Position(context_.line_start));
  edtText->setTextCursor(at);
  // Centred once laid out, so that the lines before it show above it.
  QTimer::singleShot(0, edtText, [text = edtText] { text->centerCursor(); });
}

void TLineViewer::ShowMatch(int index) {
  const int count = static_cast<int>(context_.matches.size());
  if (count == 0) return;
  current_ = ((index % count) + count) % count;
  Mark();
  QTextCursor at(edtText->document());
  at.setPosition(Position(context_.matches[static_cast<std::size_t>(current_)].first));
  edtText->setTextCursor(at);
  edtText->ensureCursorVisible();
}

// The line, every match of it, and the current match apart: underlined, on
// a stronger colour.
void TLineViewer::Mark() {
  QList<QTextEdit::ExtraSelection> marks;
  QTextEdit::ExtraSelection line;
  line.cursor = QTextCursor(edtText->document());
  line.cursor.setPosition(Position(context_.line_start));
  line.format.setBackground(kLineBackground);
  line.format.setProperty(QTextFormat::FullWidthSelection, true);
  marks << line;
  for (std::size_t i = 0; i < context_.matches.size(); ++i) {
    const auto [start, length] = context_.matches[i];
    QTextEdit::ExtraSelection match;
    match.cursor = QTextCursor(edtText->document());
    match.cursor.setPosition(Position(start));
    match.cursor.setPosition(Position(start + length), QTextCursor::KeepAnchor);
    const bool current = static_cast<int>(i) == current_;
    match.format.setBackground(current ? kCurrentMatchBackground : kMatchBackground);
    match.format.setForeground(QColor(Qt::black));
    match.format.setFontWeight(QFont::Bold);
    match.format.setFontUnderline(current);
    marks << match;
  }
  edtText->setExtraSelections(marks);
}

}  // namespace tallyfold
