// The report builder: match entries in, the lines of result.htm out.
//
// The corpus scan leaves one entry per matching line in the match list,
// "count=highlighted line and link". BuildReport sorts them by count, highest
// first, tallies how many lines reached each count into the summary list
// ("【3】=12": twelve lines with three matches each) and appends the XHTML
// page to the report list: a fixed head (lines 1-6), the tally as one entry
// (line 7), the table head (8-9), three lines per match entry and a fixed
// footer (11-13), 12 + 3 x N lines in all. It empties the match and summary
// lists, ready for the next search. The lines can also go to a sink as they
// are made (see ReportSink). It knows nothing of files or the engine.
//
//   TUnicodeStringList report, matches, summary;
//   matches.AppendItem(u"2=a <span class=\"key\">cat</span>, a cat");
//   BuildReport(report, matches, summary);   // report.ItemCount() == 15
//   report.WriteTextFile(u"result.htm");
//
// A count that is not a decimal number (a sign and ASCII digits) counts as 0
// when sorting; counts beyond the 32-bit range are held at its ends.
//
// A search hands over its matches as a MatchList of keys instead
// (app/MatchStore.h): the keys are sorted with the same sort, so the report
// is the same as from the entries "count=row", byte for byte, and each row
// is read from the store when its turn comes.
#pragma once

#include <atomic>
#include <initializer_list>
#include <string_view>

#include "app/MatchStore.h"
#include "app/ResultSet.h"
#include "text/StringList.h"

namespace tallyfold {

// TItemCompare for the match list: the count of the entry at index2 minus
// the count of the entry at index1, so higher counts sort first.
int CompareEntries(TUnicodeStringList& list, int index1, int index2);

// Appends the sentinel "_=_" to a non-empty `matches` and one summary line
// per run of equal counts to `summary`.
void Tally(TUnicodeStringList& matches, TUnicodeStringList& summary);

// Receives the report's lines in order, each given as pieces to be joined.
// The pieces are only valid during the call.
class ReportSink {
 public:
  virtual ~ReportSink() = default;
  virtual void Line(std::initializer_list<std::u16string_view> pieces) = 0;
};

// Sorts `matches`, appends the report lines to `report` and empties
// `matches` and `summary`.
void BuildReport(TUnicodeStringList& report, TUnicodeStringList& matches,
                 TUnicodeStringList& summary);

// The same lines handed to `sink` one by one as they are made, so that they
// can be written out without ever being held together: with millions of
// rows the report list would double a search's memory.
void BuildReport(ReportSink& sink, TUnicodeStringList& matches, TUnicodeStringList& summary);

// The same report from the keys of a search: sorts them, hands the lines to
// `sink` and empties `matches` (its spill file is then gone) and `summary`.
// With `cancel`, raises ECancelled soon after *cancel becomes true; a row
// that cannot be read back from the spill file raises EReadError.
void BuildReport(ReportSink& sink, MatchList& matches, TUnicodeStringList& summary,
                 const std::atomic<bool>* cancel = nullptr);

// Sorts the keys of a search into the report's order (most matches first;
// ties as the list's sort leaves them).
void SortMatchKeys(MatchKeys& keys);

// The results of a search whose lines were kept packed (ScanControl::
// packed_lines): sorts the keys into the report's order and adds every line
// to `results`, whose files must be there already. `matches` keeps its rows.
void BuildResults(MatchList& matches, ResultSet& results);

// The report of results kept that way: the same lines, byte for byte, as
// BuildReport gives from the report rows of the same search.
void BuildReport(ReportSink& sink, const ResultSet& results, TUnicodeStringList& summary,
                 const std::atomic<bool>* cancel = nullptr);

}  // namespace tallyfold
