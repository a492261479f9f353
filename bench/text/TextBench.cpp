// Benchmarks of the text layer and the report builder:
//   - reading a 100 MB UTF-8 file into a list (decode and split), against a
//     plain std::ifstream read plus a std::u16string conversion of the same
//     file;
//   - sorting 1,000,000 match entries and building their report;
//   - decoding 8 MB of Chinese (GBK) and Korean (EUC-KR) text with the
//     portable table codecs, against the iconv bridge of TCodePage.
// The corpus file is generated from a fixed seed in a temporary folder and
// removed at exit. TALLYFOLD_BENCH_MB sets its size in MB (default 100).
// The peak_rss_per_file_byte counter of BM_ReadTextFile is the process's peak
// resident memory over the file size; it runs first, so nothing before it
// (the file is written in small pieces) holds more.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <unistd.h>

#include <codecvt>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <locale>
#include <random>
#include <string>

#include "app/Report.h"
#include "platform/CodePage.h"
#include "platform/EucKr.h"
#include "platform/Gb18030.h"
#include "text/StringList.h"

namespace tallyfold {
namespace {

namespace fs = std::filesystem;

// Appends one corpus-like line: mostly ASCII words, some CJK, a few
// accented letters and, rarely, a character beyond U+FFFF.
void AppendLine(std::mt19937& random, std::string& out) {
  static const char* const kWords[] = {"the", "corpus", "line", "search", "of", "a",
                                      "pattern", "match", "text", "and", "report"};
  static const char* const kCjk[] = {"\xE6\xA3\x80", "\xE7\xB4\xA2", "\xE5\xB7\xA5",
                                     "\xE5\x85\xB7", "\xE4\xB8\xAD", "\xE6\x96\x87"};
  const int words = 4 + static_cast<int>(random() % 24);
  for (int w = 0; w < words; ++w) {
    const unsigned kind = random() % 100;
    if (kind < 70) {
      out += kWords[random() % std::size(kWords)];
    } else if (kind < 95) {
      for (unsigned n = 1 + random() % 4; n > 0; --n) out += kCjk[random() % std::size(kCjk)];
    } else if (kind < 99) {
      out += "caf\xC3\xA9";
    } else {
      out += "\xF0\x9F\x98\x80";
    }
    out += ' ';
  }
  out += "\r\n";
}

class CorpusFile {
 public:
  CorpusFile() {
    const char* mb = std::getenv("TALLYFOLD_BENCH_MB");
    const std::size_t target = static_cast<std::size_t>(mb ? std::atoi(mb) : 100) << 20;
    folder_ = fs::temp_directory_path() / ("tallyfold-bench-" + std::to_string(::getpid()));
    fs::create_directories(folder_);
    path_ = (folder_ / "corpus.txt").string();
    std::ofstream out(path_, std::ios::binary);
    std::mt19937 random(20260101);
    std::string chunk = "\xEF\xBB\xBF";
    std::size_t written = 0;
    while (written < target) {
      AppendLine(random, chunk);
      if (chunk.size() >= (1U << 20)) {
        out << chunk;
        written += chunk.size();
        chunk.clear();
      }
    }
    out << chunk;
    size_ = written + chunk.size();
  }
  ~CorpusFile() { fs::remove_all(folder_); }

  const std::string& Path() const { return path_; }
  std::size_t Size() const { return size_; }

 private:
  fs::path folder_;
  std::string path_;
  std::size_t size_ = 0;
};

const CorpusFile& Corpus() {
  static const CorpusFile corpus;
  return corpus;
}

double PeakResidentBytes() {
  rusage usage;
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_maxrss) * 1024.0;
}

void BM_ReadTextFile(benchmark::State& state) {
  const CorpusFile& corpus = Corpus();
  for (auto _ : state) {
    TUnicodeStringList list;
    list.ReadTextFile(corpus.Path());
    benchmark::DoNotOptimize(list.ItemCount());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * corpus.Size()));
  state.counters["peak_rss_per_file_byte"] = PeakResidentBytes() / static_cast<double>(corpus.Size());
}
BENCHMARK(BM_ReadTextFile)->Unit(benchmark::kMillisecond)->UseRealTime();

std::string ReadWithIfstream(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  in.seekg(0, std::ios::end);
  std::string bytes(static_cast<std::size_t>(in.tellg()), '\0');
  in.seekg(0);
  in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return bytes;
}

// The standard library's own UTF-8 to UTF-16 conversion (deprecated, but
// still what a plain program reaches for).
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
void BM_IfstreamAndCodecvt(benchmark::State& state) {
  const CorpusFile& corpus = Corpus();
  for (auto _ : state) {
    const std::string bytes = ReadWithIfstream(corpus.Path());
    std::wstring_convert<std::codecvt_utf8_utf16<char16_t>, char16_t> convert;
    const std::u16string text = convert.from_bytes(bytes.data() + 3, bytes.data() + bytes.size());
    benchmark::DoNotOptimize(text.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * corpus.Size()));
}
#pragma GCC diagnostic pop
BENCHMARK(BM_IfstreamAndCodecvt)->Unit(benchmark::kMillisecond)->UseRealTime();

