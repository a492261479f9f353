// The note after a search (SearchNote.h): its window and its wording.
//
// tests/ui/SearchNoteTest.cpp covers the wording and the window;
// tests/ui/WindowSearchTest.cpp the note of real searches.
#include "ui/SearchNote.h"

#include <QDialogButtonBox>
#include <QFile>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QVBoxLayout>

#include "ui/Settings.h"
#include "ui/NativePath.h"

namespace tallyfold {
namespace {

constexpr int kNoteWidth = 420;

QString Quoted(const QString& text) { return TSearchNote::tr("“%1”").arg(text); }

QString ShownName(const std::string& name) {
  return PathFromNative(name);
}

// The check box's caption, as the window shows it (it is never translated).
QString BoundaryBoxCaption() { return QStringLiteral("add \\b"); }

}  // namespace

TSearchNote::TSearchNote(QWidget* owner) : QDialog(owner) {
  setObjectName(QStringLiteral("SearchNote"));
  setWindowTitle(tr("About this search"));
  // A dialog of its owner: the window manager keeps it above it. Not modal:
  // the window goes on working while it is up.
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowCloseButtonHint);
  setModal(false);
  setAttribute(Qt::WA_DeleteOnClose);
  setAttribute(Qt::WA_ShowWithoutActivating);
  setFixedWidth(kNoteWidth);

  lblText = new QLabel(this);
  lblText->setObjectName(QStringLiteral("lblNote"));
  lblText->setTextFormat(Qt::PlainText);
  lblText->setWordWrap(true);
  lblText->setTextInteractionFlags(Qt::TextSelectableByMouse);
  auto* buttons = new QDialogButtonBox(this);
  btnClose = buttons->addButton(tr("Close"), QDialogButtonBox::RejectRole);
  btnClose->setObjectName(QStringLiteral("btnClose"));
  connect(buttons, &QDialogButtonBox::rejected, this, &TSearchNote::reject);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(lblText);
  layout->addWidget(buttons);
}

void TSearchNote::AddSection(const QString& text) {
  if (text.isEmpty()) return;
  sections_ << text;
  ShowSections();
}

void TSearchNote::AddSections(const QStringList& texts) {
  for (const QString& text : texts) AddSection(text);
}

void TSearchNote::ShowSections() {
  lblText->setText(sections_.join(QStringLiteral("\n\n")));
  adjustSize();
}

QString TSearchNote::ChoiceWords(TReadChoice choice) {
  switch (choice) {
    case TReadChoice::kMark: return tr("by the mark");
    case TReadChoice::kNamed: return tr("as chosen");
    case TReadChoice::kUtf8: return tr("valid UTF-8");
    case TReadChoice::kUtf8Strays: return tr("UTF-8 with stray bytes");
    case TReadChoice::kZeroBytes: return tr("told by their zero bytes");
    case TReadChoice::kCompared: return tr("by their common characters");
    case TReadChoice::kLocale: return tr("the locale's");
    case TReadChoice::kDetected: return tr("detected");
    case TReadChoice::kFallback: return tr("fallback");
  }
  return QString();
}

