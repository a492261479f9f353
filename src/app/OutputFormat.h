// The outputs a search can write, by name.
//
// A search writes one output (app/SearchCommand.h): the report, result.htm,
// or a table of every match (app/TablePrinter.h). The command line names
// them with --format; the window writes the report and exports tables.
//
//   const std::optional<OutputFormat> format = OutputFormatNamed("jsonl");
//   DefaultOutputFile(*format);   // "result.jsonl"
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tallyfold {

enum class OutputFormat {
  kHtml,       // the report: an XHTML page of the matching lines, UTF-16
  kTsv,        // a table, tab-separated, UTF-8
  kCsv,        // a table, comma-separated, UTF-8 with a byte-order mark
  kJsonLines,  // one JSON object per match, UTF-8
  kForms,      // the distinct matches with their counts (app/MatchForms.h), TSV
};

// The format the command line calls `name` ("html", "tsv", "csv", "jsonl"
// or "forms"), or none.
std::optional<OutputFormat> OutputFormatNamed(std::string_view name);

// The name of a format: "html", "tsv", "csv", "jsonl" or "forms".
std::string_view OutputFormatName(OutputFormat format);

// The file a search writes when no other is named: "result.htm" for the
// report, "forms.tsv" for the forms, "result." and the format's name for a
// table of matches.
std::string DefaultOutputFile(OutputFormat format);

}  // namespace tallyfold
