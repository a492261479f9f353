// The match list's row store: segments in memory, then in a spill file.
//
// This file's external interface is MatchStore.h; tests/app/MatchStoreTest.cpp
// covers it.
#include "app/MatchStore.h"

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstdlib>
#include <exception>
#include <thread>

#include "platform/Exception.h"
#include "text/TextFile.h"
#include "text/WideHelpers.h"

namespace tallyfold {

namespace {

// Spilled text is written in pieces of this many bytes, with a look at the
// cancel flag between them.
constexpr std::size_t kSpillPiece = std::size_t{1} << 20;

std::string SpillFolder(const std::string& folder) {
  if (!folder.empty()) return folder;
  const char* tmpdir = std::getenv("TMPDIR");
  return tmpdir != nullptr && *tmpdir != '\0' ? std::string(tmpdir) : std::string("/tmp");
}

// The spill file's folder as messages name it: absolute, in UTF-8.
std::string MessageFolder(const std::string& folder) {
  return Utf8Encode(AnsiToWide(AbsolutePath(SpillFolder(folder))));
}

std::uint64_t Bytes(const std::u16string& text) { return text.capacity() * sizeof(char16_t); }

}  // namespace

RowStore::RowStore(RowStoreOptions options) : options_(std::move(options)) {}

std::uint64_t RowStore::Put(std::u16string&& segment) {
  // Room reserved for rows that never came is not kept for the whole search.
  if (segment.capacity() > segment.size() + segment.size() / 4) segment.shrink_to_fit();
  const std::uint64_t bytes = Bytes(segment);
  std::unique_lock lock(mutex_);
  const std::uint64_t number = segments_.size();
  Segment& placed = segments_.emplace_back();
  if (memory_bytes_ + bytes <= options_.memory_budget) {
    memory_bytes_ += bytes;
    placed.text = std::move(segment);
    return number;
  }
  // The write happens under the lock: the disk takes one segment at a time
  // anyway, and a failure must not leave a later segment written.
  Spill(placed, std::move(segment));
  return number;
}

void RowStore::Spill(Segment& segment, std::u16string&& text) {
  const auto fail = [this](int error) {
    throw EWriteError("Cannot set rows aside in \"" + MessageFolder(options_.spill_folder) +
                      "\". " + SystemErrorText(error));
  };
  if (!spill_.IsOpen()) {
    if (const int error = PosixFile::CreateNameless(SpillFolder(options_.spill_folder), spill_))
      fail(error);
  }
  const auto offset = static_cast<std::int64_t>(spilled_bytes_);
  const auto* bytes = reinterpret_cast<const char*>(text.data());
  const std::size_t size = text.size() * sizeof(char16_t);
  for (std::size_t done = 0; done < size; done += kSpillPiece) {
    ThrowIfCancelled(options_.cancel);
    const std::size_t piece = std::min(kSpillPiece, size - done);
    if (const int error = spill_.WriteAt(bytes + done, piece, offset + static_cast<std::int64_t>(done)))
      fail(error);
  }
  segment.spilled = offset;
  spilled_bytes_ += size;
}

std::u16string_view RowStore::Row(const MatchKey& key, std::u16string& buffer) const {
  const Segment& segment = segments_[key.segment()];
  if (segment.spilled < 0)
    return std::u16string_view(segment.text).substr(key.offset(), key.length);
  buffer.resize(key.length);
  ReadSpilled(SpillPosition(key), key.length, buffer.data());
  return buffer;
}

std::int64_t RowStore::SpillPosition(const MatchKey& key) const {
  return segments_[key.segment()].spilled +
         static_cast<std::int64_t>(key.offset() * sizeof(char16_t));
}

void RowStore::ReadSpilled(std::int64_t position, std::size_t units, char16_t* to) const {
  const int error = spill_.ReadAt(to, units * sizeof(char16_t), position);
  if (error != 0)
    throw EReadError("Cannot read the rows set aside in \"" +
                     MessageFolder(options_.spill_folder) + "\". " + SystemErrorText(error));
}

void RowStore::Clear() {
  std::deque<Segment>().swap(segments_);
  memory_bytes_ = 0;
  spilled_bytes_ = 0;
  spill_.Close();
}

// ---- Reading rows in order ----

namespace {

// A batch read ahead ends after this many bytes of spilled rows or this many
// keys, whichever comes first (but holds at least one key); this many
// batches wait at most.
constexpr std::size_t kBatchBytes = std::size_t{4} << 20;
constexpr std::size_t kBatchKeys = 16384;
constexpr std::size_t kBatchesAhead = 3;

}  // namespace

struct RowReader::Ahead {
  // The spilled rows of keys [begin, end), one after another in `text`;
  // start[i - begin] is where the row of key i is (unused for rows in
  // memory).
  struct Batch {
    std::size_t begin = 0;
    std::size_t end = 0;
    std::u16string text;
    std::vector<std::size_t> start;
  };

