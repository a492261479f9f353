// The corpus scan: folder, file and line count; the rows are made by the
// report's row formatter.
//
// This file's external interface is CorpusScan.h; tests/app/CorpusScanTest.cpp
// covers it, and tests/app/CliEndToEndTest.cpp runs it through the program.
#include "app/CorpusScan.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <thread>

#include "app/LineFilter.h"
#include "app/OrderedWork.h"
#include "platform/DirList.h"
#include "platform/File.h"
#include "text/TextLines.h"
#include "text/WideHelpers.h"

namespace tallyfold {

namespace {

// Modifier index of i (case-insensitive matching of ASCII letters).
constexpr int kModifierI = 1;

// How many code units of a long line are escaped, measured or copied
// between two looks at the cancel flag: about a millisecond's work.
constexpr std::size_t kCancelCheckUnits = std::size_t{1} << 20;

// `padded` := " " + trimmed + " ", a long line copied a block at a time so
// that a cancel is seen while it is copied. A U+0000 inside the line stays
// as it is: the engine searches it as a character like any other (`\x00`
// finds it). The row shows it as U+FFFD (ShowNuls). Returns whether the line
// held a NUL.
bool Pad(std::u16string& padded, std::u16string_view trimmed, const std::atomic<bool>* cancel) {
  padded.resize(trimmed.size() + 2);
  padded.front() = u' ';
  padded.back() = u' ';
  char16_t* const out = padded.data() + 1;
  bool nul = false;
  for (std::size_t at = 0; at < trimmed.size(); at += kCancelCheckUnits) {
    if (at > 0) ThrowIfCancelled(cancel);
    const std::size_t end = std::min(trimmed.size(), at + kCancelCheckUnits);
    for (std::size_t i = at; i < end; ++i) {
      nul |= trimmed[i] == 0;
      out[i] = trimmed[i];
    }
  }
  return nul;
}

// `line` trimmed and given a space on each side in its own string, with
// one move of its units; false, and `line` left as it was, for a blank
// line. Without room for the two spaces it is copied once into a string of
// the exact size (a string that grows may take twice what it needs).
bool PadInPlace(std::u16string& line) {
  const std::u16string_view trimmed = TrimWideView(line);
  if (trimmed.empty()) return false;
  const std::size_t size = trimmed.size();
  if (line.capacity() < size + 2) {
    std::u16string padded(size + 2, u' ');
    std::memcpy(padded.data() + 1, trimmed.data(), size * sizeof(char16_t));
    line.swap(padded);
    return true;
  }
  const auto first = static_cast<std::size_t>(trimmed.data() - line.data());
  line.resize(std::max(line.size(), size + 2));
  std::memmove(line.data() + 1, line.data() + first, size * sizeof(char16_t));
  line[0] = u' ';
  line[size + 1] = u' ';
  line.resize(size + 2);
  return true;
}

// Every U+0000 of a searched line as U+FFFD, as the row shows it: the report
// writes every control character so, and the tables and the match forms
// read the same text. The spans keep their places, since one unit stands
// for one unit.
void ShowNuls(std::u16string& padded) {
  if (padded.find(u'\0') != std::u16string::npos)
    std::replace(padded.begin(), padded.end(), u'\0', u'\uFFFD');
}

// One file's matching lines: their keys in line order, and their rows,
// written one after another into segments of a fixed size that go to the
// row store as they fill. A long row gets a segment of its own, made at its
// exact size, so a long line is not copied once more. Until its segment
// is stored, a key holds only the row's offset within it.
class FileRows {
 public:
  static constexpr std::size_t kLongRow = 64 * 1024;  // code units

  TTextReadInfo read;           // how the file was read; empty until it was
  int also_lines = -1;          // lines the second pattern matches; -1: none
  std::vector<MatchKey> keys;   // one per matching line, in line order
  RowStore* store = nullptr;    // where the segments go

  // Adds the key of a line with `count` matches whose row is exactly
  // `length` code units that write(std::u16string&) appends to the string
  // it is given.
  template <typename Write>
  void Add(int count, std::size_t length, Write write) {
    if (length == RowPrinter::kMeasuredLater) return AddMeasured(count, write);
    // No row comes near this in memory that a search can have; a length
    // the key cannot hold is reported as the memory it would take.
    if (length > UINT32_MAX) throw std::bad_alloc();
    const auto key_length = static_cast<std::uint32_t>(length);
    if (length >= kLongRow) {
      Flush();
      std::u16string row;
      row.reserve(length);
      write(row);
      keys.push_back({count, key_length, MatchKey::Place(store->Put(std::move(row)), 0)});
      stored_ = keys.size();
      return;
    }
    if (segment_.size() + length > kSegmentUnits) Flush();
    if (segment_.capacity() == 0) segment_.reserve(kSegmentUnits);
    const std::size_t offset = segment_.size();
    write(segment_);
    keys.push_back({count, key_length, offset});
  }

