// The command line as a library: the arguments checked into CliOptions,
// the search run from them, and the outcome turned into an exit status.
//
// This file's external interface is ParseArguments, RunCommand and RunCli
// (app/CommandLine.h). tests/app/CliCommandTest.cpp covers the arguments and
// the outcomes in-process, as do CliEncodingTest, CliFolderTest and
// CliMessagesTest for what a search says; CliEndToEndTest runs the program.
#include "app/CommandLine.h"

#include <cerrno>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <csignal>
#include <new>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "app/OutputFormat.h"
#include "app/SearchCommand.h"
#include "platform/CodePage.h"
#include "platform/Exception.h"
#include "platform/File.h"
#include "platform/Shell.h"
#include "text/TextFile.h"
#include "text/WideHelpers.h"

namespace tallyfold {
namespace {

constexpr char kVersionText[] = "Norrow Tallyfold 1.0";

// The names of the legacy character sets, "GB18030, BIG5, ...".
std::string LegacyEncodingList() {
  std::string names;
  for (const char* name : kLegacyEncodings)
    names += (names.empty() ? "" : ", ") + std::string(name);
  return names;
}

const std::string& UsageText() {
  static const std::string text = std::string() +
      "Usage: tallyfold-cli [--case] [--no-boundary] [-o FILE] [--open] [--quiet]\n"
      "                     [--threads N] [--recursive] [--no-css] [--row-memory SIZE]\n"
      "                     [--format html|tsv|csv|jsonl|forms]\n"
      "                     [--order report|file|match|left|right] [--context N]\n"
      "                     [--fold-case]\n"
      "                     [--encoding NAME] [--fallback NAME] PATTERN FOLDER\n"
      "       tallyfold-cli --help | --version\n"
      "\n"
      "Counts the matches of PATTERN in every non-blank line of the *.txt files\n"
      "directly inside FOLDER and writes an HTML report of the matching lines,\n"
      "most matches first.\n"
      "\n"
      "  --case          match letters in their exact case (default: ignore ASCII case)\n"
      "  --no-boundary   search PATTERN as given (default: \\b PATTERN \\b)\n"
      "  -o FILE         write the report to FILE (default: result.htm here); a\n"
      "                  regular file is replaced only once the report is whole,\n"
      "                  a FIFO or device is written to; '-' is standard output\n"
      "  --open          open the report with the desktop's handler when written\n"
      "                  (xdg-open; a note says so when it is missing or fails)\n"
      "  --no-css        write no result.css beside the report (default: write\n"
      "                  the built-in style sheet there when the folder has none;\n"
      "                  an existing one is never replaced)\n"
      "  --quiet         print no summary line, no reading summary and no hint\n"
      "  --threads N     scan with N threads (default: one per core; at most four\n"
      "                  per core are used; the report is the same)\n"
      "  --recursive     also search the *.txt files of FOLDER's sub-folders at any\n"
      "                  depth (links to folders are not followed); rows name\n"
      "                  each file by its path inside FOLDER\n"
      "  --encoding NAME how to read files without a byte-order mark: auto (the\n"
      "                  default: each file by its content: UTF-16 or UTF-32 by\n"
      "                  its zero bytes, UTF-8 when valid or but for a few stray\n"
      "                  bytes, else the character set detected from its bytes,\n"
      "                  else the fallback), utf-8, locale (the locale's\n"
      "                  character set) or a character set iconv knows, such as\n"
      "                  " + LegacyEncodingList() + ", UTF-16LE, UTF-16BE;\n"
      "                  files with a mark are read by it\n"
      "  --fallback NAME the legacy encoding auto reads a file in when no character\n"
      "                  set is detected that iconv knows (default: " +
      kDefaultFallbackEncoding + ")\n" +
      "  --format NAME   html (the default): the report; tsv: a table of every match\n"
      "                  (file, line, count, left, match, right; default file\n"
      "                  result.tsv); csv: the same for spreadsheets (result.csv;\n"
      "                  a cell whose first character after spaces and tabs is\n"
      "                  =, +, -, @, | or a full-width =, +, -, @, or that starts\n"
      "                  with a tab or CR, gets a leading apostrophe; a NUL is\n"
      "                  written as U+FFFD); jsonl: one JSON object per match\n"
      "                  (default file result.jsonl; a NUL is written \\u0000);\n"
      "                  all in the report's order, UTF-8;\n"
      "                  forms: each distinct match with its matches, lines and\n"
      "                  files, most frequent first (TSV, default file forms.tsv)\n"
      "  --fold-case     with --format forms: count forms that differ only in the\n"
      "                  case of ASCII letters as one, written in lower case\n"
      "  --order NAME    the order of a table's rows: report (the default), file\n"
      "                  (file, then line), match, left or right (the neighbour of\n"
      "                  the match: up to three CJK characters next to it, nearest\n"
      "                  first, else the nearest word); ties keep report order\n"
      "  --context N     write only N characters each side of a match in a table\n"
      "                  (default: the whole line)\n"
      "  --row-memory SIZE  hold at most SIZE bytes of report rows in memory while\n"
      "                  searching (a number, with K, M or G for KiB, MiB or GiB;\n"
      "                  default 256M); the rest waits on disk beside the report,\n"
      "                  in a file without a name that is gone when the search ends\n"
      "  --help          show this text\n"
      "  --version       show the program's name and version\n"
      "  --              end of options (for a PATTERN that starts with '-')\n"
      "\n"
      "Ctrl-C stops the search and leaves the previous report as it was.\n"
      "\n"
      "Exit status: 0 report written (also with no matching line), 1 error,\n"
      "2 usage error, 3 report written but a file changed while it was searched\n"
      "(its counts may be incomplete), 130 stopped by Ctrl-C (143 by SIGTERM).\n";
  return text;
}

// The -o name that stands for standard output.
constexpr char kStandardOutput[] = "-";

// The value of --threads: a decimal number from 1 to kMaxThreads. The scan
// uses no more than four threads per core, whatever the number; a larger one
// is still accepted, so a command line that names one keeps working.
int ThreadCountArgument(const std::string& text) {
  constexpr int kMaxThreads = 1024;
  int value = 0;
  for (const char ch : text) {
    if (ch < '0' || ch > '9' || value > kMaxThreads) {
      value = 0;
      break;
    }
    value = value * 10 + (ch - '0');
  }
  if (value < 1 || value > kMaxThreads) {
    throw UsageError("--threads needs a number from 1 to " + std::to_string(kMaxThreads) +
                     ", not '" + text + "'");
  }
  return value;
}

// The value of --order.
ResultOrder OrderArgument(const std::string& text) {
  const std::pair<const char*, ResultOrder> kNames[] = {
      {"report", ResultOrder::kReport}, {"file", ResultOrder::kFileAndLine},
      {"match", ResultOrder::kMatch},   {"left", ResultOrder::kLeft},
      {"right", ResultOrder::kRight}};
  for (const auto& [name, order] : kNames) {
    if (text == name) return order;
  }
  throw UsageError("--order needs report, file, match, left or right, not '" + text + "'");
}

// The value of --context: a decimal number of characters, up to a million.
int ContextArgument(const std::string& text) {
  constexpr int kMaxContext = 1000000;
  int value = 0;
  for (const char ch : text) {
    if (ch < '0' || ch > '9' || value > kMaxContext) {
      value = -1;
      break;
    }
    value = value * 10 + (ch - '0');
  }
  if (text.empty() || value < 0 || value > kMaxContext) {
    throw UsageError("--context needs a number of characters from 0 to " +
                     std::to_string(kMaxContext) + ", not '" + text + "'");
  }
  return value;
}

// The value of --row-memory: decimal digits and an optional K, M or G (for
// KiB, MiB or GiB), up to 2^50 bytes.
std::uint64_t ByteSizeArgument(const std::string& text) {
  constexpr std::uint64_t kLimit = std::uint64_t{1} << 50;
  std::uint64_t value = 0;
  std::size_t i = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9' && value <= kLimit; ++i)
    value = value * 10 + static_cast<std::uint64_t>(text[i] - '0');
  int shift = 0;
  if (i + 1 == text.size() && i > 0) {
    switch (text[i]) {
      case 'K': case 'k': shift = 10; ++i; break;
      case 'M': case 'm': shift = 20; ++i; break;
      case 'G': case 'g': shift = 30; ++i; break;
      default: break;
    }
  }
  if (i == 0 || i != text.size() || value > (kLimit >> shift))
    throw UsageError("--row-memory needs a size such as 64M or 1G, not '" + text + "'");
  return value << shift;
}

}  // namespace

CliOptions ParseArguments(const std::vector<std::string>& args) {
  CliOptions options;
  std::vector<std::string> positional;
  bool options_ended = false;
  bool arranged_table = false;  // --order or --context given
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (options_ended || arg.size() < 2 || arg[0] != '-') {
      positional.push_back(arg);
    } else if (arg == "--") {
      options_ended = true;
    } else if (arg == "--help" || arg == "-h") {
      options.show_help = true;
    } else if (arg == "--version") {
      options.show_version = true;
    } else if (arg == "--case") {
      options.case_sensitive = true;
    } else if (arg == "--no-boundary") {
      options.word_boundary = false;
    } else if (arg == "--open") {
      options.open_report = true;
    } else if (arg == "--quiet") {
      options.quiet = true;
    } else if (arg == "--no-css") {
      options.style_sheet = false;
    } else if (arg == "--recursive") {
      options.recursive = true;
    } else if (arg == "--fold-case") {
      options.fold_case = true;
    } else if (arg == "--encoding" || arg == "--fallback") {
      if (i + 1 == args.size()) throw UsageError("option " + arg + " needs an encoding name");
      (arg == "--encoding" ? options.encoding : options.fallback) = args[++i];
    } else if (arg == "--format") {
      if (i + 1 == args.size())
        throw UsageError("option --format needs html, tsv, csv, jsonl or forms");
      const std::string& name = args[++i];
      const std::optional<OutputFormat> format = OutputFormatNamed(name);
      if (!format)
        throw UsageError("--format needs html, tsv, csv, jsonl or forms, not '" + name + "'");
      options.format = *format;
    } else if (arg == "--order") {
      if (i + 1 == args.size()) throw UsageError("option --order needs an order");
      options.order = OrderArgument(args[++i]);
      arranged_table = true;
    } else if (arg == "--context") {
      if (i + 1 == args.size()) throw UsageError("option --context needs a number");
      options.context = ContextArgument(args[++i]);
      arranged_table = true;
    } else if (arg == "--row-memory") {
      if (i + 1 == args.size()) throw UsageError("option --row-memory needs a size");
      options.row_memory = ByteSizeArgument(args[++i]);
    } else if (arg == "--threads") {
      if (i + 1 == args.size()) throw UsageError("option --threads needs a number");
      options.threads = ThreadCountArgument(args[++i]);
    } else if (arg == "-o") {
      if (i + 1 == args.size()) throw UsageError("option -o needs a file name");
      options.output = args[++i];
      if (options.output.empty()) throw UsageError("the report file name is empty");
      if (IsPathSeparator(options.output.back()))
        throw UsageError("the report file name '" + options.output + "' ends in '/'");
    } else {
      throw UsageError("unknown option " + arg);
    }
  }
  if (options.show_help || options.show_version) return options;
  try {
    TextDecodingNamed(options.encoding, options.fallback);
  } catch (const EUnknownEncoding& error) {
    throw UsageError(error.what());
  }
  if (positional.size() != 2) {
    throw UsageError(positional.size() < 2 ? "PATTERN and FOLDER are required"
                                           : "too many arguments");
  }
  options.pattern = positional[0];
  options.folder = positional[1];
  if (TrimWide(AnsiToWide(options.pattern)).empty()) throw UsageError("the pattern is blank");
  if (options.folder.empty()) throw UsageError("the folder is empty");
  if (arranged_table && (options.format == OutputFormat::kHtml ||
                         options.format == OutputFormat::kForms))
    throw UsageError("--order and --context need a table of matches: --format tsv, csv or jsonl");
  if (options.fold_case && options.format != OutputFormat::kForms)
    throw UsageError("--fold-case needs --format forms");
  if (options.open_report && options.output == kStandardOutput)
    throw UsageError("--open needs a report file, not standard output");
  if (options.output.empty())
    options.output = DefaultOutputFile(options.format);
  return options;
}

