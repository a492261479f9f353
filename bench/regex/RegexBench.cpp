// Benchmarks of the regular-expression engine against PCRE2's 16-bit
// interpreter and its JIT, counting every match in about 10 MB of generated
// English text split into lines, as the corpus scan counts: Exec, then
// ExecNext until it returns false. PCRE2 is driven through the same walk
// (after an empty match the next search starts one character further on),
// and both must find the same number of matches.
//
// The text comes from a fixed seed: sentences over a common-word vocabulary
// with -ing words, capitalised names followed by numbers, and now and then a
// short Chinese phrase. TALLYFOLD_BENCH_MB changes its size.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "regex/RegexEngine.h"

#ifdef TALLYFOLD_HAVE_PCRE2
#include <pcre2.h>
#endif

namespace tallyfold {
namespace {

std::u16string Widen(const char* ascii) {
  std::u16string out;
  for (; *ascii != 0; ++ascii) out += static_cast<char16_t>(*ascii);
  return out;
}

std::vector<std::u16string> MakeLines() {
  static const char* const kWords[] = {
      "the", "of", "and", "to", "in", "a", "is", "that", "for", "it", "as", "was",
      "with", "be", "by", "on", "not", "he", "this", "are", "or", "his", "from",
      "at", "which", "but", "have", "an", "had", "they", "you", "were", "their",
      "one", "all", "we", "can", "her", "has", "there", "been", "if", "more",
      "when", "will", "would", "who", "so", "no", "them", "other", "theme",
      "thereby", "between", "about", "because", "cabbage", "abbey", "back",
      "black", "scab", "baby", "car", "cab", "these", "bathe", "then"};
  static const char* const kIng[] = {"reading", "going", "being", "thing", "king",
                                     "something", "searching", "ring", "during",
                                     "bringing", "morning", "nothing"};
  static const char* const kNames[] = {"London", "Mary", "Chapter", "Page", "John",
                                       "Section", "Table", "Paris", "Volume"};
  static const char16_t* const kChinese[] = {u"\u68C0\u7D22\u5DE5\u5177",
                                             u"\u4E2D\u6587\u6587\u672C",
                                             u"\u68C0\u67E5"};
  const char* mb = std::getenv("TALLYFOLD_BENCH_MB");
  const std::size_t target = static_cast<std::size_t>(mb ? std::atoi(mb) : 10) << 20;

  std::mt19937 random(20240517);
  std::vector<std::u16string> lines;
  std::size_t total = 0;
  while (total < target) {
    std::u16string line;
    const int words = 8 + static_cast<int>(random() % 12);
    bool sentence_start = true;
    for (int w = 0; w < words; ++w) {
      if (w > 0) line += u' ';
      const unsigned kind = random() % 100;
      std::u16string word;
      if (kind < 80) {
        word = Widen(kWords[random() % std::size(kWords)]);
      } else if (kind < 90) {
        word = Widen(kIng[random() % std::size(kIng)]);
      } else if (kind < 96) {
        word = Widen(kNames[random() % std::size(kNames)]) + u' ' +
               Widen(std::to_string(1 + random() % 400).c_str());
      } else if (kind < 98) {
        word = kChinese[random() % std::size(kChinese)];
      } else {
        word = Widen(std::to_string(random() % 2000).c_str());
      }
      if (sentence_start && word[0] >= u'a' && word[0] <= u'z') word[0] -= 32;
      sentence_start = random() % 9 == 0;
      line += word;
      if (sentence_start) line += u'.';
      else if (random() % 12 == 0) line += u',';
    }
    total += line.size() + 2;
    lines.push_back(std::move(line));
  }
  return lines;
}

const std::vector<std::u16string>& Lines() {
  static const std::vector<std::u16string> lines = MakeLines();
  return lines;
}

struct PatternCase {
  const char* name;
  const char16_t* pattern;
  bool case_insensitive;
};

const PatternCase kCases[] = {
    {"the_word_i", u"\\bthe\\b", true},
    {"ing_word", u"\\w+ing\\b", false},
    {"name_number", u"[A-Z][a-z]+ \\d+", false},
    {"ab_star_c", u"(a|b)*c", false},
    {"chinese", u"\u68C0\u7D22", false},
};

long CountOurs(const PatternCase& c) {
  TRegexEngine engine;
  engine.SetModifier(1, c.case_insensitive);
  engine.SetExpression(c.pattern);
  long count = 0;
  for (const std::u16string& line : Lines())
    for (bool hit = engine.Exec(line); hit; hit = engine.ExecNext()) ++count;
  return count;
}

void BM_Ours(benchmark::State& state, const PatternCase& c) {
  Lines();
  long count = 0;
  for (auto _ : state) benchmark::DoNotOptimize(count = CountOurs(c));
  state.counters["matches"] = static_cast<double>(count);
  state.counters["lines"] = static_cast<double>(Lines().size());
}

// Patterns on which a plain backtracker takes exponential time, searched on
// one line of `length` characters that holds what the search filters look
// for but no match: on the automaton, on the linear path, or on the plain
// backtracker.
enum class Path { kAutomaton, kLinear, kPlain };

struct ExplosiveCase {
  const char* name;
  const char16_t* pattern;
  char16_t lead;  // the line's first unit; then letters, then `tail`
  char16_t fill;
  const char16_t* tail;
};

const ExplosiveCase kExplosive[] = {
    {"a_plus_plus_b", u"(a+)+b", u'b', u'a', u""},
    {"a_or_aa_plus_c", u"(a|aa)+c", u'c', u'a', u""},
    {"dot_plus_plus_X", u"(.+)+X", u'X', u'y', u""},
    {"word_space_plus_end", u"(\\w+\\s?)+$", u'a', u'a', u"!"},
};

void BM_Explosive(benchmark::State& state, const ExplosiveCase& c, Path path) {
  const int length = static_cast<int>(state.range(0));
  const std::u16string tail(c.tail);
  const std::u16string line =
      c.lead + std::u16string(static_cast<std::size_t>(length) - 1 - tail.size(), c.fill) + tail;
  TRegexEngine engine;
  engine.SetAutomatonMatching(path == Path::kAutomaton);
  engine.SetLinearMatching(path != Path::kPlain);
  engine.SetExpression(c.pattern);
  bool found = false;
  for (auto _ : state) benchmark::DoNotOptimize(found = engine.Exec(line));
  if (found) state.SkipWithError("the line should hold no match");
}

#ifdef TALLYFOLD_HAVE_PCRE2
// Counts with PCRE2's interpreter, or with its JIT when `jit` is set.
long CountPcre(const PatternCase& c, bool jit) {
  std::u16string pattern(c.pattern);
  int error = 0;
  PCRE2_SIZE offset = 0;
  uint32_t options = PCRE2_DOTALL | PCRE2_DOLLAR_ENDONLY;
  if (c.case_insensitive) options |= PCRE2_CASELESS;
  pcre2_code* code = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern.data()),
                                   pattern.size(), options, &error, &offset, nullptr);
  if (code == nullptr) return -1;
  if (jit && pcre2_jit_compile(code, PCRE2_JIT_COMPLETE) != 0) {
    pcre2_code_free(code);
    return -1;
  }
  pcre2_match_data* data = pcre2_match_data_create_from_pattern(code, nullptr);
  long count = 0;
  for (const std::u16string& line : Lines()) {
    PCRE2_SIZE start = 0;
    while (start <= line.size() &&
           pcre2_match(code, reinterpret_cast<PCRE2_SPTR>(line.data()), line.size(), start, 0,
                       data, nullptr) >= 0) {
      ++count;
      const PCRE2_SIZE* ov = pcre2_get_ovector_pointer(data);
      start = ov[1] + (ov[1] == ov[0] ? 1 : 0);
    }
  }
  pcre2_match_data_free(data);
  pcre2_code_free(code);
  return count;
}