// A stricter reference: the same read plus this program's UTF-8 decoder over
// the whole file, with no line splitting and no list.
void BM_IfstreamAndUtf8Decode(benchmark::State& state) {
  const CorpusFile& corpus = Corpus();
  for (auto _ : state) {
    const std::string bytes = ReadWithIfstream(corpus.Path());
    const std::u16string text = Utf8Decode(std::string_view(bytes).substr(3));
    benchmark::DoNotOptimize(text.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * corpus.Size()));
}
BENCHMARK(BM_IfstreamAndUtf8Decode)->Unit(benchmark::kMillisecond)->UseRealTime();

// Match entries as the scan writes them: count=highlighted line + link.
void FillMatches(TUnicodeStringList& matches, int count) {
  std::mt19937 random(7);
  std::geometric_distribution<int> extra(0.45);
  for (int i = 0; i < count; ++i) {
    const std::string n = std::to_string(1 + std::min(extra(random), 40));
    const std::string line = std::to_string(1 + random() % 90000);
    std::u16string entry(n.begin(), n.end());
    entry += u"= the corpus <span class=\"key\">line</span> of a search \u68C0\u7D22\u5DE5\u5177 ";
    entry += u"<span class=\"info\"><a href=\"file:///corpus/a.txt\" target=\"_blank\">"
             u"(<span class=\"file\">a.txt</span>, <span class=\"line\">Line ";
    entry += std::u16string(line.begin(), line.end());
    entry += u"</span>)</a></span>";
    matches.AppendItem(std::move(entry));
  }
}

void BM_SortAndBuildReport(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  for (auto _ : state) {
    state.PauseTiming();
    TUnicodeStringList report, matches, summary;
    FillMatches(matches, count);
    state.ResumeTiming();
    BuildReport(report, matches, summary);
    benchmark::DoNotOptimize(report.ItemCount());
    state.PauseTiming();
    report.ClearItems();
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * count);
}
BENCHMARK(BM_SortAndBuildReport)->Arg(1000000)->Unit(benchmark::kMillisecond)->UseRealTime();

// Text as a double-byte code page writes it: runs of two-byte codes with
// leads 0xB0-`last_lead` and trails 0xA1-0xFE (GB2312's hanzi, KS X 1001's
// hangul), ASCII words, digits and punctuation between, and now and then
// the code `rare`.
std::string DoubleByteText(unsigned last_lead, const char* rare) {
  std::mt19937 random(54936);
  std::string bytes;
  while (bytes.size() < (8U << 20)) {
    const unsigned kind = random() % 100;
    if (kind < 75) {
      for (unsigned n = 1 + random() % 12; n > 0; --n) {
        bytes += static_cast<char>(0xB0 + random() % (last_lead - 0xB0 + 1));
        bytes += static_cast<char>(0xA1 + random() % 0x5E);
      }
    } else if (kind < 97) {
      bytes += "search 2026, ";
    } else if (kind < 99) {
      bytes += "\r\n";
    } else {
      bytes += rare;
    }
  }
  return bytes;
}

const std::string& GbkText() {
  static const std::string text = DoubleByteText(0xD6, "\x81\x30\x81\x30");
  return text;
}

const std::string& EucKrText() {
  static const std::string text = DoubleByteText(0xC8, "\xA3\xAC");  // full-width comma
  return text;
}

// 8 MB decoded by the iconv bridge and by the portable table codec.
void BM_DecodeIconv(benchmark::State& state, const char* codeset,
                    const std::string& (*text)()) {
  const TCodePage page(codeset);
  for (auto _ : state) {
    std::size_t malformed = 0;
    benchmark::DoNotOptimize(page.Decode(text(), malformed).data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text().size()));
}

void BM_DecodeTable(benchmark::State& state,
                    std::u16string (*decode)(std::string_view, std::size_t&),
                    const std::string& (*text)()) {
  for (auto _ : state) {
    std::size_t malformed = 0;
    benchmark::DoNotOptimize(decode(text(), malformed).data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text().size()));
}
BENCHMARK_CAPTURE(BM_DecodeIconv, gb18030, "GB18030", GbkText)
    ->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_DecodeTable, gb18030, Gb18030Decode, GbkText)
    ->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_DecodeIconv, euc_kr, "EUC-KR", EucKrText)
    ->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_DecodeTable, euc_kr, EucKrDecode, EucKrText)
    ->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace tallyfold

BENCHMARK_MAIN();
