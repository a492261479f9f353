// The outputs' names and default files.
//
// This file's external interface is OutputFormat.h;
// tests/app/CliCommandTest.cpp covers it through --format.
#include "app/OutputFormat.h"

namespace tallyfold {

std::optional<OutputFormat> OutputFormatNamed(std::string_view name) {
  if (name == "html") return OutputFormat::kHtml;
  if (name == "tsv") return OutputFormat::kTsv;
  if (name == "csv") return OutputFormat::kCsv;
  if (name == "jsonl") return OutputFormat::kJsonLines;
  if (name == "forms") return OutputFormat::kForms;
  return std::nullopt;
}

std::string_view OutputFormatName(OutputFormat format) {
  switch (format) {
    case OutputFormat::kHtml: return "html";
    case OutputFormat::kTsv: return "tsv";
    case OutputFormat::kCsv: return "csv";
    case OutputFormat::kJsonLines: return "jsonl";
    case OutputFormat::kForms: return "forms";
  }
  return "html";
}

std::string DefaultOutputFile(OutputFormat format) {
  if (format == OutputFormat::kHtml) return "result.htm";
  if (format == OutputFormat::kForms) return "forms.tsv";
  return "result." + std::string(OutputFormatName(format));
}

}  // namespace tallyfold