QStringList TSearchNote::DescribeReadings(const ReadingSummary& summary,
                                          const std::string& fallback) {
  QStringList texts;
  const QLocale locale;
  if (!summary.codesets.empty()) {
    QStringList sets;
    for (const ReadingSummary::Codeset& codeset : summary.codesets) {
      QStringList why;
      for (const ReadingSummary::Why& entry : codeset.why) {
        const QString words = ChoiceWords(entry.choice);
        why << (codeset.why.size() > 1 ? tr("%1 %2").arg(locale.toString(entry.files), words)
                                       : words);
      }
      sets << tr("%1 (%2: %3)").arg(QString::fromStdString(codeset.name),
                                    locale.toString(codeset.files), why.join(tr(", ")));
    }
    texts << tr("Files without a byte-order mark read in an encoding other than UTF-8, by "
                "encoding: %1.")
                 .arg(sets.join(tr(", ")));
  }
  if (summary.compared_files > 0) {
    const TSetComparison& measured = summary.comparison;
    texts << tr("Files valid in both GB18030 and BIG5, read in the one whose reading holds more "
                "of the commonest Chinese characters: %1 (%2 against the detector's answer). In "
                "%3, %4% of the characters beyond ASCII are among them read as %5, %6% read as "
                "%7.")
                 .arg(locale.toString(summary.compared_files),
                      locale.toString(summary.overruled_files),
                      Quoted(ShownName(summary.compared_example)),
                      locale.toString(measured.chosen_share / 10.0, 'f', 1),
                      QString::fromStdString(measured.chosen),
                      locale.toString(measured.other_share / 10.0, 'f', 1),
                      QString::fromStdString(measured.other));
  }
  if (summary.replaced_files > 0) {
    QStringList names;
    for (const std::string& name : summary.examples) names << Quoted(ShownName(name));
    if (summary.replaced_files > static_cast<int>(summary.examples.size())) names << tr("…");
    QString text = tr("Files with bytes that are not text in the encoding they were read in: "
                      "%1 (%2 places, each read as �, which matches nothing): %3.")
                       .arg(locale.toString(summary.replaced_files),
                            locale.toString(static_cast<qulonglong>(summary.replaced)),
                            names.join(tr(", ")));
    if (!summary.encoding_hint.empty()) {
      text += QLatin1Char(' ') +
              tr("They may read right with the encoding %1 (right-click the window: %2).")
                  .arg(Quoted(EncodingLabel(summary.encoding_hint, fallback)),
                       EncodingMenuTitle());
    }
    texts << text;
  }
  if (summary.nul_files > 0) {
    texts << tr("Files holding NUL characters: %1 (%2 in all); they are searched as ordinary "
                "characters.")
                 .arg(locale.toString(summary.nul_files),
                      locale.toString(static_cast<qulonglong>(summary.nuls)));
  }
  for (const std::string& name : summary.sizeless) {
    texts << tr("%1 has a size of 0 but gave bytes when read, as the system's own files do; it "
                "was searched as empty.")
                 .arg(Quoted(ShownName(name)));
  }
  for (const std::string& name : summary.changed) {
    texts << tr("%1 changed while it was searched: the counts for it may be incomplete.")
                 .arg(Quoted(ShownName(name)));
  }
  if (summary.undetected_files > 0) {
    texts << tr("Files for which the encoding detector answered %2, which this system cannot "
                "decode, and which were read as %3 instead: %1.")
                 .arg(locale.toString(summary.undetected_files),
                      QString::fromStdString(summary.undetected), QString::fromStdString(fallback));
  }
  return texts;
}

QStringList TSearchNote::DescribePattern(const std::vector<PatternAdvice>& advice,
                                         int lines_without_boundary) {
  QStringList texts;
  QStringList edges;
  for (const PatternAdvice& item : advice) {
    if (item.pitfall == PatternPitfall::kBoundaryBeside)
      edges << Quoted(QString::fromStdU16String(item.edge));
  }
  if (!edges.isEmpty()) {
    QString text = tr("The \\b that %1 adds beside %2 matches only where an ASCII letter, digit "
                      "or _ stands next to it.")
                       .arg(Quoted(BoundaryBoxCaption()), edges.join(tr(", ")));
    text += QLatin1Char(' ');
    if (lines_without_boundary >= 0) {
      text += tr("Lines that would match without %1: %2.")
                  .arg(Quoted(BoundaryBoxCaption()), QLocale().toString(lines_without_boundary));
    } else {
      text += tr("Untick %1 to find it anywhere.").arg(Quoted(BoundaryBoxCaption()));
    }
    texts << text;
  }
  for (const PatternAdvice& item : advice) {
    if (item.pitfall == PatternPitfall::kBoundaryBeside) continue;
    const QString edge = Quoted(QString::fromStdU16String(item.edge));
    const QString better = Quoted(QString::fromStdU16String(item.better));
    QString text = item.pitfall == PatternPitfall::kStartAnchor
                       ? tr("Each line is searched with a space added at its start, so %1 "
                            "followed by other text never matches.")
                             .arg(edge)
                       : tr("Each line is searched with a space added at its end, so %1 after "
                            "other text never matches.")
                             .arg(edge);
    text += QLatin1Char(' ');
    text += item.needs_no_boundary
                ? tr("Search for %1 with %2 unticked.").arg(better, Quoted(BoundaryBoxCaption()))
                : tr("Search for %1 instead.").arg(better);
    texts << text;
  }
  return texts;
}

QString TSearchNote::DescribeOpenFailure(const QString& report_path) {
  return tr("The report was written, but no application could open it. Open it in a web "
            "browser:\n%1")
      .arg(report_path);
}

}  // namespace tallyfold