  // The same for a row whose length is known once it is written: it is
  // written into the segment, and a long one is then moved to a segment of
  // its own.
  template <typename Write>
  void AddMeasured(int count, Write write) {
    if (segment_.size() >= kSegmentUnits) Flush();
    if (segment_.capacity() == 0) segment_.reserve(kSegmentUnits);
    const std::size_t offset = segment_.size();
    try {
      write(segment_);
    } catch (...) {
      segment_.resize(offset);
      throw;
    }
    const std::size_t length = segment_.size() - offset;
    if (length > UINT32_MAX) throw std::bad_alloc();
    const auto key_length = static_cast<std::uint32_t>(length);
    if (length < kLongRow) {
      keys.push_back({count, key_length, offset});
      return;
    }
    std::u16string row(std::u16string_view(segment_).substr(offset));
    // The rows before it are stored without the room the long one took.
    segment_.resize(offset);
    segment_.shrink_to_fit();
    Flush();
    segment_ = std::u16string();
    keys.push_back({count, key_length, MatchKey::Place(store->Put(std::move(row)), 0)});
    stored_ = keys.size();
  }

  // Stores the rows written since the last time, completing their keys. If
  // that fails, their keys are dropped: only lines whose rows are kept
  // have keys.
  void Flush() {
    if (stored_ == keys.size()) return;
    std::uint64_t segment;
    try {
      segment = store->Put(std::move(segment_));
    } catch (...) {
      keys.resize(stored_);
      segment_ = std::u16string();
      throw;
    }
    segment_ = std::u16string();
    for (; stored_ < keys.size(); ++stored_) keys[stored_].where |= MatchKey::Place(segment, 0);
  }

  // The memory the file's matches take besides the stored segments.
  std::uint64_t Bytes() const {
    return keys.capacity() * sizeof(MatchKey) + segment_.capacity() * sizeof(char16_t);
  }

 private:
  static constexpr std::size_t kSegmentUnits = 4 * kLongRow;

  std::u16string segment_;  // rows not yet stored
  std::size_t stored_ = 0;  // keys before this one have their segment
};

// The second pattern of a scan (ScanControl::also_pattern) in one file: the
// lines it matches, counted beside the pattern's own.
class AlsoCount {
 public:
  AlsoCount(const std::u16string& pattern, bool case_sensitive, const std::atomic<bool>* cancel)
      : on_(!pattern.empty()) {
    if (!on_) return;
    engine_.SetModifier(kModifierI, !case_sensitive);
    engine_.SetCancelFlag(cancel);
    engine_.SetExpression(pattern);
    try {
      engine_.Compile();
    } catch (const ERegexEngine&) {
      on_ = false;
    }
    if (on_) lines_ = 0;
  }

  bool On() const { return on_; }
  TRegexEngine& Engine() { return engine_; }
  int Lines() const { return lines_; }

  // Counts the padded line when the second pattern matches it. An error of
  // the search gives the count up; a cancel is passed on.
  void Line(const std::u16string& padded) {
    if (!on_) return;
    try {
      if (engine_.Exec(padded)) ++lines_;
      if (padded.size() >= FileRows::kLongRow) engine_.SetInputString(std::u16string());
    } catch (const ERegexEngine&) {
      on_ = false;
      lines_ = -1;
    }
  }

