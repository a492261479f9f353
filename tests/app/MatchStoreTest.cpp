// The match list's row store and the report made from keys.
#include "app/MatchStore.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "app/AppTestSupport.h"
#include "app/Report.h"
#include "text/TextFile.h"

namespace tallyfold::testing {
namespace {

// Rows of varied lengths (some empty-ish, some longer than a segment's
// usual share), in segments of a few rows each, as the scan stores them.
struct StoredRows {
  std::vector<std::u16string> rows;
  std::vector<MatchKey> keys;
};

StoredRows StoreRandomRows(RowStore& store, std::uint32_t seed, int count) {
  std::mt19937 random(seed);
  StoredRows stored;
  std::u16string segment;
  std::vector<std::size_t> pending;
  auto flush = [&] {
    const std::uint64_t number = store.Put(std::move(segment));
    segment = std::u16string();
    for (const std::size_t k : pending) stored.keys[k].where |= MatchKey::Place(number, 0);
    pending.clear();
  };
  for (int i = 0; i < count; ++i) {
    std::u16string row;
    const int length = random() % 50 == 0 ? 5000 + static_cast<int>(random() % 5000)
                                         : 1 + static_cast<int>(random() % 300);
    for (int k = 0; k < length; ++k)
      row += static_cast<char16_t>(random() % 5 == 0 ? 0x4E00 + random() % 500 : 'a' + random() % 26);
    const auto count_in_line = static_cast<std::int32_t>(1 + random() % 4);
    stored.keys.push_back({count_in_line, static_cast<std::uint32_t>(row.size()), segment.size()});
    pending.push_back(stored.keys.size() - 1);
    segment += row;
    stored.rows.push_back(std::move(row));
    if (random() % 5 == 0) flush();
  }
  flush();
  return stored;
}

std::vector<std::string> NamesIn(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder))
    names.push_back(entry.path().filename().string());
  return names;
}

TEST(RowStore, RowsComeBackWhateverTheBudget) {
  TempFolder folder;
  for (const std::uint64_t budget : {std::uint64_t{0}, std::uint64_t{100000}, kRowMemoryBudget}) {
    SCOPED_TRACE(budget);
    RowStore store(RowStoreOptions{.memory_budget = budget, .spill_folder = folder.Path()});
    const StoredRows stored = StoreRandomRows(store, 7, 3000);
    EXPECT_LE(store.MemoryBytes(), budget);
    std::uint64_t text_bytes = 0;
    for (const std::u16string& row : stored.rows) text_bytes += row.size() * sizeof(char16_t);
    // Every row is somewhere, and the spill holds nothing but rows.
    EXPECT_LE(store.SpilledBytes(), text_bytes);
    EXPECT_GE(store.MemoryBytes() + store.SpilledBytes(), text_bytes);
    if (budget == 0) {
      EXPECT_EQ(store.SpilledBytes(), text_bytes);
    } else if (budget == kRowMemoryBudget) {
      EXPECT_EQ(store.SpilledBytes(), 0u);
    }

    std::u16string buffer;
    for (std::size_t i = 0; i < stored.keys.size(); ++i)
      ASSERT_EQ(store.Row(stored.keys[i], buffer), stored.rows[i]) << i;
#ifndef _WIN32
    // The spill file has no name: nothing is left to find in its folder.
    EXPECT_TRUE(NamesIn(folder.Path()).empty());
#endif
  }
  // Windows: the spill file has a name while it is open, and goes with it.
  EXPECT_TRUE(NamesIn(folder.Path()).empty());
}

