// Internal to the report library: the rows of a search that keeps its
// results, one packed record per matching line.
//
// A packed record is the file index, the line number and the number of
// spans (two code units each), the spans (four units each), then the text.
// ResultRecordPrinters (app/ResultSet.h) makes them; BuildResults
// (app/Report.h) reads them back into a ResultSet.
#pragma once

#include <string_view>

#include "app/ResultSet.h"

namespace tallyfold::app_internal {

// Adds a packed record to `results` (after its file) with AddLine.
void AddPackedLine(ResultSet& results, std::u16string_view packed);

}  // namespace tallyfold::app_internal