 private:
  TRegexEngine engine_;
  bool on_;
  int lines_ = -1;
};

// A search error that depends on the line it met (the backtracking budget)
// names the file and the line, so that the user can look at what made the
// pattern too costly; any other is passed on as it is.
ERegexEngine WithPlace(const ERegexEngine& error, const std::string& path, int line) {
  if (error.Code != kErrorStepBudget) return error;
  return ERegexEngine(std::string(error.what()) + " (\"" + path + "\", line " +
                          std::to_string(line) + ")",
                      error.Code, error.ErrorPos);
}

// The work of ScanLines below, without the storing of the last rows.
void ScanLinesOf(const std::u16string& pattern, const std::u16string& also_pattern,
                 const RecordFile& file, const RowPrinter& printer, bool case_sensitive,
                 const TTextDecoding& decoding, bool line_filter,
                 const std::atomic<bool>* cancel, FileRows& out) {
  if (IsCancelled(cancel)) throw ECancelled();
  // All live only for this file and are released on every way out,
  // exceptions included.
  TRegexEngine engine;
  engine.SetModifier(kModifierI, !case_sensitive);
  // The matcher looks at the flag inside a long match; the reading looks
  // at it too, also within one very long line, and so does the loop below,
  // between lines.
  engine.SetCancelFlag(cancel);
  // What every line with a match holds, looked for in the file's bytes
  // before a line is decoded: a line without it is passed over undecoded.
  // A pattern that does not compile has none, and fails on the first line.
  // With a second pattern the filter serves both or neither.
  engine.SetExpression(pattern);
  AlsoCount also(also_pattern, case_sensitive, cancel);
  TLineNeedle needle = line_filter ? LineNeedleFor(engine) : TLineNeedle();
  if (also.On() && !needle.empty()) {
    const TLineNeedle also_needle = LineNeedleFor(also.Engine());
    if (also_needle.units != needle.units || also_needle.others != needle.others ||
        also_needle.ranges != needle.ranges)
      needle = TLineNeedle();
  }

  std::vector<MatchSpan> spans;
  std::u16string padded;
  // Counts `padded`, the trimmed line of index k with a space added on
  // each side, and makes its row. `read` is the trimmed line as read when
  // it held a NUL.
  const auto scan_padded = [&](int k, std::u16string_view read) {
    // A very long line is held at most three times at any moment: as read,
    // padded, and in the engine, whose copy goes once it is counted, and
    // the padded one once its row is made; a line the reader hands over is
    // padded in its own string, and held twice. Each step over it looks at
    // the flag as it goes, but for the engine's copy of its input, so the
    // flag is looked at once more right before that.
    const bool long_line = padded.size() >= FileRows::kLongRow;
    const std::atomic<bool>* const long_cancel = long_line ? cancel : nullptr;
    if (long_line) ThrowIfCancelled(cancel);
    int count;
    try {
      count = CountMatches(engine, padded, &spans);
    } catch (const ERegexEngine& error) {
      throw WithPlace(error, file.path, k + 1);
    }
    if (long_line) engine.SetInputString(std::u16string());
    also.Line(padded);
    if (count > 0) {
      // The spans the count found are the ones the row shows, so the
      // row always agrees with the number beside it. A long row is a
      // string of its own, which a cancel part-way drops; a short one
      // is never cut off.
      ShowNuls(padded);
      const MatchRecord record{k + 1, padded, spans, read};
      out.Add(count, printer.RowLength(record, long_cancel), [&](std::u16string& row) {
        printer.AppendRow(row, record, long_cancel);
      });
    }
    if (long_line) std::u16string().swap(padded);
  };
  const auto each = [&](int k, std::u16string_view line) {
    if (IsCancelled(cancel)) throw ECancelled();
    const std::u16string_view trimmed = TrimWideView(line);
    if (trimmed.empty()) return;
    const bool nul = Pad(padded, trimmed, cancel);
    scan_padded(k, nul ? trimmed : std::u16string_view());
  };
  ReadTextLines(
      file.path, decoding, needle.empty() ? nullptr : &needle, cancel, &out.read, each,
      [&](int k, std::u16string& line) {
        // A line that holds a NUL keeps it for the rows that can show it,
        // and is copied.
        if (line.find(u'\0') != std::u16string::npos) return each(k, line);
        if (IsCancelled(cancel)) throw ECancelled();
        if (!PadInPlace(line)) return;
        padded = std::move(line);
        scan_padded(k, std::u16string_view());
      });
  out.also_lines = also.Lines();
}

// Scans the file at `path`, adding the keys of its matching lines to `out`
// in line order, each row naming the file as `shown_name`. The rows are in
// out.store once it returns, also when it fails: `out` then keeps the
// lines before the failure.
void ScanLines(const std::u16string& pattern, const std::u16string& also_pattern,
               const RecordFile& file, const RowPrinterFactory& printers, bool case_sensitive,
               const TTextDecoding& decoding, bool line_filter,
               const std::atomic<bool>* cancel, FileRows& out) {
  try {
    const std::unique_ptr<RowPrinter> printer =
        printers ? printers(file) : std::make_unique<RowFormatter>(file.path, file.shown_name);
    ScanLinesOf(pattern, also_pattern, file, *printer, case_sensitive, decoding, line_filter,
                cancel, out);
  } catch (...) {
    out.Flush();
    throw;
  }
  out.Flush();
}

// Finished files whose entries wait for an earlier file, per worker: enough
// to keep every worker busy when file sizes vary. Their memory counts
// against the scan's budget like that of the files being read.
constexpr int kFinishedPerWorker = 1;

// More workers than this per core only take turns on the cores, each one
// more file held half-read, and the pool slows to a crawl long before the
// system refuses a thread.
constexpr int kThreadsPerCore = 4;

int CoreCount() { return std::max(1, static_cast<int>(std::thread::hardware_concurrency())); }

// What a file costs the scan's budget while it is read: its size on disk,
// which is what its bytes take while its lines are given one at a time. A
// file whose size cannot be told costs nothing here; opening it will fail.
std::uint64_t SizeOnDisk(const std::string& path) {
  std::uint64_t size = 0;
  return RegularFileSize(path, size) ? size : 0;
}

// Runs `scan` into a match list kept in memory and hands its entries to
// `list`, also those found before a failure.
template <typename Scan>
void ScanIntoList(TUnicodeStringList& list, Scan scan) {
  RowStoreOptions in_memory;
  in_memory.memory_budget = app_internal::kNoBudget;
  MatchList matches(std::move(in_memory));
  try {
    scan(matches);
  } catch (...) {
    AppendEntries(matches, list);
    throw;
  }
  AppendEntries(matches, list);
}

}  // namespace

int CountMatches(TRegexEngine& engine, const std::u16string& pattern, const std::u16string& line,
                 std::vector<MatchSpan>* spans) {
  engine.SetExpression(pattern);
  return CountMatches(engine, line, spans);
}

int CountMatches(TRegexEngine& engine, const std::u16string& line, std::vector<MatchSpan>* spans) {
  if (spans != nullptr) spans->clear();
  int count = 0;
  for (bool found = engine.Exec(line); found; found = engine.ExecNext()) {
    ++count;
    if (spans != nullptr) spans->push_back({engine.GroupPos(0) - 1, engine.GroupLen(0)});
  }
  return count;
}

void ScanFile(const std::u16string& pattern, const std::string& path, bool case_sensitive,
              TUnicodeStringList& matches, const std::atomic<bool>* cancel) {
  ScanIntoList(matches, [&](MatchList& list) {
    FileRows rows;
    rows.store = &list.rows;
    try {
      const std::string name = FileNameOf(path);
      ScanLines(pattern, std::u16string(), RecordFile{0, path, name}, RowPrinterFactory(),
                case_sensitive, TTextDecoding(), true, cancel, rows);
    } catch (...) {
      list.keys.Append(rows.keys);
      throw;
    }
    list.keys.Append(rows.keys);
  });
}

int ScanThreadLimit() { return kThreadsPerCore * CoreCount(); }

int ScanThreadCount(int threads) {
  return std::min(threads > 0 ? threads : CoreCount(), ScanThreadLimit());
}

int ScanFolder(const std::u16string& pattern, const std::string& folder, bool case_sensitive,
               TUnicodeStringList& matches, const ScanControl& control) {
  int total = 0;
  ScanIntoList(matches, [&](MatchList& list) {
    total = ScanFolder(pattern, folder, case_sensitive, list, control);
  });
  return total;
}

int ScanFolder(const std::u16string& pattern, const std::string& folder, bool case_sensitive,
               MatchList& matches, const ScanControl& control) {
  // With sub-folders the names are paths relative to the folder, and the
  // rows show them so; otherwise each is the file's own name.
  const std::vector<std::string> names =
      control.recursive ? ListTextFilesRecursive(folder) : ListTextFiles(folder);
  const int total = static_cast<int>(names.size());
  auto path_of = [&](int index) {
    return index < total ? JoinPath(folder, names[static_cast<std::size_t>(index)]) : std::string();
  };
  if (control.listed) {
    std::vector<std::string> paths;
    paths.reserve(names.size());
    for (int index = 0; index < total; ++index) paths.push_back(path_of(index));
    control.listed(paths);
  }
  if (control.progress) control.progress(0, total, path_of(0));

  const int workers = ScanThreadCount(control.threads);
  const app_internal::RunPlan<FileRows> plan{
      .workers = workers,
      .window = workers * (1 + kFinishedPerWorker),
      .budget = control.memory_budget,
      .run_cost = [&](int index) { return SizeOnDisk(path_of(index)); },
      .held_cost = [](const FileRows& rows) { return rows.Bytes(); },
  };
  app_internal::RunInOrder<FileRows>(
      total, plan, control.cancel,
      [&](int index, FileRows& rows, const std::atomic<bool>* stop) {
        rows.store = &matches.rows;
        const std::string path = path_of(index);
        ScanLines(pattern, control.also_pattern,
                  RecordFile{index, path, names[static_cast<std::size_t>(index)]},
                  control.printers, case_sensitive, control.decoding, control.line_filter, stop,
                  rows);
      },
      [&](int index, FileRows& rows, bool complete) {
        // A file that failed part-way still adds the lines before the
        // failure, as a scan on one thread does.
        matches.keys.Append(rows.keys);
        std::vector<MatchKey>().swap(rows.keys);
        if (complete && control.scanned) {
          const std::string path = path_of(index);
          control.scanned(ScannedFile{.index = index,
                                      .path = path,
                                      .shown_name = names[static_cast<std::size_t>(index)],
                                      .characters = rows.read.units,
                                      .read = rows.read,
                                      .also_lines = rows.also_lines});
        }
        if (complete && control.progress) control.progress(index + 1, total, path_of(index + 1));
      });
  return total;
}

}  // namespace tallyfold
