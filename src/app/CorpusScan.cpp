// The corpus scan: folder, file, line count and highlighting.
//
// This file's external interface is CorpusScan.h; tests/app/CorpusScanTest.cpp
// covers it, and tests/app/CliEndToEndTest.cpp runs it through the program.
#include "app/CorpusScan.h"

#include <algorithm>
#include <filesystem>
#include <iterator>
#include <system_error>
#include <thread>

#include "app/OrderedWork.h"
#include "platform/DirList.h"
#include "text/WideHelpers.h"

namespace tallyfold {

namespace {

const std::u16string kKeyOpen = u"<span class=\"key\">";
const std::u16string kKeyClose = u"</span>";

// Modifier index of i (case-insensitive matching of ASCII letters).
constexpr int kModifierI = 1;

template <typename Char>
bool IsMarkupCharacter(Char ch) {
  return ch == '&' || ch == '<' || ch == '>' || ch == '"';
}

// Appends `text` with the four markup characters as character references.
// Runs without one are appended whole: almost every line has none.
template <typename String, typename View>
void AppendEscaped(String& out, View text) {
  std::size_t start = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto ch = text[i];
    if (!IsMarkupCharacter(ch)) continue;
    out.append(text.substr(start, i - start));
    switch (ch) {
      case '&': out.append({'&', 'a', 'm', 'p', ';'}); break;
      case '<': out.append({'&', 'l', 't', ';'}); break;
      case '>': out.append({'&', 'g', 't', ';'}); break;
      default: out.append({'&', 'q', 'u', 'o', 't', ';'}); break;
    }
    start = i + 1;
  }
  out.append(text.substr(start));
}

// Percent-encodes the three bytes that would otherwise end or change the
// path part of a URL: "%" itself, "#" (fragment) and "?" (query).
std::string PercentEncodePath(const std::string& path) {
  std::string out;
  out.reserve(path.size());
  for (const char ch : path) {
    switch (ch) {
      case '%': out += "%25"; break;
      case '#': out += "%23"; break;
      case '?': out += "%3F"; break;
      default: out.push_back(ch);
    }
  }
  return out;
}

// The info fragment's bytes before and after the line number. The head
// depends only on the file, so a scan builds it once per file.
std::string InfoHead(const std::string& path) {
  return " <span class=\"info\"><a href=\"" + EscapeHtml(PercentEncodePath(path)) +
         "\" target=\"_blank\">(<span class=\"file\">" + EscapeHtml(FileNameOf(path)) +
         "</span>, <span class=\"line\">Line ";
}
constexpr char kInfoTail[] = "</span>)</a></span>";
constexpr char16_t kWideInfoTail[] = u"</span>)</a></span>";

void AppendDecimal(std::u16string& out, int value) {
  const std::string digits = std::to_string(value);
  out.append(digits.begin(), digits.end());
}

void AppendHighlight(std::u16string& out, const std::u16string& line,
                     const std::vector<MatchSpan>& spans, const std::u16string& open,
                     const std::u16string& close) {
  const std::u16string_view text(line);
  std::size_t copied = 0;
  for (const MatchSpan& span : spans) {
    const auto start = static_cast<std::size_t>(span.start);
    const auto length = static_cast<std::size_t>(span.length);
    AppendEscaped(out, text.substr(copied, start - copied));
    out += open;
    AppendEscaped(out, text.substr(start, length));
    out += close;
    copied = start + length;
  }
  AppendEscaped(out, text.substr(copied));
}

bool IsSet(const std::atomic<bool>* flag) {
  return flag != nullptr && flag->load(std::memory_order_relaxed);
}

// The length of `line` escaped and highlighted at `spans`, each span
// adding `markup` code units.
std::size_t HighlightLength(const std::u16string& line, const std::vector<MatchSpan>& spans,
                            std::size_t markup) {
  std::size_t length = line.size() + spans.size() * markup;
  for (const char16_t ch : line) {
    switch (ch) {
      case u'&': length += 4; break;
      case u'<':
      case u'>': length += 3; break;
      case u'"': length += 5; break;
      default: break;
    }
  }
  return length;
}

std::size_t DecimalLength(int value) { return std::to_string(value).size(); }

// One file's match entries, in line order. Short entries are written one
// after another into chunks of a fixed size, and the match list's strings
// are made from them by the thread that keeps them: strings made on a worker
// stay in its allocator arena among the freed lines of the files it read,
// where the report built next cannot reuse that memory (a search with
// workers peaked a sixth higher). Fixed chunks, unlike one growing buffer,
// waste no room to doubling and are never copied to grow, and each is given
// back as soon as its entries are in the list. A long entry gets a string of
// its own, made at its exact size and moved into the list, so a long line is
// not copied once more; at that size the allocator maps memory of its own
// for it anyway.
class FileEntries {
 public:
  static constexpr std::size_t kLongEntry = 64 * 1024;  // code units