namespace {

// A path from the command line made absolute. One that is absolute already
// stays exactly as typed: the report's links show it so.
std::string CommandLinePath(const std::string& path) {
  return IsAbsolutePath(path) ? path : AbsolutePath(path);
}

// Refuses a FOLDER that is not there or is no folder: searching it would
// replace the previous report with an empty one. The message is UTF-8
// like the search's own folder errors, whatever the locale.
void CheckFolder(const std::string& folder) {
  const int error = CheckIsFolder(folder);
  if (error == 0) return;
  const TCodePage& page = SystemCodePage();
  throw Exception("Cannot search folder \"" + Utf8Encode(page.Decode(folder)) + "\". " +
                  Utf8Encode(page.Decode(SystemErrorText(error))));
}

// Shows "done of total files" on a terminal once a search has run for a
// moment, and wipes the line again when the search ends either way.
class ProgressLine {
 public:
  ProgressLine(std::ostream& err, bool enabled) : err_(err), enabled_(enabled) {}
  ProgressLine(const ProgressLine&) = delete;
  ProgressLine& operator=(const ProgressLine&) = delete;
  ~ProgressLine() { Wipe(); }

  // Clears the line, so that a message can take its place.
  void Wipe() {
    if (shown_) err_ << "\r\033[K" << std::flush;
    shown_ = false;
  }