  std::mutex mutex;
  std::condition_variable changed;
  std::deque<Batch> ready;
  bool stop = false;
  std::exception_ptr error;
  Batch current;
  std::thread thread;

  void Run(const RowStore& store, const MatchKeys& keys) {
    try {
      std::vector<std::size_t> order;
      for (std::size_t begin = 0; begin < keys.size();) {
        Batch batch;
        batch.begin = begin;
        std::size_t bytes = 0;
        order.clear();
        std::size_t end = begin;
        for (; end < keys.size() && end - begin < kBatchKeys && (end == begin || bytes < kBatchBytes);
             ++end) {
          if (!store.IsSpilled(keys[end])) continue;
          order.push_back(end);
          bytes += std::size_t{keys[end].length} * sizeof(char16_t);
        }
        batch.end = end;
        // Read in the order of the file, which the disk and the page cache
        // serve best, and rows that lie one after another in the file (the
        // sort often leaves neighbours together) with one read.
        std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
          return store.SpillPosition(keys[a]) < store.SpillPosition(keys[b]);
        });
        batch.text.resize(bytes / sizeof(char16_t));
        batch.start.resize(end - begin);
        std::size_t at = 0;
        for (std::size_t run = 0; run < order.size();) {
          const std::int64_t from = store.SpillPosition(keys[order[run]]);
          std::int64_t to = from;
          const std::size_t run_start = at;
          std::size_t next = run;
          for (; next < order.size() && store.SpillPosition(keys[order[next]]) == to; ++next) {
            batch.start[order[next] - begin] = at;
            at += keys[order[next]].length;
            to += static_cast<std::int64_t>(keys[order[next]].length * sizeof(char16_t));
          }
          store.ReadSpilled(from, at - run_start, batch.text.data() + run_start);
          run = next;
        }
        begin = end;
        std::unique_lock lock(mutex);
        changed.wait(lock, [this] { return stop || ready.size() < kBatchesAhead; });
        if (stop) return;
        ready.push_back(std::move(batch));
        changed.notify_all();
      }
    } catch (...) {
      std::lock_guard lock(mutex);
      error = std::current_exception();
      changed.notify_all();
    }
  }
};

RowReader::RowReader(const RowStore& store, const MatchKeys& keys)
    : store_(store), keys_(keys) {
  if (store.SpilledBytes() == 0) return;
  ahead_ = std::make_unique<Ahead>();
  ahead_->thread = std::thread([this] { ahead_->Run(store_, keys_); });
}

RowReader::~RowReader() {
  if (!ahead_) return;
  {
    std::lock_guard lock(ahead_->mutex);
    ahead_->stop = true;
  }
  ahead_->changed.notify_all();
  ahead_->thread.join();
}

std::u16string_view RowReader::Next() {
  const MatchKey& key = keys_[next_++];
  if (!ahead_ || !store_.IsSpilled(key)) return store_.Row(key, buffer_);
  Ahead& ahead = *ahead_;
  const std::size_t index = next_ - 1;
  if (index >= ahead.current.end) {
    std::unique_lock lock(ahead.mutex);
    // Batches come in order and cover every key; those before `index`
    // held only rows in memory.
    for (;;) {
      ahead.changed.wait(lock, [&ahead] { return !ahead.ready.empty() || ahead.error; });
      if (ahead.ready.empty()) std::rethrow_exception(ahead.error);
      const bool found = ahead.ready.front().end > index;
      if (found) ahead.current = std::move(ahead.ready.front());
      ahead.ready.pop_front();
      ahead.changed.notify_all();
      if (found) break;
    }
  }
  return std::u16string_view(ahead.current.text)
      .substr(ahead.current.start[index - ahead.current.begin], key.length);
}

void AppendEntries(MatchList& matches, TUnicodeStringList& list) {
  std::u16string buffer;
  for (std::size_t i = 0; i < matches.keys.size(); ++i) {
    const MatchKey& key = matches.keys[i];
    const std::u16string_view row = matches.rows.Row(key, buffer);
    const std::string count = std::to_string(key.count);
    std::u16string entry;
    entry.reserve(count.size() + 1 + row.size());
    entry.append(count.begin(), count.end());
    entry += u'=';
    entry += row;
    list.AppendItem(std::move(entry));
  }
  matches.Clear();
}

}  // namespace tallyfold
