// The match list of a search: a compact key per matching line, and the
// rows' text kept apart from the keys, in memory up to a budget and in a
// spill file beyond it.
//
// The corpus scan makes each matching line's row (its file's row printer,
// app/MatchRecord.h: a report row, table rows or a kept record) on the
// thread that counted it, writes the rows of a file one after another into
// segments of about half a megabyte, and hands each full segment to the
// RowStore. The key says how many matches the line holds and where its row
// is: a few dozen bytes per line, however long the line. The keys reach the
// MatchList in the order of the files and lines; the report builder sorts
// the keys (app/Report.h) and reads the rows back in the report's order.
//
//   MatchList matches;                       // rows in memory up to 256 MB
//   std::u16string segment = u"row one" u"row two";
//   const std::uint64_t at = matches.rows.Put(std::move(segment));
//   matches.keys.push_back({2, 7, MatchKey::Place(at, 0)});
//   matches.keys.push_back({1, 7, MatchKey::Place(at, 7)});
//   std::u16string buffer;
//   matches.rows.Row(matches.keys[1], buffer);   // u"row two"
//
// Once the segments kept in memory reach the store's budget, every further
// segment is written to a spill file instead: a file without a name in the
// folder the options give (the report's folder), which the system removes
// when the store closes it or the process ends, however it ends. The spill
// holds the rows as UTF-16, as the printer made them: for the report,
// exactly as they go into it, so it is never larger than the report. A
// segment longer than the budget is still taken: it goes to the spill file
// whole.
//
// Failures: the spill file cannot be made or written (a full disk):
// EWriteError "Cannot set rows aside in "<folder>". <system text>"; one
// that cannot be read back: EReadError "Cannot read the rows set aside in
// "<folder>". <system text>". The folder is absolute, in UTF-8.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/File.h"
#include "text/StringList.h"

namespace tallyfold {

// One matching line.
struct MatchKey {
  // A row starts less than 2^kOffsetBits code units into its segment.
  static constexpr int kOffsetBits = 24;
  static constexpr std::uint64_t Place(std::uint64_t segment, std::uint64_t offset) {
    return segment << kOffsetBits | offset;
  }

  std::int32_t count;    // the matches counted in the line
  std::uint32_t length;  // the row's length in code units
  std::uint64_t where;   // the row's segment and offset, as Place makes it

  std::uint64_t segment() const { return where >> kOffsetBits; }
  std::uint64_t offset() const { return where & ((std::uint64_t{1} << kOffsetBits) - 1); }
};

// The keys of a search, in pages of a fixed size: a list of tens of millions
// grows without ever being copied, so it never needs twice its memory.
class MatchKeys {
 public:
  static constexpr int kPageBits = 16;  // keys per page: 2^16, 1 MiB

  std::size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  MatchKey& operator[](std::size_t i) { return pages_[i >> kPageBits][i & kPageMask]; }
  const MatchKey& operator[](std::size_t i) const {
    return pages_[i >> kPageBits][i & kPageMask];
  }
  void push_back(const MatchKey& key) {
    if ((size_ & kPageMask) == 0 && (size_ >> kPageBits) == pages_.size())
      pages_.push_back(std::make_unique<MatchKey[]>(std::size_t{1} << kPageBits));
    (*this)[size_++] = key;
  }
  void Append(const std::vector<MatchKey>& keys) {
    for (const MatchKey& key : keys) push_back(key);
  }
  void clear() {
    pages_.clear();
    pages_.shrink_to_fit();
    size_ = 0;
  }

 private:
  static constexpr std::size_t kPageMask = (std::size_t{1} << kPageBits) - 1;
  std::vector<std::unique_ptr<MatchKey[]>> pages_;
  std::size_t size_ = 0;
};

// The default of RowStoreOptions::memory_budget.
inline constexpr std::uint64_t kRowMemoryBudget = std::uint64_t{256} << 20;

struct RowStoreOptions {
  // The bytes of row text kept in memory; beyond them segments are spilled.
  std::uint64_t memory_budget = kRowMemoryBudget;
  // The folder of the spill file (a native byte path); empty: $TMPDIR, or
  // /tmp when that is not set.
  std::string spill_folder;
  // When set, a long spill write stops soon after *cancel becomes true.
  const std::atomic<bool>* cancel = nullptr;
};

// The rows' text. Put may be called from several threads at once; the
// other members are for one thread, once no Put is running.
class RowStore {
 public:
  explicit RowStore(RowStoreOptions options = {});
  RowStore(const RowStore&) = delete;
  RowStore& operator=(const RowStore&) = delete;

  // Takes a segment of rows and gives its number. An empty segment is
  // taken too (it has a number, but holds no row).
  std::uint64_t Put(std::u16string&& segment);

  // The text of the row `key` names. A row kept in memory is given where
  // it is; a spilled one is read into `buffer`. The view is valid until
  // the next call with the same buffer or until the store changes.
  std::u16string_view Row(const MatchKey& key, std::u16string& buffer) const;

  // The bytes of row text in memory and in the spill file.
  std::uint64_t MemoryBytes() const { return memory_bytes_; }
  std::uint64_t SpilledBytes() const { return spilled_bytes_; }

  // Gives back every segment and closes the spill file, which removes it.
  void Clear();

  // Whether the row of `key` is in the spill file.
  bool IsSpilled(const MatchKey& key) const { return segments_[key.segment()].spilled >= 0; }

  // Where in the spill file the row of a spilled `key` is, in bytes.
  std::int64_t SpillPosition(const MatchKey& key) const;

  // Reads `units` code units of the spill file from byte `position` on
  // into `to`.
  void ReadSpilled(std::int64_t position, std::size_t units, char16_t* to) const;

 private:
  struct Segment {
    std::u16string text;        // the rows, when kept in memory
    std::int64_t spilled = -1;  // else where they are in the spill file
  };

  void Spill(Segment& segment, std::u16string&& text);

  RowStoreOptions options_;
  mutable std::mutex mutex_;     // guards what follows while Put runs
  std::deque<Segment> segments_;
  std::uint64_t memory_bytes_ = 0;
  std::uint64_t spilled_bytes_ = 0;
  PosixFile spill_;
};

// Reads the rows of a sequence of keys in its order. The spilled ones are
// read ahead, a few megabytes at a time, on a thread of its own, each batch
// in the order of their places in the spill file; rows kept in memory are
// given where they are. Errors of the reads (EReadError) are raised by
// Next. The store and the keys must stay as they are while it reads.
class RowReader {
 public:
  RowReader(const RowStore& store, const MatchKeys& keys);
  ~RowReader();
  RowReader(const RowReader&) = delete;
  RowReader& operator=(const RowReader&) = delete;

  // The row of the next key; valid until the next call.
  std::u16string_view Next();

 private:
  struct Ahead;

  const RowStore& store_;
  const MatchKeys& keys_;
  std::size_t next_ = 0;
  std::u16string buffer_;          // without a spill file: unused
  std::unique_ptr<Ahead> ahead_;   // the reading thread, when rows were spilled
};

// What a scan found: the keys in the order of the files and lines, and
// their rows.
struct MatchList {
  explicit MatchList(RowStoreOptions options = {}) : rows(std::move(options)) {}
  MatchKeys keys;
  RowStore rows;

  void Clear() {
    keys.clear();
    rows.Clear();
  }
};

// Appends one entry "<count>=<row>" per key of `matches` to `list`, in the
// keys' order, and empties `matches`.
void AppendEntries(MatchList& matches, TUnicodeStringList& list);

}  // namespace tallyfold
