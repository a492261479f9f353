// The wording of the note after a search in the Windows window, in the
// user's language (Catalogue.h), from the facts app/SearchNotes.h gives:
// how the corpus files were read, where the pattern as typed cannot match,
// and a report that no program opened.
//
//   std::vector<std::u16string> sections = tallyfold::win32ui::DescribePattern(
//       tallyfold::AdvisePattern(u"的", true), stats.lines_without_boundary);
//   sections += DescribeReadings(tallyfold::SummarizeReadings(stats.readings), "GB18030");
//   std::u16string note = tallyfold::win32ui::JoinSections(sections);
//
// The texts are those of the Qt window's note, word for word.
#pragma once

#include <string>
#include <vector>

#include "app/SearchNotes.h"

namespace tallyfold::win32ui {

std::vector<std::u16string> DescribeReadings(const ReadingSummary& summary,
                                             const std::string& fallback);
std::vector<std::u16string> DescribePattern(const std::vector<PatternAdvice>& advice,
                                            int lines_without_boundary);
std::u16string DescribeOpenFailure(const std::u16string& report_path);

// The note's title ("About this search") and its button ("Close").
std::u16string NoteTitle();
std::u16string NoteCloseText();

// The sections with an empty line between each two; blank sections are left
// out.
std::u16string JoinSections(const std::vector<std::u16string>& sections);

}  // namespace tallyfold::win32ui