  // Appends an entry of exactly `length` code units that
  // write(std::u16string&) appends to the string it is given.
  template <typename Write>
  void Add(std::size_t length, Write write) {
    if (length >= kLongEntry) {
      std::u16string entry;
      entry.reserve(length);
      write(entry);
      long_.push_back(std::move(entry));
      places_.push_back({kLong, 0});
      return;
    }
    if (chunks_.empty() || chunks_.back().size() + length > kChunkUnits) {
      chunks_.emplace_back();
      chunks_.back().reserve(kChunkUnits);
    }
    write(chunks_.back());
    places_.push_back({chunks_.size() - 1, chunks_.back().size()});
  }

  void MoveTo(TUnicodeStringList& list) {
    std::size_t chunk = 0;
    std::size_t start = 0;
    std::size_t next_long = 0;
    for (const Place& place : places_) {
      if (place.chunk == kLong) {
        list.AppendItem(std::move(long_[next_long++]));
        continue;
      }
      for (; chunk < place.chunk; ++chunk, start = 0) std::u16string().swap(chunks_[chunk]);
      list.AppendItem(chunks_[chunk].substr(start, place.end - start));
      start = place.end;
    }
    chunks_.clear();
    long_.clear();
    places_.clear();
  }

  // The memory the entries take, in bytes.
  std::uint64_t Bytes() const {
    std::uint64_t units = 0;
    for (const std::u16string& chunk : chunks_) units += chunk.capacity();
    for (const std::u16string& entry : long_) units += entry.capacity();
    return units * sizeof(char16_t) + places_.capacity() * sizeof(Place);
  }

 private:
  static constexpr std::size_t kChunkUnits = 4 * kLongEntry;
  static constexpr std::size_t kLong = static_cast<std::size_t>(-1);

  // Where an entry is: its chunk and where it ends there, or kLong.
  struct Place {
    std::size_t chunk;
    std::size_t end;
  };