  void Update(int done, int total) {
    if (!enabled_) return;
    const auto now = Clock::now();
    if (now - start_ < kDelay || (shown_ && now - last_ < kInterval && done != total)) return;
    last_ = now;
    shown_ = true;
    err_ << "\r" << done << " of " << total << " files" << std::flush;
  }

 private:
  using Clock = std::chrono::steady_clock;
  static constexpr auto kDelay = std::chrono::milliseconds(500);
  static constexpr auto kInterval = std::chrono::milliseconds(100);

  std::ostream& err_;
  bool enabled_;               // err_ is a terminal
  bool shown_ = false;         // something was printed and must be wiped
  Clock::time_point start_ = Clock::now();
  Clock::time_point last_;     // when the line was last printed
};

std::string Counted(std::int64_t count, const char* singular, const char* plural) {
  return std::to_string(count) + " " + (count == 1 ? singular : plural);
}

// A count with its thousands grouped, as the notes give it: 6,014.
std::string Grouped(std::int64_t count) {
  std::string digits = std::to_string(count);
  for (std::size_t at = digits.size(); at > 3 && digits[at - 4] != '-'; at -= 3)
    digits.insert(at - 3, 1, ',');
  return digits;
}

std::string Files(int count) { return Counted(count, "file", "files"); }

std::string Quoted(std::u16string_view text) {
  std::string quoted = "\"";
  quoted += Utf8Encode(text);
  return quoted += '"';
}

// The summary of how the corpus files were read: a line for each thing the
// user may want to act on, none when every file was read as UTF-8 (or by
// its mark) without a byte replaced.
// Why files were read in a set, in a word or two.
std::string ChoiceWords(TReadChoice choice) {
  switch (choice) {
    case TReadChoice::kMark: return "by its mark";
    case TReadChoice::kNamed: return "as named";
    case TReadChoice::kUtf8: return "valid UTF-8";
    case TReadChoice::kUtf8Strays: return "UTF-8 with stray bytes";
    case TReadChoice::kZeroBytes: return "told by their zero bytes";
    case TReadChoice::kCompared: return "by their common characters";
    case TReadChoice::kLocale: return "the locale's";
    case TReadChoice::kDetected: return "detected";
    case TReadChoice::kFallback: return "fallback";
  }
  return std::string();
}

// A share in thousandths as a percentage: 824 as "82.4%".
std::string Share(int thousandths) {
  return std::to_string(thousandths / 10) + "." + std::to_string(thousandths % 10) + "%";
}

std::vector<std::string> ReadingNotes(const ReadingSummary& reading, const std::string& fallback) {
  std::vector<std::string> notes;
  if (!reading.codesets.empty()) {
    std::string note = "read without a byte-order mark as ";
    for (std::size_t i = 0; i < reading.codesets.size(); ++i) {
      const ReadingSummary::Codeset& codeset = reading.codesets[i];
      if (i > 0) note += i + 1 == reading.codesets.size() ? " and " : ", ";
      note += codeset.name + " (" + Files(codeset.files);
      // "(3 files, detected)"; "(5 files: 3 detected, 2 fallback)"
      for (std::size_t k = 0; k < codeset.why.size(); ++k) {
        note += k > 0 ? ", " : codeset.why.size() == 1 ? ", " : ": ";
        if (codeset.why.size() > 1) note += std::to_string(codeset.why[k].files) + " ";
        note += ChoiceWords(codeset.why[k].choice);
      }
      note += ")";
    }
    notes.push_back(note);
  }
  if (reading.compared_files > 0) {
    const TSetComparison& measured = reading.comparison;
    notes.push_back(
        Files(reading.compared_files) + " valid in both GB18030 and BIG5 read in the one whose "
        "reading holds more of the commonest Chinese characters (" +
        std::to_string(reading.overruled_files) + " against the detector's answer); " +
        reading.compared_example + ": " + Share(measured.chosen_share) + " in " +
        measured.chosen + ", " + Share(measured.other_share) + " in " + measured.other);
  }
  if (reading.replaced_files > 0) {
    std::string note = Files(reading.replaced_files) + " had bytes not valid in the character set "
                       "read in, each sequence read as U+FFFD (" + Grouped(
                           static_cast<std::int64_t>(reading.replaced)) + " in all): ";
    for (std::size_t i = 0; i < reading.examples.size(); ++i)
      note += (i > 0 ? ", " : "") + reading.examples[i];
    const int more = reading.replaced_files - static_cast<int>(reading.examples.size());
    if (more > 0) note += " and " + std::to_string(more) + " more";
    if (!reading.encoding_hint.empty()) note += "; try --encoding " + reading.encoding_hint;
    notes.push_back(note);
  }
  if (reading.nul_files > 0) {
    notes.push_back(Files(reading.nul_files) + " held NUL characters (" +
                    Grouped(static_cast<std::int64_t>(reading.nuls)) +
                    " in all), searched as ordinary characters of their lines");
  }
  if (reading.undetected_files > 0) {
    notes.push_back(Files(reading.undetected_files) + " looked like " + reading.undetected +
                    (reading.undetected_files > 1 ? " or another character set" : "") +
                    " that iconv cannot read, and " +
                    (reading.undetected_files > 1 ? "were" : "was") + " read in the fallback, " +
                    fallback);
  }
  for (const std::string& name : reading.sizeless) {
    notes.push_back(name + " has a size of 0 but gave bytes when read, as the system's own "
                    "files (/proc, /sys) do: it was searched as empty");
  }
  for (const std::string& name : reading.changed)
    notes.push_back(name + " changed while it was searched: the counts for it may be incomplete");
  return notes;
}

// The notes on where the pattern as typed can never match, or matches far
// less than it seems to: the \b wrap beside a character that is never a
// word character, and anchors beside the spaces the search adds.
std::vector<std::string> PatternNotes(const std::vector<PatternAdvice>& advice,
                                      const std::u16string& pattern_text, int matching_lines,
                                      int lines_without_boundary) {
  std::vector<std::string> notes;
  std::vector<std::u16string> beside;
  std::vector<std::u16string> anchors;
  std::u16string better;
  bool needs_no_boundary = false;
  for (const PatternAdvice& item : advice) {
    if (item.pitfall == PatternPitfall::kBoundaryBeside) {
      beside.push_back(item.edge);
    } else {
      anchors.push_back(item.edge);
      better = item.better;
      needs_no_boundary = needs_no_boundary || item.needs_no_boundary;
    }
  }
  const auto joined = [](const std::vector<std::u16string>& edges) {
    std::string text = Quoted(edges.front());
    if (edges.size() > 1) text += " and " + Quoted(edges.back());
    return text;
  };
  if (!beside.empty()) {
    const bool both = beside.size() > 1;
    const bool begins = TrimWide(pattern_text).front() > 0x7F;
    const char* where = both                                          ? "begins and ends with "
                        : beside.front() == TrimWide(pattern_text) ? "is "
                        : begins                                      ? "begins with "
                                                                      : "ends with ";
    std::string note = std::string("the pattern ") + where + joined(beside) +
                       ", and \\b counts only ASCII letters, digits and \"_\" as word "
                       "characters, so the \\b added there matches only beside one of those. " +
                       Grouped(matching_lines) + (matching_lines == 1 ? " line" : " lines") +
                       " matched";
    if (lines_without_boundary > matching_lines) {
      note += "; without the \\b wrap " + Grouped(lines_without_boundary) +
              " would: pass --no-boundary";
    } else if (lines_without_boundary >= 0) {
      note += ", as many as without the \\b wrap";
    } else {
      note += "; pass --no-boundary to search without the \\b wrap";
    }
    notes.push_back(note);
  }
  if (!anchors.empty()) {
    std::string note = "each line is searched with a space added at each end, so ";
    if (better != TrimWide(pattern_text)) {
      note += Quoted(TrimWide(pattern_text)) + " can never match as typed; search for " +
              Quoted(better) + (needs_no_boundary ? " with --no-boundary" : "");
    } else {
      note += "the \\b added beside " + joined(anchors) +
              " can never match; search with --no-boundary";
    }
    notes.push_back(note);
  }
  return notes;
}

}  // namespace

