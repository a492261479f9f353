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
#include <type_traits>

#include "app/OrderedWork.h"
#include "platform/CodePage.h"
#include "platform/DirList.h"
#include "text/WideHelpers.h"

namespace tallyfold {

namespace {

const std::u16string kKeyOpen = u"<span class=\"key\">";
const std::u16string kKeyClose = u"</span>";

// Modifier index of i (case-insensitive matching of ASCII letters).
constexpr int kModifierI = 1;

// Stands in the report for a code unit that XML text cannot hold.
constexpr char16_t kReplacementCharacter = u'\uFFFD';

// How many code units of a long line are escaped, measured or copied
// between two looks at the cancel flag: about a millisecond's work.
constexpr std::size_t kCancelCheckUnits = std::size_t{1} << 20;

bool IsSet(const std::atomic<bool>* flag) {
  return flag != nullptr && flag->load(std::memory_order_relaxed);
}

void ThrowIfCancelled(const std::atomic<bool>* cancel) {
  if (IsSet(cancel)) throw ECancelled();
}

template <typename Char>
bool IsMarkupCharacter(Char ch) {
  return ch == '&' || ch == '<' || ch == '>' || ch == '"';
}

// Whether text[i] may not stand in the report as it is, because strict
// UTF-16 decoders or XML would reject the file: a C0 control other than tab
// (a line holds no CR or LF), U+FFFE, U+FFFF, or a surrogate that is not
// half of a pair within `text`. A high surrogate pairs with a low one right
// after it, and that is the only pairing, so the neighbours decide it.
bool IsUnfitForXml(std::u16string_view text, std::size_t i) {
  const char16_t ch = text[i];
  if (ch < 0x20) return ch != u'\t';
  if (ch >= 0xFFFE) return true;
  if (ch >= 0xD800 && ch <= 0xDBFF)
    return i + 1 == text.size() || text[i + 1] < 0xDC00 || text[i + 1] > 0xDFFF;
  if (ch >= 0xDC00 && ch <= 0xDFFF) return i == 0 || text[i - 1] < 0xD800 || text[i - 1] > 0xDBFF;
  return false;
}

// Appends `text` with the four markup characters as character references,
// and in Unicode text each unit IsUnfitForXml finds as U+FFFD, one unit for
// one, so lengths and positions keep. A surrogate pair that `text` cuts in
// two is replaced too, as its halves end up apart. Runs with nothing to
// change are appended whole: almost every line has none. With `cancel`, the
// flag is looked at every kCancelCheckUnits units.
template <typename String, typename View>
void AppendEscaped(String& out, View text, const std::atomic<bool>* cancel = nullptr) {
  constexpr bool kWide = std::is_same_v<typename View::value_type, char16_t>;
  std::size_t start = 0;
  std::size_t i = 0;
  while (i < text.size()) {
    ThrowIfCancelled(cancel);
    const std::size_t block_end = std::min(text.size(), i + kCancelCheckUnits);
    for (; i < block_end; ++i) {
      const auto ch = text[i];
      if constexpr (kWide) {
        // Neither markup nor unfit: nearly every unit of a line.
        if (ch >= 0x40 && ch < 0xD800) continue;
        if (IsUnfitForXml(text, i)) {
          out.append(text.substr(start, i - start));
          out.push_back(kReplacementCharacter);
          start = i + 1;
          continue;
        }
      }
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
  }
  out.append(text.substr(start));
}

// `text` with each unit IsUnfitForXml finds as U+FFFD.
std::u16string ReplaceUnfitForXml(const std::u16string& text) {
  std::u16string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i)
    out.push_back(IsUnfitForXml(text, i) ? kReplacementCharacter : text[i]);
  return out;
}

// The length of the well-formed UTF-8 character that starts `text` at `at`
// when it is one of two bytes or more; 0 when the byte there starts none.
std::size_t Utf8CharacterLength(const std::string& text, std::size_t at) {
  const auto byte = [&text](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned lead = byte(at);
  std::size_t length;
  unsigned low = 0x80, high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (text.size() - at < length) return 0;
  for (std::size_t i = at + 1; i < at + length; ++i, low = 0x80, high = 0xBF)
    if (byte(i) < low || byte(i) > high) return 0;
  return length;
}

// Percent-encodes the bytes that would otherwise end or change the path
// part of a URL, "%" itself, "#" (fragment) and "?" (query), and the control
// bytes 00-1F and 7F, which a URL may not hold. None of them is ever part of
// a longer character in a code page a locale can have. In a UTF-8 locale,
// where the page's text is decoded as UTF-8, so are the bytes of a name
// that are not part of a well-formed character: decoded, they would become
// U+FFFD and the link would name another file; percent-encoded, a browser
// hands the very bytes to the file system. A well-formed name keeps its
// bytes.
std::string PercentEncodePath(const std::string& path) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  const bool utf8 = SystemCodePage().IsUtf8();
  std::string out;
  out.reserve(path.size());
  for (std::size_t i = 0; i < path.size(); ++i) {
    const auto byte = static_cast<unsigned char>(path[i]);
    if (utf8 && byte >= 0x80) {
      if (const std::size_t length = Utf8CharacterLength(path, i)) {
        out.append(path, i, length);
        i += length - 1;
        continue;
      }
    }
    if (byte == '%' || byte == '#' || byte == '?' || byte < 0x20 || byte == 0x7F ||
        (utf8 && byte >= 0x80)) {
      out += '%';
      out += kHex[byte >> 4];
      out += kHex[byte & 0x0F];
    } else {
      out.push_back(path[i]);
    }
  }
  return out;
}

// The info fragment's bytes before and after the line number, for the file
// at `path` shown as `shown_name`. The head depends only on the file, so a
// scan builds it once per file.
std::string InfoHead(const std::string& path, const std::string& shown_name) {
  return " <span class=\"info\"><a href=\"" + EscapeHtml(PercentEncodePath(path)) +
         "\" target=\"_blank\">(<span class=\"file\">" + EscapeHtml(shown_name) +
         "</span>, <span class=\"line\">Line ";
}

// The head widened, with the file name's control characters (and a U+FFFE
// or U+FFFF its bytes decode to) as U+FFFD; the markup around it has none,
// and the href's controls are percent-encoded already.
std::u16string WideInfoHead(const std::string& path, const std::string& shown_name) {
  return ReplaceUnfitForXml(AnsiToWide(InfoHead(path, shown_name)));
}
constexpr char kInfoTail[] = "</span>)</a></span>";
constexpr char16_t kWideInfoTail[] = u"</span>)</a></span>";

void AppendDecimal(std::u16string& out, int value) {
  const std::string digits = std::to_string(value);
  out.append(digits.begin(), digits.end());
}

// With `cancel`, the flag is looked at as the text is escaped, and at each
// of the spans, which may be many.
void AppendHighlight(std::u16string& out, const std::u16string& line,
                     const std::vector<MatchSpan>& spans, const std::u16string& open,
                     const std::u16string& close, const std::atomic<bool>* cancel = nullptr) {
  const std::u16string_view text(line);
  std::size_t copied = 0;
  for (const MatchSpan& span : spans) {
    const auto start = static_cast<std::size_t>(span.start);
    const auto length = static_cast<std::size_t>(span.length);
    AppendEscaped(out, text.substr(copied, start - copied), cancel);
    out += open;
    AppendEscaped(out, text.substr(start, length), cancel);
    out += close;
    copied = start + length;
  }
  AppendEscaped(out, text.substr(copied), cancel);
}

// The length of `line` escaped and highlighted at `spans`, each span
// adding `markup` code units. A unit replaced by U+FFFD keeps its length.
std::size_t HighlightLength(const std::u16string& line, const std::vector<MatchSpan>& spans,
                            std::size_t markup, const std::atomic<bool>* cancel = nullptr) {
  std::size_t length = line.size() + spans.size() * markup;
  for (std::size_t i = 0; i < line.size(); ++i) {
    if (i % kCancelCheckUnits == 0) ThrowIfCancelled(cancel);
    switch (line[i]) {
      case u'&': length += 4; break;
      case u'<':
      case u'>': length += 3; break;
      case u'"': length += 5; break;
      default: break;
    }
  }
  return length;
}

// `padded` := " " + trimmed + " ", a long line copied a block at a time so
// that a cancel is seen while it is copied.
void Pad(std::u16string& padded, std::u16string_view trimmed, const std::atomic<bool>* cancel) {
  padded.clear();
  padded.reserve(trimmed.size() + 2);
  padded += u' ';
  for (std::size_t at = 0; at < trimmed.size(); at += kCancelCheckUnits) {
    if (at > 0) ThrowIfCancelled(cancel);
    padded.append(trimmed.substr(at, kCancelCheckUnits));
  }
  padded += u' ';
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

  TTextReadInfo read;  // how the file was read; empty until it was

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
// order, each naming the file as `shown_name`. On a failure `out` keeps the
// entries of the lines before it.
void ScanLines(const std::u16string& pattern, const std::string& path,
               const std::string& shown_name, bool case_sensitive,
               const TTextDecoding& decoding, const std::atomic<bool>* cancel,
               FileEntries& out) {
  if (IsSet(cancel)) throw ECancelled();
  // Both live only for this file and are released on every way out,
  // exceptions included.
  TRegexEngine engine;
  engine.SetModifier(kModifierI, !case_sensitive);
  // The matcher looks at the flag inside a long match; the loop below looks
  // between lines, which covers the read and lines without a match attempt.
  engine.SetCancelFlag(cancel);
  TUnicodeStringList lines;
  // The reading looks at the flag too, also within one very long line.
  ReadTextFileAs(lines, path, decoding, cancel, &out.read);

  // Widened once per file. The head ends in ASCII after ASCII, where the
  // decoder of any code page a locale can have is back in its first state,
  // and the number and the tail are ASCII; so the pieces widened apart give
  // exactly what InfoFragment gives for the whole.
  const std::u16string info_head = WideInfoHead(path, shown_name);
  std::vector<MatchSpan> spans;
  std::u16string padded;
  const int line_count = lines.ItemCount();
  for (int k = 0; k < line_count; ++k) {
    if (IsSet(cancel)) throw ECancelled();
    // Trimmed in place: a copy of every line would cost an allocation per
    // line.
    const std::u16string_view trimmed = TrimWideView(lines.ItemRef(k));
    if (trimmed.empty()) continue;
    Pad(padded, trimmed, cancel);
    // A very long line is held at most twice at any moment: the list's copy
    // goes once it is padded, the engine's once it is counted, and the
    // padded one once its entry is made. Each step over it looks at the
    // flag as it goes, but for the engine's copy of its input, so the flag
    // is looked at once more right before that.
    const bool long_line = padded.size() >= FileEntries::kLongEntry;
    const std::atomic<bool>* const long_cancel = long_line ? cancel : nullptr;
    if (long_line) {
      lines.TakeItem(k);
      ThrowIfCancelled(cancel);
    }
    const int count = CountMatches(engine, pattern, padded, &spans);
    if (long_line) engine.SetInputString(std::u16string());
    if (count > 0) {
      // The spans the count found are the ones highlighted, so the markup
      // always agrees with the number beside it.
      const std::size_t length =
          DecimalLength(count) + 1 +
          HighlightLength(padded, spans, kKeyOpen.size() + kKeyClose.size(), long_cancel) +
          info_head.size() + DecimalLength(k + 1) + std::size(kWideInfoTail) - 1;
      // A long entry is a string of its own, which a cancel part-way drops;
      // a short one is never cut off.
      out.Add(length, [&](std::u16string& entry) {
        AppendDecimal(entry, count);
        entry += u'=';
        AppendHighlight(entry, padded, spans, kKeyOpen, kKeyClose, long_cancel);
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
  return InfoFragment(path, FileNameOf(path), line_number);
}

std::u16string InfoFragment(const std::string& path, const std::string& shown_name,
                            int line_number) {
  return ReplaceUnfitForXml(
      AnsiToWide(InfoHead(path, shown_name) + std::to_string(line_number) + kInfoTail));
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
    ScanLines(pattern, path, FileNameOf(path), case_sensitive, TTextDecoding(), cancel,
              entries);
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
  // With sub-folders the names are paths relative to the folder, and the
  // rows show them so; otherwise each is the file's own name.
  const std::vector<std::string> names =
      control.recursive ? ListTextFilesRecursive(folder) : ListTextFiles(folder);
  const int total = static_cast<int>(names.size());
  auto path_of = [&](int index) {
    return index < total ? folder + "/" + names[static_cast<std::size_t>(index)] : std::string();
  };
  if (control.listed) {
    std::vector<std::string> paths;
    paths.reserve(names.size());
    for (int index = 0; index < total; ++index) paths.push_back(path_of(index));
    control.listed(paths);
  }
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
        ScanLines(pattern, path_of(index), names[static_cast<std::size_t>(index)],
                  case_sensitive, control.decoding, stop, entries);
      },
      [&](int index, FileEntries& entries, bool complete) {
        if (entries.read.malformed > 0 && control.malformed)
          control.malformed(path_of(index), entries.read);
        // A file that failed part-way still adds the lines before the
        // failure, as a scan on one thread does.
        entries.MoveTo(matches);
        if (complete && control.progress) control.progress(index + 1, total, path_of(index + 1));
      });
  return total;
}

}  // namespace tallyfold
