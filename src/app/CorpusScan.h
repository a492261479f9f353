// The corpus scan: which lines of a folder's text files match, and how often.
//
// ScanFolder reads every "*.txt" entry directly inside a folder, or with
// ScanControl::recursive in its sub-folders too (see platform/DirList.h for
// which names count and in what order), and for each
// non-blank line of each file counts the matches of the pattern. Every line
// with at least one match adds one key to the match list (app/MatchStore.h):
// its count and where its row is. The row is made on the thread that
// counted the line, by the row printer of its file (app/MatchRecord.h),
// from the trimmed line with one space added on each side; by default that
// is the report's row formatter (app/RowFormatter.h):
//
//    The <span class="key">cat</span> sat.  <span class="info"><a
//   href="/c/a.txt" target="_blank">(<span class="file">a.txt</span>, <span
//   class="line">Line 3</span>)</a></span>          (the row of a key of 3)
//
// With ScanControl::recursive the file named in the row is its path
// relative to the folder ("sub/a.txt"); the link holds the full path.
//
//   tallyfold::MatchList matches;        // rows spilled beyond 256 MB
//   tallyfold::ScanFolder(u"\\bcat\\b", "/home/me/corpus", false, matches);
//
// The scan can also fill a string list with one entry "<count>=<row>" per
// matching line, each row kept in memory (tests and small tools use this).
//
// The files are read, decoded and matched by worker threads, one per core
// unless ScanControl says otherwise (and never more than four per core),
// each with its own engine; a file's bytes are read once and its lines are
// given one at a time (text/TextLines.h). The keys still reach the list in
// enumeration order, so the list is the same, key for key, whatever the
// number of threads. The memory a scan holds does not grow with the
// threads: a file is only started while the sizes of the files being read,
// plus the memory of finished files' keys waiting for an earlier file, stay
// within a byte budget (ScanControl::memory_budget). A file larger than the
// budget is read alone.
//
// Rows that go beyond the store's memory budget are written to its spill
// file as they are made; a spill file that cannot be written ends the scan
// with EWriteError.
//
// Errors are not caught here: a pattern that does not compile raises
// ERegexEngine on the first non-blank line, a file that cannot be opened (a
// sub-folder named like a text file among them) raises EFOpenError, and
// either ends the scan with the entries of the files before it in the list.
// With several threads the error is still the first one in enumeration
// order, and nothing of a later file reaches the list. A scan whose cancel
// flag is set ends with ECancelled within a few milliseconds.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "app/MatchStore.h"
#include "app/RowFormatter.h"
#include "regex/RegexEngine.h"
#include "text/StringList.h"
#include "text/TextFile.h"

