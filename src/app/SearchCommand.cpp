// The search command shared by the window and the command line.
//
// This file's external interface is SearchCommand.h;
// tests/app/SearchCommandTest.cpp covers it.
#include "app/SearchCommand.h"

#include <algorithm>
#include <climits>
#include <new>

#include "app/CorpusScan.h"
#include "app/MatchForms.h"
#include "app/Report.h"
#include "app/ResultView.h"
#include "app/RowFormatter.h"
#include "app/TablePrinter.h"
#include "platform/CodePage.h"
#include "platform/File.h"
#include "text/TextFile.h"
#include "text/WideHelpers.h"

namespace tallyfold {

namespace {

// Hands the report's lines straight to the file being written.
class WriterSink : public ReportSink {
 public:
  explicit WriterSink(TTextWriter& writer) : writer_(writer) {}
  void Line(std::initializer_list<std::u16string_view> pieces) override {
    writer_.WriteLine(pieces);
  }

 private:
  TTextWriter& writer_;
};

// A path in an error message: absolute, in UTF-8.
std::string MessagePath(const std::string& native_path) {
  return Utf8Encode(AnsiToWide(AbsolutePath(native_path)));
}

// Refuses a report that would take the place of one of the corpus files
// the search is about to read: called with the scan's list of them, before
// anything is read.
void CheckReportIsNoCorpusFile(const std::string& report,
                               const std::vector<std::string>& corpus_files) {
  FileIdentity target;
  if (!IdentifyFile(report, target)) return;
  for (const std::string& path : corpus_files) {
    FileIdentity corpus_file;
    if (IdentifyFile(path, corpus_file) && corpus_file == target) {
      throw EFCreateError("Cannot create file \"" + MessagePath(report) +
                          "\". It is one of the corpus files being searched");
    }
  }
}

// Runs `step`, turning a failed allocation into an error that says what
// was going on. The matches found are given back at once: the memory is
// what ran out, and an error leaves the report as it was anyway.
template <typename Step>
void RunWithMemory(const std::string& doing, SearchLists& lists, MatchList& matches, Step step) {
  try {
    step();
  } catch (const std::bad_alloc&) {
    matches.Clear();
    lists.summary.ClearItems();
    throw Exception("Out of memory while " + doing);
  }
}

// The folder of the file a report is written to, where the rows beyond
// the memory budget are set aside: on the same disk as the report, which
// they become. A report that goes to a stream has none; its rows go to the
// temporary folder.
std::string SpillFolder(const std::string& path, const WriteTarget& target, bool resolved) {
  if (resolved && target.kind == WriteTarget::kStream) return std::string();
  const std::string& file = resolved ? target.path : path;
  const std::size_t slash = LastPathSeparator(file);
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : file.substr(0, slash);
}

}  // namespace

SearchLists::SearchLists() {
  matches.SetPairSeparator(u'=');
  summary.SetPairSeparator(u'=');
}

std::u16string SearchPattern(const std::u16string& text, bool word_boundary) {
  std::u16string pattern = TrimWide(text);
  if (word_boundary) pattern = u"\\b" + pattern + u"\\b";
  return pattern;
}

void RunSearch(const SearchOptions& options, SearchLists& lists) {
  SearchStats stats;
  RunSearch(options, lists, stats);
}

namespace {

// A table made from the kept results: the matches in the order asked for,
// with the context asked for, or their forms.
void WriteArranged(const ResultSet& results, const SearchOptions& options,
                   const std::function<void(std::string_view bytes)>& write) {
  ResultView view(results);
  view.Arrange(options.order, u"", options.cancel, nullptr);
  if (options.format == OutputFormat::kForms) {
    WriteForms(CountForms(view, options.fold_case, options.cancel), write, options.cancel);
  } else {
    WriteTable(view, options.format, write, options.cancel, options.context);
  }
}

}  // namespace

SearchOptions SearchOptionsFor(const SearchChoices& choices) {
  SearchOptions options;
  options.pattern_text = choices.pattern;
  options.folder = choices.folder;
  options.case_sensitive = choices.case_sensitive;
  options.word_boundary = choices.word_boundary;
  options.encoding = choices.encoding;
  options.fallback_encoding = choices.fallback_encoding;
  options.recursive = choices.recursive;
  return options;
}

void RunSearch(const SearchOptions& options, SearchLists& lists, SearchStats& stats) {
  const std::u16string pattern = SearchPattern(options.pattern_text, options.word_boundary);
  lists.report.ClearItems();
  lists.matches.ClearItems();
  // The report builder leaves the summary empty, but a search it never
  // reached must not leave stale tally lines for the next one either.
  lists.summary.ClearItems();
  stats = SearchStats();
  const std::string path =
      options.report_file.empty() ? WideToAnsi(options.report_path) : options.report_file;
  // A report that goes to a pipe, a device or standard output has no folder
  // for a browser to look in, nor one for the rows set aside.
  WriteTarget target;
  const bool resolved = ResolveWriteTarget(path, target) == 0;
  const bool to_stream = resolved && target.kind == WriteTarget::kStream;
  MatchList matches(RowStoreOptions{.memory_budget = options.row_memory_budget,
                                    .spill_folder = SpillFolder(path, target, resolved),
                                    .cancel = options.cancel});
  ScanControl control;
  control.listed = [&path](const std::vector<std::string>& corpus_files) {
    CheckReportIsNoCorpusFile(path, corpus_files);
  };
  control.threads = options.threads;
  control.cancel = options.cancel;
  control.progress = options.progress;
  control.recursive = options.recursive;
  control.line_filter = options.line_filter;
  control.decoding = TextDecodingNamed(options.encoding, options.fallback_encoding);
  // Each file's matching lines become rows of what is written, or records
  // kept for the results, whose rows are made once the search is over: the
  // forms and the orders other than the report's need them all first.
  std::shared_ptr<ResultSet> results;
  const bool table = options.format != OutputFormat::kHtml;
  const bool arranged = table && (options.format == OutputFormat::kForms ||
                                  options.order != ResultOrder::kReport);
  if (options.keep_results || arranged) {
    results = std::make_shared<ResultSet>();
    control.printers = ResultRecordPrinters();
  } else {
    control.printers =
        table ? TableRowPrinters(options.format, options.context) : ReportRowPrinters();
  }
  // Beside a character that is never a word character the wrap keeps
  // most matches out; the lines the pattern would match without it are
  // counted on the way, from the lines the scan decodes anyway.
  const std::vector<PatternAdvice> advice =
      AdvisePattern(options.pattern_text, options.word_boundary);
  const bool count_unwrapped =
      std::any_of(advice.begin(), advice.end(), [](const PatternAdvice& item) {
        return item.pitfall == PatternPitfall::kBoundaryBeside;
      });
  if (count_unwrapped) control.also_pattern = SearchPattern(options.pattern_text, false);
  std::int64_t unwrapped_lines = count_unwrapped ? 0 : -1;
  control.scanned = [&](const ScannedFile& file) {
    stats.readings.push_back({file.path, file.shown_name, file.read});
    if (unwrapped_lines >= 0)
      unwrapped_lines = file.also_lines < 0 ? -1 : unwrapped_lines + file.also_lines;
    if (!results) return;
    ResultFile entry;
    entry.path = file.path;
    entry.shown_name = file.shown_name;
    entry.characters = file.characters;
    entry.read = file.read;
    results->AddFile(std::move(entry));
  };
  RunWithMemory("searching \"" + MessagePath(options.folder) + "\"", lists, matches, [&] {
    try {
      stats.files_scanned =
          ScanFolder(pattern, options.folder, options.case_sensitive, matches, control);
    } catch (const ECancelled&) {
      throw;
    } catch (const Exception&) {
      // A failed search leaves what it found before the failure in the
      // match list, as entries, for whoever wants to look; the error is
      // what is reported, whatever becomes of them.
      // Lines kept for results are not entries of the list.
      try {
        if (!results && !table) AppendEntries(matches, lists.matches);
      } catch (...) {
        lists.matches.ClearItems();
      }
      throw;
    }
  });
  stats.matching_lines = static_cast<int>(matches.keys.size());
  for (std::size_t key = 0; key < matches.keys.size(); ++key) stats.matches += matches.keys[key].count;
  if (unwrapped_lines >= 0 && unwrapped_lines <= INT_MAX)
    stats.lines_without_boundary = static_cast<int>(unwrapped_lines);
  // The report's lines are written as they are built, so the search never
  // holds the report besides the matches. A cancel is seen between the
  // pieces written; the previous report then stays as it was.
  ThrowIfCancelled(options.cancel);
  if (results) {
    RunWithMemory("gathering the results of \"" + MessagePath(options.folder) + "\"", lists,
                  matches, [&] {
                    BuildResults(matches, *results);
                    matches.Clear();
                  });
    stats.results = results;
    ThrowIfCancelled(options.cancel);
  }
  if (!options.write_report) return;
  RunWithMemory("writing the report \"" + MessagePath(path) + "\"", lists, matches, [&] {
    if (table) {
      WriteFileWith(
          path,
          [&](TStream& stream) {
            const auto write = [&stream](std::string_view bytes) {
              stream.Write(bytes.data(), static_cast<std::int64_t>(bytes.size()));
            };
            if (arranged || (results && options.context != kWholeLine))
              WriteArranged(*results, options, write);
            else if (results)
              WriteResultTable(*results, options.format, write, options.cancel);
            else
              WriteTable(matches, options.format, write, options.cancel);
          },
          options.cancel);
      return;
    }
    WriteTextFileWith(
        path,
        [&](TTextWriter& writer) {
          WriterSink sink(writer);
          if (results)
            BuildReport(sink, *results, lists.summary, options.cancel);
          else
            BuildReport(sink, matches, lists.summary, options.cancel);
        },
        options.cancel);
  });
  // Only once the report is in place: a failed search leaves nothing new.
  if (options.write_style_sheet && !to_stream && !table)
    stats.style_sheet = WriteStyleSheetBeside(path);
}


std::string ErrorDisplayText(const std::string& message) {
  // Compared as an unsigned byte: the last byte of a multi-byte UTF-8
  // character is above '.', as is the character itself.
  if (!message.empty() && static_cast<unsigned char>(message.back()) > '.') {
    return message + ".";
  }
  return message;
}

}  // namespace tallyfold