TEST(RowReader, GivesTheRowsInAnyOrderAcrossBatches) {
  TempFolder folder;
  for (const std::uint64_t budget : {std::uint64_t{0}, std::uint64_t{2} << 20, kRowMemoryBudget}) {
    SCOPED_TRACE(budget);
    RowStore store(RowStoreOptions{.memory_budget = budget, .spill_folder = folder.Path()});
    // More keys than one batch reads ahead, with rows in memory and on disk
    // mixed, in a shuffled order as a sort leaves them.
    const StoredRows stored = StoreRandomRows(store, 11, 40000);
    std::vector<std::size_t> order(stored.keys.size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::shuffle(order.begin(), order.end(), std::mt19937(3));
    MatchKeys keys;
    for (const std::size_t i : order) keys.push_back(stored.keys[i]);
    RowReader reader(store, keys);
    for (std::size_t k = 0; k < keys.size(); ++k) ASSERT_EQ(reader.Next(), stored.rows[order[k]]) << k;
  }
}

TEST(RowReader, StopsEarlyWithoutWaitingForTheRest) {
  TempFolder folder;
  RowStore store(RowStoreOptions{.memory_budget = 0, .spill_folder = folder.Path()});
  const StoredRows stored = StoreRandomRows(store, 5, 50000);
  // A report that fails part-way drops its reader with batches still to read.
  MatchKeys keys;
  keys.Append(stored.keys);
  RowReader reader(store, keys);
  EXPECT_EQ(reader.Next(), stored.rows[0]);
}

TEST(MatchKeys, HoldTheirKeysAcrossPages) {
  MatchKeys keys;
  const std::size_t count = (std::size_t{3} << MatchKeys::kPageBits) + 17;
  std::vector<MatchKey> some;
  for (std::size_t i = 0; i < count; ++i) {
    const MatchKey key{static_cast<std::int32_t>(i % 1000), static_cast<std::uint32_t>(i), i * 3};
    if (i % 2 == 0) {
      keys.push_back(key);
    } else {
      some.push_back(key);
      keys.Append(some);
      some.clear();
    }
  }
  ASSERT_EQ(keys.size(), count);
  for (std::size_t i = 0; i < count; ++i) {
    ASSERT_EQ(keys[i].length, i);
    ASSERT_EQ(keys[i].where, i * 3);
  }
  std::swap(keys[5], keys[count - 1]);
  EXPECT_EQ(keys[5].length, count - 1);
  EXPECT_EQ(keys[count - 1].length, 5u);
  keys.clear();
  EXPECT_TRUE(keys.empty());
  keys.push_back({1, 2, 3});
  EXPECT_EQ(keys[0].where, 3u);
}

TEST(RowStore, AFolderThatCannotTakeTheRowsNamesItself) {
  TempFolder folder;
  const std::string missing = folder / "missing";
  RowStore store(RowStoreOptions{.memory_budget = 1000, .spill_folder = missing});
  EXPECT_EQ(store.Put(std::u16string(100, u'x')), 0u);  // fits in memory
  try {
    store.Put(std::u16string(1000, u'x'));
    FAIL() << "rows were set aside in a folder that does not exist";
  } catch (const EWriteError& error) {
    EXPECT_EQ(std::string(error.what()),
              "Cannot set rows aside in \"" + missing + "\". No such file or directory");
  }
}

// The same matches as entries "count=row" and as keys give the same report,
// byte for byte: the sort over the keys must leave them in the very order
// the sort over the entries does, ties included.
TEST(KeyReport, IsTheReportOfTheEntries) {
  TempFolder folder;
  for (const std::uint32_t seed : {1u, 2u, 3u}) {
    for (const std::uint64_t budget : {std::uint64_t{0}, kRowMemoryBudget}) {
      MatchList matches(RowStoreOptions{.memory_budget = budget, .spill_folder = folder.Path()});
      const StoredRows stored = StoreRandomRows(matches.rows, seed, 5000);
      matches.keys.Append(stored.keys);
      TUnicodeStringList entries;
      entries.SetPairSeparator(u'=');
      for (std::size_t i = 0; i < stored.keys.size(); ++i) {
        const std::string count = std::to_string(stored.keys[i].count);
        entries.AppendItem(std::u16string(count.begin(), count.end()) + u"=" + stored.rows[i]);
      }
      TUnicodeStringList summary_a, summary_b, report_a;
      summary_a.SetPairSeparator(u'=');
      summary_b.SetPairSeparator(u'=');
      BuildReport(report_a, entries, summary_a);

      struct Lines : ReportSink {
        std::vector<std::u16string> lines;
        void Line(std::initializer_list<std::u16string_view> pieces) override {
          std::u16string line;
          for (const std::u16string_view piece : pieces) line += piece;
          lines.push_back(std::move(line));
        }
      } sink;
      BuildReport(sink, matches, summary_b);
      ASSERT_EQ(sink.lines.size(), static_cast<std::size_t>(report_a.ItemCount()));
      for (int i = 0; i < report_a.ItemCount(); ++i)
        ASSERT_EQ(sink.lines[static_cast<std::size_t>(i)], report_a.ItemAt(i)) << "line " << i;
      EXPECT_TRUE(matches.keys.empty());
      EXPECT_EQ(matches.rows.SpilledBytes(), 0u);
    }
  }
}

TEST(KeyReport, ACancelStopsTheRows) {
  MatchList matches;
  const StoredRows stored = StoreRandomRows(matches.rows, 9, 10000);
  matches.keys.Append(stored.keys);
  std::atomic<bool> cancel{true};
  struct Nothing : ReportSink {
    void Line(std::initializer_list<std::u16string_view>) override {}
  } sink;
  TUnicodeStringList summary;
  EXPECT_THROW(BuildReport(sink, matches, summary, &cancel), ECancelled);
}

}  // namespace
}  // namespace tallyfold::testing