  std::vector<std::u16string> chunks_;  // the short entries, one after another
  std::vector<Place> places_;           // one per entry, in order
  std::vector<std::u16string> long_;    // the long entries, in order
};

// Scans the file at `path`, adding its match entries to `out` in line
// order. On a failure `out` keeps the entries of the lines before it.
void ScanLines(const std::u16string& pattern, const std::string& path, bool case_sensitive,
               const std::atomic<bool>* cancel, FileEntries& out) {
  if (IsSet(cancel)) throw ECancelled();
  // Both live only for this file and are released on every way out,
  // exceptions included.
  TRegexEngine engine;
  engine.SetModifier(kModifierI, !case_sensitive);
  // The matcher looks at the flag inside a long match; the loop below looks
  // between lines, which covers the read and lines without a match attempt.
  engine.SetCancelFlag(cancel);
  TUnicodeStringList lines;
  lines.ReadTextFile(path);

  // Widened once per file. The head ends in ASCII after ASCII, where the
  // decoder of any code page a locale can have is back in its first state,
  // and the number and the tail are ASCII; so the pieces widened apart give
  // exactly what InfoFragment gives for the whole.
  const std::u16string info_head = AnsiToWide(InfoHead(path));
  std::vector<MatchSpan> spans;
  std::u16string padded;
  const int line_count = lines.ItemCount();
  for (int k = 0; k < line_count; ++k) {
    if (IsSet(cancel)) throw ECancelled();
    // Trimmed in place: a copy of every line would cost an allocation per
    // line.
    const std::u16string_view trimmed = TrimWideView(lines.ItemRef(k));
    if (trimmed.empty()) continue;
    padded.assign(1, u' ');
    padded.append(trimmed);
    padded += u' ';
    // A very long line is held at most twice at any moment: the list's copy
    // goes once it is padded, the engine's once it is counted, and the
    // padded one once its entry is made.
    const bool long_line = padded.size() >= FileEntries::kLongEntry;
    if (long_line) lines.TakeItem(k);
    const int count = CountMatches(engine, pattern, padded, &spans);
    if (long_line) engine.SetInputString(std::u16string());
    if (count > 0) {
      // The spans the count found are the ones highlighted, so the markup
      // always agrees with the number beside it.
      const std::size_t length =
          DecimalLength(count) + 1 +
          HighlightLength(padded, spans, kKeyOpen.size() + kKeyClose.size()) +
          info_head.size() + DecimalLength(k + 1) + std::size(kWideInfoTail) - 1;
      out.Add(length, [&](std::u16string& entry) {
        AppendDecimal(entry, count);
        entry += u'=';
        AppendHighlight(entry, padded, spans, kKeyOpen, kKeyClose);
        entry += info_head;
        AppendDecimal(entry, k + 1);
        entry += kWideInfoTail;
      });
    }
    if (long_line) std::u16string().swap(padded);
  }
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

// What a file costs the scan's budget while it is read: its size on disk.
// The read and decoded lines take a small multiple of it (about 2.6 times
// for UTF-8), but the same multiple for every file, so the budget still
// bounds them. A file whose size cannot be told costs nothing here; opening
// it will fail.
std::uint64_t SizeOnDisk(const std::string& path) {
  std::error_code error;
  const std::uintmax_t size = std::filesystem::file_size(path, error);
  return error ? 0 : static_cast<std::uint64_t>(size);
}

}  // namespace

std::u16string EscapeHtml(std::u16string_view text) {
  std::u16string out;
  out.reserve(text.size());
  AppendEscaped(out, text);
  return out;
}

std::string EscapeHtml(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  AppendEscaped(out, bytes);
  return out;
}

std::string FileNameOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::u16string InfoFragment(const std::string& path, int line_number) {
  return AnsiToWide(InfoHead(path) + std::to_string(line_number) + kInfoTail);
}

int CountMatches(TRegexEngine& engine, const std::u16string& pattern, const std::u16string& line,
                 std::vector<MatchSpan>* spans) {
  if (spans != nullptr) spans->clear();
  engine.SetExpression(pattern);
  int count = 0;
  for (bool found = engine.Exec(line); found; found = engine.ExecNext()) {
    ++count;
    if (spans != nullptr) spans->push_back({engine.GroupPos(0) - 1, engine.GroupLen(0)});
  }
  return count;
}

std::u16string Highlight(const std::u16string& line, const std::vector<MatchSpan>& spans,
                         const std::u16string& open, const std::u16string& close) {
  std::u16string out;
  out.reserve(line.size() + spans.size() * (open.size() + close.size()) + 16);
  AppendHighlight(out, line, spans, open, close);
  return out;
}

void ScanFile(const std::u16string& pattern, const std::string& path, bool case_sensitive,
              TUnicodeStringList& matches, const std::atomic<bool>* cancel) {
  FileEntries entries;
  try {
    ScanLines(pattern, path, case_sensitive, cancel, entries);
  } catch (...) {
    entries.MoveTo(matches);
    throw;
  }
  entries.MoveTo(matches);
}

int ScanThreadLimit() { return kThreadsPerCore * CoreCount(); }

int ScanThreadCount(int threads) {
  return std::min(threads > 0 ? threads : CoreCount(), ScanThreadLimit());
}

int ScanFolder(const std::u16string& pattern, const std::string& folder, bool case_sensitive,
               TUnicodeStringList& matches, const ScanControl& control) {
  const std::vector<std::string> names = ListTextFiles(folder);
  const int total = static_cast<int>(names.size());
  auto path_of = [&](int index) {
    return index < total ? folder + "/" + names[static_cast<std::size_t>(index)] : std::string();
  };
  if (control.progress) control.progress(0, total, path_of(0));

  const int workers = ScanThreadCount(control.threads);
  const app_internal::RunPlan<FileEntries> plan{
      .workers = workers,
      .window = workers * (1 + kFinishedPerWorker),
      .budget = control.memory_budget,
      .run_cost = [&](int index) { return SizeOnDisk(path_of(index)); },
      .held_cost = [](const FileEntries& entries) { return entries.Bytes(); },
  };
  app_internal::RunInOrder<FileEntries>(
      total, plan, control.cancel,
      [&](int index, FileEntries& entries, const std::atomic<bool>* stop) {
        ScanLines(pattern, path_of(index), case_sensitive, stop, entries);
      },
      [&](int index, FileEntries& entries, bool complete) {
        // A file that failed part-way still adds the lines before the
        // failure, as a scan on one thread does.
        entries.MoveTo(matches);
        if (complete && control.progress) control.progress(index + 1, total, path_of(index + 1));
      });
  return total;
}

}  // namespace tallyfold