void BM_Pcre2(benchmark::State& state, const PatternCase& c, bool jit) {
  Lines();
  const long ours = CountOurs(c);
  long count = 0;
  for (auto _ : state) benchmark::DoNotOptimize(count = CountPcre(c, jit));
  if (count != ours) state.SkipWithError("PCRE2 finds a different number of matches");
  state.counters["matches"] = static_cast<double>(count);
}
#endif

int RegisterAll() {
  for (const PatternCase& c : kCases) {
    benchmark::RegisterBenchmark((std::string("BM_Ours/") + c.name).c_str(), BM_Ours, c)
        ->Unit(benchmark::kMillisecond);
#ifdef TALLYFOLD_HAVE_PCRE2
    benchmark::RegisterBenchmark((std::string("BM_Pcre2Interpreter/") + c.name).c_str(),
                                 BM_Pcre2, c, false)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark((std::string("BM_Pcre2Jit/") + c.name).c_str(), BM_Pcre2, c,
                                 true)
        ->Unit(benchmark::kMillisecond);
#endif
  }
  // The plain backtracker at 24 characters only: each character more
  // doubles its time, and 48 take hours.
  for (const ExplosiveCase& c : kExplosive) {
    benchmark::RegisterBenchmark((std::string("BM_ExplosiveAutomaton/") + c.name).c_str(),
                                 BM_Explosive, c, Path::kAutomaton)
        ->Arg(24)
        ->Arg(48)
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark((std::string("BM_ExplosiveLinear/") + c.name).c_str(),
                                 BM_Explosive, c, Path::kLinear)
        ->Arg(24)
        ->Arg(48)
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark((std::string("BM_ExplosivePlain/") + c.name).c_str(),
                                 BM_Explosive, c, Path::kPlain)
        ->Arg(24)
        ->Unit(benchmark::kMillisecond);
  }
  return 0;
}

[[maybe_unused]] const int registered = RegisterAll();

}  // namespace
}  // namespace tallyfold

BENCHMARK_MAIN();
