// The match list's row store: segments in memory, then in a spill file.
//
// This file's external interface is MatchStore.h; tests/app/MatchStoreTest.cpp
// covers it.
#include "app/MatchStore.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>

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
    if (options_.cancel != nullptr && options_.cancel->load(std::memory_order_relaxed))
      throw ECancelled();
    const std::size_t piece = std::min(kSpillPiece, size - done);
    if (const int error = spill_.WriteAt(bytes + done, piece, offset + static_cast<std::int64_t>(done)))
      fail(error);
  }
  segment.spilled = offset;
  spilled_bytes_ += size;
}

std::u16string_view RowStore::Row(const MatchKey& key, std::u16string& buffer) const {
  const std::uint64_t offset = key.offset();
  const Segment& segment = segments_[key.segment()];
  if (segment.spilled < 0) return std::u16string_view(segment.text).substr(offset, key.length);
  buffer.resize(key.length);
  const int error = spill_.ReadAt(
      buffer.data(), std::size_t{key.length} * sizeof(char16_t),
      segment.spilled + static_cast<std::int64_t>(offset * sizeof(char16_t)));
  if (error != 0)
    throw EReadError("Cannot read the rows set aside in \"" +
                     MessageFolder(options_.spill_folder) + "\". " + SystemErrorText(error));
  return buffer;
}

void RowStore::Clear() {
  std::deque<Segment>().swap(segments_);
  memory_bytes_ = 0;
  spilled_bytes_ = 0;
  spill_.Close();
}

void AppendEntries(MatchList& matches, TUnicodeStringList& list) {
  std::u16string buffer;
  for (const MatchKey& key : matches.keys) {
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