int RunCommand(const CliOptions& options, std::ostream& out, std::ostream& err,
               const CliControl& control) {
  if (options.show_help) {
    out << UsageText();
    return 0;
  }
  if (options.show_version) {
    out << kVersionText << "\n";
    return 0;
  }
  SearchOptions search = SearchOptionsFor({.pattern = AnsiToWide(options.pattern),
                                           .folder = CommandLinePath(options.folder),
                                           .case_sensitive = options.case_sensitive,
                                           .word_boundary = options.word_boundary,
                                           .encoding = options.encoding,
                                           .fallback_encoding = options.fallback,
                                           .recursive = options.recursive});
  CheckFolder(search.folder);
  search.write_style_sheet = options.style_sheet;
  search.report_file =
      options.output == kStandardOutput ? "/dev/stdout" : CommandLinePath(options.output);
  // A report that goes to standard output, by "-" or by a name such as
  // /dev/stdout, keeps the summary out of its way.
  WriteTarget target;
  const bool to_stdout = ResolveWriteTarget(search.report_file, target) == 0 &&
                         target.kind == WriteTarget::kStream && target.descriptor == 1;
  search.threads = options.threads;
  search.row_memory_budget = options.row_memory;
  search.cancel = control.cancel;
  search.format = options.format;
  search.order = options.order;
  search.context = options.context;
  search.fold_case = options.fold_case;
  const bool table = options.format != OutputFormat::kHtml;

  SearchStats stats;
  {
    ProgressLine progress(err, control.show_progress);
    search.progress = [&progress](int done, int total, const std::string&) {
      progress.Update(done, total);
    };
    SearchLists lists;
    RunSearch(search, lists, stats);
  }
  // The advice re-reads the files with replaced bytes; without a summary
  // to give it in, only the files that changed are needed.
  const ReadingSummary reading = SummarizeReadings(
      stats.readings, options.quiet ? ReadingTrial() : FileReadingTrial(options.fallback));
  if (!options.quiet) {
    // The summary keeps out of a report that goes to standard output.
    std::ostream& summary = to_stdout ? err : out;
    summary << Counted(stats.matches, "match", "matches") << " in "
            << Counted(stats.matching_lines, "matching line", "matching lines") << " in "
            << Counted(stats.files_scanned, "file", "files") << " scanned; "
            << (table ? "results" : "report") << " written to "
            << (to_stdout ? std::string("standard output") : search.report_file) << "\n";
    for (const std::string& note : ReadingNotes(reading, options.fallback))
      err << "tallyfold-cli: " << note << "\n";
    for (const std::string& note :
         PatternNotes(AdvisePattern(search.pattern_text, search.word_boundary),
                      search.pattern_text, stats.matching_lines, stats.lines_without_boundary))
      err << "tallyfold-cli: hint: " << note << "\n";
  }
  // Not a failure of the search, whose report is written; but the page
  // shows no highlights without its sheet, so this is said even with --quiet.
  if (stats.style_sheet.outcome == StyleSheetOutcome::kFailed) {
    err << "tallyfold-cli: note: the report is written, but its style sheet is not: "
        << ErrorDisplayText(stats.style_sheet.error) << "\n";
  }
  // Like the sheet's note, said even with --quiet: the user asked for it.
  if (options.open_report && !OpenDocument(search.report_file)) {
    err << "tallyfold-cli: note: the report is written, but the desktop did not open it "
           "(xdg-open is missing or failed)\n";
  }
  return reading.changed.empty() ? 0 : kExitFileChanged;
}

int RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
           const CliControl& control) {
  try {
    CliOptions options;
    try {
      options = ParseArguments(args);
    } catch (const UsageError& error) {
      err << "tallyfold-cli: " << error.what() << "\n"
          << "Try 'tallyfold-cli --help' for more information.\n";
      return 2;
    }
    return RunCommand(options, out, err, control);
  } catch (const ECancelled&) {
    err << "tallyfold-cli: cancelled\n";
    const int signal = control.stop_signal != nullptr ? *control.stop_signal : 0;
    return 128 + (signal != 0 ? signal : SIGINT);
  } catch (const std::bad_alloc&) {
    err << "Out of memory.\n";
    return 1;
  } catch (const std::exception& error) {
    err << ErrorDisplayText(error.what()) << "\n";
    return 1;
  }
}

}  // namespace tallyfold
