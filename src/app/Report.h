// The report builder: match entries in, the lines of result.htm out.
//
// The corpus scan leaves one entry per matching line in the match list,
// "count=highlighted line and link". BuildReport sorts them by count, highest
// first, tallies how many lines reached each count into the summary list
// ("【3】=12": twelve lines with three matches each) and appends the XHTML
// page to the report list: a fixed head (lines 1-6), the tally as one entry
// (line 7), the table head (8-9), three lines per match entry and a fixed
// footer (11-13), 12 + 3 x N lines in all. It empties the match and summary
// lists, ready for the next search. It knows nothing of files or the engine.
//
//   TUnicodeStringList report, matches, summary;
//   matches.AppendItem(u"2=a <span class=\"key\">cat</span>, a cat");
//   BuildReport(report, matches, summary);   // report.ItemCount() == 15
//   report.WriteTextFile(u"result.htm");
//
// A count that is not a decimal number (a sign and ASCII digits) counts as 0
// when sorting; counts beyond the 32-bit range are held at its ends.
#pragma once

#include "text/StringList.h"

namespace tallyfold {

// TItemCompare for the match list: the count of the entry at index2 minus
// the count of the entry at index1, so higher counts sort first.
int CompareEntries(TUnicodeStringList& list, int index1, int index2);

// Appends the sentinel "_=_" to a non-empty `matches` and one summary line
// per run of equal counts to `summary`.
void Tally(TUnicodeStringList& matches, TUnicodeStringList& summary);

// Sorts `matches`, appends the report lines to `report` and empties
// `matches` and `summary`.
void BuildReport(TUnicodeStringList& report, TUnicodeStringList& matches,
                 TUnicodeStringList& summary);

}  // namespace tallyfold
