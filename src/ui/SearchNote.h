// TSearchNote: what the user should know after a search besides its
// counts, in one small window that does not wait for an answer.
//
// The app layer decides what there is to say (app/SearchNotes.h: how the
// corpus files were read, where the pattern as typed can never match); the
// note words it in the user's language and shows it. A report that the
// desktop could not open is told here too, since that answer comes after
// the search has ended.
//
//   auto* note = new tallyfold::TSearchNote(window);
//   note->AddSections(tallyfold::TSearchNote::DescribeReadings(summary, settings.fallback_encoding));
//   note->AddSection(tallyfold::TSearchNote::DescribeOpenFailure(report));
//   note->show();
//
// The note belongs to its owner, so the window manager keeps it above the
// owner even when that stays on top; it is not modal, its Close button
// (or Escape, or its close box) dismisses and deletes it.
#pragma once

#include <string>
#include <vector>

#include <QDialog>
#include <QString>
#include <QStringList>

#include "app/SearchNotes.h"

class QLabel;
class QPushButton;

namespace tallyfold {

class TSearchNote : public QDialog {
  Q_OBJECT

 public:
  explicit TSearchNote(QWidget* owner);

  // Adds a paragraph at the end of the note.
  void AddSection(const QString& text);
  void AddSections(const QStringList& texts);
  const QStringList& Sections() const { return sections_; }

  // One paragraph per thing the readings need the user to know (none when
  // the summary is empty); `fallback` is the encoding the search fell back
  // to.
  static QStringList DescribeReadings(const ReadingSummary& summary, const std::string& fallback);
  // Why files were read in a set, in a word or two ("detected").
  static QString ChoiceWords(TReadChoice choice);
  // One paragraph for the pitfalls of the pattern: the \b wrap beside the
  // edges that are never word characters, with `lines_without_boundary`
  // lines that would match without it when that is known (>= 0), and one
  // for each anchor that cannot match.
  static QStringList DescribePattern(const std::vector<PatternAdvice>& advice,
                                     int lines_without_boundary);
  // The report that no application opened, with its full path.
  static QString DescribeOpenFailure(const QString& report_path);

 private:
  void ShowSections();

  QLabel* lblText;
  QPushButton* btnClose;
  QStringList sections_;
};

}  // namespace tallyfold
