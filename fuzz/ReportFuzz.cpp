// Fuzz target for the report: arbitrary match entries through the report
// builder and the UTF-16 writer.
//
// Each line of the input (UTF-8) is one match entry. The report must hold
// 12 lines plus 3 per entry, and the written bytes must be the mark followed
// by the joined lines.
#include <cstddef>
#include <cstdint>
#include <string>

#include "FuzzInput.h"
#include "app/Report.h"
#include "text/StringList.h"
#include "text/TextFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  tallyfold::TUnicodeStringList matches;
  tallyfold::TUnicodeStringList summary;
  tallyfold::TUnicodeStringList report;
  matches.SetPairSeparator(u'=');
  summary.SetPairSeparator(u'=');
  size_t start = 0;
  for (size_t i = 0; i <= size; ++i) {
    if (i == size || data[i] == '\n') {
      if (i > start || i < size) {
        matches.AppendItem(tallyfold::fuzz::DecodeField(data + start, i - start));
      }
      start = i + 1;
    }
  }
  const int entries = matches.ItemCount();
  tallyfold::BuildReport(report, matches, summary);
  if (report.ItemCount() != 12 + 3 * entries) __builtin_trap();
  if (matches.ItemCount() != 0 || summary.ItemCount() != 0) __builtin_trap();

  tallyfold::TMemoryStream out;
  report.WriteTextStream(out);
  const std::u16string joined = report.JoinedText();
  if (out.Bytes().size() != 2 + 2 * joined.size()) __builtin_trap();
  return 0;
}
