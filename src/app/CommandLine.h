// The command line as a library: what tallyfold-cli does, from its raw
// arguments to its exit status, with the output streams as parameters so
// that it runs as well inside another program (or a test) as in its own.
//
// A command line is taken in two steps. ParseArguments checks the raw
// arguments (without the program's name) into a plain CliOptions, or raises
// UsageError; RunCommand then configures the search command
// (app/SearchCommand.h) from those options and runs it. The summary line
// goes to `out` (to `err` when the report itself goes to standard output),
// the reading summary, the pattern's hints and the notes to `err`:
//
//   tallyfold::CliOptions options =
//       tallyfold::ParseArguments({"--case", "-o", "/tmp/r.htm", "cat", "corpus"});
//   std::ostringstream out, err;
//   tallyfold::RunCommand(options, out, err);
//   // out: "2 matching lines in 3 files scanned; report written to /tmp/r.htm\n"
//
// Relative paths are taken from the current folder, as the program takes
// them. RunCommand raises what the search raises: a tallyfold::Exception
// when it fails (a FOLDER that is not there, a pattern that does not
// compile, a report that cannot be written; the previous report is left as
// it was), ECancelled once *CliControl::cancel is set, std::bad_alloc when
// memory runs out.
//
// RunCli takes both steps and turns the outcome into the program's message
// on `err` and its exit status:
//
//   int status = tallyfold::RunCli({"cat", "corpus"}, std::cout, std::cerr);
//   // 0 report written (also with no matching line), 1 search failed,
//   // 2 usage error, 3 report written but a corpus file changed while it
//   // was searched (kExitFileChanged), 128 + the signal's number when
//   // stopped by one
//
// The program itself (app/CliMain.cpp) only fixes the system code page,
// installs the SIGINT and SIGTERM handlers that set the cancel flag, and
// returns what RunCli returns.
#pragma once

#include <atomic>
#include <csignal>
#include <cstdint>
#include <iosfwd>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/MatchStore.h"
#include "app/OutputFormat.h"
#include "app/ResultView.h"
#include "text/TextFile.h"

namespace tallyfold {

// A command line that cannot be run. RunCli prints it with a hint to
// --help and returns 2.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The command line, checked but not yet acted on.
struct CliOptions {
  bool show_help = false;
  bool show_version = false;
  bool case_sensitive = false;
  bool word_boundary = true;
  bool open_report = false;
  bool quiet = false;
  bool style_sheet = true;            // false: --no-css
  bool recursive = false;
  int threads = 0;                    // 0: one per core
  std::uint64_t row_memory = kRowMemoryBudget;  // --row-memory, in bytes
  std::string encoding = "auto";      // --encoding, checked
  std::string fallback = kDefaultFallbackEncoding;  // --fallback, checked
  std::string output;                 // native byte path, as given; "-": standard output
  OutputFormat format = OutputFormat::kHtml;  // --format: html, tsv, csv, jsonl or forms
  ResultOrder order = ResultOrder::kReport;   // --order, for a table of matches
  int context = kWholeLine;                   // --context, for a table of matches
  bool fold_case = false;                     // --fold-case, for --format forms
  std::string pattern;                // bytes in the locale's character set
  std::string folder;                 // native byte path, as given
};

// What a run takes besides the arguments and the streams.
struct CliControl {
  // Once set, the search stops at its next check and the run ends with
  // ECancelled.
  const std::atomic<bool>* cancel = nullptr;
  // The signal that set *cancel, read once the search has stopped: RunCli
  // returns 128 plus it (plus SIGINT's number when there is none).
  const volatile std::sig_atomic_t* stop_signal = nullptr;
  // Show "done of total files" on `err` once a search has run for a moment,
  // wiped again when it ends: for an `err` that is a terminal.
  bool show_progress = false;
};

// The exit status of a search whose report is written, but one of whose
// files changed while it was read, so that its counts may be incomplete.
inline constexpr int kExitFileChanged = 3;

// Checks the raw arguments, the program's name left out. With --help or
// --version nothing else is checked. An -o left out is filled in by the
// format: result.htm, result.tsv, result.csv, result.jsonl or forms.tsv.
// --order and --context need a table of matches (tsv, csv or jsonl).
// Raises UsageError.
CliOptions ParseArguments(const std::vector<std::string>& args);

// Shows the help or the version, or runs the search the options ask for,
// and gives 0, or kExitFileChanged when a file changed while it was
// searched. Raises as the search does (see above).
int RunCommand(const CliOptions& options, std::ostream& out, std::ostream& err,
               const CliControl& control = {});

// ParseArguments and RunCommand, with every failure turned into its message
// on `err` and the exit status. Raises nothing.
int RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
           const CliControl& control = {});

}  // namespace tallyfold
