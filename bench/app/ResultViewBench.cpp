// Benchmarks of the results view over 1,000,000 rows:
//   - Arrange in each of the five orders, every row shown;
//   - Arrange in the report's order and in the match's order with a filter
//     ("MATCH, ", ASCII case ignored) that keeps about one row in eight;
//   - WriteTable as CSV and as TSV, into a counter of bytes (no file), the
//     window's TSV export into a file, and the window's full copy, into one
//     UTF-16 string;
//   - CountForms, with and without ASCII case folded;
//   - the left and right orders over a million lines of Chinese prose.
// The rows are generated once from a fixed seed: about 400,000 corpus-like
// lines of 6 to 30 words in 200 files, each line with 1 to 4 matches, so
// that the matches and the words beside them repeat and every order has long
// runs of ties. TALLYFOLD_BENCH_ROWS changes the number of rows.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "app/MatchForms.h"
#include "app/ResultView.h"

namespace tallyfold {
namespace {

std::size_t RowTarget() {
  const char* rows = std::getenv("TALLYFOLD_BENCH_ROWS");
  return rows != nullptr && *rows != '\0' ? static_cast<std::size_t>(std::atoll(rows)) : 1000000;
}

// The shared results: built on first use, kept for the whole run.
const ResultSet& Results() {
  static const ResultSet* results = [] {
    static const char16_t* const kWords[] = {u"the", u"corpus", u"line", u"search", u"of",
                                             u"a", u"pattern", u"Match", u"text", u"and",
                                             u"report", u"\u68C0\u7D22", u"\u5DE5\u5177",
                                             u"caf\u00E9", u"\U0001F600", u"sea"};
    auto* set = new ResultSet;
    for (int f = 0; f < 200; ++f) {
      ResultFile file;
      file.shown_name = "corpus-" + std::to_string(f) + ".txt";
      file.path = "/data/" + file.shown_name;
      set->AddFile(file);
    }
    std::mt19937 random(42);
    const std::size_t target = RowTarget();
    std::u16string text;
    std::vector<MatchSpan> spans;
    std::vector<int> starts;
    int line_number = 1;
    while (set->HitCount() < target) {
      text.clear();
      spans.clear();
      starts.clear();
      const int words = 6 + static_cast<int>(random() % 25);
      for (int w = 0; w < words; ++w) {
        if (w > 0) text += random() % 8 == 0 ? u", " : u" ";
        starts.push_back(static_cast<int>(text.size()));
        text += kWords[random() % std::size(kWords)];
      }
      const std::size_t matches = std::min<std::size_t>(1 + random() % 4, target - set->HitCount());
      const std::size_t step = starts.size() / matches;
      for (std::size_t m = 0; m < matches; ++m) {
        const int start = starts[m * step];
        const std::size_t end = text.find_first_of(u" ,", static_cast<std::size_t>(start));
        const int length = static_cast<int>((end == std::u16string::npos ? text.size() : end) -
                                            static_cast<std::size_t>(start));
        spans.push_back({start, length});
      }
      set->AddLine(static_cast<int>(random() % 200), line_number++, text, spans);
    }
    return set;
  }();
  return *results;
}

void BM_Arrange(benchmark::State& state) {
  const auto order = static_cast<ResultOrder>(state.range(0));
  const std::u16string filter = state.range(1) != 0 ? u"MATCH, " : u"";
  ResultView view(Results());
  for (auto _ : state) {
    view.Arrange(order, filter, nullptr, nullptr);
    benchmark::DoNotOptimize(view.RowCount());
  }
  state.counters["rows_shown"] = static_cast<double>(view.RowCount());
  state.counters["rows"] = static_cast<double>(Results().HitCount());
}
// Arguments: the order (0 report, 1 file and line, 2 match, 3 left, 4
// right), then 1 for the filter.
BENCHMARK(BM_Arrange)
    ->ArgNames({"order", "filter"})
    ->Args({0, 0})
    ->Args({1, 0})
    ->Args({2, 0})
    ->Args({3, 0})
    ->Args({4, 0})
    ->Args({0, 1})
    ->Args({2, 1})
    ->Unit(benchmark::kMillisecond);

void BM_WriteTable(benchmark::State& state) {
  const auto format = static_cast<TableFormat>(state.range(0));
  const ResultView view(Results());
  std::size_t bytes = 0;
  for (auto _ : state) {
    bytes = 0;
    WriteTable(view, format, [&bytes](std::string_view piece) { bytes += piece.size(); });
    benchmark::DoNotOptimize(bytes);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(bytes) * state.iterations());
}
// Arguments: 0 CSV, 1 TSV.
BENCHMARK(BM_WriteTable)->ArgName("tsv")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// The window's TSV export: every row into a file (replaced each time), as
// Export TSV writes it.
void BM_ExportFile(benchmark::State& state) {
  const ResultView view(Results());
  const std::string path = "/tmp/tallyfold-bench-export.tsv";
  for (auto _ : state) WriteTableFile(view, TableFormat::kTsv, path);
  std::remove(path.c_str());
}
BENCHMARK(BM_ExportFile)->Unit(benchmark::kMillisecond);

// The window's full copy: every row into one UTF-16 string, as the
// clipboard gets it.
void BM_CopyAll(benchmark::State& state) {
  const ResultView view(Results());
  for (auto _ : state) {
    std::u16string copy;
    if (state.range(0) == 1) copy.reserve(TableTextSizeHint(view));
    WriteTableText(view, TableFormat::kTsv,
                   [&copy](std::u16string_view rows) { copy.append(rows); });
    benchmark::DoNotOptimize(copy.data());
  }
}
// Arguments: 0 grown as it goes, 1 reserved once from TableTextSizeHint
// (as the window does).
BENCHMARK(BM_CopyAll)->ArgName("reserved")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// The forms of every row, as counted (argument 1: ASCII case folded).
void BM_CountForms(benchmark::State& state) {
  const ResultView view(Results());
  std::size_t forms = 0;
  for (auto _ : state) {
    forms = CountForms(view, state.range(0) != 0).size();
    benchmark::DoNotOptimize(forms);
  }
  state.counters["forms"] = static_cast<double>(forms);
}
BENCHMARK(BM_CountForms)->ArgName("fold")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// Chinese prose: runs of ideographs without spaces, one match per line at
// a random place, so that the neighbour orders read CJK characters.
const ResultSet& ChineseResults() {
  static const ResultSet* results = [] {
    auto* set = new ResultSet;
    ResultFile file;
    file.shown_name = "zh.txt";
    set->AddFile(file);
    std::mt19937 random(7);
    std::u16string text;
    const std::size_t target = RowTarget();
    for (int line = 1; set->HitCount() < target; ++line) {
      text.clear();
      const int length = 10 + static_cast<int>(random() % 40);
      for (int k = 0; k < length; ++k)
        text += static_cast<char16_t>(0x4E00 + random() % 400);  // a few hundred ideographs
      const int start = static_cast<int>(random() % static_cast<unsigned>(length - 1));
      set->AddLine(0, line, text, {{start, 2}});
    }
    return set;
  }();
  return *results;
}

void BM_ArrangeChinese(benchmark::State& state) {
  ResultView view(ChineseResults());
  for (auto _ : state) {
    view.Arrange(static_cast<ResultOrder>(state.range(0)), u"", nullptr, nullptr);
    benchmark::DoNotOptimize(view.RowCount());
  }
}
// Arguments: 3 left, 4 right.
BENCHMARK(BM_ArrangeChinese)->ArgName("order")->Arg(3)->Arg(4)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace tallyfold

BENCHMARK_MAIN();