namespace tallyfold {

// Called on the thread that runs the scan: once before the first file and
// again each time a file's entries have joined the list, with the number of
// files done, the total and the path of the file the scan now waits for
// (the first one not done, in enumeration order; empty once all are done).
using ScanProgress = std::function<void(int done, int total, const std::string& current)>;

// A file the scan is done with, as ScanControl::scanned is told of it.
struct ScannedFile {
  int index = 0;                // in enumeration order
  const std::string& path;
  const std::string& shown_name;  // the name its rows show
  // The code units of its lines, line breaks not counted (of every line,
  // also of those the line filter passed over undecoded).
  std::int64_t characters = 0;
  // How it was read: its character set, the sequences read as U+FFFD, its
  // NULs (text/TextFile.h).
  const TTextReadInfo& read;
  // With ScanControl::also_pattern: the file's non-blank lines that pattern
  // matches, or -1 when it could not be searched for (it does not compile,
  // or its search raised).
  int also_lines = -1;
};

// Called on the thread that runs the scan, in enumeration order, once each
// file's lines have joined the list.
using ScanScanned = std::function<void(const ScannedFile& file)>;

// Called on the thread that runs the scan once the folder is listed, with
// the path of every file the scan will read, before any is read; whatever
// it throws ends the scan there.
using ScanListed = std::function<void(const std::vector<std::string>& paths)>;

// The default of ScanControl::memory_budget.
inline constexpr std::uint64_t kScanMemoryBudget = std::uint64_t{256} << 20;

// How a scan runs; the defaults use every core and cannot be stopped.
struct ScanControl {
  // Worker threads; 1 scans on the calling thread, 0 or less means one per
  // core, and no more than ScanThreadLimit() are used. The entries are the
  // same either way.
  int threads = 0;
  // With workers, the most bytes in flight: the sizes on disk of the files
  // being read plus the memory of the finished files' entries that wait for
  // an earlier file. A file that does not fit waits until it does, or until
  // nothing else is in flight. Scanning on the calling thread holds one
  // file at a time anyway.
  std::uint64_t memory_budget = kScanMemoryBudget;
  // When set, the scan stops soon after *cancel becomes true and raises
  // ECancelled (platform/Exception.h), even inside a long match.
  const std::atomic<bool>* cancel = nullptr;
  ScanProgress progress;
  ScanListed listed;
  // How a file without a byte-order mark is decoded; the default reads it
  // in the system code page (text/TextFile.h).
  TTextDecoding decoding;
  // Also scan the text files of the sub-folders, at any depth, in byte
  // order of their paths relative to the folder (ListTextFilesRecursive).
  bool recursive = false;
  // Look for what every line with a match holds in each file's bytes and
  // decode and match only the lines that hold it (app/LineFilter.h). The
  // matches are the same either way; off, every line is decoded.
  bool line_filter = true;
  // Makes each file's row printer (app/MatchRecord.h), which turns every
  // matching line into its row; empty: the report's rows
  // (app/RowFormatter.h). Which lines are decoded does not depend on it.
  RowPrinterFactory printers;
  ScanScanned scanned;
  // When not empty, a second pattern looked for in the same non-blank lines
  // as the pattern, under the same case option: the lines it matches are
  // counted (ScannedFile::also_lines), and nothing else comes of them. A
  // search for a pattern P wrapped in \b...\b, with P as the second
  // pattern, thus tells how many lines P alone would match without reading
  // anything more. The line filter stays on only where both patterns need
  // the same text in a line (as P and \bP\b do); otherwise every line is
  // decoded. A second pattern that fails is given up, never failing the
  // scan.
  std::u16string also_pattern;
};

// The number of worker threads `threads` asks for: itself when positive,
// otherwise the number of cores (at least 1); in either case no more than
// ScanThreadLimit().
int ScanThreadCount(int threads);

// The most worker threads a scan uses: four per core.
int ScanThreadLimit();

// Scans every text file of `folder` (a native byte path) in ascending byte
// order of the names; the file path is folder + "/" + name (with
// control.recursive, name is the path relative to the folder, and it is
// the name the rows show). A sub-folder that cannot be read ends the scan
// with the listing's folder error before any file is read. Matching ignores
// the case of ASCII letters unless `case_sensitive`. Returns the number of
// files scanned.
int ScanFolder(const std::u16string& pattern, const std::string& folder, bool case_sensitive,
               MatchList& matches, const ScanControl& control = {});

// The same, appending one entry "<count>=<row>" per matching line to
// `matches`, also those found before a failure.
int ScanFolder(const std::u16string& pattern, const std::string& folder, bool case_sensitive,
               TUnicodeStringList& matches, const ScanControl& control = {});

// Scans one file on the calling thread, appending its entries "<count>=<row>" to
// `matches` in line order; after a failure the entries of the lines before
// it are in the list. Raises ECancelled once *cancel is set.
void ScanFile(const std::u16string& pattern, const std::string& path, bool case_sensitive,
              TUnicodeStringList& matches, const std::atomic<bool>* cancel = nullptr);

// The number of matches of `pattern` in `line`, found with Exec and then
// ExecNext until it fails. When `spans` is given it receives each match.
int CountMatches(TRegexEngine& engine, const std::u16string& pattern, const std::u16string& line,
                 std::vector<MatchSpan>* spans = nullptr);
// The same with the expression the engine holds, which the scan sets once
// per file: setting it again compares it with the one held, which for a
// long pattern costs more than searching a short line.
int CountMatches(TRegexEngine& engine, const std::u16string& line, std::vector<MatchSpan>* spans);

}  // namespace tallyfold
