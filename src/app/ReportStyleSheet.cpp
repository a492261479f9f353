// The report's style sheet, written beside the report.
//
// This file's external interface is ReportStyleSheet.h;
// tests/app/ReportStyleSheetTest.cpp covers it. The sheet's bytes come from
// ReportStyleSheetData.cpp, which the build makes from samples/result.css
// (EmbedStyleSheet.cmake).
#include "app/ReportStyleSheet.h"

#include <cerrno>
#include <cstddef>

#include "platform/CodePage.h"
#include "platform/File.h"
#include "text/WideHelpers.h"

namespace tallyfold {

namespace internal {
extern const unsigned char kReportStyleSheetBytes[];
extern const std::size_t kReportStyleSheetSize;
}  // namespace internal

namespace {

constexpr char kStyleSheetName[] = "result.css";

// The same wording as the text layer's file errors.
std::string FileErrorText(const char* what, const std::string& path, int error) {
  return std::string(what) + " \"" + Utf8Encode(AnsiToWide(AbsolutePath(path))) + "\". " +
         Utf8Encode(AnsiToWide(SystemErrorText(error)));
}

}  // namespace

std::string_view ReportStyleSheet() {
  return std::string_view(reinterpret_cast<const char*>(internal::kReportStyleSheetBytes),
                          internal::kReportStyleSheetSize);
}

std::string StyleSheetPathFor(const std::string& report_path) {
  const std::size_t slash = LastPathSeparator(report_path);
  if (slash == std::string::npos) return kStyleSheetName;
  return report_path.substr(0, slash + 1) + kStyleSheetName;
}

StyleSheetResult WriteStyleSheetBeside(const std::string& report_path) {
  StyleSheetResult result;
  result.path = StyleSheetPathFor(report_path);
  if (FileIdentity existing; IdentifyFile(result.path, existing)) {
    result.outcome = StyleSheetOutcome::kPresent;
    return result;
  }
  // Written whole before it gets its name, so that a search killed while
  // writing it never leaves a broken sheet that later searches would find
  // present and keep.
  ReplacementFile sheet_file;
  PosixFile writer;
  int error = sheet_file.Create(result.path);
  if (error == 0) error = sheet_file.OpenWriter(writer);
  if (error != 0) {
    result.outcome = StyleSheetOutcome::kFailed;
    result.error = FileErrorText("Cannot create file", result.path, error);
    return result;
  }
  const std::string_view sheet = ReportStyleSheet();
  std::size_t written = 0;
  error = writer.Write(sheet.data(), sheet.size(), written);
  const int close_error = writer.Close();
  if (error == 0) error = close_error;
  if (error != 0) {
    result.outcome = StyleSheetOutcome::kFailed;
    result.error = FileErrorText("Cannot write file", result.path, error);
    return result;
  }
  error = sheet_file.PlaceNew();
  if (error == EEXIST) {
    // Another search wrote one meanwhile.
    result.outcome = StyleSheetOutcome::kPresent;
  } else if (error != 0) {
    result.outcome = StyleSheetOutcome::kFailed;
    result.error = FileErrorText("Cannot create file", result.path, error);
  } else {
    result.outcome = StyleSheetOutcome::kWritten;
  }
  return result;
}

}  // namespace tallyfold
