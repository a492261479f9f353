// The report's style sheet: result.css, written beside a report that has
// none.
//
// The report (app/Report.h) links to "result.css" in its own folder, and
// without it a browser shows neither the highlights nor the layout. The
// sheet is the project's samples/result.css, built into the program when it
// is compiled. The search command writes it after the report:
//
//   tallyfold::StyleSheetResult sheet =
//       tallyfold::WriteStyleSheetBeside("/home/me/reports/result.htm");
//   // sheet.outcome: kWritten, or kPresent when /home/me/reports/result.css
//   // was there already; sheet.path names the sheet either way.
//
// A result.css already in the folder is never replaced, opened or read,
// whatever it holds: the file is created only when nothing of that name is
// there (a file, a folder, a link even to nothing), in one step, so a sheet
// another program writes at the same moment is not overwritten either.
// Nothing here throws: a sheet that cannot be written is reported as
// kFailed with the reason. The sheet gets its name only once it is whole,
// so no failure, not even a kill, leaves a half-written one.
#pragma once

#include <string>
#include <string_view>

namespace tallyfold {

// The bytes of samples/result.css as they were when the program was built.
std::string_view ReportStyleSheet();

enum class StyleSheetOutcome {
  kNotWritten,  // not asked for, or the report went to a stream
  kWritten,     // created now, with ReportStyleSheet()'s bytes
  kPresent,     // something named result.css was there and stays as it was
  kFailed,      // could not be written; `error` says why
};

struct StyleSheetResult {
  StyleSheetOutcome outcome = StyleSheetOutcome::kNotWritten;
  std::string path;   // the sheet's native path, beside the report
  std::string error;  // kFailed: "Cannot create file \"<absolute path>\". <reason>"
                      // (or "Cannot write file ..."), in UTF-8
};

// The path of the style sheet that the report at `report_path` (a native
// path, as given) links to: "result.css" in the same folder. A report
// reached through a link looks for it beside the link, where the browser
// that opens the link looks too.
std::string StyleSheetPathFor(const std::string& report_path);

// Writes ReportStyleSheet() to StyleSheetPathFor(report_path) unless
// something of that name is there already.
StyleSheetResult WriteStyleSheetBeside(const std::string& report_path);

}  // namespace tallyfold
